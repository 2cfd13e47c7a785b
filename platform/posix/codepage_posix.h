#pragma once

namespace fl::posix {

// The Windows system code page for a POSIX locale name ("de_DE.UTF-8",
// "ja_JP", "C", ...): the page Windows would choose for that language.
int CodePageForLocale(const char* locale);

}  // namespace fl::posix
