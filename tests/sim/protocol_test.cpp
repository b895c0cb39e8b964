// The wire records and texts shared by the product and the simulator.
#include <gtest/gtest.h>

#include "zarnet/command.h"
#include "zarnet/config_text.h"
#include "zarnet/device_list.h"
#include "zarnet/discovery.h"

namespace {

using namespace zarnet;

std::span<const uint8_t> Bytes(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

TEST(Discovery, RequestIsExactlyTheSixLetters) {
  auto request = EncodeDiscoveryRequest();
  EXPECT_EQ(std::string(request.begin(), request.end()), "Tavrin");
  EXPECT_TRUE(IsDiscoveryRequest(request));
  EXPECT_FALSE(IsDiscoveryRequest(Bytes(std::string("Tavrin\0", 7))));
  EXPECT_FALSE(IsDiscoveryRequest(Bytes("tavrin")));
}

TEST(Discovery, ReplyLayoutAndItsThirtyByteLimit) {
  DiscoveryInfo info;
  info.model = 1;
  info.mac = {0x00, 0x1B, 0x5A, 0x01, 0x02, 0x03};
  info.locked = true;
  info.fw_major = 2;
  info.fw_minor = 17;
  info.name = "office";
  auto reply = EncodeDiscoveryReply(info);
  const std::vector<uint8_t> expected = {1, 0x00, 0x1B, 0x5A, 0x01, 0x02, 0x03, 1, 2, 17, 6, 'o', 'f', 'f', 'i', 'c', 'e'};
  EXPECT_EQ(reply, expected);

  info.name = std::string(40, 'n');
  reply = EncodeDiscoveryReply(info);
  EXPECT_EQ(reply.size(), kDiscoveryReplyMaxSize);
  EXPECT_EQ(reply[10], 19);
  EXPECT_EQ(DecodeDiscoveryReply(reply)->name, std::string(19, 'n'));
}

TEST(Discovery, DecodingStaysInsideTheReceivedBytes) {
  // Shorter than the header: the missing fields read as zero.
  std::vector<uint8_t> short_reply = {1, 0xAA, 0xBB};
  auto info = DecodeDiscoveryReply(short_reply);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->model, 1);
  EXPECT_EQ(info->mac[1], 0xBB);
  EXPECT_EQ(info->mac[2], 0);
  EXPECT_TRUE(info->name.empty());
  // A name length beyond the bytes that arrived.
  std::vector<uint8_t> lying = {0, 1, 2, 3, 4, 5, 6, 0, 1, 0, 200, 'a', 'b'};
  EXPECT_EQ(DecodeDiscoveryReply(lying)->name, "ab");
  // Over 30 bytes is not a reply.
  EXPECT_FALSE(DecodeDiscoveryReply(std::vector<uint8_t>(31, 0)));
}

TEST(DeviceList, EncodesLittleEndianPackedEntries) {
  __dev_info__ d{};
  d.cid[0] = 7;
  d.cid[1] = 1;
  d.cid[2] = 2;
  d.rev = 0x0102;
  d.pid = 0x0304;
  d.vid = 0x0506;
  d.b_f = 1;
  d.portnum = 0x0708;
  d.speed = 3;
  d.numINT = 2;
  auto datagram = EncodeServerDeviceList(0xA1B2C3D4, std::span(&d, 1));
  const std::vector<uint8_t> expected = {22, 0, 0, 0, 0xD4, 0xC3, 0xB2, 0xA1, 7, 1, 2, 0x02, 0x01,
                                         0x04, 0x03, 0x06, 0x05, 1, 0x08, 0x07, 3, 2};
  EXPECT_EQ(datagram, expected);

  std::vector<__dev_info__> many(100, d);
  datagram = EncodeServerDeviceList(1, many);
  EXPECT_EQ(datagram.size(), 8 + 72 * 14u);
  EXPECT_LE(datagram.size(), kDeviceListBufferSize);
}

TEST(DeviceList, DecodingTrustsNeitherInfolenNorTheLength) {
  __dev_info__ d{};
  d.portnum = 5;
  auto datagram = EncodeServerDeviceList(9, std::vector<__dev_info__>(3, d));
  auto view = DecodeServerDeviceList(datagram);
  ASSERT_TRUE(view);
  EXPECT_EQ(view->server_id, 9u);
  EXPECT_EQ(view->devices.size(), 3u);
  EXPECT_EQ(+view->devices[2].portnum, 5);
  EXPECT_FALSE(view->cut);

  // infolen names more entries than arrived: only whole entries that arrived.
  datagram[0] = 200;
  datagram.resize(datagram.size() - 3);
  view = DecodeServerDeviceList(datagram);
  EXPECT_EQ(view->devices.size(), 2u);
  EXPECT_TRUE(view->cut);

  // infolen 8: the server and no device; below 8 or a short header: nothing.
  std::vector<uint8_t> empty = {8, 0, 0, 0, 1, 0, 0, 0, 0xEE};
  EXPECT_EQ(DecodeServerDeviceList(empty)->devices.size(), 0u);
  empty[0] = 7;
  EXPECT_FALSE(DecodeServerDeviceList(empty));
  EXPECT_FALSE(DecodeServerDeviceList(std::vector<uint8_t>(7, 8)));
}

TEST(CommandText, RequestFormsAreByteExact) {
  EXPECT_EQ(EncodeCommandRequest(1), "<CMD=1>\n</CMD>");
  EXPECT_EQ(EncodeCommandRequest(9), "<CMD=9>\n</CMD>");
  EXPECT_EQ(EncodeCommandRequest(3, "pw"), "<CMD=3>\n<DATA>\npw\n</DATA>\n</CMD>");
  EXPECT_EQ(EncodeCommandRequest(5, "[Password]\nenable=1\n"), "<CMD=5>\n<DATA>\n[Password]\nenable=1\n</DATA>\n</CMD>");
  EXPECT_EQ(EncodeCommandRequest(7, "2"), "<CMD=7>\n<SCMD=3>\n</SCMD>\n<DATA>\n2\n</DATA>\n</CMD>");
}

TEST(CommandText, ServerReadsEveryRequestForm) {
  for (uint32_t command : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u}) {
    std::string data = command == 5 ? "[BasicSettings]\nserver_name=x\n" : command == 7 ? "12" : "data";
    auto request = ParseCommandRequest(EncodeCommandRequest(command, data));
    ASSERT_TRUE(request) << command;
    EXPECT_EQ(request->command, command);
    if (command == 3 || command == 7 || command == 8) {
      EXPECT_EQ(request->data, data);
    }
    if (command == 5) {
      EXPECT_EQ(request->data, "[BasicSettings]\nserver_name=x");
    }
    if (command == 7) {
      EXPECT_EQ(request->subcommand, 3u);
    }
  }
  // The other client's forms: command 8 without DATA tags, command 5 with its own line feed.
  auto upgrade = ParseCommandRequest("<CMD=8>\nzarnet-update-1.0.0.13.bin\n</CMD>");
  EXPECT_EQ(upgrade->data, "zarnet-update-1.0.0.13.bin");
  auto set = ParseCommandRequest("<cmd=5>\n<data>\n[Password]\nenable=0\n\n</data>\n</cmd>");
  EXPECT_EQ(set->command, 5u);
  EXPECT_EQ(set->data, "[Password]\nenable=0\n");

  EXPECT_FALSE(ParseCommandRequest("<CMD=4>\n"));          // no end
  EXPECT_FALSE(ParseCommandRequest("<CMD=4\n</CMD>"));     // no ">" before the end
  EXPECT_FALSE(ParseCommandRequest("<CMD=>\n</CMD>"));     // no number
  EXPECT_FALSE(ParseCommandRequest("hello</CMD>"));
  EXPECT_TRUE(IsRequestComplete("<CMD=1>\n</cmd>"));
  EXPECT_FALSE(IsRequestComplete("<CMD=1>\n</CM"));
}

TEST(CommandText, ResponseHasTheFixedPositionsClientsRead) {
  std::string plain = EncodeCommandResponse(4, RSP_STATUS_SUCCESS, "[GeneralSettings]\n");
  EXPECT_EQ(plain, "<RSP=4>\n<STATUS=0>\n</STATUS>\n<DATA>\n[GeneralSettings]\n\n</DATA>\n</RSP>");
  EXPECT_EQ(plain[5], '4');
  EXPECT_EQ(plain[6], '>');
  EXPECT_EQ(plain[16], '0');
  EXPECT_EQ(plain[17], '>');
  EXPECT_EQ(plain[34], '>');
  EXPECT_EQ(plain[35], '\n');

  std::string product = EncodeCommandResponse(7, RSP_STATUS_SUCCESS, EncodeProductString("Printer"));
  EXPECT_EQ(product.substr(0, 25), "<RSP=7>\n<SCMD=3>\n</SCMD>\n");
  EXPECT_EQ(product[33], '0');
  EXPECT_EQ(product[53], 7);  // the length word
  EXPECT_EQ(product.substr(57, 8), "Printer\n");
  EXPECT_LE(EncodeCommandResponse(6, 0, std::string(300, 'x')).size(), 500u);
}

TEST(CommandText, BrokenResponseForms) {
  ResponseForm form;
  form.rsp_number = "5";
  form.status_tags = false;
  form.end_tag = false;
  form.lower_case_tags = true;
  form.filler = 3;
  EXPECT_EQ(EncodeCommandResponse(2, 0, "", form), "<rsp=5>\n<data>\n\n</data>\n   ");
}

TEST(CommandText, TagSearchAndNumbers) {
  EXPECT_EQ(FindTag("xx</rsp>", "</RSP>"), 2u);
  EXPECT_EQ(FindTag("</RS", "</RSP>"), std::string_view::npos);
  EXPECT_EQ(FindTag("a<DATA>b<data>", "<DATA>", 2), 8u);
  EXPECT_EQ(ParseDecimal("  -12>"), -12);
  EXPECT_EQ(ParseDecimal("x"), 0);
  EXPECT_EQ(ParseDecimal("+7"), 7);
}

TEST(CommandText, ProductStringStaysInsideItsData) {
  std::string data = EncodeProductString(std::string(300, 'p'));
  EXPECT_EQ(data.size(), 4 + 255u);
  EXPECT_EQ(static_cast<uint8_t>(data[0]), 255);
  // A length word larger than the bytes behind it.
  std::string lying = std::string("\xFF\x00\x00\x00", 4) + "abc";
  EXPECT_EQ(DecodeProductString(Bytes(lying)), "abc");
  EXPECT_FALSE(DecodeProductString(Bytes("ab")));
}

TEST(ConfigText, KeysInTheirFixedOrder) {
  ServerConfiguration c;
  c.server_model = 1;
  c.fw_version = "1.0.0.12";
  c.hw_version = "1.0";
  c.serial_no = 42;
  c.server_name = "lab";
  c.ip_address = "10.0.0.2";
  c.net_mask = "255.0.0.0";
  c.gate_way = "10.0.0.1";
  c.ip_config = 1;
  c.mac_addr = "00:1B:5A:00:00:02";
  c.password_enable = true;
  c.password = "pw";
  std::vector<ConnectionTableEntry> table = {{1, "10.0.0.9"}, {3, "10.0.0.8"}};
  EXPECT_EQ(FormatConfigurationText(c, table),
            "[GeneralSettings]\nserver_model=1\nfw_version=1.0.0.12\nhw_version=1.0\nserial_no=000042\n"
            "[BasicSettings]\nserver_name=lab\n"
            "[NetworkSettings]\nip_address=10.0.0.2\nnet_mask=255.0.0.0\ngate_way=10.0.0.1\nip_config=1\n"
            "mac_addr=00:1B:5A:00:00:02\n"
            "[ConnectionTable]\nport_no1=1\nclient_ip1=10.0.0.9\nport_no2=3\nclient_ip2=10.0.0.8\n"
            "[Password]\nenable=1\npassword=pw\n");
  EXPECT_EQ(FormatConnectionTable({}), "[ConnectionTable]\n");
}

}  // namespace

// ---- negotiation records ----

#include "zarnet/negotiation.h"

namespace {

using namespace zarnet;

TEST(NegotiationRecords, RequestsHaveTheirLengths) {
  auto signature = EncodeNegRequest(NEGCMD_SIGNATURE, 0);
  ASSERT_EQ(signature.size(), 12u);
  EXPECT_EQ(signature[0], 12);
  EXPECT_EQ(signature[4], 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(signature.data() + 5), 7), std::string("Ver1.0\0", 7));
  auto free_test = EncodeNegRequest(NEGCMD_IS_DEVICE_FREE, 0x0203);
  EXPECT_EQ(free_test, (std::vector<uint8_t>{7, 0, 0, 0, 1, 3, 2}));
  EXPECT_EQ(EncodeNegRequest(NEGCMD_PORT_MODE, 5), (std::vector<uint8_t>{8, 0, 0, 0, 4, 5, 0, 1}));
  auto request = DecodeNegRequest(free_test);
  ASSERT_TRUE(request);
  EXPECT_EQ(request->port, 0x0203);
  EXPECT_TRUE(DecodeNegRequest(signature)->signature_ok);
}

TEST(NegotiationRecords, ReaderCompletesARecordFedByteByByte) {
  auto reply = EncodeNegPortReply(NEGCMD_CLAIM_DEVICE, 4, true);
  reply.push_back(0xEE);  // what follows on the connection is not taken
  NegRecordReader reader;
  size_t used = 0, total = 0;
  for (uint8_t byte : reply) {
    if (reader.state() != NegRecordReader::State::kNeedMore) break;
    reader.Feed(std::span<const uint8_t>(&byte, 1), &used);
    total += used;
  }
  EXPECT_EQ(reader.state(), NegRecordReader::State::kComplete);
  EXPECT_EQ(total, 8u);
  EXPECT_EQ(JudgeNegReply(NEGCMD_CLAIM_DEVICE, reader.record()), NegVerdict::kAccepted);
}

TEST(NegotiationRecords, ReaderRefusesLengthsOutsideTheRecordBounds) {
  for (uint32_t length : {0u, 4u, 134u, 0xFFFFFFFFu}) {
    uint8_t bytes[8] = {static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8),
                        static_cast<uint8_t>(length >> 16), static_cast<uint8_t>(length >> 24), 1, 0, 0, 1};
    NegRecordReader reader;
    size_t used = 0;
    EXPECT_EQ(reader.Feed(bytes, &used), NegRecordReader::State::kMalformed) << length;
    EXPECT_EQ(used, 4u);
  }
}

TEST(NegotiationRecords, RepliesTooShortForTheirVerdictAreMalformed) {
  auto free_reply = EncodeNegPortReply(NEGCMD_IS_DEVICE_FREE, 1, false);
  EXPECT_EQ(JudgeNegReply(NEGCMD_IS_DEVICE_FREE, free_reply), NegVerdict::kRefused);
  EXPECT_EQ(JudgeNegReply(NEGCMD_SIGNATURE, free_reply), NegVerdict::kMalformed);  // 8 bytes, needs 12
  std::vector<uint8_t> short_reply = {7, 0, 0, 0, 1, 1, 0};
  EXPECT_EQ(JudgeNegReply(NEGCMD_IS_DEVICE_FREE, short_reply), NegVerdict::kMalformed);
  auto signature = EncodeNegSignatureReply();
  for (size_t i = 5; i < 12; ++i) {
    auto changed = signature;
    changed[i] ^= 0x20;
    EXPECT_EQ(JudgeNegReply(NEGCMD_SIGNATURE, changed), NegVerdict::kRefused) << i;
  }
}

}  // namespace
