#include <gtest/gtest.h>

#include "mfc/collections.h"
#include "mfc/resource.h"
#include "mfc/string.h"

namespace {

TEST(CStringTest, SlicesSearchesAndFormats) {
  CString text("Vid_04b8&Pid_0005");
  EXPECT_EQ(text.GetLength(), 17);
  EXPECT_EQ(text.Left(3), "Vid");
  EXPECT_EQ(text.Mid(9), "Pid_0005");
  EXPECT_EQ(text.Mid(4, 4), "04b8");
  EXPECT_EQ(text.Right(4), "0005");
  EXPECT_EQ(text.Left(100), text);  // counts are clamped, not trusted
  EXPECT_EQ(text.Mid(50), "");
  EXPECT_EQ(text.Find('&'), 8);
  EXPECT_EQ(text.Find("Pid"), 9);
  EXPECT_EQ(text.Find("Pid", 10), -1);
  EXPECT_EQ(text.Find('x', 99), -1);
  EXPECT_EQ(text.ReverseFind('_'), 12);
  EXPECT_EQ(CString(text).MakeUpper(), "VID_04B8&PID_0005");
  EXPECT_EQ(text.CompareNoCase("VID_04B8&PID_0005"), 0);
  EXPECT_NE(text.Compare("VID_04B8&PID_0005"), 0);

  CString formatted;
  formatted.Format("%s:%d\n%.4x", "Port", 7, 0xb8);
  EXPECT_EQ(formatted, "Port:7\n00b8");
  std::string big(5000, 'x');
  formatted.Format("%s!", big.c_str());
  EXPECT_EQ(formatted.GetLength(), 5001);

  CString padded("  a b  ");
  EXPECT_EQ(padded.Trim(), "a b");
  CString replaced("a-b-c");
  EXPECT_EQ(replaced.Replace("-", "--"), 2);
  EXPECT_EQ(replaced, "a--b--c");

  CString buffer;
  snprintf(buffer.GetBuffer(16), 16, "abc");
  buffer.ReleaseBuffer();
  EXPECT_EQ(buffer, "abc");
  EXPECT_EQ(CString("x") + "y" + CString("z"), "xyz");
}

TEST(CStringTest, LoadsTheRegisteredStrings) {
  mfc::RegisterStrings({{41000, "Registered text"}});
  CString text("unchanged");
  EXPECT_FALSE(text.LoadString(41001));
  EXPECT_EQ(text, "unchanged");
  EXPECT_TRUE(text.LoadString(41000));
  EXPECT_EQ(text, "Registered text");
}

TEST(CListTest, PositionsStayValidAcrossChanges) {
  CList<int> list(10);
  EXPECT_TRUE(list.IsEmpty());
  POSITION two = list.AddTail(2);
  list.AddTail(3);
  list.AddHead(1);
  list.InsertAfter(two, 25);
  ASSERT_EQ(list.GetCount(), 4);

  std::vector<int> seen;
  for (POSITION p = list.GetHeadPosition(); p;) seen.push_back(list.GetNext(p));
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 25, 3}));

  EXPECT_EQ(list.GetAt(two), 2);
  list.SetAt(two, 20);
  EXPECT_EQ(list.Find(20), two);
  EXPECT_EQ(list.Find(20, two), nullptr);
  EXPECT_EQ(list.Find(99), nullptr);
  EXPECT_EQ(list.FindIndex(3), list.GetTailPosition());
  EXPECT_EQ(list.FindIndex(4), nullptr);

  // Removing while walking: take the next position first, as the callers do.
  for (POSITION p = list.GetHeadPosition(); p;) {
    POSITION current = p;
    if (list.GetNext(p) % 2 == 1) list.RemoveAt(current);
  }
  seen.clear();
  for (POSITION p = list.GetTailPosition(); p;) seen.push_back(list.GetPrev(p));
  EXPECT_EQ(seen, (std::vector<int>{20}));
  EXPECT_EQ(list.RemoveHead(), 20);
  EXPECT_TRUE(list.IsEmpty());
  EXPECT_EQ(list.GetHeadPosition(), nullptr);

  list.AddTail(7);
  list.RemoveAll();
  EXPECT_EQ(list.GetCount(), 0);
}

TEST(CListTest, HoldsRecordsByValue) {
  struct Record {
    char name[8];
    int value;
    bool operator==(const Record& other) const { return value == other.value; }
  };
  CList<Record> list;
  Record record{"one", 1};
  POSITION position = list.AddTail(record);
  record.value = 2;  // the list keeps its own copy
  EXPECT_EQ(list.GetAt(position).value, 1);
  Record copy = list.GetAt(position);
  copy.value = 3;
  list.SetAt(position, copy);
  EXPECT_EQ(list.GetHead().value, 3);
}

TEST(CollectionsTest, ArrayAndPointerMap) {
  CArray<int> array;
  array.Add(1);
  array.Add(3);
  array.InsertAt(1, 2);
  ASSERT_EQ(array.GetSize(), 3);
  EXPECT_EQ(array[1], 2);
  array.RemoveAt(0);
  EXPECT_EQ(array.GetAt(0), 2);
  EXPECT_THROW(array.GetAt(5), std::out_of_range);

  CMapPtrToPtr map(10);
  int a = 0, b = 0;
  map.SetAt(&a, &b);
  void* found = nullptr;
  EXPECT_TRUE(map.Lookup(&a, found));
  EXPECT_EQ(found, &b);
  EXPECT_FALSE(map.Lookup(&b, found));
  EXPECT_TRUE(map.RemoveKey(&a));
  EXPECT_TRUE(map.IsEmpty());
}

}  // namespace
