// The form as Windows lays it out, in every shipped language and a few that
// fall back to English, at two DPIs: all in one process, which chooses each
// language as the user's UI language would give it.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <tuple>

#include "frmmain/frmmain.h"
#include "platform/events.h"
#include "platform/translation.h"
#include "platform/win32/catalogue.h"
#include "platform/window.h"

namespace fl {
namespace {

constexpr char16_t kEnglishLine[] = u"Connecting to Zelvan's website. Please Wait......";

struct Language {
  const char* name;
  LANGID id;
  bool translated;
};

constexpr Language kLanguages[] = {
    {"de", MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), true},
    {"de_AT", MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN_AUSTRIAN), true},
    {"fr", MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH), true},
    {"es", MAKELANGID(LANG_SPANISH, SUBLANG_SPANISH_MODERN), true},
    {"it", MAKELANGID(LANG_ITALIAN, SUBLANG_ITALIAN), true},
    {"pt_BR", MAKELANGID(LANG_PORTUGUESE, SUBLANG_PORTUGUESE_BRAZILIAN), true},
    {"pt_PT", MAKELANGID(LANG_PORTUGUESE, SUBLANG_PORTUGUESE), false},
    {"pl", MAKELANGID(LANG_POLISH, SUBLANG_DEFAULT), true},
    {"ru", MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT), true},
    {"ja", MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT), true},
    {"zh_CN", MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED), true},
    {"zh_TW", MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL), false},
    {"ko", MAKELANGID(LANG_KOREAN, SUBLANG_KOREAN), true},
    {"en_US", MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), false},
    {"fi", MAKELANGID(LANG_FINNISH, SUBLANG_DEFAULT), false},
};

// At a DPI, the label holds the whole line as DrawText measures it in the
// label's font, and the form grows by what the label lacks and no more; a
// line that fits keeps the form's size. Another DPI comes as a move to
// another monitor would bring it.
class LineOnScreen : public testing::TestWithParam<std::tuple<Language, int>> {
 protected:
  void TearDown() override { win32::ChooseTextLanguage(0); }
};

TEST_P(LineOnScreen, ShowsTheWholeLine) {
  const auto& [language, dpi] = GetParam();
  win32::ChooseTextLanguage(language.id);
  auto px = [dpi = dpi](int twips) { return static_cast<int>(std::lround(twips * dpi / 1440.0)); };
  frmmain::Show();
  DoEvents();
  HWND form = reinterpret_cast<HWND>(frmmain::hWnd());
  if (dpi != 96) {
    RECT suggested{0, 0, 800, 200};
    SendMessageW(form, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
  }
  const FormWindow::LineExtents e = frmmain::Form().window.MeasureLine();
  RECT client{};
  GetClientRect(form, &client);
  wchar_t shown[512] = L"";
  GetWindowTextW(FindWindowExW(form, nullptr, L"STATIC", nullptr), shown, 512);
  frmmain::Unload();
  DoEvents();

  EXPECT_EQ(UserText(kEnglishLine) != kEnglishLine, language.translated);
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(shown)), UserText(kEnglishLine));
  ASSERT_GT(e.textWidth, 0);
  EXPECT_LE(e.textWidth, e.labelWidth);
  EXPECT_LE(e.textHeight, e.labelHeight);
  EXPECT_EQ(e.labelWidth, std::max(px(4380), e.textWidth));
  EXPECT_EQ(e.labelHeight, std::max(px(240), e.textHeight));
  EXPECT_EQ(client.right, px(5820) + std::max(0, e.textWidth - px(4380)));
  // Wine keeps the caption of the system's DPI whatever the window's, so
  // only there is the frame the one the form is adjusted for.
  if (dpi == 96) {
    EXPECT_EQ(client.bottom, px(630) + std::max(0, e.textHeight - px(240)));
  }
}

INSTANTIATE_TEST_SUITE_P(Languages, LineOnScreen,
                         testing::Combine(testing::ValuesIn(kLanguages), testing::Values(96, 144)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) + "_" +
                                  std::to_string(std::get<1>(info.param));
                         });

}  // namespace
}  // namespace fl
