// Which proxy the environment names, row by row, and curl's own command
// line given the same environment going the same way.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <map>
#include <regex>

#include "platform/posix/http/proxy_rules.h"

namespace fl {
namespace {

// A socket listening on a loopback address; the kernel completes
// connections to it before anyone accepts them.
struct Listener {
  Listener(int family, int port) {
    fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 a6{};
    sockaddr_in a4{};
    a6.sin6_family = AF_INET6;
    a6.sin6_addr = in6addr_loopback;
    a6.sin6_port = htons(static_cast<uint16_t>(port));
    a4.sin_family = AF_INET;
    a4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a4.sin_port = htons(static_cast<uint16_t>(port));
    sockaddr* at =
        family == AF_INET6 ? reinterpret_cast<sockaddr*>(&a6) : reinterpret_cast<sockaddr*>(&a4);
    socklen_t size = family == AF_INET6 ? sizeof a6 : sizeof a4;
    if (bind(fd, at, size) != 0 || listen(fd, 4) != 0 || getsockname(fd, at, &size) != 0) return;
    this->port = ntohs(family == AF_INET6 ? a6.sin6_port : a4.sin_port);
  }
  ~Listener() { close(fd); }
  int fd = -1, port = 0;
};

// Where curl sends a request for scheme://host/ under env: the name of the
// listener that saw the connection ("A", "B", or "direct" for the page's
// own), or "none".
std::string CurlGoes(const std::string& scheme, const std::string& host,
                     std::vector<std::string> env, const std::map<std::string, Listener*>& at) {
  const std::string port = std::to_string(at.at("direct")->port);
  std::string name = host;
  while (!name.empty() && name.back() == '.') name.pop_back();
  std::vector<std::string> args{"/usr/bin/curl", "-s", "-o", "/dev/null", "--max-time", "5"};
  // Names lead to the page's own listener, and never to the network.
  if (host.find(':') == std::string::npos) {
    for (const std::string& each : {name, name + "."}) {
      args.insert(args.end(), {"--resolve", each + ":" + port + ":127.0.0.1"});
    }
  }
  args.push_back(scheme + "://" + host + ":" + port + "/");
  std::vector<char*> argv, envp;
  for (auto& a : args) argv.push_back(a.data());
  for (auto& e : env) envp.push_back(e.data());
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0) return "spawn";
  std::vector<pollfd> polled;
  std::vector<std::string> names;
  for (const auto& [label, listener] : at) {
    polled.push_back({listener->fd, POLLIN, 0});
    names.push_back(label);
  }
  std::string seen = "none";
  if (poll(polled.data(), polled.size(), 6000) > 0) {
    for (size_t i = 0; i < polled.size(); ++i) {
      if (polled[i].revents & POLLIN) {
        close(accept(polled[i].fd, nullptr, nullptr));
        seen = names[i];
        break;
      }
    }
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return seen;
}

TEST(ProxyRules, AsTheEnvironmentSaysAndAsCurlGoes) {
  Listener a(AF_INET, 0), b(AF_INET, 0), direct(AF_INET, 0);
  ASSERT_TRUE(a.port && b.port && direct.port);
  Listener direct6(AF_INET6, direct.port);
  // {A} and {B} are proxies with a scheme, {a} one without; "desktop" is
  // the environment leaving the choice to the desktop's settings, "" a
  // direct connection. curl's command line goes the same way on every row
  // but those marked false, which libcurl does not decide (the desktop) or
  // where libcurl 7.88 reads the variables otherwise, as the README says.
  struct Row {
    const char *scheme, *host, *env, *chosen;
    bool curl;
  } rows[] = {
      // no_proxy names.
      {"http", "www.example.com", "http_proxy={A}|no_proxy=www.example.com", "", true},
      {"http", "a.b.example.com", "http_proxy={A}|no_proxy=example.com", "", true},
      {"http", "badexample.com", "http_proxy={A}|no_proxy=example.com", "{A}", true},
      {"http", "example.com", "http_proxy={A}|no_proxy=www.example.com", "{A}", true},
      {"http", "example.com", "http_proxy={A}|no_proxy=.example.com", "", true},
      {"http", "www.example.com", "http_proxy={A}|no_proxy=.example.com", "", true},
      {"http", "www.example.com", "http_proxy={A}|no_proxy=example.com.", "", true},
      {"http", "www.example.com.", "http_proxy={A}|no_proxy=example.com", "", true},
      {"http", "WWW.Example.COM", "http_proxy={A}|no_proxy=example.com", "", true},
      {"http", "www.example.com", "http_proxy={A}|no_proxy=EXAMPLE.com", "", true},
      {"http", "www.example.com", "http_proxy={A}|no_proxy=*", "", true},
      {"http", "www.example.com", "http_proxy={A}|no_proxy=*.example.com", "{A}", true},
      {"http", "www.example.com", "http_proxy={A}|no_proxy=other.test, example.com", "", true},
      {"http", "www.example.com", "http_proxy={A}|no_proxy=other.test,,example.com", "", true},
      // no_proxy addresses and networks.
      {"http", "127.0.0.1", "http_proxy={A}|no_proxy=127.0.0.1", "", true},
      {"http", "127.0.0.1", "http_proxy={A}|no_proxy=127.0.0.0/8", "", true},
      {"http", "127.0.0.1", "http_proxy={A}|no_proxy=126.0.0.0/8", "{A}", true},
      {"http", "127.0.0.1", "http_proxy={A}|no_proxy=127.0.0.1/32", "", true},
      {"http", "127.0.0.1", "http_proxy={A}|no_proxy=127.0.0.2/32", "{A}", true},
      {"http", "127.0.0.1", "http_proxy={A}|no_proxy=127.255.0.0/9", "{A}", true},
      {"http", "127.0.0.1", "http_proxy={A}|no_proxy=127.0.0.1/33", "{A}", true},
      {"http", "[::1]", "http_proxy={A}|no_proxy=::1", "", true},
      {"http", "[::1]", "http_proxy={A}|no_proxy=::2/128", "{A}", true},
      {"http", "[::1]", "http_proxy={A}|no_proxy=::1/129", "{A}", true},
      {"http", "[::1]", "http_proxy={A}|no_proxy=[::1]", "{A}", true},
      {"http", "[::1]", "http_proxy={A}|no_proxy=127.0.0.1", "{A}", true},
      // libcurl 7.88 takes /0 and a malformed length for the full length,
      // and compares an IPv6 host with a network as a name.
      {"http", "127.0.0.1", "http_proxy={A}|no_proxy=10.0.0.0/0", "", false},
      {"http", "127.0.0.1", "http_proxy={A}|no_proxy=127.0.0.1/x", "{A}", false},
      {"http", "127.0.0.1", "http_proxy={A}|no_proxy=127.0.0.1/", "{A}", false},
      {"http", "[::1]", "http_proxy={A}|no_proxy=::1/128", "", false},
      {"http", "[::1]", "http_proxy={A}|no_proxy=::/8", "", false},
      {"http", "[::1]", "http_proxy={A}|no_proxy=::/0", "", false},
      // Which variable names the proxy.
      {"https", "www.example.com", "https_proxy={A}|all_proxy={B}", "{A}", true},
      {"https", "www.example.com", "HTTPS_PROXY={A}|ALL_PROXY={B}", "{A}", true},
      {"https", "www.example.com", "https_proxy={A}|HTTPS_PROXY={B}", "{A}", true},
      {"https", "www.example.com", "http_proxy={A}", "", true},
      {"https", "www.example.com", "all_proxy={A}|ALL_PROXY={B}", "{A}", true},
      {"http", "www.example.com", "http_proxy={A}|all_proxy={B}", "{A}", true},
      {"http", "www.example.com", "HTTP_PROXY={B}|all_proxy={A}", "{A}", true},
      {"http", "www.example.com", "ALL_PROXY={A}", "{A}", true},
      {"http", "www.example.com", "http_proxy={a}", "{A}", true},
      {"http", "www.example.com", "HTTP_PROXY={A}", "desktop", false},
      {"http", "www.example.com", "", "desktop", false},
      {"http", "www.example.com", "no_proxy=other.test", "desktop", false},
      {"http", "www.example.com", "no_proxy=example.com", "", false},
      // no_proxy over NO_PROXY.
      {"http", "www.example.com", "http_proxy={A}|NO_PROXY=example.com", "", true},
      {"http", "www.example.com", "http_proxy={A}|no_proxy=other.test|NO_PROXY=example.com", "{A}",
       true},
      // A variable set to nothing is set here; libcurl takes it for one not
      // set.
      {"http", "www.example.com", "http_proxy={A}|no_proxy=|NO_PROXY=example.com", "{A}", false},
      {"https", "www.example.com", "https_proxy=|all_proxy={B}", "", false},
      {"http", "www.example.com", "http_proxy=|all_proxy={B}", "", false},
      {"http", "www.example.com", "http_proxy=", "", false},
  };
  const std::map<std::string, Listener*> listeners{{"A", &a}, {"B", &b}, {"direct", &direct}};
  const std::map<std::string, Listener*> listeners6{{"A", &a}, {"B", &b}, {"direct", &direct6}};
  const std::string atA = "127.0.0.1:" + std::to_string(a.port);
  auto fill = [&](std::string text) {
    text = std::regex_replace(text, std::regex("\\{A\\}"), "http://" + atA);
    text = std::regex_replace(text, std::regex("\\{a\\}"), atA);
    return std::regex_replace(text, std::regex("\\{B\\}"),
                              "http://127.0.0.1:" + std::to_string(b.port));
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.scheme) + "://" + row.host + " with " + row.env);
    std::map<std::string, std::string> env;
    std::vector<std::string> envp{"PATH=/usr/bin:/bin"};
    std::string all = fill(row.env);
    for (size_t at = 0; !all.empty() && at != std::string::npos;) {
      const size_t bar = all.find('|', at);
      const std::string pair = all.substr(at, bar == std::string::npos ? bar : bar - at);
      env[pair.substr(0, pair.find('='))] = pair.substr(pair.find('=') + 1);
      envp.push_back(pair);
      at = bar == std::string::npos ? bar : bar + 1;
    }
    const std::optional<std::string> chosen =
        http::EnvironmentProxy(row.scheme, row.host, [&](const char* name) -> const char* {
          auto found = env.find(name);
          return found == env.end() ? nullptr : found->second.c_str();
        });
    EXPECT_EQ(chosen.value_or("desktop"), fill(row.chosen));
    if (!row.curl) continue;
    const std::string want = *row.chosen == '\0'                ? "direct"
                             : row.chosen == std::string("{A}") ? "A"
                                                                : "B";
    const bool six = std::string(row.host).find(':') != std::string::npos;
    if (six && direct6.port == 0) continue;  // no IPv6 loopback here
    EXPECT_EQ(CurlGoes(row.scheme, row.host, envp, six ? listeners6 : listeners), want);
  }
}

}  // namespace
}  // namespace fl
