#include "platform/signature.h"

#include <sodium.h>

#include <array>
#include <chrono>
#include <cstring>
#include <optional>
#include <vector>

namespace fl {

namespace {

constexpr std::size_t kKeyIdBytes = 8;

struct PublicKey {
  std::array<unsigned char, kKeyIdBytes> id;
  std::array<unsigned char, crypto_sign_PUBLICKEYBYTES> key;
};

std::optional<std::vector<unsigned char>> Base64(std::string_view text) {
  std::vector<unsigned char> bytes(text.size());
  std::size_t length = 0;
  const char* end = nullptr;
  if (sodium_base642bin(bytes.data(), bytes.size(), text.data(), text.size(), nullptr, &length,
                        &end, sodium_base64_VARIANT_ORIGINAL) != 0 ||
      end != text.data() + text.size()) {
    return std::nullopt;
  }
  bytes.resize(length);
  return bytes;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

// The built-in keys; one that is not a minisign public key is left out.
std::vector<PublicKey> Keys(std::string_view keys) {
  std::vector<PublicKey> out;
  while (!keys.empty()) {
    const std::size_t gap = keys.find_first_of("; \t");
    const std::string_view one = keys.substr(0, gap);
    keys.remove_prefix(gap == std::string_view::npos ? keys.size() : gap + 1);
    if (one.empty()) continue;
    auto bytes = Base64(one);
    if (!bytes || bytes->size() != 2 + kKeyIdBytes + crypto_sign_PUBLICKEYBYTES ||
        std::memcmp(bytes->data(), "Ed", 2) != 0) {
      continue;
    }
    PublicKey key;
    std::memcpy(key.id.data(), bytes->data() + 2, kKeyIdBytes);
    std::memcpy(key.key.data(), bytes->data() + 2 + kKeyIdBytes, key.key.size());
    out.push_back(key);
  }
  return out;
}

// The value of name= in a query such as "&APPCODE=12&FeatureName=3".
std::string_view QueryValue(std::string_view query, std::string_view name) {
  for (std::size_t at = 0; at <= query.size();) {
    std::size_t end = query.find('&', at);
    if (end == std::string_view::npos) end = query.size();
    const std::string_view pair = query.substr(at, end - at);
    if (pair.size() > name.size() && pair.substr(0, name.size()) == name &&
        pair[name.size()] == '=') {
      return pair.substr(name.size() + 1);
    }
    at = end + 1;
  }
  return {};
}

bool IsDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// "FirstLoad APPCODE=<digits> FeatureName=<digits> expires=<unix time>".
struct Trusted {
  std::string_view appcode, feature;
  std::int64_t expires = 0;
};
std::optional<Trusted> ParseTrusted(std::string_view comment) {
  Trusted t;
  const std::string_view fields[] = {"FirstLoad ", "APPCODE=", " FeatureName=", " expires="};
  std::string_view* values[] = {nullptr, &t.appcode, &t.feature, nullptr};
  std::string_view expires;
  for (int i = 0; i < 4; ++i) {
    if (comment.substr(0, fields[i].size()) != fields[i]) return std::nullopt;
    comment.remove_prefix(fields[i].size());
    if (i == 0) continue;
    std::size_t end = comment.find(' ');
    if (end == std::string_view::npos) end = comment.size();
    *(i == 3 ? &expires : values[i]) = comment.substr(0, end);
    comment.remove_prefix(end);
  }
  if (!comment.empty() || !IsDigits(t.appcode) || !IsDigits(t.feature) || !IsDigits(expires) ||
      expires.size() > 18) {
    return std::nullopt;
  }
  for (char c : expires) t.expires = t.expires * 10 + (c - '0');
  return t;
}

}  // namespace

std::string ListSignatureProblem(std::string_view list, std::string_view signature,
                                 std::string_view keys, std::string_view query) {
  if (sodium_init() < 0) return "the signature check could not start";
  if (Trim(signature).empty()) return "the page carries no signature (txtsig)";
  std::vector<std::string_view> lines;
  while (!signature.empty()) {
    const std::size_t end = signature.find('\n');
    lines.push_back(Trim(signature.substr(0, end)));
    signature.remove_prefix(end == std::string_view::npos ? signature.size() : end + 1);
  }
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  constexpr std::string_view kUntrusted = "untrusted comment:", kTrusted = "trusted comment: ";
  if (lines.size() != 4 || lines[0].substr(0, kUntrusted.size()) != kUntrusted ||
      lines[2].substr(0, kTrusted.size()) != kTrusted) {
    return "the signature is not a minisign signature file";
  }
  const auto sig = Base64(lines[1]);
  const auto global = Base64(lines[3]);
  if (!sig || sig->size() != 2 + kKeyIdBytes + crypto_sign_BYTES || !global ||
      global->size() != crypto_sign_BYTES) {
    return "the signature is damaged";
  }
  const PublicKey* key = nullptr;
  const std::vector<PublicKey> trusted = Keys(keys);
  for (const PublicKey& k : trusted) {
    if (std::memcmp(k.id.data(), sig->data() + 2, kKeyIdBytes) == 0) key = &k;
  }
  if (key == nullptr) return "the list is signed with a key this build does not trust";
  if (std::memcmp(sig->data(), "ED", 2) != 0) {
    return "the signature is not of minisign's pre-hashed kind";
  }
  const unsigned char* signatureBytes = sig->data() + 2 + kKeyIdBytes;
  std::array<unsigned char, crypto_generichash_BYTES_MAX> digest;
  crypto_generichash(digest.data(), digest.size(),
                     reinterpret_cast<const unsigned char*>(list.data()), list.size(), nullptr, 0);
  if (crypto_sign_verify_detached(signatureBytes, digest.data(), digest.size(), key->key.data()) !=
      0) {
    return "the list does not match its signature";
  }
  const std::string_view comment = lines[2].substr(kTrusted.size());
  std::vector<unsigned char> signedComment(signatureBytes, signatureBytes + crypto_sign_BYTES);
  signedComment.insert(signedComment.end(), comment.begin(), comment.end());
  if (crypto_sign_verify_detached(global->data(), signedComment.data(), signedComment.size(),
                                  key->key.data()) != 0) {
    return "the signature's trusted comment does not match it";
  }
  const auto t = ParseTrusted(comment);
  if (!t) return "the trusted comment is not FirstLoad's";
  if (t->appcode != QueryValue(query, "APPCODE") ||
      t->feature != QueryValue(query, "FeatureName")) {
    return "the list was signed for another request";
  }
  const std::int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
  if (t->expires <= now) return "the list's signature has expired";
  return "";
}

}  // namespace fl
