#pragma once

namespace fl::posix {

// Loads fileName from the executable's folder (once; modules stay loaded)
// and returns its symbol. Fails with the loader's message.
void* LoadModuleSymbol(const char* fileName, const char* symbol);

// Fails saying that fileName was built for another version of this program.
[[noreturn]] void FailStaleModule(const char* fileName);

// A module's table: its entry symbol is a function that takes the interface
// version the program was built for and returns the table, or null when the
// module was built for another.
template <class Api>
const Api* LoadModuleApi(const char* fileName, const char* entrySymbol, int version) {
  auto entry = reinterpret_cast<const Api* (*)(int)>(LoadModuleSymbol(fileName, entrySymbol));
  const Api* api = entry(version);
  if (api == nullptr) FailStaleModule(fileName);
  return api;
}

}  // namespace fl::posix
