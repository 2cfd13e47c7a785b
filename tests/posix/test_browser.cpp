// The browser control against a real HTTP server: events, failures, named
// lookup and how pages are decoded.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

#include "platform/browser.h"
#include "platform/events.h"
#include "platform/failure.h"
#include "platform/posix/events_posix.h"
#include "platform/posix/http/curl_options.h"
#include "platform/version.h"
#include "tests/TestSupport.h"

extern char** environ;

namespace fl {
namespace {

using namespace std::chrono_literals;
using test::T;
using test::U8;
using Clock = std::chrono::steady_clock;

constexpr std::int32_t kFlags = navNoReadFromCache | navNoWriteToCache;
constexpr char kNoMember[] = "Object doesn't support this property or method";

pid_t Spawn(const std::vector<std::string>& args, int stdinFd, int stdoutFd) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (stdinFd >= 0) posix_spawn_file_actions_adddup2(&actions, stdinFd, 0);
  if (stdoutFd >= 0) posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

// The example feature service with the browser tests' routes, on a port it
// picks itself.
class Server {
 public:
  // With tlsAuthority, over https with a certificate from the authority in
  // that folder, which the service makes there.
  explicit Server(const std::string& tlsAuthority = "") {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
    std::vector<std::string> args{FIRSTLOAD_PYTHON, FIRSTLOAD_SERVICE, "--browser-tests"};
    if (!tlsAuthority.empty()) args.insert(args.end(), {"--tls", tlsAuthority});
    pid_ = Spawn(args, in[0], out[1]);
    close(in[0]);
    close(out[1]);
    toServer_ = in[1];
    fromServer_ = out[0];
    std::string line = NextLine(Clock::now() + 30s);
    if (line.rfind("PORT ", 0) == 0) port_ = line.substr(5);
  }
  ~Server() {
    close(toServer_);  // the server exits when its input closes
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(fromServer_);
  }
  bool Up() const { return !port_.empty(); }
  std::string Url(const std::string& target, const std::string& origin = "http://127.0.0.1") const {
    return origin + ":" + port_ + target;
  }
  // Waits, at most bound, for the server to print line.
  bool Says(const std::string& line, std::chrono::seconds bound = 30s) {
    auto deadline = Clock::now() + bound;
    while (Clock::now() < deadline) {
      if (NextLine(deadline) == line) return true;
    }
    return false;
  }

 private:
  std::string NextLine(Clock::time_point deadline) {
    size_t end;
    while ((end = buffer_.find('\n')) == std::string::npos) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      pollfd fd{fromServer_, POLLIN, 0};
      if (left.count() <= 0 || poll(&fd, 1, static_cast<int>(left.count())) <= 0) return "";
      char chunk[256];
      ssize_t n = read(fromServer_, chunk, sizeof chunk);
      if (n <= 0) return "";
      buffer_.append(chunk, static_cast<size_t>(n));
    }
    std::string line = buffer_.substr(0, end);
    buffer_.erase(0, end + 1);
    return line;
  }

  pid_t pid_ = -1;
  int toServer_ = -1, fromServer_ = -1;
  std::string port_, buffer_;
};

std::string Escape(const std::string& bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    if (isalnum(c) || c == '-' || c == '_' || c == '.') {
      out += static_cast<char>(c);
    } else {
      out += '%', out += kHex[c >> 4], out += kHex[c & 15];
    }
  }
  return out;
}

std::string PageTarget(const std::string& body, const std::string& more = "") {
  return "/page?body=" + Escape(body) + (more.empty() ? "" : "&" + more);
}

std::string Form1(const std::string& inner) {
  return "<form name=\"Form1\">" + inner + "</form>";
}

// Runs events until done() holds or bound passes; waits on the queue's own
// wake-up descriptor so that no wait is unbounded.
bool PumpUntil(const std::function<bool()>& done, std::chrono::seconds bound = 60s) {
  auto deadline = Clock::now() + bound;
  while (!done()) {
    if (Clock::now() > deadline) return false;
    DoEvents();
    pollfd fd{posix::EventWakeFd(), POLLIN, 0};
    if (!done()) poll(&fd, 1, 100);
  }
  return true;
}

// Waits, running nothing, until an event is queued.
bool EventQueued() {
  for (auto deadline = Clock::now() + 60s; !EventsPending(); std::this_thread::sleep_for(10ms)) {
    if (Clock::now() > deadline) return false;
  }
  return true;
}

std::string FailureOf(const std::function<void()>& op) {
  try {
    op();
  } catch (const Failure& f) {
    return U8(f.Description());
  }
  return "";
}

class Browser : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Up());
    // A proxy set for the machine must not stand between the test and its server.
    setenv("no_proxy", "127.0.0.1,localhost", 1);
    browser_.DocumentComplete = [this] { events_ += 'C'; };
    browser_.NavigateError = [this] { events_ += 'E'; };
  }

  // Navigates and runs events until the browser is idle; returns the events
  // raised, C for DocumentComplete and E for NavigateError.
  std::string Load(const std::string& url) {
    events_.clear();
    browser_.Navigate(T(url), kFlags);
    // Under the emulator the parse of the largest page takes a while.
    const auto bound = *FIRSTLOAD_EMULATOR != '\0' ? 200s : 60s;
    EXPECT_TRUE(PumpUntil([&] { return !browser_.Busy(); }, bound)) << "no event for " << url;
    return events_;
  }
  std::string LoadFrom(const std::string& target) { return Load(server_.Url(target)); }

  std::string Value(const char* form = "Form1", const char* field = "txtvalue") {
    return U8(browser_.Document()->Member(T(form))->Member(T(field))->Property(u"value"));
  }

  Server server_;
  WebBrowser browser_;  // after server_, so that it stops before the server goes
  std::string events_;
};

TEST_F(Browser, ReadsTheValueOfTheNamedControl) {
  struct Case {
    const char* what;
    std::string body, expected;
  } cases[] = {
      {"text field", Form1("<input type=text name=txtvalue value=\" a  b \">"), " a  b "},
      {"empty field", Form1("<input name=txtvalue value=\"\">"), ""},
      {"no value attribute", Form1("<input name=txtvalue>"), ""},
      {"character references",
       Form1("<input name=txtvalue value=\"a &gt; b &amp; c &#47; "
             "&euro;&#x1F600;\">"),
       "a > b & c / \u20AC\U0001F600"},
      {"line breaks in a text field", Form1("<input name=txtvalue value=\"a&#13;&#10;b\nc\">"),
       "abc"},
      {"line breaks in a hidden field",
       Form1("<input type=hidden name=txtvalue value=\"a&#13;&#10;b\r\nc\">"), "a\r\nb\nc"},
      {"email field", Form1("<input type=email name=txtvalue value=\" x@y.z \">"), "x@y.z"},
      {"checkbox", Form1("<input type=checkbox name=txtvalue>"), "on"},
      {"textarea", Form1("<textarea name=txtvalue>\r\n\nline1\r\nline2 &lt;b&gt;</textarea>"),
       "\nline1\nline2 <b>"},
      {"field by id", Form1("<input id=txtvalue value=byid>"), "byid"},
      {"form by id", "<form id=Form1><input name=txtvalue value=v></form>", "v"},
      {"name beats id",
       "<form id=Form1><input name=txtvalue value=id></form>" +
           Form1("<input name=txtvalue value=name>"),
       "name"},
      {"control outside, owned by form=",
       "<form name=Form1 id=f1></form><input form=f1 name=txtvalue value=out>", "out"},
      {"select, first option",
       Form1("<select name=txtvalue><option>  one\n two </option><option>3</select>"), "one two"},
      {"select, last selected",
       Form1("<select name=txtvalue><option selected value=1>a<option value=2 selected>b"
             "<option value=3>c</select>"),
       "2"},
      {"select multiple, first selected",
       Form1("<select multiple name=txtvalue><option>a<option selected>b<option selected>c"
             "</select>"),
       "b"},
      {"select, disabled first",
       Form1("<select name=txtvalue><option disabled>a<option>b</select>"), "b"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(LoadFrom(PageTarget("<html><body>" + c.body + "</body></html>")), "C");
    EXPECT_EQ(Value(), c.expected);
  }
}

TEST_F(Browser, MissingOrAmbiguousMembersFail) {
  EXPECT_EQ(FailureOf([&] { browser_.Document(); }),
            "Object variable or With block variable not set");
  struct Case {
    const char* what;
    std::string body;
  } cases[] = {
      {"no Form1", "<form name=Form2><input name=txtvalue></form>"},
      {"no txtvalue", Form1("<input name=other>")},
      {"names are case-sensitive", "<form name=form1><input name=TxtValue></form>"},
      {"two forms called Form1", Form1("<input name=txtvalue>") + Form1("")},
      {"two controls called txtvalue", Form1("<input name=txtvalue><input id=txtvalue>")},
      {"control of another form", "<form id=f2></form>" + Form1("<input form=f2 name=txtvalue>")},
      {"image button", Form1("<input type=image name=txtvalue>")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(LoadFrom(PageTarget(c.body)), "C");
    EXPECT_EQ(FailureOf([&] { Value(); }), kNoMember);
  }
  ASSERT_EQ(LoadFrom(PageTarget(Form1("<input name=txtvalue value=v>"))), "C");
  auto form = browser_.Document()->Member(u"Form1");
  EXPECT_EQ(FailureOf([&] { form->Property(u"value"); }), kNoMember);
  EXPECT_EQ(FailureOf([&] { form->Member(u"txtvalue")->Property(u"text"); }), kNoMember);
  EXPECT_EQ(FailureOf([&] { form->Member(u"txtvalue")->Member(u"x"); }), kNoMember);
}

TEST_F(Browser, DecodesPagesAsBrowsersDo) {
  const std::string privet1251 = "\xCF\xF0\xE8\xE2\xE5\xF2", privet = "Привет";
  auto field = [](const std::string& value) {
    return Form1("<input name=txtvalue value=\"" + value + "\">");
  };
  struct Case {
    const char* what;
    std::string contentType, body, expected;
  } cases[] = {
      {"header charset", "text/html;charset=\"windows-1251\"", field(privet1251), privet},
      {"no charset anywhere", "text/html", field("\x80\xE9\x81"), "\u20AC\u00E9\u0081"},
      {"no Content-Type at all", "-", field("\x80"), "\u20AC"},
      {"latin-1 read as windows-1252", "text/html; charset=iso-8859-1", field("\x80"), "\u20AC"},
      {"meta charset", "text/html", "<meta charset=windows-1251>" + field(privet1251), privet},
      {"meta http-equiv", "text/html",
       "<meta http-equiv=Content-Type content='text/html; charset=koi8-r'>" +
           field("\xF0\xD2\xC9\xD7\xC5\xD4"),
       privet},
      {"meta after other bytes", "text/html",
       "<title>\xCF</title><meta charset=windows-1251>" + field(privet1251), privet},
      {"meta utf-16 in an ASCII page reads as UTF-8", "text/html",
       "<meta charset=utf-16>" + field(privet), privet},
      {"header beats meta", "text/html; charset=utf-8",
       "<meta charset=windows-1251>" + field(privet), privet},
      {"unknown header charset", "text/html; charset=bogus",
       "<meta charset=windows-1251>" + field(privet1251), privet},
      {"byte-order mark beats header", "text/html; charset=windows-1251",
       "\xEF\xBB\xBF" + field(privet), privet},
      {"undecodable bytes", "text/html; charset=utf-8",
       field("a\xFF"
             "b") +
           "<p>\xC3",
       "a\uFFFDb"},
      {"code points past U+10FFFF, which iconv lets through", "text/html; charset=utf-8",
       "<form name=\"Form1\"><input name=\"txtvalue\"value=\xF6\xB6\xB6\xB6\xF4\x90\x80\x80>",
       "\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(LoadFrom(PageTarget(c.body, "type=" + Escape(c.contentType))), "C");
    EXPECT_EQ(Value(), c.expected);
  }
}

TEST_F(Browser, FailedNavigationsRaiseNavigateError) {
  int closed = socket(AF_INET, SOCK_STREAM, 0);  // bound, never listening: refuses
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ASSERT_EQ(bind(closed, reinterpret_cast<sockaddr*>(&addr), len), 0);
  getsockname(closed, reinterpret_cast<sockaddr*>(&addr), &len);
  const std::string page = Escape(Form1("<input name=txtvalue value=v>"));
  // Each with the start of the reason a person is told.
  const std::pair<std::string, std::string> cases[] = {
      {server_.Url("/page?status=404&body=" + page), "HTTP 404"},
      {server_.Url("/page?status=500&body=" + page), "HTTP 500"},
      {"http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/",
       "cannot connect: Connection refused"},
      {"http://nonexistent.invalid/", "cannot resolve the host name"},
      {server_.Url("/page?mode=badchunk&body=" + page), ""},
      {server_.Url("/page?mode=drop&body=" + page), ""},
      {server_.Url("/hop?left=21&body=" + page), "Number of redirects hit maximum amount"},
      {server_.Url("/page?status=302&location=file:///etc/hostname"), ""},
      {"file:///etc/hostname", ""},
      {server_.Url("/big?size=16777217"), "the page is larger than 16 MiB"},
      {server_.Url("/big?size=16777217&mode=chunked"), "the page is larger than 16 MiB"},
  };
  for (const auto& [url, reason] : cases) {
    SCOPED_TRACE(url);
    EXPECT_EQ(Load(url), "E");
    EXPECT_FALSE(EventSourcesActive());
    EXPECT_EQ(FailureOf([&] { browser_.Document(); }),
              "Object variable or With block variable not set");
    EXPECT_EQ(browser_.LocationURL(), T(url));
    EXPECT_FALSE(browser_.FailureReason().empty());
    EXPECT_EQ(U8(browser_.FailureReason()).rfind(reason, 0), 0u) << U8(browser_.FailureReason());
  }
  close(closed);
}

TEST_F(Browser, LoadsWhatABrowserWould) {
  const std::string page = Escape(Form1("<input name=txtvalue value=v>"));
  for (const std::string& target :
       {"/hop?left=3&body=" + page, "/hop?left=20&body=" + page, "/page?mode=chunked&body=" + page,
        "/page?mode=close&body=" + page, std::string("/big?size=16777216"),
        std::string("/big?size=16777216&mode=chunked")}) {
    SCOPED_TRACE(target);
    ASSERT_EQ(LoadFrom(target), "C");
    EXPECT_EQ(Value(), target.rfind("/big", 0) == 0 ? "big" : "v");
  }
  // A hostile page nested a million deep is refused, and takes neither the
  // stack nor the time that such a tree would.
  EXPECT_EQ(LoadFrom("/big?size=6000000&nest=1000000"), "E");
}

TEST_F(Browser, ControlsNamingAMissingFormDoNotSlowTheLookup) {
  ASSERT_EQ(LoadFrom("/big?size=2000000&filler=" + Escape("<input form=none name=txtvalue>")), "C");
  const auto start = Clock::now();
  EXPECT_EQ(Value(), "big");
  EXPECT_LT(Clock::now() - start, 20s);  // each control once searched the whole page: minutes
}

TEST_F(Browser, NothingIsCached) {
  for (const char* hits : {"1", "2"}) {
    ASSERT_EQ(LoadFrom("/echo"), "C");
    EXPECT_EQ(Value("Form1", "hits"), hits);
    EXPECT_EQ(Value("Form1", "cache-control"), "no-cache");
    EXPECT_EQ(Value("Form1", "pragma"), "no-cache");
    EXPECT_EQ(Value("Form1", "user-agent"), "FirstLoad/" FIRSTLOAD_VERSION);
  }
}

TEST_F(Browser, GoesThroughTheProxyOfTheEnvironment) {
  setenv("http_proxy", server_.Url("").c_str(), 1);
  std::string events =
      Load("http://firstload.invalid" + PageTarget(Form1("<input name=txtvalue value=proxied>")));
  unsetenv("http_proxy");
  ASSERT_EQ(events, "C");
  EXPECT_EQ(Value(), "proxied");
}

TEST_F(Browser, HttpsVerifiesTheCertificateAndTheHostName) {
  // An authority of the test's own, which the service makes.
  test::TempDir authority;
  Server tls(authority.Path().string());
  ASSERT_TRUE(tls.Up());
  const std::string page = PageTarget(Form1("<input name=txtvalue value=secure>"));
  // Sent on from https: to https it goes on, to plain http never.
  const std::string toHttps =
      "/page?status=302&location=" + Escape(tls.Url(page, "https://localhost"));
  const std::string toHttp = "/page?status=302&location=" + Escape(server_.Url(page));
  struct Case {
    const char* what;
    bool trusted;        // the test's authority trusted besides the system's
    const char* origin;  // the certificate names localhost only
    const std::string& target;
    const char* events;
    const char* reason;
  } cases[] = {
      {"trusted authority, right name", true, "https://localhost", page, "C", ""},
      {"the system's authorities only", false, "https://localhost", page, "E",
       "the certificate was not accepted"},
      {"trusted authority, another name", true, "https://127.0.0.1", page, "E",
       "the certificate was not accepted"},
      {"a redirect to https", true, "https://localhost", toHttps, "C", ""},
      {"a redirect to http", true, "https://localhost", toHttp, "E",
       "a redirect to http was refused"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    browser_.TrustedCaFile = c.trusted ? T((authority / "ca.pem").string()) : Text();
    ASSERT_EQ(Load(tls.Url(c.target, c.origin)), c.events);
    if (*c.events == 'C') {
      EXPECT_EQ(Value(), "secure");
    }
    EXPECT_EQ(U8(browser_.FailureReason()).rfind(c.reason, 0), 0u) << U8(browser_.FailureReason());
  }
}

TEST_F(Browser, EachNavigationRaisesOneEvent) {
  for (const char* value : {"first", "second"}) {
    browser_.Navigate(
        T(server_.Url(PageTarget(Form1("<input name=txtvalue value=" + std::string(value) + ">")))),
        kFlags);
    EXPECT_TRUE(browser_.Busy());
    EXPECT_TRUE(EventSourcesActive());
    ASSERT_TRUE(PumpUntil([&] { return !browser_.Busy(); }));
    EXPECT_FALSE(EventSourcesActive());
    EXPECT_EQ(Value(), value);
  }
  EXPECT_EQ(events_, "CC");
  EXPECT_EQ(LoadFrom("/page?status=404"), "E");

  // A new navigation replaces the one under way, which raises nothing.
  events_.clear();
  browser_.Navigate(T(server_.Url("/slow?token=replaced")), kFlags);
  ASSERT_TRUE(server_.Says("START replaced"));
  browser_.Navigate(T(server_.Url(PageTarget(Form1("<input name=txtvalue value=new>")))), kFlags);
  ASSERT_TRUE(PumpUntil([&] { return !browser_.Busy(); }));
  EXPECT_TRUE(server_.Says("ABORT replaced"));
  EXPECT_EQ(events_, "C");
  EXPECT_EQ(Value(), "new");
}

TEST_F(Browser, StopCancelsAndSilences) {
  browser_.Navigate(T(server_.Url("/slow?token=stopped")), kFlags);
  ASSERT_TRUE(server_.Says("START stopped"));
  browser_.Stop();
  EXPECT_FALSE(browser_.Busy());
  EXPECT_FALSE(EventSourcesActive());
  EXPECT_TRUE(server_.Says("ABORT stopped"));

  // An event already queued when its navigation is stopped does nothing.
  browser_.Navigate(T(server_.Url(PageTarget(Form1("")))), kFlags);
  ASSERT_TRUE(EventQueued());
  browser_.Stop();
  DoEvents();
  EXPECT_EQ(events_, "");
  EXPECT_FALSE(browser_.Busy());
  EXPECT_EQ(FailureOf([&] { browser_.Document(); }),
            "Object variable or With block variable not set");

  // So does one left behind by a browser that is gone.
  int raised = 0;
  std::optional<WebBrowser> gone(std::in_place);
  gone->DocumentComplete = gone->NavigateError = [&] { ++raised; };
  gone->Navigate(T(server_.Url(PageTarget(""))), kFlags);
  ASSERT_TRUE(EventQueued());
  gone.reset();
  DoEvents();
  EXPECT_EQ(raised, 0);
  EXPECT_FALSE(EventSourcesActive());
}

// Runs itself again from a copy of the test program in a folder that lacks
// the HTTP module.
TEST(BrowserWithoutHttpModule, NavigationFailsWithTheReason) {
  if (getenv("FIRSTLOAD_ALONE") != nullptr) {
    WebBrowser browser;
    std::string raised;
    browser.DocumentComplete = [&] { raised += 'C'; };
    browser.NavigateError = [&] { raised += 'E'; };
    // The stack starts on the navigation's thread: Navigate itself succeeds.
    browser.Navigate(u"http://127.0.0.1:1/", kFlags);
    EXPECT_TRUE(browser.Busy());
    ASSERT_TRUE(PumpUntil([&] { return !browser.Busy(); }));
    EXPECT_EQ(raised, "E");
    EXPECT_EQ(U8(browser.FailureReason())
                  .rfind("the HTTP stack could not be started: Cannot load libFirstLoadHttp.so", 0),
              0u)
        << U8(browser.FailureReason());
    EXPECT_FALSE(EventSourcesActive());
    return;
  }
  test::TempDir dir;
  // The link's target: an emulator shows the program's own, but reads none.
  std::filesystem::copy_file(std::filesystem::read_symlink("/proc/self/exe"),
                             dir / "firstload_tests");
  const auto* self = ::testing::UnitTest::GetInstance()->current_test_info();
  setenv("FIRSTLOAD_ALONE", "1", 1);
  std::vector<std::string> argv{
      (dir / "firstload_tests").string(),
      std::string("--gtest_filter=") + self->test_suite_name() + "." + self->name()};
  if (*FIRSTLOAD_EMULATOR != '\0') argv.insert(argv.begin(), FIRSTLOAD_EMULATOR);
  pid_t pid = Spawn(argv, -1, -1);
  unsetenv("FIRSTLOAD_ALONE");
  ASSERT_GT(pid, 0);
  int status = -1;
  for (auto deadline = Clock::now() + 120s; waitpid(pid, &status, WNOHANG) == 0;) {
    if (Clock::now() > deadline) kill(pid, SIGKILL);
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// Each version's options, set on the libcurl here (which takes both forms),
// keep a transfer to http and https and its redirects where its origin lets
// them lead.
TEST(CurlOptions, EveryVersionKeepsTheSchemes) {
  Server server;
  ASSERT_TRUE(server.Up());
  const std::string toFile = server.Url("/page?status=302&location=file:///etc/hostname");
  const std::string toHttp =
      server.Url("/page?status=302&location=" + Escape(server.Url(PageTarget(Form1("")))));
  const struct {
    unsigned int version;
    bool schemeNames, quickExit;
  } versions[] = {
      {0x074A00, false, false}, {0x075400, false, false}, {0x075500, true, false},
      {0x075600, true, false},  {0x075700, true, true},   {0x080B00, true, true},
  };
  const struct {
    const std::string url;
    const char* redirectSchemes;  // as for an http origin, or an https one
    CURLcode expected;
  } transfers[] = {
      {"file:///etc/hostname", "http,https", CURLE_UNSUPPORTED_PROTOCOL},
      {toFile, "http,https", CURLE_UNSUPPORTED_PROTOCOL},
      {toHttp, "https", CURLE_UNSUPPORTED_PROTOCOL},
      {toHttp, "http,https", CURLE_OK},
  };
  for (const auto& v : versions) {
    SCOPED_TRACE(v.version);
    const http::CurlOptions options = http::CurlOptionsOf(v.version);
    EXPECT_EQ(options.schemeNames, v.schemeNames);
    EXPECT_EQ(options.quickExit, v.quickExit);
    for (const auto& t : transfers) {
      SCOPED_TRACE(t.url + " " + t.redirectSchemes);
      CURL* curl = curl_easy_init();
      ASSERT_NE(curl, nullptr);
      ASSERT_EQ(http::SetSchemes(curl, options, t.redirectSchemes), CURLE_OK);
      ASSERT_EQ(http::SetQuickExit(curl, options), CURLE_OK);
      curl_easy_setopt(curl, CURLOPT_URL, t.url.c_str());
      curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
      curl_easy_setopt(
          curl, CURLOPT_WRITEFUNCTION,
          +[](char*, size_t size, size_t count, void*) { return size * count; });
      EXPECT_EQ(curl_easy_perform(curl), t.expected);
      curl_easy_cleanup(curl);
    }
  }
}

}  // namespace
}  // namespace fl
