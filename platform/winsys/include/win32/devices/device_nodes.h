// The machine's persistent device nodes (wincommon/device_nodes.h).
#pragma once
#include "wincommon/device_nodes.h"
