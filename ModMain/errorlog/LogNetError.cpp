#include "ModMain/errorlog/LogNetError.h"

#include <algorithm>

#include "ModMain/ModMain.h"
#include "platform/app.h"
#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/files.h"

namespace fl {

unsigned char LogRolloverDone = 0;
Text LastLoggedFailure;

namespace {

// The logger has no handler of its own to fall back on: each step is tried
// on its own and a failing one is skipped.
template <class Step>
bool TryStep(Step&& step) noexcept {
  try {
    step();
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace

void LogNetError(const Text& description, const Text& procName) {
  TryStep([&] { LastLoggedFailure = description; });
  unsigned char replace = 0;
  Text logPath;
  TryStep([&] { logPath = AppPath + kPathSep + u"NetError.log"; });

  if (LogRolloverDone == 0) {
    bool present = true;  // a failing test runs what it guards
    TryStep([&] { present = FileExists(logPath); });
    if (present) {
      std::string whole;
      TryStep([&] { whole = ReadFileBytes(logPath); });
      long lines = static_cast<long>(std::count(whole.begin(), whole.end(), '\r'));
      if (lines > kLogMaxLines) replace = 1;
      LogRolloverDone = 1;
    }
  }

  Text line;
  TryStep([&] {
    Text exeName, when;
    TryStep([&] { exeName = AppExeName(); });
    TryStep([&] { when = NowText(); });
    line = u"Desc:" + description + u", Proc:" + procName + u", in " + exeName + u", At: " + when +
           u"\r\n";
  });
  TryStep([&] { WriteFileBytes(logPath, ToAnsi(line), replace == 1); });
}

}  // namespace fl
