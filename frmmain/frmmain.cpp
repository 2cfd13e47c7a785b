#include "frmmain/frmmain.h"

#include <memory>

#include "ModMain/ModMain.h"
#include "ModMain/errorlog/Guarded.h"
#include "ModMain/errorlog/LogNetError.h"
#include "platform/app.h"
#include "platform/events.h"
#include "platform/signature.h"
#include "platform/utf8.h"

namespace fl {

namespace {

std::unique_ptr<frmmainForm> gForm;
Text gQuery;  // the query of the page asked for, which its signature names

WindowDesign Design() {
  WindowDesign d;
  d.caption = u"Zelvan's Downloader";
  d.clientWidth = 5820;
  d.clientHeight = 630;
  d.labelText = u"Connecting to Zelvan's website. Please Wait......";
  d.labelLeft = 240;
  d.labelTop = 120;
  d.labelWidth = 4380;
  d.labelHeight = 240;
  d.fontName = u"Arial";
  d.fontPoints = 9.75;
  return d;
}

}  // namespace

frmmainForm::frmmainForm() : lblWait(Design().labelText), window(Design()) {
  Myweb.DocumentComplete = [] { frmmain::Myweb_DocumentComplete(); };
  Myweb.NavigateError = [] { frmmain::Myweb_NavigateError(); };
  window.UserClosed = [] { frmmain::Form_Unload(); };
  Myweb.TrustedCaFile = frmmain::FeatureServiceCaFile();
  Myweb.Limits = frmmain::FeatureServiceLimits();
}

namespace frmmain {

frmmainForm& Form() {
  if (!gForm) {
    gForm = std::make_unique<frmmainForm>();
    Form_Load();
  }
  return *gForm;
}

bool Loaded() {
  return gForm != nullptr;
}

void Show() {
  Form().window.Show();
}

void Unload() {
  gForm.reset();
}

WindowHandle hWnd() {
  return Form().window.Handle();
}

void GetWebRetForFeatures(const Text& CustomerDetails) {
  Guarded(u"GetWebRetForFeatures", [&] {
    gQuery = CustomerDetails;
    const Text address = FeatureServiceScheme() + u"://" + FeatureServiceHost() +
                         u"/Features.aspx?" + CustomerDetails;
    Form().Myweb.Navigate(address, navNoReadFromCache | navNoWriteToCache);
  });
}

void Form_Load() {
  Guarded(u"Form_Load", [] {});
}

// The user closed the window while it waits: the page will not be wanted, so
// its navigation is cancelled and the wait ends as after a failed one.
void Form_Unload() {
  if (!gForm) return;
  gForm->Myweb.Stop();
  if (WebRet.empty()) WebRet = kWebRetError;
  gForm->window.Hide();
  // The form cannot be destroyed from inside its own window's event.
  PostEvent([] { Unload(); });
}

void Myweb_DocumentComplete() {
  // Each failing step is skipped and nothing is logged: any page without the
  // field ends as "ERROR".
  if (WebRet == kWebRetError) return;
  Text text;
  try {
    text = Form().Myweb.Document()->Member(u"Form1")->Member(u"txtvalue")->Property(u"value");
  } catch (...) {
    text.clear();
  }
  WebRet = text.empty() ? kWebRetError : text;
  if (WebRet != kWebRetError && !FeatureListKeys().empty()) CheckListSignature();
}

// A build with the vendor's keys stores a list only with their signature
// for this request; a refusal says which check failed, never the bytes.
void CheckListSignature() {
  Text signature;
  try {
    signature = Form().Myweb.Document()->Member(u"Form1")->Member(u"txtsig")->Property(u"value");
  } catch (...) {
    signature.clear();
  }
  const std::string problem = ListSignatureProblem(ToUtf8(WebRet), ToUtf8(signature),
                                                   ToUtf8(FeatureListKeys()), ToUtf8(gQuery));
  if (problem.empty()) return;
  WebRet = kWebRetError;
  const Text why = FromUtf8(problem);
  WriteStandardError(u"FirstLoad: the feature list could not be fetched: " + why + u" from " +
                     Form().Myweb.LocationURL());
  LogNetError(u"the feature list was refused: " + why, u"Myweb_DocumentComplete");
}

void Myweb_NavigateError() {
  Guarded(u"Myweb_NavigateError", [] {
    WebRet = kWebRetError;
    // The log keeps no line for a failed navigation; a person or a support
    // script at a terminal still learns why.
    if (!Loaded()) return;
    const WebBrowser& web = Form().Myweb;
    if (!web.FailureReason().empty()) {
      WriteStandardError(u"FirstLoad: the feature list could not be fetched: " +
                         web.FailureReason() + u" from " + web.LocationURL());
    }
  });
}

}  // namespace frmmain

}  // namespace fl
