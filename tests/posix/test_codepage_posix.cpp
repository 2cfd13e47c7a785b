// How the POSIX backend picks the ANSI code page from the locale.
#include <gtest/gtest.h>
#include <iconv.h>

#include <array>
#include <vector>

#include "platform/codepage.h"
#include "platform/failure.h"
#include "platform/posix/codepage_posix.h"
#include "platform/posix/names.h"

namespace fl {
namespace {

TEST(CodePageForLocale, FollowsTheLanguageAsWindowsDoes) {
  struct Case {
    const char* locale;
    int codePage;
  } cases[] = {
      {nullptr, 1252},       {"", 1252},
      {"C", 1252},           {"POSIX", 1252},
      {"C.UTF-8", 1252},     {"en_US.UTF-8", 1252},
      {"de_DE@euro", 1252},  {"pl_PL.UTF-8", 1250},
      {"cs_CZ", 1250},       {"ru_RU.KOI8-R", 1251},
      {"uk_UA.UTF-8", 1251}, {"el_GR", 1253},
      {"tr_TR.UTF-8", 1254}, {"he_IL", 1255},
      {"ar_EG.UTF-8", 1256}, {"lt_LT", 1257},
      {"vi_VN", 1258},       {"th_TH.UTF-8", 874},
      {"ja_JP.eucJP", 932},  {"zh_CN.GB18030", 936},
      {"zh_SG", 936},        {"ko_KR.UTF-8", 949},
      {"zh_TW.UTF-8", 950},  {"zh_HK", 950},
      {"sr_RS@latin", 1250}, {"sr_RS", 1251},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(posix::CodePageForLocale(c.locale), c.codePage) << (c.locale ? c.locale : "null");
  }
}

// Windows-1252 is built in rather than read through iconv; both must give
// the same conversion both ways, for every byte and every 16-bit unit.
TEST(AnsiCodePage, BuiltIn1252MatchesIconv) {
  iconv_t cd = iconv_open("UTF-16LE", "CP1252");
  ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
  std::array<char16_t, 256> decoded;
  for (int b = 0; b < 256; ++b) {
    char in = static_cast<char>(b);
    char out[8];
    char* ip = &in;
    char* op = out;
    size_t il = 1, ol = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    const bool ok =
        iconv(cd, &ip, &il, &op, &ol) != static_cast<size_t>(-1) && ol == sizeof out - 2;
    // A byte the page leaves undefined stands for the control character of
    // its own value.
    decoded[b] = ok ? static_cast<char16_t>(static_cast<unsigned char>(out[0]) |
                                            (static_cast<unsigned char>(out[1]) << 8))
                    : static_cast<char16_t>(b);
  }
  iconv_close(cd);

  SetAnsiCodePage(1252);
  for (int b = 0; b < 256; ++b) {
    EXPECT_EQ(FromAnsi(std::string(1, static_cast<char>(b))), Text(1, decoded[b])) << b;
  }
  std::vector<int> lowestByte(0x10000, -1);
  for (int b = 255; b >= 0; --b) lowestByte[decoded[b]] = b;
  for (int ch = 0; ch < 0x10000; ++ch) {
    const int b = lowestByte[ch];
    ASSERT_EQ(ToAnsi(Text(1, static_cast<char16_t>(ch))),
              b < 0 ? std::string("?") : std::string(1, static_cast<char>(b)))
        << ch;
    ASSERT_EQ(AnsiCode(static_cast<char16_t>(ch)), b < 0 ? 63 : b) << ch;
  }
}

// Names in the C locale (UTF-8): every byte string survives a trip through
// text, bytes that do not decode standing for themselves.
TEST(NativeNames, AnyBytesRoundTrip) {
  struct Case {
    std::string bytes;
    Text text;
  } cases[] = {
      {"plain", u"plain"},
      {"caf\xC3\xA9", u"caf\u00E9"},
      {"caf\xE9", u"caf\xDCE9"},                          // Latin-1
      {"x\xC3\x28y", u"x\xDCC3(y"},                       // cut-short sequence
      {"\xED\xA0\x80", u"\xDCED\xDCA0\xDC80"},            // an encoded surrogate
      {"\xC0\xAF", u"\xDCC0\xDCAF"},                      // overlong
      {"\xF0\x9F\x98\x80", u"\U0001F600"},                // past 16 bits
      {"\xF4\x90\x80\x80", u"\xDCF4\xDC90\xDC80\xDC80"},  // past U+10FFFF
  };
  for (const auto& c : cases) {
    EXPECT_EQ(posix::FromNativeName(c.bytes), c.text) << c.bytes;
    EXPECT_EQ(posix::NativeName(c.text), c.bytes) << c.bytes;
    EXPECT_EQ(posix::NativeArgument(c.text), c.bytes) << c.bytes;
  }
  // Units no byte string decodes to: no file has such a name, and an
  // argument spells them "?".
  for (const Text& text :
       {Text{u'a', 0xD800, u'b'}, Text{u'a', 0xDC41, u'b'}, Text{u'a', 0xDFFF, u'b'}}) {
    EXPECT_THROW(posix::NativeName(text), Failure);
    EXPECT_EQ(posix::NativeArgument(text), "a?b");
  }
  EXPECT_THROW(posix::NativeName(Text(u"a\0b", 3)), Failure);
}

}  // namespace
}  // namespace fl
