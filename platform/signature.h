// The vendor's signature over a fetched feature list: a minisign signature
// file, checked against the public keys built in, before the list is stored.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace fl {

// Why the list may not be stored, or "" when signature (a minisign
// signature file's four lines) proves that list (its UTF-8 bytes) was signed
// with one of keys (minisign public keys, the RW... lines, separated by
// ";" or spaces) for the request query (its APPCODE and FeatureName, digit
// for digit), and has not expired by the local clock. Never names a key or
// signature bytes.
std::string ListSignatureProblem(std::string_view list, std::string_view signature,
                                 std::string_view keys, std::string_view query);

}  // namespace fl
