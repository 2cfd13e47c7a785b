#include "platform/app.h"

#include "platform/win32/oserror.h"

namespace fl {

const Text kPathSep = u"\\";

namespace {

Text ExePath() {
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) win32::ThrowLastError();
    if (n < buf.size()) return win32::FromWide(buf.data(), n);
    buf.resize(buf.size() * 2);  // cut short: a long path
  }
}

}  // namespace

Text AppFolder() {
  const Text path = ExePath();
  const size_t cut = path.find_last_of(u"\\/");
  if (cut == Text::npos) return path;
  // A drive root keeps its separator: "C:\".
  if (cut > 0 && path[cut - 1] == u':') return path.substr(0, cut + 1);
  return path.substr(0, cut);
}

Text AppExeName() {
  const Text path = ExePath();
  Text name = path.substr(path.find_last_of(u"\\/") + 1);
  const size_t dot = name.find_last_of(u'.');
  if (dot != Text::npos && dot > 0) name.resize(dot);
  return name;
}

}  // namespace fl
