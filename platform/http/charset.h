// What each backend brings to the page code: converting the bytes of a named
// encoding with the converters its OS has.
#pragma once

#include <string>
#include <string_view>

namespace fl::http {

// The name the backend converts the encoding labelled label by (trimmed,
// lower case, letters, digits and "-_.:" only), or "" when a browser would
// ignore the label. "UTF-8", "UTF-16LE", "UTF-16BE" and "windows-1252" need
// no lookup.
std::string EncodingForLabel(const std::string& label);

// Bytes in encoding as UTF-8. Undecodable bytes become U+FFFD and decoding
// goes on, as in browsers; the holes of the Windows code pages become the C1
// controls of the same value.
std::string ConvertToUtf8(std::string_view bytes, const std::string& encoding);

}  // namespace fl::http
