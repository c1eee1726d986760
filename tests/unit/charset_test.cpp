#include "core/charset.h"

#include <gtest/gtest.h>

namespace korvex {
namespace {

using namespace std::string_view_literals;  // bodies with NUL bytes

TEST(Charset, ChoiceFollowsMediaTypeMetaDeclarationAndDefaults) {
  struct Case {
    const char* contentType;
    std::string_view body;
    const char* charset;
  };
  static constexpr Case kCases[] = {
      {"text/plain", "x", "ISO-8859-1"},
      {"text/plain; charset=utf-8", "x", "utf-8"},
      {"TEXT/Plain ;Charset=\"UTF-8\"", "x", "UTF-8"},
      {"text/csv; format=x; charset='windows-1252'", "x", "windows-1252"},
      {"text/html", "<html><body>kein meta</body></html>", "ISO-8859-1"},
      {"text/html; charset=utf-8", "<p>x</p>", "utf-8"},
      // A meta element in an HTML body names the charset, whatever the header says.
      {"text/html; charset=iso-8859-1", "<head><meta charset=\"utf-8\"></head>", "utf-8"},
      {"text/html", "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=windows-1251\">",
       "windows-1251"},
      {"text/html", "<meta content='text/html;charset=koi8-r' http-equiv='content-type'/>", "koi8-r"},
      {"text/html", "<meta charset=utf-8>", "utf-8"},
      {"text/html", "<meta name=\"description\" content=\"charset=big5\"><meta charset=\"utf-8\">", "utf-8"},
      {"text/html", "<metadata charset=\"utf-8\">", "ISO-8859-1"},
      {"text/html-sandboxed", "<meta charset=\"utf-8\">", "utf-8"},
      {"text/plain", "<meta charset=\"utf-8\">", "ISO-8859-1"},
      {"application/xhtml+xml", "<meta charset=\"windows-1250\"/>", "windows-1250"},
      // XML text types fall back to us-ascii; their charset parameter still counts.
      {"text/xml", "<?xml version=\"1.0\" encoding=\"utf-8\"?>", "us-ascii"},
      {"text/xml; charset=utf-8", "<a/>", "utf-8"},
      {"text/atom+xml", "<a/>", "us-ascii"},
      {"text/xml-external-parsed-entity", "x", "us-ascii"},
      // XML of other types: declaration, then byte-order mark, then UTF-8; the parameter is not used.
      {"application/xml", "<?xml version=\"1.0\" encoding=\"ISO-8859-15\"?><a/>", "ISO-8859-15"},
      {"application/xml; charset=latin1", "<a/>", "UTF-8"},
      {"application/rss+xml", "\xFF\xFE<\0a\0"sv, "UTF-16LE"},
      {"application/xml", "\xFE\xFF\0<\0a"sv, "UTF-16BE"},
      {"application/xml", "\xEF\xBB\xBF<?xml version='1.0' encoding='windows-1252'?>", "windows-1252"},
      {"application/xml", "\xEF\xBB\xBF<a/>", "UTF-8"},
      {"application/xml-dtd", "<!ELEMENT a ANY>", "UTF-8"},
      {"application/xml-external-parsed-entity", "x", "UTF-8"},
      {"application/xhtml+xml", "<html/>", "UTF-8"},
      // Other types have a charset only when the header names one.
      {"application/json", "{}", ""},
      {"application/json; charset=utf-8", "{}", "utf-8"},
      {"", "1.2.3.4", ""},
      {"image/png", "\x89PNG", ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.contentType) + " | " + std::string(c.body));
    EXPECT_EQ(ChooseCharset(c.contentType, c.body), c.charset);
  }
}

TEST(Charset, BodyIsConvertedByTheOperatingSystem) {
  struct Case {
    const char* contentType;
    std::string_view body;
    const char16_t* text;
  };
  static constexpr Case kCases[] = {
      {"text/plain", "gr\xFC\xDF\r\n", u"gr\u00FC\u00DF\r\n"},
      {"text/html; charset=UTF-8", "gr\xC3\xBC\xC3\x9F \xE2\x82\xAC", u"gr\u00FC\u00DF \u20AC"},
      {"text/plain; charset=windows-1252", "\x80", u"\u20AC"},
      {"text/plain; charset=utf-8", "a\xFF" "b", u"a\uFFFDb"},
      {"text/html", "<meta charset=\"utf-8\">\xC3\xA4", u"<meta charset=\"utf-8\">\u00E4"},
      {"application/xml", "\xFF\xFE" "a\0\xE4\0"sv, u"\uFEFFa\u00E4"},
      {"application/xml", "\xFE\xFF\0a"sv, u"\uFEFFa"},
      // A name the OS does not know, and no charset at all, map each byte to its own number.
      {"text/plain; charset=x-no-such-charset", "\xE4\x80", u"\u00E4\u0080"},
      {"text/plain; charset=utf-8//IGNORE", "\xE4", u"\u00E4"},
      {"", "\x80\xFF 1.2.3.4\n", u"\u0080\u00FF 1.2.3.4\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.contentType) + " | " + std::string(c.body));
    EXPECT_EQ(DecodeBody(c.body, c.contentType), c.text);
  }
}

TEST(Charset, UnknownNameGivesNoConversion) {
  EXPECT_FALSE(DecodeCharset("abc", "x-no-such-charset").has_value());
  EXPECT_FALSE(DecodeCharset("abc", "").has_value());
  EXPECT_EQ(DecodeCharset("", "utf-8"), Text());
  EXPECT_EQ(DecodeCharset("\xE4", "ISO-8859-1"), u"\u00E4");
  EXPECT_EQ(DecodeCharset("\xE4", "iso-8859-1"), u"\u00E4");
}

// Both builds take the same names to their lookup: what is no IANA-style name is no charset,
// whatever the OS would make of it.
TEST(Charset, OnlyPlainNamesReachTheSystemsLookup) {
  for (const char* name : {"utf-8//IGNORE", "utf-8//TRANSLIT", "utf-8 ", " utf-8", "utf 8", "utf-8;", "\"utf-8\"",
                           "utf-8\t"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(DecodeCharset("abc", name).has_value());
  }
  EXPECT_FALSE(DecodeCharset("abc", std::string(65, 'a')).has_value());
}

TEST(Charset, NamesComeFromTheSystemsCharsetRegistry) {
  // Names beyond the common ones: Windows finds them through MLang, Linux through iconv.
  EXPECT_EQ(DecodeCharset("\xE4", "KOI8-U"), u"\u0414");
  EXPECT_EQ(DecodeCharset("\x84", "IBM852"), u"\u00E4");
}

}  // namespace
}  // namespace korvex
