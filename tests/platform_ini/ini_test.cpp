#include <gtest/gtest.h>

#include <string>

#include "ini/ini.h"

namespace {

TEST(IniParser, LooksUpAsTheProfileFunctionsRead) {
  auto doc = tavrin::ini::Parse(
      "stray=1\n[Basicsettings]\r\n Server_Name = a b \nserver_name=second\n;enable=1\n[Password]\nenable=0\nnoequals\n"
      "[password]\npassword=later\n");
  EXPECT_EQ(tavrin::ini::Value(doc, "BasicSettings", "server_name"), "a b");  // the first of two
  EXPECT_EQ(tavrin::ini::Value(doc, "password", "ENABLE"), "0");
  EXPECT_FALSE(tavrin::ini::Value(doc, "Password", "password"));  // only the first section of a name
  EXPECT_FALSE(tavrin::ini::Value(doc, "BasicSettings", ";enable"));  // a comment
  EXPECT_FALSE(tavrin::ini::Value(doc, "", "stray"));  // before any section
  EXPECT_FALSE(tavrin::ini::Value(doc, "NetworkSettings", "ip_address"));
}

TEST(IniParser, HandlesUnendedLongAndOddLinesWithinTheBytes) {
  std::string huge(1 << 20, 'k');
  auto doc = tavrin::ini::Parse("pre\r\n[A\n" + huge + "=v\n[]\n=novalue\r\r\nkey=");  // no final line end
  ASSERT_EQ(doc.preamble.size(), 1u);
  ASSERT_EQ(doc.sections.size(), 2u);
  EXPECT_EQ(doc.sections[0].name, "A");  // a header without ']' ends at the line's end
  EXPECT_EQ(doc.sections[0].lines[0].key.size(), huge.size());
  EXPECT_EQ(doc.sections[1].name, "");
  EXPECT_EQ(doc.sections[1].lines[0].key, "");  // "=novalue" has no key
  EXPECT_EQ(doc.sections[1].lines[1].key, "key");
  EXPECT_EQ(doc.sections[1].lines[1].value, "");

  // A view that stops inside a buffer: nothing past its end is read.
  const char bytes[] = "[S]\nk=vvvv";
  auto cut = tavrin::ini::Parse(std::string_view(bytes, 7));
  EXPECT_EQ(cut.sections[0].lines[0].value, "v");
  EXPECT_EQ(tavrin::ini::Serialize(cut), "[S]\r\nk=v\r\n");
}

TEST(IniParser, AByteOrderMarkIsKeptAndTheTextAfterItReadsTheSameWhenWrittenBack) {
  // A second mark is text: the line it starts is no section header, before or after a rewrite.
  const std::string text = "\xEF\xBB\xBF\xEF\xBB\xBF[\v\r\n[S]\r\nk=v\r\n";
  auto doc = tavrin::ini::Parse(text);
  EXPECT_TRUE(doc.byteOrderMark);
  ASSERT_EQ(doc.sections.size(), 1u);
  EXPECT_EQ(tavrin::ini::Serialize(doc), text);
  auto reread = tavrin::ini::Parse(tavrin::ini::Serialize(doc));
  ASSERT_EQ(reread.sections.size(), 1u);
  EXPECT_EQ(reread.sections[0].name, "S");
}

}  // namespace
