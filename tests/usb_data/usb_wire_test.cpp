// The one codec of the data connection: byte positions, framing rules and bounds, streams split anywhere.
#include <gtest/gtest.h>

#include <cstring>

#include "zarnet/usb_wire.h"
#include "zarnet/wire.h"

namespace zarnet {
namespace {

RFC_HEADER Request(uint32_t command, uint32_t endpoint, uint32_t seq, uint32_t transfer_length = 0) {
  RFC_HEADER h{};
  h.Command = command;
  h.PortNum = 3;
  h.Interface = 255;
  h.SeqNo = seq;
  h.EndPoint = endpoint;
  h.TransferLength = transfer_length;
  return h;
}

TEST(UsbWire, HeaderWordsSitAtTheirOffsetsLittleEndian) {
  RFC_HEADER h = Request(RFC_CMD_CONTROL, 0, 0x01020304, 255);
  h.TransferFlags = 1;
  SetSetup(h, {0x80, 6, 0x0302, 0x0409, 255});
  std::vector<uint8_t> bytes;
  AppendRequest(bytes, h);
  ASSERT_EQ(bytes.size(), 56u);
  EXPECT_EQ(wire::LoadLe32(&bytes[0]), 56u);
  EXPECT_EQ(wire::LoadLe32(&bytes[4]), 0x2Bu);
  EXPECT_EQ(wire::LoadLe32(&bytes[8]), 3u);
  EXPECT_EQ(bytes[16], 0x04);  // SeqNo, low byte first
  EXPECT_EQ(bytes[19], 0x01);
  EXPECT_EQ(wire::LoadLe32(&bytes[28]), 255u);
  const uint8_t setup[8] = {0x80, 0x06, 0x02, 0x03, 0x09, 0x04, 0xFF, 0x00};
  EXPECT_EQ(memcmp(&bytes[48], setup, 8), 0);
  RFC_HEADER back = DecodeHeader(bytes.data());
  EXPECT_EQ(memcmp(&back.Command, &h.Command, 20), 0);
  EXPECT_EQ(SetupOf(back).wValue, 0x0302);
  EXPECT_TRUE(SetupOf(back).in());

  RFC_RESPONSE_HEADER r = ResponseTo(h, kWireStatusDeviceGone);
  r.StartFrame = 7;
  r.ErrorCount = 2;
  uint8_t raw[56];
  EncodeResponseHeader(r, raw);
  EXPECT_EQ(wire::LoadLe32(raw + 4), 143u);
  EXPECT_EQ(static_cast<int32_t>(wire::LoadLe32(raw + 24)), -71);
  EXPECT_EQ(wire::LoadLe32(raw + 40), 7u);
  EXPECT_EQ(wire::LoadLe32(raw + 48), 2u);
  EXPECT_EQ(DecodeResponseHeader(raw).SeqNo, 0x01020304u);
}

TEST(UsbWire, UnlinkSaysTwentyEightButTakesFiftySix) {
  RFC_HEADER h = Request(RFC_CMD_UNLINK, 0x81, 9);
  h.TransferFlags = 4;  // the request to cancel
  std::vector<uint8_t> bytes;
  AppendRequest(bytes, h, std::vector<uint8_t>(10, 1));  // nothing may follow an unlink
  ASSERT_EQ(bytes.size(), 56u);
  EXPECT_EQ(wire::LoadLe32(&bytes[0]), 28u);
  EXPECT_EQ(wire::LoadLe32(&bytes[4]), 50u);
  EXPECT_EQ(wire::LoadLe32(&bytes[24]), 4u);
  auto frame = FrameOfRequest(DecodeHeader(bytes.data()));
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->stream_length, 56u);
  EXPECT_EQ(RequestCommandLength(RFC_CMD_UNLINK, 0, 0), 28u);
  EXPECT_EQ(RequestCommandLength(RFC_CMD_ISOCH, 0, 8), 56u + 128u) << "an isochronous IN of 8 packets";
  EXPECT_EQ(RequestCommandLength(RFC_CMD_BULK, 65536, 0), kSendBufferSize);
}

TEST(UsbWire, RequestFramingBounds) {
  RFC_HEADER out = Request(RFC_CMD_BULK, 0x01, 0, MAX_DATA_SIZE);
  out.CommandLength = RFC_HEADER_SIZE + MAX_DATA_SIZE;
  ASSERT_TRUE(FrameOfRequest(out));
  EXPECT_EQ(FrameOfRequest(out)->data_length, MAX_DATA_SIZE);
  out.TransferLength = out.CommandLength = RFC_HEADER_SIZE + MAX_DATA_SIZE + 1;
  EXPECT_FALSE(FrameOfRequest(out)) << "larger than the send buffer";
  RFC_HEADER odd = Request(RFC_CMD_BULK, 0x01, 0, 10);
  odd.CommandLength = RFC_HEADER_SIZE + 9;
  EXPECT_FALSE(FrameOfRequest(odd)) << "data must be exactly TransferLength";
  RFC_HEADER in = Request(RFC_CMD_BULK, 0x81, 0, 1 << 20);
  in.CommandLength = RFC_HEADER_SIZE;
  EXPECT_EQ(FrameOfRequest(in)->data_length, 0u) << "a 1 MiB IN carries nothing";
  RFC_HEADER iso = Request(RFC_CMD_ISOCH, 0x83, 0, 800);
  iso.NumberOfPackets = 8;
  iso.CommandLength = RFC_HEADER_SIZE + 8 * 16;
  ASSERT_TRUE(FrameOfRequest(iso));
  EXPECT_EQ(FrameOfRequest(iso)->packets, 8u);
  EXPECT_EQ(FrameOfRequest(iso)->data_length, 0u);
  iso.NumberOfPackets = kMaxIsoPackets + 1;
  iso.CommandLength = RFC_HEADER_SIZE + 16 * iso.NumberOfPackets;
  EXPECT_FALSE(FrameOfRequest(iso));
  // Descriptors only where the header counts them: a bulk request's packet word means nothing.
  RFC_HEADER bulk = Request(RFC_CMD_BULK, 0x81, 0, 64);
  bulk.NumberOfPackets = 4;
  bulk.CommandLength = RFC_HEADER_SIZE;
  EXPECT_EQ(FrameOfRequest(bulk)->packets, 0u);
  RFC_HEADER short_header = Request(RFC_CMD_CONTROL, 0, 0);
  short_header.CommandLength = 12;
  EXPECT_EQ(FrameOfRequest(short_header)->stream_length, 56u);
}

TEST(UsbWire, ResponseFramingBounds) {
  RFC_RESPONSE_HEADER r{};
  r.Command = RFC_CMD_BULK + 100;
  r.EndPoint = 0x81;
  r.ActualLength = 512;
  r.CommandLength = 56 + 512;
  ASSERT_TRUE(FrameOfResponse(r, 1 << 20));
  r.CommandLength = 56;
  EXPECT_FALSE(FrameOfResponse(r, 1 << 20)) << "CommandLength must agree with ActualLength";
  r.ActualLength = 2 << 20;
  r.CommandLength = 56 + r.ActualLength;
  EXPECT_FALSE(FrameOfResponse(r, 1 << 20)) << "larger than allowed";
  // Isochronous OUT: ActualLength counts accepted bytes, only descriptors follow.
  RFC_RESPONSE_HEADER iso{};
  iso.Command = RFC_CMD_ISOCH + 100;
  iso.EndPoint = 0x03;
  iso.ActualLength = 3000;
  iso.NumberOfPackets = 3;
  iso.CommandLength = 56 + 48;
  ASSERT_TRUE(IsIsoOutResponse(iso));
  auto frame = FrameOfResponse(iso, 1 << 20);
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->data_length, 0u);
  EXPECT_EQ(frame->packets, 3u);
  iso.NumberOfPackets = 300;
  iso.CommandLength = 56 + 16 * 300;
  EXPECT_FALSE(FrameOfResponse(iso, 1 << 20));
}

TEST(UsbWire, EachPacketGetsItsOwnLength) {
  std::vector<RFC_ISO_DESC> p = {{0, 0, 0, -18}, {100, 0, 0, -18}, {250, 0, 0, -18}};
  ASSERT_TRUE(SetIsoPacketLengths(p, 300));
  EXPECT_EQ(p[0].Length, 100u);
  EXPECT_EQ(p[1].Length, 150u);
  EXPECT_EQ(p[2].Length, 50u);
  std::vector<RFC_ISO_DESC> one = {{0, 0, 0, -18}};
  ASSERT_TRUE(SetIsoPacketLengths(one, 192));
  EXPECT_EQ(one[0].Length, 192u);
  std::vector<RFC_ISO_DESC> bad = {{100, 7, 0, 0}, {50, 7, 0, 0}};
  EXPECT_FALSE(SetIsoPacketLengths(bad, 300));
  EXPECT_EQ(bad[0].Length, 7u);
  std::vector<RFC_ISO_DESC> beyond = {{0, 0, 0, 0}, {400, 0, 0, 0}};
  EXPECT_FALSE(SetIsoPacketLengths(beyond, 300));
}

// A stream of several requests, every kind of framing in it.
std::vector<uint8_t> RequestStream() {
  std::vector<uint8_t> s;
  RFC_HEADER control = Request(RFC_CMD_CONTROL, 0, 0, 5);
  SetSetup(control, {0x40, 1, 0, 0, 5});
  AppendRequest(s, control, std::vector<uint8_t>{1, 2, 3, 4, 5});
  RFC_HEADER unlink = Request(RFC_CMD_UNLINK, 0x81, 7);
  unlink.TransferFlags = 3;
  AppendRequest(s, unlink);
  std::vector<RFC_ISO_DESC> packets = {{0, 10, 0, -18}, {10, 20, 0, -18}};
  std::vector<uint8_t> iso_data(30);
  for (size_t i = 0; i < iso_data.size(); ++i) iso_data[i] = static_cast<uint8_t>(i);
  RFC_HEADER iso = Request(RFC_CMD_ISOCH, 0x03, 1, 30);
  iso.NumberOfPackets = 2;
  AppendRequest(s, iso, iso_data, packets);
  RFC_HEADER in = Request(RFC_CMD_BULK, 0x81, 2, 4096);
  AppendRequest(s, in);
  return s;
}

std::deque<UsbRequestMessage> DecodeSplit(const std::vector<uint8_t>& stream, const std::vector<size_t>& cuts) {
  UsbStreamDecoder decoder(UsbStreamDecoder::Direction::kRequests);
  UsbRequestCollector collector;
  size_t at = 0;
  for (size_t cut : cuts) {
    EXPECT_TRUE(decoder.Feed(std::span<const uint8_t>(stream.data() + at, cut - at), collector));
    at = cut;
  }
  EXPECT_TRUE(decoder.Feed(std::span<const uint8_t>(stream.data() + at, stream.size() - at), collector));
  EXPECT_TRUE(decoder.between_messages());
  return collector.messages();
}

void ExpectSame(const std::deque<UsbRequestMessage>& a, const std::deque<UsbRequestMessage>& b) {
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(memcmp(&a[i].header, &b[i].header, sizeof(RFC_HEADER)), 0);
    EXPECT_EQ(a[i].data, b[i].data);
    ASSERT_EQ(a[i].packets.size(), b[i].packets.size());
    for (size_t p = 0; p < a[i].packets.size(); ++p)
      EXPECT_EQ(memcmp(&a[i].packets[p], &b[i].packets[p], sizeof(RFC_ISO_DESC)), 0);
  }
}

TEST(UsbWire, RequestStreamDecodesAlikeWhereverItIsSplit) {
  const std::vector<uint8_t> stream = RequestStream();
  const auto whole = DecodeSplit(stream, {});
  ASSERT_EQ(whole.size(), 4u);
  EXPECT_EQ(whole[0].data, (std::vector<uint8_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(whole[1].header.Command, RFC_CMD_UNLINK);
  EXPECT_EQ(whole[1].header.CommandLength, 28u);
  EXPECT_EQ(whole[2].data.size(), 30u);
  ASSERT_EQ(whole[2].packets.size(), 2u);
  EXPECT_EQ(whole[2].packets[1].Offset, 10u);
  EXPECT_EQ(whole[3].header.TransferLength, 4096u);
  for (size_t cut = 1; cut < stream.size(); ++cut) ExpectSame(DecodeSplit(stream, {cut}), whole);
  std::vector<size_t> every;
  for (size_t cut = 1; cut < stream.size(); ++cut) every.push_back(cut);
  ExpectSame(DecodeSplit(stream, every), whole);
}

TEST(UsbWire, ResponseStreamSplitHeaderAndDataAndDescriptors) {
  std::vector<uint8_t> s;
  RFC_HEADER in = Request(RFC_CMD_BULK, 0x81, 5, 512);
  std::vector<uint8_t> data(512);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  AppendResponse(s, ResponseTo(in, 0), data);
  RFC_HEADER iso = Request(RFC_CMD_ISOCH, 0x83, 6, 300);
  std::vector<RFC_ISO_DESC> packets = {{0, 100, 100, 0}, {100, 200, 50, 0}};
  AppendResponse(s, ResponseTo(iso, 0), std::vector<uint8_t>(150, 9), packets);
  RFC_HEADER out = Request(RFC_CMD_ISOCH, 0x03, 7, 300);
  RFC_RESPONSE_HEADER accepted = ResponseTo(out, 0);
  accepted.ActualLength = 300;
  AppendResponse(s, accepted, std::vector<uint8_t>(300, 1), packets);  // no data travels for iso OUT
  for (size_t a = 1; a < s.size(); a += 3) {
    for (size_t b : {a + 1, a + 37, s.size()}) {
      if (b > s.size()) continue;
      UsbStreamDecoder decoder(UsbStreamDecoder::Direction::kResponses);
      UsbResponseCollector collector;
      ASSERT_TRUE(decoder.Feed(std::span<const uint8_t>(s.data(), a), collector));
      ASSERT_TRUE(decoder.Feed(std::span<const uint8_t>(s.data() + a, b - a), collector));
      ASSERT_TRUE(decoder.Feed(std::span<const uint8_t>(s.data() + b, s.size() - b), collector));
      auto& m = collector.messages();
      ASSERT_EQ(m.size(), 3u);
      EXPECT_EQ(m[0].data, data);
      EXPECT_EQ(m[0].header.SeqNo, 5u);
      EXPECT_EQ(m[1].header.ActualLength, 150u);
      ASSERT_EQ(m[1].packets.size(), 2u);
      EXPECT_EQ(m[1].packets[1].ActualLength, 50u);
      EXPECT_TRUE(m[2].data.empty());
      EXPECT_EQ(m[2].header.ActualLength, 300u);
      EXPECT_EQ(m[2].packets.size(), 2u);
    }
  }
}

TEST(UsbWire, OutOfFrameStopsTheDecoderForGood) {
  std::vector<uint8_t> s;
  RFC_HEADER in = Request(RFC_CMD_BULK, 0x81, 5, 16);
  AppendResponse(s, ResponseTo(in, 0), std::vector<uint8_t>(16, 1));
  const size_t good = s.size();
  AppendResponse(s, ResponseTo(in, 0), std::vector<uint8_t>(16, 2));
  wire::StoreLe32(&s[good], 60);  // CommandLength no longer matches ActualLength
  UsbStreamDecoder decoder(UsbStreamDecoder::Direction::kResponses);
  UsbResponseCollector collector;
  EXPECT_FALSE(decoder.Feed(s, collector));
  EXPECT_TRUE(decoder.failed());
  EXPECT_FALSE(decoder.error().empty());
  EXPECT_EQ(collector.messages().size(), 1u);
  EXPECT_FALSE(decoder.Feed(s, collector));
  EXPECT_EQ(collector.messages().size(), 1u);
}

}  // namespace
}  // namespace zarnet
