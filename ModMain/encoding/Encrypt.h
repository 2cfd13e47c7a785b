#pragma once

#include <cstdint>

#include "platform/types.h"

namespace fl {

// The record cipher: a fixed substitution of the 95 printable ASCII
// characters. Direction 0 enciphers, any other value deciphers; characters
// outside the printable range pass unchanged.
Text Encrypt(const Text& text, const std::int16_t& direction);

// Digit encoding of query values: each character's ANSI code, at least three
// digits, reversed. Direction 0 encodes, any other value decodes.
Text Encryptmethod2(const Text& text, const std::uint8_t& direction);

}  // namespace fl
