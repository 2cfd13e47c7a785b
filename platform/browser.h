// The web-browser control: loads one page at a time over HTTP and raises
// DocumentComplete or NavigateError on the user-interface thread (through the
// event queue), and lets the program look up named members of the loaded
// page the way a browser's document object does.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/http/limits.h"
#include "platform/types.h"

namespace fl {

// Navigation flags of the control.
inline constexpr std::int32_t navNoReadFromCache = 4;
inline constexpr std::int32_t navNoWriteToCache = 8;

// A node of the loaded document reached by named lookup: the document itself,
// a form, or a form control. Member and Property fail (throw Failure) when the
// member is missing or ambiguous.
class HtmlNode {
 public:
  virtual ~HtmlNode() = default;
  // document.Member("Form1") is the form named (or, failing that, with id)
  // Form1; form.Member("txtvalue") is its control named or with id txtvalue.
  virtual std::shared_ptr<HtmlNode> Member(const Text& name) const = 0;
  // control.Property("value"): the control's current value as text.
  virtual Text Property(const Text& name) const = 0;
};

class WebBrowser {
 public:
  WebBrowser();
  ~WebBrowser();  // cancels any navigation under way
  WebBrowser(const WebBrowser&) = delete;
  WebBrowser& operator=(const WebBrowser&) = delete;

  // A PEM file of certificates trusted besides the system's, for a service
  // whose authority is the tests' own; empty for none. Where the platform
  // cannot take one (WinINet), only the system's count.
  Text TrustedCaFile;

  // How long a navigation may wait on the network before it fails.
  http::Limits Limits;

  // Handlers, run on the user-interface thread inside DoEvents.
  std::function<void()> DocumentComplete;
  std::function<void()> NavigateError;

  // Starts loading address and returns at once. Fails (throws) when the
  // navigation cannot even start, for instance when the HTTP stack cannot be
  // loaded; no event follows then.
  void Navigate(const Text& address, std::int32_t flags);

  // Cancels the navigation under way; its events are not raised.
  void Stop();

  // True while a navigation is under way or its events are still queued.
  bool Busy() const;

  // The address of the last navigation.
  Text LocationURL() const;

  // Why the last navigation failed, for a person to read; empty unless
  // NavigateError was raised for it.
  Text FailureReason() const;

  // The document loaded at the top level; fails when none is.
  std::shared_ptr<HtmlNode> Document() const;

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

}  // namespace fl
