// The ANSI code page on POSIX: chosen once per process from the locale, the
// way Windows picks a system code page for the user's language, and converted
// with iconv.
#include "platform/codepage.h"

#include <iconv.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/codepage_os.h"
#include "platform/failure.h"
#include "platform/posix/codepage_posix.h"
#include "platform/utf8.h"

namespace fl {

namespace {

struct LanguageCodePage {
  const char* language;
  int codePage;
};

// Languages whose Windows system code page is not 1252.
constexpr LanguageCodePage kLanguages[] = {
    {"cs", 1250}, {"pl", 1250}, {"hu", 1250}, {"sk", 1250}, {"sl", 1250}, {"hr", 1250},
    {"ro", 1250}, {"sq", 1250}, {"bs", 1250}, {"ru", 1251}, {"uk", 1251}, {"be", 1251},
    {"bg", 1251}, {"mk", 1251}, {"sr", 1251}, {"kk", 1251}, {"ky", 1251}, {"tt", 1251},
    {"mn", 1251}, {"tg", 1251}, {"ba", 1251}, {"el", 1253}, {"tr", 1254}, {"az", 1254},
    {"uz", 1254}, {"he", 1255}, {"iw", 1255}, {"yi", 1255}, {"ar", 1256}, {"fa", 1256},
    {"ur", 1256}, {"ps", 1256}, {"lt", 1257}, {"lv", 1257}, {"et", 1257}, {"vi", 1258},
    {"th", 874},  {"ja", 932},  {"ko", 949},
};

}  // namespace

int posix::CodePageForLocale(const char* locale) {
  if (locale == nullptr || *locale == '\0') return 1252;
  std::string name(locale);
  std::string lang = name.substr(0, name.find_first_of("_.@"));
  std::string region;
  size_t us = name.find('_');
  if (us != std::string::npos) region = name.substr(us + 1, 2);
  if (lang == "zh") {
    return (region == "TW" || region == "HK" || region == "MO") ? 950 : 936;
  }
  // Serbian in Latin script uses the Central European page.
  if (lang == "sr" && name.find("@latin") != std::string::npos) return 1250;
  for (const auto& entry : kLanguages) {
    if (lang == entry.language) return entry.codePage;
  }
  return 1252;  // Western European, and the C/POSIX locale
}

namespace {

const char* EnvLocale() {
  for (const char* var : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* v = std::getenv(var);
    if (v != nullptr && *v != '\0') return v;
  }
  return nullptr;
}

bool IsDoubleByte(int cp) {
  return cp == 932 || cp == 936 || cp == 949 || cp == 950;
}

// Tables for a single-byte page. Bytes that the page leaves undefined map to
// the control character of the same value, as the Windows conversion does, so
// any byte survives a round trip.
struct SingleByteTables {
  using Page = std::array<std::int16_t, 256>;  // -1: no byte decodes to it
  std::array<char16_t, 256> toText{};
  // The way back, in pages of 256 characters, only for the pages the code
  // page reaches: a few hundred bytes instead of a 64K-entry table to fill at
  // every start-up.
  std::array<std::unique_ptr<Page>, 256> toAnsi;

  int Encode(char16_t ch) const {
    const Page* page = toAnsi[ch >> 8].get();
    return page == nullptr ? -1 : (*page)[ch & 0xFF];
  }

  void BuildReverse() {
    // In reverse order so that where two bytes decode alike, the lower byte wins.
    for (int b = 255; b >= 0; --b) {
      auto& page = toAnsi[toText[b] >> 8];
      if (!page) {
        page = std::make_unique<Page>();
        page->fill(-1);
      }
      (*page)[toText[b] & 0xFF] = static_cast<std::int16_t>(b);
    }
  }
};

struct State {
  int codePage = 0;
  std::string iconvName;
  std::unique_ptr<SingleByteTables> tables;  // single-byte pages only
};

std::mutex gMutex;
std::atomic<State*> gState{nullptr};

std::string IconvName(int cp) {
  return "CP" + std::to_string(cp);
}

// Windows-1252 is the page of most runs; built in, it spares every start-up
// loading two iconv modules. Bytes 0x80 to 0x9F are all that differ from
// Latin-1; the undefined ones keep their own value, as iconv's table does
// (the tests compare the two).
constexpr char16_t k1252From80[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::unique_ptr<SingleByteTables> BuiltIn1252() {
  auto t = std::make_unique<SingleByteTables>();
  for (int b = 0; b < 256; ++b) {
    t->toText[b] = b >= 0x80 && b < 0xA0 ? k1252From80[b - 0x80] : static_cast<char16_t>(b);
  }
  t->BuildReverse();
  return t;
}

std::unique_ptr<SingleByteTables> BuildTables(const std::string& name) {
  iconv_t cd = iconv_open("UTF-16LE", name.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return nullptr;
  auto t = std::make_unique<SingleByteTables>();
  for (int b = 0; b < 256; ++b) {
    char in = static_cast<char>(b);
    char out[8];
    char* ip = &in;
    char* op = out;
    size_t il = 1, ol = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    size_t r = iconv(cd, &ip, &il, &op, &ol);
    char16_t ch = static_cast<char16_t>(b);
    if (r != static_cast<size_t>(-1) && ol == sizeof out - 2) {
      ch = static_cast<char16_t>(static_cast<unsigned char>(out[0]) |
                                 (static_cast<unsigned char>(out[1]) << 8));
    }
    t->toText[b] = ch;
  }
  iconv_close(cd);
  t->BuildReverse();
  return t;
}

State* MakeState(int cp) {
  auto s = std::make_unique<State>();
  s->codePage = cp;
  s->iconvName = IconvName(cp);
  if (IsDoubleByte(cp)) {
    iconv_t cd = iconv_open("UTF-16LE", s->iconvName.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return nullptr;
    iconv_close(cd);
  } else {
    s->tables = cp == 1252 ? BuiltIn1252() : BuildTables(s->iconvName);
    if (!s->tables) return nullptr;
  }
  return s.release();
}

// Called for every cell a record file holds, so the lock is taken only to
// choose the page the first time.
const State& Current() {
  if (State* s = gState.load(std::memory_order_acquire)) return *s;
  std::lock_guard<std::mutex> lock(gMutex);
  State* s = gState.load(std::memory_order_relaxed);
  if (s == nullptr) {
    s = MakeState(posix::CodePageForLocale(EnvLocale()));
    if (s == nullptr) s = MakeState(1252);
    gState.store(s, std::memory_order_release);
  }
  return *s;
}

// Converts one UTF-16 unit to the bytes of a double-byte page; empty when the
// page has no such character.
std::string DbcsEncodeUnit(iconv_t cd, char16_t ch) {
  if (ch >= 0xD800 && ch <= 0xDFFF) return {};
  char in[2] = {static_cast<char>(ch & 0xFF), static_cast<char>(ch >> 8)};
  char out[8];
  char* ip = in;
  char* op = out;
  size_t il = 2, ol = sizeof out;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  if (iconv(cd, &ip, &il, &op, &ol) == static_cast<size_t>(-1)) return {};
  return std::string(out, sizeof out - ol);
}

class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) Fail(u"No conversion for the ANSI code page");
  }
  ~Iconv() { iconv_close(cd_); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

}  // namespace

int AnsiCodePage() {
  return Current().codePage;
}

void SetAnsiCodePage(int codePage) {
  State* s = MakeState(codePage);
  if (s == nullptr) Fail(u"No conversion for code page " + FromUtf8(std::to_string(codePage)));
  std::lock_guard<std::mutex> lock(gMutex);
  delete gState.exchange(s, std::memory_order_acq_rel);
}

std::string ToAnsi(const Text& text) {
  std::string out;
  AppendAnsi(text, out);
  return out;
}

void AppendAnsi(const Text& text, std::string& out) {
  const State& st = Current();
  if (st.tables) {
    const size_t at = out.size();
    out.resize(at + text.size());
    char* p = out.data() + at;
    for (size_t i = 0; i < text.size(); ++i) {
      const int b = st.tables->Encode(text[i]);
      p[i] = b < 0 ? '?' : static_cast<char>(b);
    }
    return;
  }
  out.reserve(out.size() + text.size());
  Iconv cd(st.iconvName.c_str(), "UTF-16LE");
  for (char16_t ch : text) {
    std::string bytes = DbcsEncodeUnit(cd.get(), ch);
    out += bytes.empty() ? std::string("?") : bytes;
  }
}

void FromAnsi(const char* bytes, size_t n, Text& out) {
  const State& st = Current();
  if (st.tables) {
    out.resize(n);
    for (size_t i = 0; i < n; ++i) out[i] = st.tables->toText[static_cast<unsigned char>(bytes[i])];
    return;
  }
  out.clear();
  out.reserve(n);
  Iconv cd("UTF-16LE", st.iconvName.c_str());
  size_t i = 0;
  while (i < n) {
    // Try a single byte, then a lead byte with its trail byte.
    bool done = false;
    for (size_t len = 1; len <= 2 && i + len <= n && !done; ++len) {
      char* ip = const_cast<char*>(bytes + i);
      char outBuf[8];
      char* op = outBuf;
      size_t il = len, ol = sizeof outBuf;
      iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
      if (iconv(cd.get(), &ip, &il, &op, &ol) != static_cast<size_t>(-1) && il == 0 &&
          ol <= sizeof outBuf - 2) {
        for (size_t k = 0; k + 1 < sizeof outBuf - ol; k += 2) {
          out += static_cast<char16_t>(static_cast<unsigned char>(outBuf[k]) |
                                       (static_cast<unsigned char>(outBuf[k + 1]) << 8));
        }
        i += len;
        done = true;
      }
    }
    if (!done) {
      out += u'\u30FB';  // Katakana middle dot: the Windows default for undecodable DBCS bytes
      ++i;
    }
  }
}

bool os::AnsiPageIsSingleByte() {
  return Current().tables != nullptr;
}

bool os::AnsiBytesOf(char16_t ch, std::string* bytes) {
  const State& st = Current();
  if (st.tables) {
    const int b = st.tables->Encode(ch);
    if (b < 0) return false;
    bytes->assign(1, static_cast<char>(b));
    return true;
  }
  Iconv cd(st.iconvName.c_str(), "UTF-16LE");
  *bytes = DbcsEncodeUnit(cd.get(), ch);
  return !bytes->empty();
}

bool os::AnsiCharOf(const std::string& bytes, char16_t* ch) {
  const State& st = Current();
  if (st.tables) {
    if (bytes.size() != 1) return false;
    *ch = st.tables->toText[static_cast<unsigned char>(bytes[0])];
    return true;
  }
  Iconv cd("UTF-16LE", st.iconvName.c_str());
  char* ip = const_cast<char*>(bytes.data());
  char outBuf[8];
  char* op = outBuf;
  size_t il = bytes.size(), ol = sizeof outBuf;
  if (iconv(cd.get(), &ip, &il, &op, &ol) == static_cast<size_t>(-1) || il != 0 ||
      ol != sizeof outBuf - 2) {
    return false;
  }
  *ch = static_cast<char16_t>(static_cast<unsigned char>(outBuf[0]) |
                              (static_cast<unsigned char>(outBuf[1]) << 8));
  return true;
}

}  // namespace fl
