// A discovery reply as it may arrive: up to 30 bytes, anything in them.
#include <cstdint>
#include <cstring>

#include "admin/comm/Discovery.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  DISCOVERY_DATAGRAM datagram;
  memset(&datagram, 0, sizeof(datagram));
  strcpy(datagram.SenderIp, "127.0.0.1");
  memcpy(datagram.Reply, data, size < sizeof(datagram.Reply) ? size : sizeof(datagram.Reply));
  ServerDiscoveryList list;
  DiscoveryContext context{};
  context.List = &list;
  context.CommandPort = 1341;
  AddDiscoveredServer(datagram, &context);
  const ServerDiscoveryRecord& record = list.GetHead();
  if (GetDiscoveredServerName(record).GetLength() > 16) __builtin_trap();
  if (FindEnumeratedServer(&list, "127.0.0.1", 1341) == nullptr) __builtin_trap();
  return 0;
}
