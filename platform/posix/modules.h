#pragma once

namespace fl::posix {

// Loads fileName from the executable's folder (once; modules stay loaded)
// and returns its symbol. Fails with the loader's message.
void* LoadModuleSymbol(const char* fileName, const char* symbol);

}  // namespace fl::posix
