// Node: values, signed state, children by index, and ownership of what it holds.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "PelkoFramework/Node.h"

namespace {

class NodeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pool_ = alloc<NSAutoreleasePool>()->init();
    before_ = cocoa::LiveObjectCount();
  }
  void TearDown() override { pool_->drain(); }
  long Live() const { return cocoa::LiveObjectCount() - before_; }

  static __dev_info__* Record(uint16_t port) {
    auto* info = static_cast<__dev_info__*>(calloc(1, sizeof(__dev_info__)));
    info->portnum = port;
    return info;
  }

  NSAutoreleasePool* pool_ = nullptr;
  long before_ = 0;
};

TEST_F(NodeTest, AFreshNodeIsAnEmptyFreeServer) {
  Node* n = alloc<Node>()->init();
  EXPECT_EQ(n->isDevice(), 0);
  EXPECT_EQ(n->isConnected(), 0);
  EXPECT_EQ(n->childrenCount(), 0);
  EXPECT_EQ(n->expandableNode(), 0);
  EXPECT_STREQ(n->itemName()->UTF8String(), "");
  EXPECT_EQ(n->sum(), 0);
  ASSERT_NE(n->deviceInformation(), nullptr);
  EXPECT_EQ(int{n->deviceInformation()->portnum}, 0);  // the placeholder reads as an empty record
  n->release();
  EXPECT_EQ(Live(), 0);
}

TEST_F(NodeTest, StatusKeepsItsLowByteSigned) {
  Node* n = alloc<Node>()->init();
  n->setStatus(33);
  EXPECT_EQ(n->isConnected(), 33);
  n->setStatus(22);
  EXPECT_EQ(n->isConnected(), 22);
  n->setStatus(200);
  EXPECT_EQ(n->isConnected(), -56);
  n->setStatus(0x101);
  EXPECT_EQ(n->isConnected(), 1);
  n->setDevice();
  EXPECT_EQ(n->isDevice(), 1);
  n->setServer();
  EXPECT_EQ(n->isDevice(), 0);
  n->release();
}

TEST_F(NodeTest, SettingTheSameStringTwiceKeepsItAlive) {
  Node* n = alloc<Node>()->init();
  NSString* name = alloc<NSString>()->initWithUTF8String("10.0.0.1");
  n->setServerName(name);
  n->setServerName(name);
  EXPECT_EQ(name->retainCount(), 2u);
  name->release();
  EXPECT_STREQ(n->itemName()->UTF8String(), "10.0.0.1");
  n->release();
  EXPECT_EQ(Live(), 0);
}

TEST_F(NodeTest, ChildrenByIndexAndTheirSum) {
  Node* server = alloc<Node>()->init();
  server->setServerName(NSString::stringWithUTF8String("192.168.1.2"));  // 11
  for (int i = 0; i < 2; ++i) {
    Node* device = alloc<Node>()->init();
    device->setDevice();
    device->setServerName(NSString::stringWithFormat("Vid_%p - Pid_%p", (void*)0x46d, (void*)(long)(0x1a + i)));
    device->setDeviceInformation(Record(static_cast<uint16_t>(i + 1)));
    server->addChildNode(device);
    device->release();  // the server's children keep it
  }
  ASSERT_EQ(server->childrenCount(), 2);
  EXPECT_EQ(server->expandableNode(), 1);
  EXPECT_EQ(int{server->childAtIndexNode(1)->deviceInformation()->portnum}, 2);
  EXPECT_EQ(server->sum(), 11 + 20 + 20);
  EXPECT_EQ(server->childAtIndexNode(1)->sum(), 20);
  // Indexes outside the children give nothing and change nothing.
  EXPECT_EQ(server->childAtIndexNode(2), nullptr);
  EXPECT_EQ(server->childAtIndexNode(-1), nullptr);
  server->removeDeviceAtIndex(5);
  server->replaceDeviceAtIndex(-1, server->childAtIndexNode(0));
  EXPECT_EQ(server->childrenCount(), 2);

  Node* replacement = alloc<Node>()->init();
  server->replaceDeviceAtIndex(0, replacement);
  replacement->release();
  EXPECT_EQ(server->childAtIndexNode(0), replacement);
  server->removeDeviceAtIndex(0);
  EXPECT_EQ(server->childrenCount(), 1);
  server->release();
  pool_->drain();
  pool_ = alloc<NSAutoreleasePool>()->init();
  EXPECT_EQ(Live(), 0);  // the new pool stands for the old one
}

TEST_F(NodeTest, ANewDeviceRecordReplacesAndFreesTheOldOne) {
  // Run under the leak checker of the sanitizer build: each block handed over is freed exactly once.
  Node* n = alloc<Node>()->init();
  n->setDeviceInformation(Record(1));
  n->setDeviceInformation(Record(2));
  n->setDeviceInformation(n->deviceInformation());  // the block it holds: kept
  EXPECT_EQ(int{n->deviceInformation()->portnum}, 2);
  n->release();
  EXPECT_EQ(Live(), 0);
}

}  // namespace
