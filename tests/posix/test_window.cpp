// The form's window and the message box: headless on standard error, and on a
// real X server (Xvfb) as the user sees them.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cmath>
#include <thread>
#include <tuple>
#include <vector>

#include "ModMain/ModMain.h"
#include "frmmain/frmmain.h"
#include "platform/app.h"
#include "platform/events.h"
#include "platform/translation.h"
#include "platform/window.h"
#include "tests/TestSupport.h"
#include "tests/posix/TestSupportPosix.h"

namespace fl {
namespace {

using test::RunCommand;
using test::XServer;

void PumpFor(int rounds) {
  for (int i = 0; i < rounds; ++i) {
    DoEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

TEST(Window, HeadlessFallsBackToStandardError) {
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  EXPECT_FALSE(WindowsOnScreen());
  testing::internal::CaptureStderr();
  frmmain::Show();
  int answer = MsgBox(u"Could not connect.", vbInformation, u"Zelvan's Downloader");
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(answer, vbOK);
  EXPECT_EQ(err,
            "Connecting to Zelvan's website. Please Wait......\n"
            "Zelvan's Downloader\nCould not connect.\n");
  EXPECT_NE(frmmain::hWnd(), 0);
  frmmain::Unload();
  EXPECT_FALSE(frmmain::Loaded());
}

// The user's language as gettext chooses it: LANGUAGE's list first, unless
// the messages locale is C, then LC_ALL, LC_MESSAGES, LANG. The catalogues
// are those the build put beside the test program.
struct Language {
  const char* name;
  const char* lcAll;     // LC_ALL
  const char* language;  // LANGUAGE, or null
  const char16_t* caption;
  const char16_t* message;  // naming the feature "50% off %s"
};

class Translation : public ::testing::TestWithParam<Language> {
 protected:
  void SetUp() override {
    for (const char* name : {"LC_MESSAGES", "LANG", "LANGUAGE"}) unsetenv(name);
    setenv("LC_ALL", GetParam().lcAll, 1);
    if (GetParam().language != nullptr) setenv("LANGUAGE", GetParam().language, 1);
  }
  void TearDown() override {
    setenv("LC_ALL", "C.UTF-8", 1);
    unsetenv("LANGUAGE");
  }
};

TEST_P(Translation, ChoosesTheCatalogueAsGettextDoes) {
  const Language& l = GetParam();
  EXPECT_EQ(UserText(u"Zelvan's Downloader"), l.caption);
  EXPECT_EQ(UserText(u"Could not connect to Zelvan's Website to download '50% off %s'. Please "
                     u"check your Internet connection and try again."),
            l.message);
  // Only the system's own texts are translated.
  EXPECT_EQ(UserText(u"Photo Tools Downloader"), u"Photo Tools Downloader");
}

constexpr char16_t kEnglishMessage[] =
    u"Could not connect to Zelvan's Website to download '50% off %s'. Please check your "
    u"Internet connection and try again.";
constexpr char16_t kGermanMessage[] =
    u"Keine Verbindung zur Website von Zelvan, um „50% off %s“ herunterzuladen. Bitte prüfen "
    u"Sie Ihre Internetverbindung und versuchen Sie es erneut.";
constexpr char16_t kJapaneseMessage[] =
    u"「50% off %s」をダウンロードするための Zelvan の Web サイトに接続できませんでした。"
    u"インターネット接続を確認して、もう一度お試しください。";

INSTANTIATE_TEST_SUITE_P(
    Locale, Translation,
    testing::Values(
        Language{"C", "C", nullptr, u"Zelvan's Downloader", kEnglishMessage},
        // The C locale ignores LANGUAGE; C.UTF-8 is another locale and
        // does not.
        Language{"CWithLanguage", "C", "de", u"Zelvan's Downloader", kEnglishMessage},
        Language{"CUtf8", "C.UTF-8", nullptr, u"Zelvan's Downloader", kEnglishMessage},
        Language{"German", "C.UTF-8", "de", u"Zelvans Downloader", kGermanMessage},
        Language{"Japanese", "C.UTF-8", "ja_JP", u"Zelvan ダウンローダー", kJapaneseMessage},
        Language{"English", "C.UTF-8", "en_GB", u"Zelvan's Downloader", kEnglishMessage},
        Language{"Finnish", "C.UTF-8", "fi", u"Zelvan's Downloader", kEnglishMessage},
        Language{"FinnishThenGerman", "C.UTF-8", "fi:de", u"Zelvans Downloader", kGermanMessage},
        Language{"BrazilianRegion", "C.UTF-8", "pt_BR", u"Downloader da Zelvan",
                 u"Não foi possível conectar ao site da Zelvan para baixar '50% off %s'. Verifique "
                 u"sua conexão com a Internet e tente novamente."},
        // A locale that is not installed leaves gettext in C.
        Language{"MissingLocale", "xx_YY.UTF-8", "de", u"Zelvan's Downloader", kEnglishMessage}),
    [](const testing::TestParamInfo<Language>& info) { return std::string(info.param.name); });

class OnScreen : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!x_.Running()) GTEST_SKIP() << "Xvfb is not available";
    unsetenv("WAYLAND_DISPLAY");
    // In English, whoever runs the tests.
    setenv("LC_ALL", "C.UTF-8", 1);
    unsetenv("LANGUAGE");
    ASSERT_TRUE(WindowsOnScreen());
  }
  XServer x_;
};

// The form is laid out in twips, so its size in pixels follows the display's
// resolution: 388 x 42 at 96 DPI, 582 x 63 at 144; GTK's own scale factor
// doubles the device pixels under it.
struct Resolution {
  const char* name;
  const char* xftDpi;    // the X resource Xft.dpi, or null
  const char* gdkScale;  // GDK_SCALE, or null
  const char* size;      // of the X window, in device pixels
};

// Sets the server's font resolution (Xft.dpi) from a client held open, as
// the server forgets its root properties when the last client leaves; close
// it when done. Null when the display cannot be opened.
Display* HoldXftDpi(const char* dpi) {
  Display* d = XOpenDisplay(nullptr);
  if (d == nullptr) return nullptr;
  const std::string resources = std::string("Xft.dpi:\t") + dpi + "\n";
  XChangeProperty(d, DefaultRootWindow(d), XA_RESOURCE_MANAGER, XA_STRING, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(resources.c_str()),
                  static_cast<int>(resources.size()));
  XFlush(d);
  return d;
}

class FormOnScreen : public ::testing::TestWithParam<Resolution> {
 protected:
  void SetUp() override {
    if (!x_.Running()) GTEST_SKIP() << "Xvfb is not available";
    unsetenv("WAYLAND_DISPLAY");
    setenv("LC_ALL", "C.UTF-8", 1);
    unsetenv("LANGUAGE");
    const Resolution& r = GetParam();
    if (r.gdkScale != nullptr) setenv("GDK_SCALE", r.gdkScale, 1);
    if (r.xftDpi != nullptr) {
      ASSERT_NE(resources_ = HoldXftDpi(r.xftDpi), nullptr);
    }
    SetAppTitle(u"Photo Tools Downloader");
    ASSERT_TRUE(WindowsOnScreen());
  }
  void TearDown() override {
    unsetenv("GDK_SCALE");
    if (resources_ != nullptr) XCloseDisplay(resources_);
  }
  XServer x_;
  Display* resources_ = nullptr;
};

TEST_P(FormOnScreen, HasItsCaptionSizeAndIcon) {
  const std::string size = GetParam().size;  // "W by H"
  const std::string width = size.substr(0, size.find(' '));
  const std::string height = size.substr(size.rfind(' ') + 1);
  // Loading for the handle alone puts nothing on screen.
  frmmain::hWnd();
  PumpFor(3);
  EXPECT_EQ(RunCommand("xwininfo -root -tree").find("Zelvan's Downloader"), std::string::npos);

  frmmain::Show();
  PumpFor(10);
  const std::string info = RunCommand("xwininfo -name \"Zelvan's Downloader\"");
  EXPECT_NE(info.find("Width: " + width + "\n"), std::string::npos) << info;
  EXPECT_NE(info.find("Height: " + height + "\n"), std::string::npos) << info;
  EXPECT_NE(info.find("Map State: IsViewable"), std::string::npos) << info;
  const std::string props = RunCommand("xprop -name \"Zelvan's Downloader\"");
  EXPECT_NE(props.find("WM_NAME(STRING) = \"Zelvan's Downloader\""), std::string::npos) << props;
  EXPECT_NE(props.find("Icon (32 x 32)"), std::string::npos) << props;
  // The application title names the program in the window system.
  EXPECT_NE(props.find("WM_CLASS(STRING) = \"Photo Tools Downloader\""), std::string::npos)
      << props;
  // Fixed size: the minimum and maximum sizes are the same.
  EXPECT_NE(props.find("program specified minimum size: " + size), std::string::npos) << props;
  EXPECT_NE(props.find("program specified maximum size: " + size), std::string::npos) << props;

  frmmain::Unload();
  PumpFor(5);
  EXPECT_EQ(RunCommand("xwininfo -root -tree").find("Zelvan's Downloader"), std::string::npos);
  // A later reference creates the form again.
  frmmain::Show();
  PumpFor(5);
  EXPECT_NE(RunCommand("xwininfo -root -tree").find("Zelvan's Downloader"), std::string::npos);
  frmmain::Unload();
}

// The window is on screen as soon as Show returns, before the caller runs
// the event loop: the first fetch loads its HTTP stack right after.
TEST_F(OnScreen, ShowPutsTheWindowOnScreenWithoutTheEventLoop) {
  frmmain::Show();
  const std::string info = RunCommand("xwininfo -name \"Zelvan's Downloader\"");
  EXPECT_NE(info.find("Map State: IsViewable"), std::string::npos) << info;
  frmmain::Unload();
  PumpFor(2);
}

INSTANTIATE_TEST_SUITE_P(Display, FormOnScreen,
                         testing::Values(Resolution{"Default", nullptr, nullptr, "388 by 42"},
                                         Resolution{"XftDpi144", "144", nullptr, "582 by 63"},
                                         Resolution{"GdkScale2", nullptr, "2", "776 by 84"}),
                         [](const testing::TestParamInfo<Resolution>& info) {
                           return std::string(info.param.name);
                         });

// Every shipped language's line, laid out by GTK in the label's font, fits
// the label, and the window grows by what the label lacks and no more; a
// line that fits keeps the form's size. At 96 and 144 DPI. A row is
// LANGUAGE and Xft.dpi (null for 96).
class LineOnScreen : public ::testing::TestWithParam<std::tuple<const char*, const char*>> {
 protected:
  void SetUp() override {
    if (!x_.Running()) GTEST_SKIP() << "Xvfb is not available";
    unsetenv("WAYLAND_DISPLAY");
    setenv("LC_ALL", "C.UTF-8", 1);
    setenv("LANGUAGE", std::get<0>(GetParam()), 1);
    const char* dpi = std::get<1>(GetParam());
    if (dpi != nullptr) {
      ASSERT_NE(resources_ = HoldXftDpi(dpi), nullptr);
    }
    ASSERT_TRUE(WindowsOnScreen());
  }
  void TearDown() override {
    unsetenv("LANGUAGE");
    if (resources_ != nullptr) XCloseDisplay(resources_);
  }
  XServer x_;
  Display* resources_ = nullptr;
};

TEST_P(LineOnScreen, ShowsTheWholeLine) {
  const double dpi = std::get<1>(GetParam()) != nullptr ? std::stod(std::get<1>(GetParam())) : 96.0;
  auto px = [dpi](int twips) { return static_cast<int>(std::lround(twips * dpi / 1440)); };
  frmmain::Show();
  PumpFor(10);
  const FormWindow::LineExtents e = frmmain::Form().window.MeasureLine();
  const std::string info =
      RunCommand("xwininfo -id " + std::to_string(static_cast<unsigned long>(frmmain::hWnd())));
  frmmain::Unload();
  PumpFor(3);
  ASSERT_GT(e.textWidth, 0);
  EXPECT_LE(e.textWidth, e.labelWidth);
  EXPECT_LE(e.textHeight, e.labelHeight);
  const int width = px(5820) + std::max(0, e.textWidth - px(4380));
  const int height = px(630) + std::max(0, e.textHeight - px(240));
  EXPECT_NE(info.find("Width: " + std::to_string(width) + "\n"), std::string::npos) << info;
  EXPECT_NE(info.find("Height: " + std::to_string(height) + "\n"), std::string::npos) << info;
}

INSTANTIATE_TEST_SUITE_P(
    Language, LineOnScreen,
    testing::Combine(testing::Values("en", "de", "fr", "es", "it", "pt_BR", "pl", "ru", "ja",
                                     "zh_CN", "ko"),
                     testing::Values(nullptr, "144")),
    [](const testing::TestParamInfo<std::tuple<const char*, const char*>>& info) {
      return std::string(std::get<0>(info.param)) + (std::get<1>(info.param) ? "_144" : "_96");
    });

// The width of the block of ink at the left of a message box: the icon, which
// the box's spacing sets apart from the text. Without an icon the first ink
// is the text's first letter, which only a letter's gap parts from the next,
// and the answer is 0.
int IconWidthBesideText(unsigned long window) {
  Display* d = XOpenDisplay(nullptr);
  if (d == nullptr) return 0;
  XWindowAttributes a{};
  XImage* image = nullptr;
  // The upper half holds the icon and the text; the OK button is below.
  if (XGetWindowAttributes(d, window, &a) != 0) {
    image = XGetImage(d, window, 0, 0, a.width, a.height / 2, AllPlanes, ZPixmap);
  }
  std::vector<bool> inked(a.width);
  if (image != nullptr) {
    const unsigned long background = XGetPixel(image, 0, 0);
    for (int y = 0; y < a.height / 2; ++y) {
      for (int x = 0; x < a.width; ++x) {
        const unsigned long pixel = XGetPixel(image, x, y);
        // The test server has 8 bits for each of red, green and blue.
        for (int shift : {0, 8, 16}) {
          const int diff = static_cast<int>((pixel >> shift) & 0xff) -
                           static_cast<int>((background >> shift) & 0xff);
          if (diff > 32 || diff < -32) inked[x] = true;
        }
      }
    }
    XDestroyImage(image);
  }
  XCloseDisplay(d);
  int first = 0;
  while (first < a.width && !inked[first]) ++first;
  int end = first;
  while (end < a.width && inked[end]) ++end;
  int next = end;
  while (next < a.width && !inked[next]) ++next;
  return next < a.width && next - end >= 16 ? end - first : 0;
}

// With the icon theme's picture, and with no icon theme at all, when the
// module draws its own.
class MessageBoxOnScreen : public OnScreen, public testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    if (!GetParam()) {
      // Where GTK looks for icon themes: the data folders and ~/.icons.
      for (const char* name : {"XDG_DATA_DIRS", "XDG_DATA_HOME", "HOME"}) {
        setenv(name, noThemes_.Path().c_str(), 1);
      }
    }
    OnScreen::SetUp();
  }
  test::TempDir noThemes_;
};

TEST_P(MessageBoxOnScreen, ShowsTheInformationIconAndIsAnsweredWithOk) {
  // A second client looks at the box once it is mapped, then presses Return.
  int iconWidth = 0;
  std::thread presser([&iconWidth] {
    std::string id =
        RunCommand("xdotool search --sync --onlyvisible --name '^Zelvan.s Downloader$'");
    id.erase(id.find_last_not_of('\n') + 1);
    if (id.empty()) return;
    // Mapped is not yet drawn, so look again for a while.
    for (int i = 0; i < 50 && iconWidth < 16; ++i) {
      if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
      iconWidth = IconWidthBesideText(std::stoul(id));
    }
    RunCommand("xdotool windowfocus --sync " + id + " key Return");
  });
  int answer =
      MsgBox(u"Please check your Internet connection.", vbInformation, u"Zelvan's Downloader");
  presser.join();
  EXPECT_EQ(answer, vbOK);
  EXPECT_GE(iconWidth, 16);
}

INSTANTIATE_TEST_SUITE_P(IconTheme, MessageBoxOnScreen, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool>& info) {
                           return info.param ? "Themed" : "Drawn";
                         });

TEST_F(OnScreen, ClosingTheWindowEndsTheWaitWithError) {
  WebRet.clear();
  frmmain::Show();
  PumpFor(5);
  test::RequestWindowClose(static_cast<unsigned long>(frmmain::hWnd()));
  for (int i = 0; i < 250 && WebRet.empty(); ++i) PumpFor(1);
  EXPECT_EQ(WebRet, u"ERROR");
  PumpFor(5);
  EXPECT_FALSE(frmmain::Loaded());
  EXPECT_EQ(RunCommand("xwininfo -root -tree").find("Zelvan's Downloader"), std::string::npos);
}

}  // namespace
}  // namespace fl
