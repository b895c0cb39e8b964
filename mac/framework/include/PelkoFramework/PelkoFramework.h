// PelkoFramework: the outline node, the device-list receiver, the Mac kernel driver's client, the
// auto-connect entries and the command-protocol functions.
#pragma once
#include "PelkoFramework/AutoconnectEntry.h"
#include "PelkoFramework/Node.h"
#include "PelkoFramework/Sockets_Obj.h"
#include "PelkoFramework/deviceInterface.h"
#include "PelkoFramework/protocol_functions.h"
#include "PelkoFramework/records.h"
