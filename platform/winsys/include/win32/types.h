// Basic Win32 types, constants and error codes: the ones user mode shares with the kernel (wincommon).
#pragma once
#include "wincommon/types.h"
