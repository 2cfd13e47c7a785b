// The page code both backends share: the encoding a browser would read a page
// in, and the parse into a document that the browser looks members up in.
#pragma once

#include <memory>
#include <string>

#include "platform/http/stack.h"

namespace fl::http {

// The page's text in UTF-8, read in the encoding a browser would pick.
std::string DecodePage(const std::string& body, const std::string& contentType);

// Throws std::runtime_error, saying why, for a page past the parser's bounds.
std::shared_ptr<const Node> ParsePage(const std::string& body, const std::string& contentType);

}  // namespace fl::http
