// Core Foundation preferences in property-list files, and the property-list reader.
#include <gtest/gtest.h>

#include <fstream>

#include "cocoa/CoreFoundation.h"
#include "testsupport/sysroot.h"

namespace {

class Preferences : public tavrin::test::SysrootTest {
 protected:
  static CFMutableDictionaryRef Entry(const char* ip, int port) {
    CFMutableDictionaryRef d = CFDictionaryCreateMutable(kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks,
                                                         &kCFTypeDictionaryValueCallBacks);
    CFStringRef s = CFStringCreateWithCString(kCFAllocatorDefault, ip, kCFStringEncodingASCII);
    CFNumberRef n = CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &port);
    CFDictionarySetValue(d, CFSTR("ipAddrs"), s);
    CFDictionarySetValue(d, CFSTR("portNumber"), n);
    CFDictionarySetValue(d, CFSTR("Autoconnect"), kCFBooleanTrue);
    CFRelease(s);
    CFRelease(n);
    return d;
  }
};

TEST_F(Preferences, SetThenSynchronizeStoresAPlistFileThatAnotherReaderSees) {
  // Constant strings live for the process: made before counting.
  CFStringRef app = CFSTR("/private/var/root/loginwindow");
  for (const char* key : {"Data", "ipAddrs", "portNumber", "Autoconnect", "None"}) __CFStringMakeConstantString(key);
  const long before = cocoa::LiveObjectCount();
  CFMutableArrayRef array = CFArrayCreateMutable(kCFAllocatorDefault, 0, &kCFTypeArrayCallBacks);
  CFMutableDictionaryRef entry = Entry("10.0.0.12 & <x>", 3);
  CFArrayAppendValue(array, entry);
  CFRelease(entry);
  CFPreferencesSetValue(CFSTR("Data"), array, app, kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
  CFArrayRemoveValueAtIndex(array, 0);  // the preferences keep their own copy
  CFRelease(array);

  EXPECT_TRUE(CFPreferencesSynchronize(app, kCFPreferencesCurrentUser, kCFPreferencesAnyHost));
  const auto file = root() / "Mac/private/var/root/loginwindow.plist";
  ASSERT_TRUE(std::filesystem::exists(file));

  auto read = static_cast<CFArrayRef>(
      CFPreferencesCopyValue(CFSTR("Data"), app, kCFPreferencesCurrentUser, kCFPreferencesAnyHost));
  ASSERT_NE(read, nullptr);
  ASSERT_EQ(CFGetTypeID(read), CFArrayGetTypeID());
  ASSERT_EQ(CFArrayGetCount(read), 1);
  auto d = static_cast<CFDictionaryRef>(const_cast<void*>(CFArrayGetValueAtIndex(read, 0)));
  char ip[100];
  ASSERT_TRUE(CFStringGetCString(static_cast<CFStringRef>(const_cast<void*>(CFDictionaryGetValue(d, CFSTR("ipAddrs")))),
                                 ip, sizeof ip, kCFStringEncodingASCII));
  EXPECT_STREQ(ip, "10.0.0.12 & <x>");
  int port = 0;
  CFNumberGetValue(static_cast<CFNumberRef>(const_cast<void*>(CFDictionaryGetValue(d, CFSTR("portNumber")))),
                   kCFNumberSInt32Type, &port);
  EXPECT_EQ(port, 3);
  auto flag = static_cast<CFBooleanRef>(const_cast<void*>(CFDictionaryGetValue(d, CFSTR("Autoconnect"))));
  EXPECT_EQ(CFGetTypeID(flag), CFBooleanGetTypeID());
  EXPECT_TRUE(CFBooleanGetValue(flag));
  CFRelease(read);
  EXPECT_EQ(cocoa::LiveObjectCount(), before);

  // A key never set reads as null; removing a key takes it out of the file.
  EXPECT_EQ(CFPreferencesCopyValue(CFSTR("None"), app, kCFPreferencesCurrentUser, kCFPreferencesAnyHost), nullptr);
  CFPreferencesSetValue(CFSTR("Data"), nullptr, app, kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
  EXPECT_TRUE(CFPreferencesSynchronize(app, kCFPreferencesCurrentUser, kCFPreferencesAnyHost));
  EXPECT_EQ(CFPreferencesCopyValue(CFSTR("Data"), app, kCFPreferencesCurrentUser, kCFPreferencesAnyHost), nullptr);
}

TEST_F(Preferences, PlainIdentifiersGoToTheUsersOrTheMachinesLibrary) {
  std::string user = cocoa::PreferencesFile(CFSTR("a/b"), kCFPreferencesCurrentUser);
  std::string any = cocoa::PreferencesFile(CFSTR("a/b"), kCFPreferencesAnyUser);
  EXPECT_NE(user.find("/Mac/Users/"), std::string::npos);
  EXPECT_NE(any.find("/Mac/Library/Preferences/a_b.plist"), std::string::npos);
}

TEST(PropertyList, ReaderRejectsBrokenAndTooDeepText) {
  const long before = cocoa::LiveObjectCount();
  const char* bad[] = {"", "<plist>", "<plist version=\"1.0\"><dict><key>a</key></dict></plist>",
                       "<plist><array><integer>x</integer></array></plist>",
                       "<plist><string>&bogus;</string></plist>", "<plist><array><string>a</string>"};
  for (const char* text : bad) EXPECT_EQ(cocoa::ReadPropertyList(text), nullptr) << text;
  std::string deep = "<plist>";
  for (int i = 0; i < 200; ++i) deep += "<array>";
  EXPECT_EQ(cocoa::ReadPropertyList(deep), nullptr);
  CFPropertyListRef ok = cocoa::ReadPropertyList(
      "<?xml version=\"1.0\"?><!-- c --><plist version=\"1.0\"><dict><key>n</key><real>1.5</real>"
      "<key>d</key><data>YWJj</data><key>e</key><array/><key>x</key><real>nan</real></dict></plist>");
  ASSERT_NE(ok, nullptr);
  // What is read writes back to the same values.
  CFPropertyListRef again = cocoa::ReadPropertyList(cocoa::WritePropertyList(ok));
  ASSERT_NE(again, nullptr);
  EXPECT_TRUE(CFEqual(ok, again));
  CFRelease(ok);
  CFRelease(again);
  EXPECT_EQ(cocoa::LiveObjectCount(), before);
}

}  // namespace
