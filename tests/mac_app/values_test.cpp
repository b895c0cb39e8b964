// The value classes: ownership, the accessors that are not plain, and the configuration parse.
#include <gtest/gtest.h>

#include <cstring>

#include "TavrinMac/serverManager.h"
#include "TavrinMac/values.h"

namespace {

TEST(MacValues, ServerNodeKeepsRawMacBytesAndOwnsOnlyItsObjects) {
  NSAutoreleasePool* pool = alloc<NSAutoreleasePool>()->init();
  const long before = cocoa::LiveObjectCount();
  ServerNode* node = alloc<ServerNode>()->init();
  const char mac[6] = {0x00, '\x1b', '\x00', '\x80', '\xff', '\x07'};
  node->setMacAddr(mac);
  EXPECT_EQ(memcmp(node->macAddress(), mac, 6), 0);
  // A 16-byte address buffer: the text ends at its first NUL, whatever follows.
  char buffer[16] = "127.0.0.2";
  memcpy(buffer + 10, "junk!", 5);
  node->setRecvIpAddres(buffer);
  EXPECT_STREQ(node->recvIpAddres(), "127.0.0.2");
  char full[16];
  memset(full, '1', sizeof full);  // no terminator at all: 16 characters, never more
  node->setRecvIpAddres(full);
  EXPECT_EQ(strlen(node->recvIpAddres()), 16u);

  node->setClientCount(7);
  EXPECT_EQ(node->clientsCount(), 0);
  ConnectedClientsNode* client = alloc<ConnectedClientsNode>()->init();
  client->setClientAddres(NSString::stringWithUTF8String("127.0.0.1"));
  client->setClientPortNum(1);
  node->addClientToArray(client);
  client->release();
  EXPECT_EQ(node->clientsCount(), 1);
  EXPECT_EQ(node->getClientAtIndex(0)->clientPortNum(), 1);
  EXPECT_EQ(node->getClientAtIndex(1), nullptr);

  // Setting the value already held is safe, and a long text is cut to the node's buffer.
  NSString* text = NSString::stringWithStd(std::string(2000, 'c'));
  node->setServerConfigString(text);
  node->setServerConfigString(text);
  EXPECT_EQ(strlen(node->serverConfigString()), 998u);
  node->setConfigData(static_cast<serverdata*>(calloc(1, sizeof(serverdata))));
  node->setConfigData(static_cast<serverdata*>(calloc(1, sizeof(serverdata))));  // the first is freed
  node->release();
  pool->drain();
  EXPECT_EQ(cocoa::LiveObjectCount(), before - 1);  // the pool itself counted
}

TEST(MacValues, TableEntryCutsALongNameAndTheOthersFollowTheSetterRule) {
  NSAutoreleasePool* pool = alloc<NSAutoreleasePool>()->init();
  const long before = cocoa::LiveObjectCount();
  TableEntry* entry = alloc<TableEntry>()->init();
  entry->setDevName(NSString::stringWithStd(std::string(50, 'n')));
  EXPECT_EQ(strlen(entry->showDevName()), 39u);
  EXPECT_EQ(entry->nameData()->length(), 50u);
  entry->setDevName(NSString::stringWithUTF8String("Printer"));
  EXPECT_STREQ(entry->showDevName(), "Printer");
  EXPECT_EQ(entry->removeDev(nullptr), NO);

  DeviceIndex* device = alloc<DeviceIndex>()->init();
  device->setPid(static_cast<int16_t>(0x2B17));
  device->setVid(static_cast<int16_t>(0x03F0));
  device->setPortNo(1);
  device->setIpString(NSString::stringWithUTF8String("127.0.0.2"));
  EXPECT_TRUE(device->Matches(0x2B17, 0x03F0, 1, NSString::stringWithUTF8String("127.0.0.2")));
  EXPECT_FALSE(device->Matches(0x2B17, 0x03F0, 1, NSString::stringWithUTF8String("127.0.0.3")));
  EXPECT_FALSE(device->Matches(0x2B17, 0x03F0, 2, NSString::stringWithUTF8String("127.0.0.2")));

  logs* line = alloc<logs>()->init();
  EXPECT_EQ(line->description()->length(), 0u);
  line->setDescription(NSString::stringWithUTF8String("x"));
  EXPECT_STREQ(line->description()->UTF8String(), "x");
  ProductString* product = alloc<ProductString>()->init();
  product->setPortNum(0xFFFF);
  EXPECT_EQ(product->getPortNum(), 0xFFFF);
  product->release();
  line->release();
  device->release();
  entry->release();
  pool->drain();
  EXPECT_EQ(cocoa::LiveObjectCount(), before - 1);
}

const char* kConfiguration =
    "[GeneralSettings]\nserver_model=Zarnet-1\nfw_version=1.0.0.12\nhw_version=1.0\nserial_no=100002\n"
    "[BasicSettings]\nserver_name=zarnet-office\n"
    "[NetworkSettings]\nip_address=127.0.0.2\nnet_mask=255.0.0.0\ngate_way=127.0.0.1\nip_config=0\n"
    "mac_addr=00:1B:5A:00:00:02\n"
    "[ConnectionTable]\nport_no=1\nclient_ip=127.0.0.1\n"
    "[Password]\nenable=1\npassword=a=b\n";

TEST(MacConfiguration, TheTwelveValuesAreTakenInOrderAndBounded) {
  serverdata* d = serverManager::add_to_struct(kConfiguration, '4');
  ASSERT_NE(d, nullptr);
  EXPECT_STREQ(d->server_model, "Zarnet-1");
  EXPECT_STREQ(d->fw_version, "1.0.0.12");
  EXPECT_STREQ(d->hw_version, "1.0");
  EXPECT_EQ(d->serial_no, 100002u);
  EXPECT_STREQ(d->server_name, "zarnet-office");
  EXPECT_STREQ(d->ip_address, "127.0.0.2");
  EXPECT_STREQ(d->net_mask, "255.0.0.0");
  EXPECT_STREQ(d->gate_way, "127.0.0.1");
  EXPECT_EQ(d->ip_config, '0');
  EXPECT_STREQ(d->mac_addr, "00:1B:5A:00:00:02");
  EXPECT_EQ(d->enable, '1');  // the table's pairs were not counted
  EXPECT_STREQ(d->password, "a=b");
  free(d);

  EXPECT_EQ(serverManager::add_to_struct("x", '4'), nullptr);
  // Without the table the values still come in order; an over-long value is cut to its field.
  std::string text = std::string("a=") + std::string(100, 'm') + "\nb=1\nc=2\nd=123456\ne=n\nf=1.2.3.4\n";
  d = serverManager::add_to_struct(text.c_str(), '4');
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(strlen(d->server_model), 29u);
  EXPECT_STREQ(d->fw_version, "1");
  EXPECT_EQ(d->serial_no, 123456u);
  EXPECT_STREQ(d->ip_address, "1.2.3.4");
  free(d);
}

TEST(MacConfiguration, AddressesAreFourNumbersUpTo255) {
  EXPECT_EQ(checkIpFormat("192.168.0.1"), 0);
  EXPECT_EQ(checkIpFormat(" 10 .0.0.1"), 0);
  EXPECT_EQ(checkIpFormat("192.168.0"), 1);
  EXPECT_EQ(checkIpFormat("192.168.0.256"), 1);
  EXPECT_EQ(checkIpFormat("10.0.0.1.5"), 1);
  EXPECT_EQ(checkIpFormat("10.0.0.a"), 1);
  EXPECT_EQ(checkIpFormat("10..0.1"), 1);
  EXPECT_EQ(checkIpFormat(""), 1);
}

TEST(MacConfiguration, TheConnectionTableGivesItsPairsInOrder) {
  conn_table entries[16] = {};
  const char* table = "[ConnectionTable]\nport_no=1\nclient_ip=127.0.0.1\nport_no=3\nclient_ip=10.0.0.9\n"
                      "port_no=4\nclient_ip=10.0.0.10\n[Password]\nenable=0\n";
  serverManager::get_cTable(0, table, entries);
  EXPECT_EQ(devcount, 3);
  EXPECT_EQ(entries[0].port_no, 1);
  EXPECT_STREQ(entries[0].client_ip, "127.0.0.1");
  EXPECT_EQ(entries[2].port_no, 4);
  EXPECT_STREQ(entries[2].client_ip, "10.0.0.10");
  serverManager::get_cTable(0, "[ConnectionTable]\n", entries);
  EXPECT_EQ(devcount, 0);
  // More pairs than the table holds: sixteen kept, and a long address cut.
  std::string many = "[ConnectionTable]\n";
  for (int i = 0; i < 20; ++i) many += "port_no=" + std::to_string(i) + "\nclient_ip=" + std::string(40, 'a') + "\n";
  serverManager::get_cTable(0, many.c_str(), entries);
  EXPECT_EQ(devcount, 16);
  EXPECT_EQ(strlen(entries[15].client_ip), 19u);
}

}  // namespace
