// The request stream of a device's data connection as a server receives it: any bytes, split anywhere;
// each whole request also read back through the collector that the simulator uses.
#include "usb_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzusb::DecodeBothWays(data, size, zarnet::UsbStreamDecoder::Direction::kRequests);
  if (size < 4) return 0;
  zarnet::UsbStreamDecoder decoder(zarnet::UsbStreamDecoder::Direction::kRequests);
  zarnet::UsbRequestCollector collector;
  decoder.Feed(std::span<const uint8_t>(data + 4, size - 4), collector);
  for (const zarnet::UsbRequestMessage& m : collector.messages()) {
    if (m.data.size() > zarnet::MAX_DATA_SIZE || m.packets.size() > zarnet::kMaxIsoPackets) __builtin_trap();
    if (!m.data.empty() && m.data.size() != m.header.TransferLength) __builtin_trap();
    if (m.header.Command == zarnet::RFC_CMD_UNLINK && (!m.data.empty() || !m.packets.empty())) __builtin_trap();
  }
  return 0;
}
