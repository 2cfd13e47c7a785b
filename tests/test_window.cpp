// The form's window and the message box: headless on standard error, and on a
// real X server (Xvfb) as the user sees them.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <thread>

#include "ModMain/ModMain.h"
#include "frmmain/frmmain.h"
#include "platform/events.h"
#include "platform/window.h"
#include "tests/TestSupport.h"
#include "tests/TestSupportPosix.h"

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

class OnScreen : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!x_.Running()) GTEST_SKIP() << "Xvfb is not available";
    unsetenv("WAYLAND_DISPLAY");
    ASSERT_TRUE(WindowsOnScreen());
  }
  XServer x_;
};

TEST_F(OnScreen, FormHasItsCaptionSizeAndIcon) {
  // Loading for the handle alone puts nothing on screen.
  frmmain::hWnd();
  PumpFor(3);
  EXPECT_EQ(RunCommand("xwininfo -root -tree").find("Zelvan's Downloader"), std::string::npos);

  frmmain::Show();
  PumpFor(10);
  const std::string info = RunCommand("xwininfo -name \"Zelvan's Downloader\"");
  EXPECT_NE(info.find("Width: 388"), std::string::npos) << info;
  EXPECT_NE(info.find("Height: 42"), std::string::npos) << info;
  EXPECT_NE(info.find("Map State: IsViewable"), std::string::npos) << info;
  const std::string props = RunCommand("xprop -name \"Zelvan's Downloader\"");
  EXPECT_NE(props.find("WM_NAME(STRING) = \"Zelvan's Downloader\""), std::string::npos) << props;
  EXPECT_NE(props.find("Icon (32 x 32)"), std::string::npos) << props;
  // Fixed size: the minimum and maximum sizes are the same.
  EXPECT_NE(props.find("program specified minimum size: 388 by 42"), std::string::npos) << props;
  EXPECT_NE(props.find("program specified maximum size: 388 by 42"), std::string::npos) << props;

  frmmain::Unload();
  PumpFor(5);
  EXPECT_EQ(RunCommand("xwininfo -root -tree").find("Zelvan's Downloader"), std::string::npos);
  // A later reference creates the form again.
  frmmain::Show();
  PumpFor(5);
  EXPECT_NE(RunCommand("xwininfo -root -tree").find("Zelvan's Downloader"), std::string::npos);
  frmmain::Unload();
}

TEST_F(OnScreen, MessageBoxIsAnsweredWithOk) {
  // A second client presses Return in the box once it is mapped.
  std::thread presser([] {
    RunCommand(
        "xdotool search --sync --onlyvisible --name '^Zelvan.s Downloader$' "
        "windowfocus --sync key Return");
  });
  int answer =
      MsgBox(u"Please check your Internet connection.", vbInformation, u"Zelvan's Downloader");
  presser.join();
  EXPECT_EQ(answer, vbOK);
}

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
