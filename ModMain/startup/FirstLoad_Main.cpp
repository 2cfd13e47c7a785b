#include "ModMain/startup/FirstLoad_Main.h"

#include "ModMain/ModMain.h"
#include "ModMain/errorlog/Guarded.h"
#include "ModMain/launch/DownloadExe.h"
#include "ModMain/recordfile/FileReadWrite.h"
#include "platform/app.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform/window.h"

namespace fl {

int FirstLoad_Main() {
  int status = kExitStartupFailed;
  Guarded(u"FirstLoad_Main", [&] {
    AppPath = AppFolder();
    GetFeatureNameFromFile();
    FeatDlodsFile = AppPath + kPathSep + u"FeatDlods.txt";
    DownloaderTitle = FeatureName + u" Downloader";
    DownloadExeName = ProductName == kOstraVkp ? u"VKPDownload.exe" : u"OtherDownload.exe";
    SetAppTitle(DownloaderTitle);

    // The list file's existence alone decides: once stored, it is never
    // fetched again.
    if (FileExists(FeatDlodsFile)) {
      DownloadExe();
      status = kExitLaunched;
    } else if (CreateFeatDlod_txt() == kTrue) {
      DownloadExe();
      status = kExitLaunched;
    } else {
      MsgBox(u"Could not connect to Zelvan's Website to download '" + FeatureName +
                 u"'. Please check your Internet connection and try again.",
             vbInformation, u"Zelvan's Downloader");
      status = kExitMessage;
    }
  });
  return status;
}

void GetFeatureNameFromFile() {
  Guarded(u"GetFeatureNameFromFile", [] {
    const VBool notEnciphered = kFalse;
    TextArray record(26);
    Text headerText;
    const VBool found = FileReadWrite(AppPath + kPathSep + u"Orvistane.txt", notEnciphered, 25,
                                      u"ZELVAN", u"R", record, u"", nullptr, u"0", headerText);
    if (found == kFalse) {
      FeatureName.clear();
      ProductName.clear();
      return;
    }
    // The product column is compared as record keys are.
    const bool ostra = KeyEquals(record[1], kOstraVkp);
    ProductName = ostra ? kOstraVkp : u"Quend-Levy";
    FeatureName = record[2];
  });
}

}  // namespace fl
