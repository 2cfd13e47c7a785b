#include "ModMain/ModMain.h"

namespace fl {

Text AppPath;
Text ProductName;
Text FeatureName;
Text FeatDlodsFile;
Text DownloaderTitle;
Text DownloadExeName;
Text WebRet;

}  // namespace fl
