#include "core/password.h"

#include <gtest/gtest.h>

#include "core/text.h"

namespace korvex {
namespace {

using namespace std::literals;

struct StoredCase {
  TextView stored;
  TextView password;
};

TEST(PasswordTest, StoredTextsDecodeAsTheyAlwaysHave) {
  static constexpr StoredCase kCases[] = {
      {u"6D6E6F", u"abc"},
      {u"6d6e6f", u"abc"},       // lower-case digits count the same
      {u"6D6E6", u"ab"},         // a last single digit is ignored
      {u"", u""},
      {u"6", u""},
      {u"102", u"\u0004"},       // what older versions stored for U+00F6
      {u"0B", u"\uFFFF"},        // pairs below the offset wrap around
      {u"0C", u"\0"sv},
      {u"0C6D", u"\0a"sv},       // a decoded NUL stays in the text
      {u"FF", u"\u00F3"},
      {u"0D0E0F", u"\u0001\u0002\u0003"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(ToUtf8(c.stored));
    EXPECT_EQ(Entschluesseln(c.stored), c.password);
  }
}

TEST(PasswordTest, PasswordsUpToF3EncodeAsTheyAlwaysHave) {
  static constexpr StoredCase kCases[] = {
      {u"6D6E6F", u"abc"},
      {u"", u""},
      {u"0D", u"\u0001"},
      {u"FF", u"\u00F3"},
      {u"2C7E", u"\u0020r"},
      {u"0C"sv, u"\0"sv},
      {u"737174717579", u"geheim"},  // what scripts/demo.sh stores
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(ToUtf8(c.password));
    EXPECT_EQ(Verschluesseln(c.password), c.stored);
  }
}

TEST(PasswordTest, CodeUnitsAboveF3AreEscapedWithFourUpperCaseDigits) {
  EXPECT_EQ(Verschluesseln(u"\u00F4"), u"0000F4");
  EXPECT_EQ(Verschluesseln(u"\u00F6"), u"0000F6");
  EXPECT_EQ(Verschluesseln(u"K\u00F6ln"), u"570000F6787A");
  EXPECT_EQ(Verschluesseln(u"\u20AC"), u"0020AC");
  EXPECT_EQ(Verschluesseln(u"\uFFFF"), u"00FFFF");
  EXPECT_EQ(Entschluesseln(u"0000f6"), u"\u00F6");  // lower-case escapes decode too
}

TEST(PasswordTest, EveryCodeUnitSurvivesStorageAloneAndInsideText) {
  for (std::uint32_t unit = 0; unit <= 0xFFFF; ++unit) {
    const Text alone(1, static_cast<char16_t>(unit));
    const Text inside = u"a" + alone + u"\u00FC" + alone + u"0";
    ASSERT_EQ(Entschluesseln(Verschluesseln(alone)), alone) << "code unit " << unit;
    ASSERT_EQ(Entschluesseln(Verschluesseln(inside)), inside) << "code unit " << unit;
  }
}

TEST(PasswordTest, AnIncompleteEscapeDecodesAsPlainPairs) {
  // "00" with fewer than four digits after it, or with a non-digit among them, is the pair it
  // always was: (0 - 12) mod 65536.
  EXPECT_EQ(Entschluesseln(u"00"), u"\uFFF4");
  EXPECT_EQ(Entschluesseln(u"00F6"), u"\uFFF4\u00EA");
  EXPECT_EQ(Entschluesseln(u"00F6G1"), u"\uFFF4\u00EA\uFFF5");
}

struct HexCase {
  TextView text;
  std::int32_t value;
};

TEST(PasswordTest, HexToIntReadsDigitsOfEitherCase) {
  static constexpr HexCase kCases[] = {
      {u"", 0},
      {u"0", 0},
      {u"9", 9},
      {u"A", 10},
      {u"f", 15},
      {u"6D", 0x6D},
      {u"6d", 0x6D},
      {u"FF", 255},
      {u"20AC", 0x20AC},
      {u"7FFFFFFF", 0x7FFFFFFF},
      {u"FFFFFFFF", -1},
      {u"100000000", 0},  // only the last eight digits fit
      // A character that is no digit counts as the digit before it, or 0 with none before it.
      {u"AZ", 0xAA},
      {u"3g", 0x33},
      {u"Z5", 0x05},
      {u"-1", 0x01},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(ToUtf8(c.text));
    EXPECT_EQ(HexToInt(c.text), c.value);
  }
}

}  // namespace
}  // namespace korvex
