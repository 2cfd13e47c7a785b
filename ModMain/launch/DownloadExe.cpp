#include "ModMain/launch/DownloadExe.h"

#include <memory>

#include "ModMain/ModMain.h"
#include "ModMain/errorlog/Guarded.h"
#include "frmmain/frmmain.h"
#include "platform/app.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/text.h"

namespace fl {

void DownloadExe() {
  Guarded(u"DownloadExe", [] {
    const Text folder = AppPath + kPathSep + u"update";
    // Runs started together (a double click) check and start as one step:
    // the lock of the program's folder is held from before the walk until
    // the program runs and a walk would find it. A lock that cannot be had
    // is logged and the launch goes on without it.
    std::unique_ptr<FolderWriteLock> oneAtATime;
    Guarded(u"DownloadExe", [&] {
      oneAtATime = std::make_unique<FolderWriteLock>(AppPath + kPathSep + u"Update" + kPathSep +
                                                     DownloadExeName);
    });
    if (FrmInternet_IsExeRunning(DownloadExeName, folder) != kFalse) return;
    // The product part is the short code for Ostra-VKP and the product name
    // for everything else.
    const Text productPart = ProductName == kOstraVkp ? Text(u"VKP") : ProductName;
    const Text parameters = productPart + u"*#OTHERFILE#" + FeatureName;
    RunDownloadExe(parameters);
  });
}

VBool FrmInternet_IsExeRunning(const Text& E, const Text& F) {
  VBool result = kFalse;
  Guarded(u"FrmInternet_IsExeRunning", [&] {
    ProcessSnapshot snapshot;
    if (!snapshot.Valid()) return;
    const Text bareName = UpperText(TrimSpaces(E));
    const Text fullPath = UpperText(F + kPathSep + E);
    // The kernel keeps only the start of a long name.
    const Text kernelName = UpperText(KernelNameFor(TrimSpaces(E)));
    auto named = [](const Text& name, const Text& wanted) {
      return !name.empty() && UpperText(TrimSpaces(name)) == wanted;
    };
    ProcessEntry entry;
    while (snapshot.Next(entry)) {
      if (named(entry.exeFile, bareName) || UpperText(entry.exeFile) == fullPath ||
          named(entry.kernelName, kernelName) || named(entry.firstArgument, bareName) ||
          (named(entry.scriptArgument, bareName) && snapshot.ScriptExists())) {
        result = kTrue;
        return;
      }
    }
  });
  return result;
}

std::int32_t RunDownloadExe(const Text& P) {
  std::int32_t result = 0;
  Guarded(u"RunDownloadExe", [&] {
    // Asking for the handle loads the form again, hidden, if the retrieval
    // flow has unloaded it.
    const WindowHandle owner = frmmain::hWnd();
    result =
        ShellExecute(owner, u"Open", AppPath + kPathSep + u"Update" + kPathSep + DownloadExeName, P,
                     u"", SW_SHOWNORMAL);
  });
  return result;
}

}  // namespace fl
