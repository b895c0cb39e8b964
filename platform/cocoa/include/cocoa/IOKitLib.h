// The IOKit user-client calls of the Mac side. Kernel services live in an IOKit host process (see
// cocoa/iokit_host.h) that serves them on the Unix socket run/iokit.sock of the sysroot; each open
// connection to a service is a connection to that socket. Without a host, matching finds nothing.
#pragma once
#include <cstddef>
#include <cstdint>

#include "cocoa/CoreFoundation.h"

using kern_return_t = int32_t;
using IOReturn = kern_return_t;
using mach_port_t = uint32_t;
using task_port_t = mach_port_t;
using io_object_t = uint32_t;
using io_service_t = io_object_t;
using io_connect_t = io_object_t;
using io_iterator_t = io_object_t;
using io_registry_entry_t = io_object_t;
using IOItemCount = uint32_t;
using IOByteCount = uint32_t;
using IOOptionBits = uint32_t;
using io_name_t = char[128];

inline constexpr mach_port_t MACH_PORT_NULL = 0;
inline constexpr io_object_t IO_OBJECT_NULL = 0;
inline constexpr kern_return_t KERN_SUCCESS = 0;
inline constexpr kern_return_t KERN_FAILURE = 5;
inline constexpr IOReturn kIOReturnSuccess = 0;
inline constexpr IOReturn kIOReturnError = static_cast<IOReturn>(0xe00002bc);
inline constexpr IOReturn kIOReturnNoMemory = static_cast<IOReturn>(0xe00002bd);
inline constexpr IOReturn kIOReturnNoResources = static_cast<IOReturn>(0xe00002be);
inline constexpr IOReturn kIOReturnBadArgument = static_cast<IOReturn>(0xe00002c2);
inline constexpr IOReturn kIOReturnExclusiveAccess = static_cast<IOReturn>(0xe00002c5);
inline constexpr IOReturn kIOReturnUnsupported = static_cast<IOReturn>(0xe00002c7);
inline constexpr IOReturn kIOReturnNotOpen = static_cast<IOReturn>(0xe00002cd);
inline constexpr IOReturn kIOReturnNotResponding = static_cast<IOReturn>(0xe00002ed);
inline constexpr IOReturn kIOReturnNotFound = static_cast<IOReturn>(0xe00002f0);
inline constexpr IOReturn kIOReturnNoDevice = static_cast<IOReturn>(0xe00002c0);
inline constexpr IOReturn kIOReturnBusy = static_cast<IOReturn>(0xe00002d5);
inline constexpr IOReturn kIOReturnTimeout = static_cast<IOReturn>(0xe00002d6);

// The calling task's port (only passed on).
mach_port_t mach_task_self();

kern_return_t IOMasterPort(mach_port_t bootstrapPort, mach_port_t* masterPort);
// A matching dictionary {"IOProviderClass": name} (one reference for the caller, or for
// IOServiceGetMatchingServices, which consumes it).
CFMutableDictionaryRef IOServiceMatching(const char* name);
kern_return_t IOServiceGetMatchingServices(mach_port_t masterPort, CFDictionaryRef matching, io_iterator_t* existing);
io_object_t IOIteratorNext(io_iterator_t iterator);  // IO_OBJECT_NULL at the end
kern_return_t IOObjectRelease(io_object_t object);
kern_return_t IOObjectGetClass(io_object_t object, io_name_t className);
// A property of a service as it was when matched: numbers only (CFNumber), null when it has none.
CFTypeRef IORegistryEntryCreateCFProperty(io_registry_entry_t entry, CFStringRef key, CFAllocatorRef allocator,
                                          IOOptionBits options);

kern_return_t IOServiceOpen(io_service_t service, task_port_t owningTask, uint32_t type, io_connect_t* connect);
kern_return_t IOServiceClose(io_connect_t connect);
// Scalars in, then pointers to int for the scalars out (as many of each as counted).
kern_return_t IOConnectMethodScalarIScalarO(io_connect_t connect, unsigned int index, IOItemCount scalarInputCount,
                                            IOItemCount scalarOutputCount, ...);
// The output size is the capacity in and the size the service returned out.
kern_return_t IOConnectMethodStructureIStructureO(io_connect_t connect, unsigned int index,
                                                  IOItemCount structureInputSize, IOByteCount* structureOutputSize,
                                                  void* inputStructure, void* outputStructure);
