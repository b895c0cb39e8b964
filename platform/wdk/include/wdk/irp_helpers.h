// Small helpers our drivers share for finishing and forwarding requests.
#pragma once
#include "wdk/wdm.h"

namespace tavrin::wdk {

// Completes the request with the given status and information, and returns the status.
NTSTATUS CompleteIrp(PIRP irp, NTSTATUS status, ULONG_PTR information);

// Hands the request to the lower device without looking at it again.
NTSTATUS PassIrpDown(PDEVICE_OBJECT lower, PIRP irp);

// Sends the request to the lower device and waits until it is done there; the request stays ours to complete.
NTSTATUS ForwardIrpAndWait(PDEVICE_OBJECT lower, PIRP irp);

}  // namespace tavrin::wdk
