#include "platform/CString.h"

#include <gtest/gtest.h>

namespace {

TEST(CString, TrimRightRemovesTheWholeTrailingRunOnly) {
  struct Case { const wchar_t* in; const wchar_t* out; };
  const Case cases[] = {
      {L"C:\\Windows\\\\\\", L"C:\\Windows"}, {L"C:\\", L"C:"}, {L"\\\\", L""},
      {L"a\\b", L"a\\b"}, {L"", L""},
  };
  for (const Case& c : cases) {
    CString s(c.in);
    s.TrimRight(L'\\');
    EXPECT_STREQ(c.out, s);
    EXPECT_EQ(static_cast<int>(wcslen(c.out)), s.GetLength());
  }
}

TEST(CString, MidClipsToTheString) {
  const CString s(L"abcdef");
  EXPECT_STREQ(L"cd", s.Mid(2, 2));
  EXPECT_STREQ(L"", s.Mid(6, 3));   // start at the end
  EXPECT_STREQ(L"", s.Mid(1, 0));   // count 0
  EXPECT_STREQ(L"ef", s.Mid(4, 10));
}

TEST(CString, FormatReplacesAndAppendFormatAppends) {
  CString s(L"old content");
  s.Format(L"src%d.exe", 4);
  EXPECT_STREQ(L"src4.exe", s);
  s.AppendFormat(L"|%s|%d", L"wide", -7);
  EXPECT_STREQ(L"src4.exe|wide|-7", s);
  // Growth well past the first allocation keeps the content.
  CString big;
  for (int i = 0; i < 1000; ++i) big.AppendFormat(L"%d,", i % 10);
  EXPECT_EQ(2000, big.GetLength());
  EXPECT_EQ(L'9', big.GetAt(2 * 999));
}

TEST(CString, CopiesAreIndependent) {
  CString a(L"one");
  CString b = a;
  b += L"\\two";
  EXPECT_STREQ(L"one", a);
  EXPECT_STREQ(L"one\\two", b);
  a = b;
  EXPECT_TRUE(a == L"one\\two");
}

}  // namespace
