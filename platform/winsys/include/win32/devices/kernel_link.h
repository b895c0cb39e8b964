// The link between user-mode programs and the kernel host (wincommon/kernel_link.h).
#pragma once
#include "wincommon/kernel_link.h"
