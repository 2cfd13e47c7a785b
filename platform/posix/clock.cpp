#include "platform/clock.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <cstring>
#include <ctime>

#include "platform/failure.h"
#include "platform/utf8.h"

namespace fl {

namespace {

// Converts bytes in the time locale's character set to text.
Text Decode(const std::string& bytes, const char* codeset) {
  if (codeset == nullptr || std::strcmp(codeset, "UTF-8") == 0 ||
      std::strcmp(codeset, "ANSI_X3.4-1968") == 0) {
    return FromUtf8(bytes);
  }
  iconv_t cd = iconv_open("UTF-8", codeset);
  if (cd == reinterpret_cast<iconv_t>(-1)) return FromUtf8(bytes);
  std::string out(bytes.size() * 4 + 8, '\0');
  char* ip = const_cast<char*>(bytes.data());
  char* op = out.data();
  size_t il = bytes.size(), ol = out.size();
  iconv(cd, &ip, &il, &op, &ol);
  iconv_close(cd);
  out.resize(out.size() - ol);
  return FromUtf8(out);
}

}  // namespace

Text NowText() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  if (localtime_r(&now, &tm) == nullptr) Fail(u"The local time is not available");

  // The user's regional forms come from the time locale of the environment.
  locale_t loc = newlocale(LC_TIME_MASK | LC_CTYPE_MASK, "", static_cast<locale_t>(0));
  if (loc == static_cast<locale_t>(0)) {
    loc = newlocale(LC_TIME_MASK | LC_CTYPE_MASK, "C", static_cast<locale_t>(0));
  }
  std::string format = nl_langinfo_l(D_FMT, loc);
  if (tm.tm_hour != 0 || tm.tm_min != 0 || tm.tm_sec != 0) {
    format += ' ';
    format += nl_langinfo_l(T_FMT, loc);
  }
  char buf[256];
  size_t n = strftime_l(buf, sizeof buf, format.c_str(), &tm, loc);
  Text text = Decode(std::string(buf, n), nl_langinfo_l(CODESET, loc));
  freelocale(loc);
  return text;
}

}  // namespace fl
