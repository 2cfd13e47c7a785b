// How long a load may wait on the network before it fails. Plain numbers,
// so that they can cross into a module.
#pragma once

namespace fl::http {

struct Limits {
  int connectSeconds = 30;  // to have a connection
  int stallSeconds = 60;    // slower than a byte a second for this long
  // From the start of the load to the complete page, whatever the pace: a
  // server that drips just fast enough never holds the window for good.
  int deadlineSeconds = 120;
  // Of the deadline, what finding the desktop's proxy may take before the
  // load goes direct: a PAC script or a WPAD host may never answer.
  int discoverySeconds = 10;
};

}  // namespace fl::http
