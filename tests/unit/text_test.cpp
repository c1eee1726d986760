#include "core/text.h"

#include <gtest/gtest.h>

namespace korvex {
namespace {

TEST(Text, Utf8RoundTripsEveryCodePointClass) {
  const Text samples[] = {u"", u"abc", u"Gr\u00FC\u00DFe", u"\u20AC", u"\U0001F600", u"\uFFFF"};
  for (const Text& sample : samples) {
    SCOPED_TRACE(ToUtf8(sample));
    EXPECT_EQ(FromUtf8(ToUtf8(sample)), sample);
  }
}

TEST(Text, MalformedUtf8BecomesReplacementCharacter) {
  EXPECT_EQ(FromUtf8("a\xC3"), u"a\uFFFD");
  EXPECT_EQ(FromUtf8("\xC3(x"), u"\uFFFD(x");
  EXPECT_EQ(FromUtf8("\xC0\x80"), u"\uFFFD");  // overlong NUL
}

TEST(Text, AnsiCodePageKeepsLatin1AndReplacesTheRest) {
  EXPECT_EQ(ToAnsi(u"\u00E4b"), "\xE4" "b");
  EXPECT_EQ(ToAnsi(u"\u4E2D"), "?");
  // No look-alikes: both builds write the default character for U+0100, the minus sign and
  // infinity, which Windows would otherwise give as "A", "-" and "8".
  EXPECT_EQ(ToAnsi(u"\u0100\u2212\u221E"), "???");
  EXPECT_EQ(FromAnsi("\xE4" "b"), u"\u00E4b");
}

TEST(Text, FormatFillsPlaceholdersInOrder) {
  EXPECT_EQ(Format(u"Fehler beim Setzen der Daten f\u00FCr '%s'", {u"Passwort"}),
            u"Fehler beim Setzen der Daten f\u00FCr 'Passwort'");
  EXPECT_EQ(Format(u"Socket-Fehler # %d%s", {u"10061", u"x"}), u"Socket-Fehler # 10061x");
  EXPECT_EQ(Format(u"100%% %s", {}), u"100% ");
}

// The update list and the host list split their lines this way.
TEST(Text, SplitLinesAtEveryKindOfLineBreak) {
  struct Case {
    const char16_t* text;
    std::vector<Text> lines;
  };
  const Case cases[] = {
      {u"", {}},
      {u"\r\n", {u""}},
      {u"a\r\nb\r\n", {u"a", u"b"}},
      {u"a\rb\nc", {u"a", u"b", u"c"}},
      {u"a\n\nb", {u"a", u"", u"b"}},
      {u"a\n\r", {u"a", u""}},
      {u" a \r\n", {u" a "}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ToUtf8(c.text));
    EXPECT_EQ(SplitLines(c.text), c.lines);
  }
}

}  // namespace
}  // namespace korvex
