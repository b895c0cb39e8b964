// Umbrella header of the user-mode platform layer.
#pragma once
#include "win32/types.h"
#include "win32/sync.h"
#include "win32/file.h"
#include "win32/registry.h"
#include "win32/profile.h"
#include "win32/user.h"
#include "win32/gdi.h"
#include "win32/user_draw.h"
#include "win32/error_text.h"
