// The response stream of a device's data connection as a client receives it: any bytes, split anywhere.
#include "usb_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzusb::DecodeBothWays(data, size, zarnet::UsbStreamDecoder::Direction::kResponses);
  return 0;
}
