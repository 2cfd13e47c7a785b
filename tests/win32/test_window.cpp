// The form as Windows lays it out, in the language the process runs in:
// ctest starts this program once for each shipped language, with the locale
// Wine takes the user's UI language from.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

#include "frmmain/frmmain.h"
#include "platform/events.h"
#include "platform/translation.h"
#include "platform/window.h"

namespace fl {
namespace {

constexpr char16_t kEnglishLine[] = u"Connecting to Zelvan's website. Please Wait......";

// The run's language as the messages locale names it, which Wine reads as
// setlocale does: "C" and English keep the line.
bool TranslatedHere() {
  std::string name = "C";
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') {
      name = value;
      break;
    }
  }
  return name.rfind("C", 0) != 0 && name != "POSIX" && name.rfind("en", 0) != 0;
}

// At a DPI, the label holds the whole line as DrawText measures it in the
// label's font, and the form grows by what the label lacks and no more; a
// line that fits keeps the form's size. Another DPI comes as a move to
// another monitor would bring it.
class LineOnScreen : public testing::TestWithParam<int> {};

TEST_P(LineOnScreen, ShowsTheWholeLine) {
  const int dpi = GetParam();
  auto px = [dpi](int twips) { return static_cast<int>(std::lround(twips * dpi / 1440.0)); };
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

  EXPECT_EQ(UserText(kEnglishLine) != kEnglishLine, TranslatedHere());
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

INSTANTIATE_TEST_SUITE_P(Dpi, LineOnScreen, testing::Values(96, 144),
                         [](const testing::TestParamInfo<int>& info) {
                           return std::to_string(info.param);
                         });

}  // namespace
}  // namespace fl
