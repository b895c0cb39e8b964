// Umbrella header of the application framework.
#pragma once
#include "mfc/app.h"
#include "mfc/cmdtarget.h"
#include "mfc/collections.h"
#include "mfc/doc.h"
#include "mfc/gdi.h"
#include "mfc/imagelist.h"
#include "mfc/menu.h"
#include "mfc/object.h"
#include "mfc/resource.h"
#include "mfc/string.h"
#include "mfc/thread.h"
#include "mfc/wnd.h"
