// The record cipher and the query digit encoding.
#include <gtest/gtest.h>

#include "ModMain/encoding/Encrypt.h"
#include "platform/codepage.h"
#include "tests/TestSupport.h"

namespace fl {
namespace {

using test::AppFolderScope;

Text Enc(const Text& text, std::int16_t direction) {
  return Encrypt(text, direction);
}
Text Digits(const Text& text, std::uint8_t direction) {
  return Encryptmethod2(text, direction);
}

Text Printable() {
  Text all;
  for (char16_t c = 32; c < 127; ++c) all += c;
  return all;
}

// Files written enciphered must stay readable: this vector freezes the table.
TEST(Encrypt, TableIsFrozen) {
  EXPECT_EQ(Enc(Printable(), 0),
            u"lk(R:2pXEW1yGwt~cQg@86+)APvFu5.\"?jaS|mI]Kd[<f\\ qU=MVh;^4N3#0TB9*si!o>%'$LY/nCxrb"
            u"-HO`D,_JZz7&e{}");
  EXPECT_EQ(Enc(u"ZELVAN", 0), u"#mf^j ");
}

TEST(Encrypt, WriteSubstitutesArePermutationAndReadIsInverse) {
  Text written = Enc(Printable(), 0);
  Text sorted = written;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted, Printable());
  EXPECT_EQ(Enc(written, 1), Printable());
  EXPECT_EQ(Enc(Enc(Printable(), 1), 0), Printable());
}

TEST(Encrypt, CharactersOutsideTheSetPassAndKeepTheirPlaces) {
  AppFolderScope app;
  const Text outside = u"\t\r\n\u00e9\u00c4\u4e00\x7f\x1f";
  for (std::int16_t dir : {0, 1, -1, 2}) EXPECT_EQ(Enc(outside, dir), outside);
  const Text mixed = u"a\tb\u00e9c";
  Text out = Enc(mixed, 0);
  ASSERT_EQ(out.size(), mixed.size());
  EXPECT_EQ(out[1], u'\t');
  EXPECT_EQ(out[3], u'\u00e9');
  EXPECT_NE(out[0], u'a');
  EXPECT_EQ(Enc(u"", 0), u"");
  EXPECT_EQ(Enc(u"", 1), u"");
  EXPECT_TRUE(app.LogLines().empty());
}

TEST(Encrypt, EveryNonZeroDirectionReads) {
  const Text sample = u"Hello, World ~ 42";
  for (std::int16_t dir : {-1, 2, 255, 32767, -32768}) EXPECT_EQ(Enc(sample, dir), Enc(sample, 1));
}

TEST(Encrypt, SixteenBitBoundaries) {
  struct Case {
    size_t length;
    bool complete;  // result holds every character
    bool logged;    // an overflow is logged
  } cases[] = {{32766, true, false}, {32767, true, true}, {32768, false, true}};
  for (const auto& c : cases) {
    AppFolderScope app;
    Text text(c.length, u'a');
    Text out = Enc(text, 0);
    EXPECT_EQ(out.size(), c.complete ? c.length : 0u) << c.length;
    auto procs = app.LoggedProcs();
    EXPECT_EQ(procs.size(), c.logged ? 1u : 0u) << c.length;
    if (c.logged) {
      EXPECT_EQ(procs[0], "Encrypt");
      EXPECT_EQ(app.LogLines()[0].rfind("Desc:Overflow, Proc:Encrypt", 0), 0u);
    }
    if (c.complete) {
      EXPECT_EQ(Enc(out, 1), text) << c.length;
    }
  }
}

TEST(Encryptmethod2, EncodesAndDecodes) {
  AppFolderScope app;
  SetAnsiCodePage(1252);
  struct Case {
    Text plain;
    Text digits;
  } cases[] = {
      {u"abc", u"790890990"},
      {u"a 1", u"790230940"},
      {u"VKP", u"680570080"},
      {u"QUEND", u"180580960870860"},
      {Text(1, u'\0'), u"000"},
      {u"\u20ac", u"821"},  // euro sign is 128 in 1252
      {u"", u""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Digits(c.plain, 0), c.digits) << test::U8(c.plain);
    for (std::uint8_t dir : {1, 2, 255}) EXPECT_EQ(Digits(c.digits, dir), c.plain);
  }
  // A character the code page lacks travels as "?".
  EXPECT_EQ(Digits(u"\u4e00", 0), u"360");
  EXPECT_TRUE(app.LogLines().empty());
}

TEST(Encryptmethod2, DecodesShortLastGroups) {
  AppFolderScope app;
  SetAnsiCodePage(1252);
  EXPECT_EQ(Digits(u"79089099", 1), u"abc");
  EXPECT_EQ(Digits(u"7908909", 1), u"ab\t");
  EXPECT_TRUE(app.LogLines().empty());
}

TEST(Encryptmethod2, FailuresGiveEmptyTextAndALogLine) {
  SetAnsiCodePage(1252);
  struct Case {
    Text text;
    std::uint8_t direction;
    const char* description;
  } cases[] = {
      {u"790652", 1, "Invalid procedure call or argument"},  // code 256
      {u"79x", 1, "Type mismatch"},
      {Text(32767, u'a'), 0, "Overflow"},
      {Text(32768, u'a'), 0, "Overflow"},
      {Text(32767, u'0'), 1, "Overflow"},
  };
  for (const auto& c : cases) {
    AppFolderScope app;
    EXPECT_EQ(Digits(c.text, c.direction), u"");
    auto lines = app.LogLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(
        lines[0].rfind(std::string("Desc:") + c.description + ", Proc:Encryptmethod2, in ", 0), 0u)
        << lines[0];
  }
}

TEST(Encryptmethod2, LongestTextIsEncodedCompletely) {
  AppFolderScope app;
  SetAnsiCodePage(1252);
  Text out = Digits(Text(32766, u'a'), 0);
  EXPECT_EQ(out.size(), 98298u);
  EXPECT_EQ(out.substr(0, 6), u"790790");
  EXPECT_EQ(Digits(Text(32766, u'0'), 1).size(), 10922u);
  EXPECT_TRUE(app.LogLines().empty());
}

TEST(Encryptmethod2, DoubleBytePagesUseSignedCodes) {
  AppFolderScope app;
  SetAnsiCodePage(932);
  // Hiragana a is 0x82A0 in Shift-JIS: -32096 as a signed 16-bit code.
  EXPECT_EQ(Digits(u"\u3042", 0), u"69023-");
  // A code above 255 is a character of a double-byte page.
  EXPECT_EQ(AnsiChar(-32096), u"\u3042");
  EXPECT_EQ(Digits(u"a\u3042", 0), u"79069023-");
  SetAnsiCodePage(1252);
}

}  // namespace
}  // namespace fl
