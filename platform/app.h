// The application object: where the running program lives and what it is called.
#pragma once

#include <vector>

#include "platform/types.h"

namespace fl {

// The separator that joins a folder and a name in this platform's paths.
extern const Text kPathSep;

// Folder of the running executable, without a trailing separator except at a
// root, where the platform's own value ends in one.
Text AppFolder();

// File name of the running executable without its extension.
Text AppExeName();

// Writes line and a line break to standard error, for a person or a script
// at a terminal; nothing happens where there is none or the write fails.
void WriteStandardError(const Text& line);

// For command-line tools: the program's arguments as text (the first is the
// program), a text to standard output as the platform's terminals read it,
// and a path made absolute against the current folder.
std::vector<Text> ProgramArguments(int argc, char** argv);
void WriteStandardOutput(const Text& text);
Text FullPath(const Text& path);

// The value of the environment variable name; empty when it is not set.
Text EnvironmentValue(const Text& name);

// The name under which the platform lists the running application.
void SetAppTitle(const Text& title);
Text AppTitle();

}  // namespace fl
