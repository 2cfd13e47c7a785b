// Whole runs of the installed utility: the real binary in a temporary
// application folder, real files, real processes and the example feature
// service on 127.0.0.1.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/codepage.h"
#include "tests/e2e/Harness.h"

namespace fl {
namespace {

using namespace test;
using namespace test::e2e;

std::string Records(const std::vector<std::vector<std::string>>& rows) {
  std::string out;
  for (auto row : rows) {
    row.resize(26);
    out += RecordBytes(row);
  }
  return out;
}

const char kMessage[] =
    "Zelvan's Downloader\nCould not connect to Zelvan's Website to download '%s'. Please check "
    "your Internet connection and try again.\n";

std::string Message(const std::string& feature) {
  char buf[512];
  std::snprintf(buf, sizeof buf, kMessage, feature.c_str());
  return buf;
}

const char kNotice[] = "Connecting to Zelvan's website. Please Wait......\n";

TEST(EndToEnd, FirstRunFetchesStoresAndLaunchesThenLaterRunsGoStraightToTheLaunch) {
  SetAnsiCodePage(1252);
  AppFolder app;
  app.WriteSetup("Ostra-VKP", "Photo Tools");
  app.InstallDownloader("VKPDownload.exe");
  Service service("list:F1/Tools/?/Yes#F2/A??B/x//y>F3/1##2/p>>q", app / "service.log");

  Outcome first = app.Run();
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(first.err, kNotice);
  EXPECT_EQ(app.Requests(),
            std::vector<std::string>{"/Features.aspx?&APPCODE=680570080&FeatureName="
                                     "080401111611111230480111111801511"});
  EXPECT_EQ(
      ReadBytes(app / "FeatDlods.txt"),
      Records({{"F1", "Tools", "", "Yes"}, {"F2", "A?B", "x/y"}, {}, {"F3", "1#2", "p>q"}, {}}));
  EXPECT_EQ(app.LaunchParameters(), "VKP*#OTHERFILE#Photo Tools");
  EXPECT_FALSE(fs::exists(app / "FeatDlods_temp.txt"));
  EXPECT_EQ(app.Log(), "");

  Outcome later = app.Run();
  EXPECT_EQ(later.status, 0);
  EXPECT_EQ(later.err, "");  // no window
  EXPECT_EQ(app.Requests().size(), 1u);
  EXPECT_EQ(app.LaunchParameters(), "VKP*#OTHERFILE#Photo Tools");
}

TEST(EndToEnd, AnyStoredListCountsEvenAnEmptyOne) {
  AppFolder app;
  app.WriteSetup("Quend-Levy", "Maps");
  app.InstallDownloader("OtherDownload.exe");
  WriteBytes(app / "FeatDlods.txt", "");
  Outcome run = app.Run();
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(app.LaunchParameters(), "Quend-Levy*#OTHERFILE#Maps");
}

TEST(EndToEnd, FailedFetchesShowTheMessageAndStoreAndStartNothing) {
  struct Case {
    const char* answer;
    bool serviceRuns;
  } cases[] = {
      {"error", true},      {"empty", true},  {"noform", true},
      {"status:500", true}, {"list:>", true}, {"ok", false},
  };
  for (const auto& c : cases) {
    AppFolder app;
    app.WriteSetup("Ostra-VKP", "Photo Tools");
    app.InstallDownloader("VKPDownload.exe");
    std::optional<Service> service;
    if (c.serviceRuns) service.emplace(c.answer, app / "service.log");
    Outcome run = app.Run();
    EXPECT_EQ(run.status, 1) << c.answer;
    EXPECT_EQ(run.err, kNotice + Message("Photo Tools")) << c.answer;
    EXPECT_FALSE(fs::exists(app / "FeatDlods.txt")) << c.answer;
    EXPECT_EQ(app.LaunchParameters(500), std::nullopt) << c.answer;
    EXPECT_EQ(app.Log(), "") << c.answer;
  }
}

TEST(EndToEnd, WithoutTheHttpModuleTheWaitEndsAsAFailedFetch) {
  AppFolder app;
  app.WriteSetup("Ostra-VKP", "Photo Tools");
  app.InstallDownloader("VKPDownload.exe");
  fs::remove(app / "libFirstLoadHttp.so");
  Outcome run = app.Run();
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, kNotice + Message("Photo Tools"));
  EXPECT_EQ(app.Log().rfind("Desc:Cannot load libFirstLoadHttp.so: ", 0), 0u) << app.Log();
  EXPECT_NE(app.Log().find(", Proc:GetWebRetForFeatures, in FirstLoad, At: "), std::string::npos);
  EXPECT_EQ(app.LaunchParameters(500), std::nullopt);
}

TEST(EndToEnd, SetupRecordDecidesProductProgramAndQuery) {
  struct Case {
    const char* name;
    bool writeSetup;
    std::string product, feature;
    const char* program;
    const char* query;
    const char* parameters;
  } cases[] = {
      {"missing setup record", false, "", "", "OtherDownload.exe",
       "/Features.aspx?&APPCODE=180580960870860&FeatureName=", "*#OTHERFILE#"},
      {"product trimmed and case-blind", true, "  ostra-VKP ", " Pro ", "VKPDownload.exe",
       "/Features.aspx?&APPCODE=680570080&FeatureName=230080411111230", "VKP*#OTHERFILE# Pro "},
      {"anything else is Quend-Levy", true, "Ostra VKP", "Maps", "OtherDownload.exe",
       "/Features.aspx?&APPCODE=180580960870860&FeatureName=770790211511",
       "Quend-Levy*#OTHERFILE#Maps"},
      {"shell characters pass unchanged", true, "Ostra-VKP", "$(touch x) `id` \"a\" 'b' | ; & *",
       "VKPDownload.exe", nullptr, "VKP*#OTHERFILE#$(touch x) `id` \"a\" 'b' | ; & *"},
      {"non-ASCII feature name", true, "Ostra-VKP", "Caf\xE9", "VKPDownload.exe",
       "/Features.aspx?&APPCODE=680570080&FeatureName=760790201332", "VKP*#OTHERFILE#Caf\xC3\xA9"},
  };
  for (const auto& c : cases) {
    AppFolder app;
    if (c.writeSetup) app.WriteSetup(c.product, c.feature);
    app.InstallDownloader(c.program);
    Service service("ok", app / "service.log");
    Outcome run = app.Run();
    EXPECT_EQ(run.status, 0) << c.name << ": " << run.err;
    if (c.query != nullptr) {
      EXPECT_EQ(app.Requests(), std::vector<std::string>{c.query}) << c.name;
    }
    EXPECT_EQ(app.LaunchParameters(), c.parameters) << c.name;
    EXPECT_TRUE(fs::exists(app / "FeatDlods.txt")) << c.name;
    EXPECT_FALSE(fs::exists(app / "x")) << c.name;
  }
}

TEST(EndToEnd, RunningDownloadProgramIsNotStartedAgain) {
  for (const char* running : {"VKPDownload.exe", "vkpdownload.EXE"}) {
    AppFolder app;
    app.WriteSetup("Ostra-VKP", "Photo Tools");
    app.InstallDownloader("VKPDownload.exe");
    WriteBytes(app / "FeatDlods.txt", "");
    // A process whose executable file carries the name, wherever it lies.
    TempDir elsewhere;
    fs::copy_file("/bin/sleep", elsewhere / running);
    pid_t sleeper = fork();
    if (sleeper == 0) {
      const std::string path = (elsewhere / running).string();
      execl(path.c_str(), path.c_str(), "30", static_cast<char*>(nullptr));
      _exit(127);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    Outcome run = app.Run();
    kill(sleeper, SIGKILL);
    waitpid(sleeper, nullptr, 0);
    EXPECT_EQ(run.status, 0) << running;
    EXPECT_EQ(app.LaunchParameters(500), std::nullopt) << running;
  }
}

TEST(EndToEnd, MissingUpdateFolderEndsQuietly) {
  AppFolder app;
  app.WriteSetup("Ostra-VKP", "Photo Tools");
  fs::remove_all(app / "Update");
  WriteBytes(app / "FeatDlods.txt", "");
  Outcome run = app.Run();
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(app.Log(), "");
}

TEST(EndToEnd, OnScreenTheFormStaysBehindTheMessage) {
  test::XServer x;
  if (!x.Running()) GTEST_SKIP() << "Xvfb is not available";
  AppFolder app;
  app.WriteSetup("Ostra-VKP", "Photo Tools");
  app.InstallDownloader("VKPDownload.exe");
  Service service("error", app / "service.log");
  std::string windows;
  std::thread user([&] {
    // Once the message box is up beside the form, press OK in it.
    for (int i = 0; i < 300; ++i) {
      windows = test::RunCommand("xdotool search --onlyvisible --name '^Zelvan.s Downloader$'");
      if (std::count(windows.begin(), windows.end(), '\n') >= 2) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::istringstream ids(windows);
    for (std::string id; std::getline(ids, id);) {
      test::RunCommand("xdotool windowfocus --sync " + id + " key Return 2>/dev/null");
    }
  });
  Outcome run = app.Run(false);
  user.join();
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_EQ(run.err, "");  // on screen, nothing falls back to standard error
  // The form and the message box, both titled "Zelvan's Downloader".
  EXPECT_EQ(std::count(windows.begin(), windows.end(), '\n'), 2) << windows;
  EXPECT_FALSE(fs::exists(app / "FeatDlods.txt"));
}

}  // namespace
}  // namespace fl
