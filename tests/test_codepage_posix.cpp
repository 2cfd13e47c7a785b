// How the POSIX backend picks the ANSI code page from the locale.
#include <gtest/gtest.h>

#include "platform/posix/codepage_posix.h"

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

}  // namespace
}  // namespace fl
