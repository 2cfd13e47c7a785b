// The run-wide variables of a run. All are empty at process start; only
// WebRet changes after start-up.
#pragma once

#include "platform/types.h"

namespace fl {

extern Text AppPath;          // folder of the executable
extern Text ProductName;      // "Ostra-VKP", "Quend-Levy" or empty
extern Text FeatureName;      // column 2 of the setup record, as stored
extern Text FeatDlodsFile;    // AppPath & sep & "FeatDlods.txt"
extern Text DownloaderTitle;  // FeatureName & " Downloader"
extern Text DownloadExeName;  // "VKPDownload.exe" or "OtherDownload.exe"

// Hand-over slot between the web form and the retrieval flow: empty while no
// answer has come, kWebRetError on failure, otherwise the feature-list string.
extern Text WebRet;
inline constexpr char16_t kWebRetError[] = u"ERROR";

// The product with a short code ("VKP") and a download program of its own.
inline constexpr char16_t kOstraVkp[] = u"Ostra-VKP";

}  // namespace fl
