// frmmain, the system's one window: a small "Connecting" notice that hosts the
// browser Myweb, which fetches the feature page, and the grid msfgFeatures,
// into which the retrieval flow loads the feature list. The form is created
// and loaded on first reference and can be unloaded and created again.
#pragma once

#include "platform/browser.h"
#include "platform/grid.h"
#include "platform/window.h"

namespace fl {

struct frmmainForm {
  frmmainForm();

  Text lblWait;              // the static notice
  FeatureGrid msfgFeatures;  // the feature list on its way to the file
  FeatureGrid gDown;         // kept for its settings; no code uses it
  FormWindow window;
  WebBrowser Myweb;
};

namespace frmmain {

// The loaded form; the first reference creates and loads it, hidden.
frmmainForm& Form();
bool Loaded();

// Shows the form without waiting, loading it first if needed.
void Show();
// The form, its browser and its grids are gone after this.
void Unload();
// The window handle; loads the form, hidden, if it is not loaded.
WindowHandle hWnd();

// Starts loading the feature page for the query CustomerDetails and returns
// at once; a browser event later hands the outcome over in WebRet.
void GetWebRetForFeatures(const Text& CustomerDetails);

// The feature web service: its scheme ("http" or "https"), its host with
// ":port" where one is given, and a certificate authority the build trusts
// besides the system's (only the tests' own builds name one).
Text FeatureServiceScheme();
Text FeatureServiceHost();
Text FeatureServiceCaFile();
// The vendor's minisign public keys that a fetched list must be signed with,
// separated by spaces; empty when the build checks no signature.
Text FeatureListKeys();
// How long its page may keep the browser waiting on the network.
http::Limits FeatureServiceLimits();

// Event handlers.
void Form_Load();
void Form_Unload();
void Myweb_DocumentComplete();
void Myweb_NavigateError();
void CheckListSignature();

}  // namespace frmmain

}  // namespace fl
