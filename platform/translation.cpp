#include "platform/translation.h"

#include "platform/translation_os.h"

namespace fl {

namespace {

// The failure message as the catalogues hold it: one template, with "%s"
// where the feature's name goes.
constexpr char16_t kMessageHead[] = u"Could not connect to Zelvan's Website to download '";
constexpr char16_t kMessageTail[] = u"'. Please check your Internet connection and try again.";
constexpr char16_t kSlot[] = u"%s";

}  // namespace

Text UserText(const Text& english) {
  const Text head = kMessageHead, tail = kMessageTail;
  if (english.size() < head.size() + tail.size() || english.compare(0, head.size(), head) != 0 ||
      english.compare(english.size() - tail.size(), tail.size(), tail) != 0) {
    return CatalogueText(english);
  }
  const Text feature = english.substr(head.size(), english.size() - head.size() - tail.size());
  Text translated = CatalogueText(head + kSlot + tail);
  // The name is put in once and never read as part of the template.
  const size_t slot = translated.find(kSlot);
  if (slot == Text::npos) return english;
  return translated.replace(slot, Text(kSlot).size(), feature);
}

}  // namespace fl
