#pragma once

#include <cstdint>

#include "platform/types.h"

namespace fl {

// Starts the product's download program from the Update folder with the
// product and the feature, unless a process of that name runs already.
void DownloadExe();

// True (-1) when a running process carries the program's file name E, or the
// full path F & separator & E; both compared without regard to case.
VBool FrmInternet_IsExeRunning(const Text& E, const Text& F);

// Starts the download program with the parameter string P through the shell;
// returns the shell's value (above 32 on success).
std::int32_t RunDownloadExe(const Text& P);

}  // namespace fl
