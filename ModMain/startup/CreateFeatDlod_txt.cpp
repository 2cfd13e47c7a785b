// The fetch: the web form asks the feature web service for the list, and the
// list is parsed into the form's grid and stored as FeatDlodsFile.
#include "ModMain/ModMain.h"
#include "ModMain/encoding/Encrypt.h"
#include "ModMain/errorlog/Guarded.h"
#include "ModMain/featurelist/StringToGrid.h"
#include "ModMain/recordfile/FileReadWrite.h"
#include "ModMain/startup/FirstLoad_Main.h"
#include "frmmain/frmmain.h"
#include "platform/app.h"
#include "platform/events.h"
#include "platform/files.h"

namespace fl {

namespace {

// Waits on the user-interface thread until a browser event has filled
// WebRet, running every event meanwhile. When nothing can fill it any more
// (no navigation under way, nothing queued), the wait ends as after a failed
// navigation instead of hanging.
void WaitForWebRet() {
  while (WebRet.empty()) {
    DoEvents();
    if (!WebRet.empty()) break;
    if (!EventsPending() && !EventSourcesActive()) {
      frmmain::Myweb_NavigateError();
      break;
    }
    WaitForEvents();
  }
}

}  // namespace

VBool CreateFeatDlod_txt() {
  VBool result = kFalse;
  Guarded(u"CreateFeatDlod_txt", [&] {
    frmmain::Show();
    if (GetFeaturesDetailsFromWebsite() == kTrue) result = kTrue;
  });
  return result;
}

VBool GetFeaturesDetailsFromWebsite() {
  VBool result = kFalse;
  Guarded(u"GetFeaturesDetailsFromWebsite", [&] {
    TextArray record(26);
    Text query = GetCustDet();
    const Text code = ProductName == kOstraVkp ? u"VKP" : u"QUEND";
    std::uint8_t encode = 0;
    // Appended piece by piece: GCC 12 at -O3 misreads a literal + temporary
    // concatenation here as an overlapping copy (-Wrestrict).
    query += u"&APPCODE=";
    query += Encryptmethod2(code, encode);
    encode = 0;
    query += u"&FeatureName=";
    query += Encryptmethod2(FeatureName, encode);

    WebRet.clear();
    frmmain::GetWebRetForFeatures(query);
    WaitForWebRet();

    if (WebRet != kWebRetError && !WebRet.empty()) {
      FeatureGrid& grid = frmmain::Form().msfgFeatures;
      grid.SetRows(0);
      StringToGrid(grid, WebRet, 0);
      // The writer reads columns 0 to 25 of every row.
      grid.SetCols(26);
      if (grid.Rows() > 0) {
        const VBool notEnciphered = kFalse;
        Text headerText;
        LastLoggedFailure.clear();
        FileReadWrite(FeatDlodsFile, notEnciphered, 25, u"", u"WA", record, u"", &grid, u"",
                      headerText);
        // The run goes on to the launch, but a folder the user may not write
        // would have every run fetch again, and its log cannot say why.
        if (!FileExists(FeatDlodsFile)) {
          WriteStandardError(
              u"FirstLoad: the feature list could not be stored: " +
              (LastLoggedFailure.empty() ? Text(u"unknown failure") : LastLoggedFailure) + u" at " +
              FeatDlodsFile);
        }
        result = kTrue;
      }
      frmmain::Unload();
    }
  });
  return result;
}

Text GetCustDet() {
  Text result;
  Guarded(u"GetCustDet", [] {});
  return result;
}

}  // namespace fl
