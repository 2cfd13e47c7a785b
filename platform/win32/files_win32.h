// What the Windows file layer names outside itself.
#pragma once

#include <string>

#include "platform/types.h"

namespace fl::win32 {

// The name of the mutex at which the writers of the folder holding filePath
// meet, in the namespace every session of the machine shares.
std::wstring FolderLockName(const Text& filePath);

}  // namespace fl::win32
