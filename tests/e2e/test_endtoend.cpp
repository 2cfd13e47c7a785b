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

#include "ModMain/recordfile/FileReadWrite.h"
#include "platform/codepage.h"
#include "platform/failure.h"
#include "tests/TestSupport.h"

namespace fl {
namespace {

namespace fs = std::filesystem;
using test::ReadBytes;
using test::RecordBytes;
using test::TempDir;
using test::WriteBytes;

const fs::path kBuild = FIRSTLOAD_BUILD_DIR;
const fs::path kSource = FIRSTLOAD_SOURCE_DIR;
const int kPort = FIRSTLOAD_TEST_SERVICE_PORT;

struct Outcome {
  int status = -1;
  std::string err;
};

// Runs a program with a time limit; returns its exit status and standard
// error.
Outcome RunProgram(const std::vector<std::string>& argv, bool headless, int timeoutSeconds = 90) {
  int errPipe[2];
  EXPECT_EQ(pipe(errPipe), 0);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(errPipe[1], 2);
    close(errPipe[0]);
    close(errPipe[1]);
    if (headless) {
      unsetenv("DISPLAY");
      unsetenv("WAYLAND_DISPLAY");
    }
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(errPipe[1]);
  Outcome out;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  char buf[4096];
  for (;;) {
    pollfd p{errPipe[0], POLLIN, 0};
    if (poll(&p, 1, 200) > 0) {
      ssize_t n = read(errPipe[0], buf, sizeof buf);
      if (n <= 0) break;
      out.err.append(buf, static_cast<size_t>(n));
    }
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      ADD_FAILURE() << "FirstLoad did not end in time";
      break;
    }
  }
  close(errPipe[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  out.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return out;
}

// The example feature service on the port the tests' FirstLoad asks.
class Service {
 public:
  explicit Service(const std::string& answer, const fs::path& log) {
    int outPipe[2];
    EXPECT_EQ(pipe(outPipe), 0);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(outPipe[1], 1);
      close(outPipe[0]);
      close(outPipe[1]);
      const std::string script = (kSource / "tools" / "feature_service.py").string();
      const std::string port = std::to_string(kPort);
      execlp("python3", "python3", script.c_str(), "--port", port.c_str(), "--answer",
             answer.c_str(), "--log", log.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(outPipe[1]);
    std::string line;
    char ch;
    pollfd p{outPipe[0], POLLIN, 0};
    while (poll(&p, 1, 10000) > 0 && read(outPipe[0], &ch, 1) == 1 && ch != '\n') line += ch;
    close(outPipe[0]);
    EXPECT_EQ(line, "PORT " + std::to_string(kPort)) << "the example service did not start";
  }
  ~Service() {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }

 private:
  pid_t pid_;
};

// An installed application folder with a setup record and a stand-in
// download program that records how it was started.
class AppFolder {
 public:
  AppFolder() {
    fs::copy_file(kBuild / "testhost" / "FirstLoad", dir_ / "FirstLoad");
    fs::copy_file(kBuild / "libFirstLoadHttp.so", dir_ / "libFirstLoadHttp.so");
    fs::copy_file(kBuild / "libFirstLoadGtk.so", dir_ / "libFirstLoadGtk.so");
    fs::create_directory(dir_ / "Update");
  }

  fs::path operator/(const std::string& name) const { return dir_ / name; }

  void WriteSetup(const std::string& product, const std::string& feature) {
    TextArray record(26);
    record[1] = FromAnsi(product);
    record[2] = FromAnsi(feature);
    Text header;
    const VBool plain = kFalse;
    ASSERT_EQ(FileReadWrite(FromUtf8((dir_ / "Orvistane.txt").string()), plain, 25, u"ZELVAN",
                            u"W", record, u"", nullptr, u"0", header),
              kTrue);
  }

  void InstallDownloader(const std::string& name) {
    const fs::path program = dir_ / "Update" / name;
    WriteBytes(program,
               "#!/bin/sh\n"
               "# records how it was started\n"
               "{ echo \"$#\"; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } "
               "> \"$(dirname \"$0\")/started-with.txt.part\"\n"
               "mv \"$(dirname \"$0\")/started-with.txt.part\" \"$(dirname \"$0\")/started-with.txt\"\n");
    fs::permissions(program, fs::perms::owner_all);
  }

  Outcome Run(bool headless = true) {
    return RunProgram({(dir_ / "FirstLoad").string()}, headless);
  }

  // The download program's argument, once it has started; nullopt when it
  // was not started within a few seconds.
  std::optional<std::string> LaunchParameters(int waitMs = 5000) {
    const fs::path record = dir_ / "Update" / "started-with.txt";
    for (int waited = 0; waited < waitMs && !fs::exists(record); waited += 50) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!fs::exists(record)) return std::nullopt;
    std::string text = ReadBytes(record);
    fs::remove(record);
    EXPECT_EQ(text.substr(0, 2), "1\n") << "the parameter string must be one argument: " << text;
    text = text.substr(2);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
  }

  std::vector<std::string> Requests() const {
    std::vector<std::string> lines;
    std::ifstream in(dir_ / "service.log");
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  std::string Log() const {
    return fs::exists(dir_ / "NetError.log") ? ReadBytes(dir_ / "NetError.log") : "";
  }

 private:
  TempDir tmp_;
  fs::path dir_ = tmp_.Path();
};

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
  EXPECT_EQ(ReadBytes(app / "FeatDlods.txt"),
            Records({{"F1", "Tools", "", "Yes"},
                     {"F2", "A?B", "x/y"},
                     {},
                     {"F3", "1#2", "p>q"},
                     {}}));
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
      {"error", true},     {"empty", true}, {"noform", true},
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
       "/Features.aspx?&APPCODE=680570080&FeatureName=230080411111230",
       "VKP*#OTHERFILE# Pro "},
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
  // The form and the message box, both titled "Zelvan's Downloader".
  EXPECT_EQ(std::count(windows.begin(), windows.end(), '\n'), 2) << windows;
  EXPECT_FALSE(fs::exists(app / "FeatDlods.txt"));
}

}  // namespace
}  // namespace fl
