// libFirstLoadGtk.so, the window-system module. It is loaded only when a
// window or message box is needed, so that runs which show nothing never load
// the toolkit. Its interface is plain C: no C++ object crosses between the
// program's runtime and the module's.
#pragma once

extern "C" {

// The form as the module draws it; texts in UTF-8, sizes in twips, laid out
// at the screen's resolution.
struct FirstLoadGtkWindowDesign {
  const char* caption;
  int clientWidth, clientHeight;
  const char* labelText;
  int labelLeft, labelTop, labelWidth, labelHeight;
  const char* fontName;
  double fontPoints;
};

struct FirstLoadGtkApi {
  // Opens the display; 0 when there is none. wakeFd is the event queue's
  // descriptor, watched together with the display.
  int (*init)(int wakeFd);
  void (*setApplicationName)(const char* name);

  void* (*createWindow)(const FirstLoadGtkWindowDesign* design, void (*onClose)(void*),
                        void* context);
  void (*showWindow)(void* window);
  void (*hideWindow)(void* window);
  void (*destroyWindow)(void* window);
  unsigned long (*nativeHandle)(void* window);

  // A modal box with the information icon and an OK button; returns 1 (OK).
  int (*messageBox)(const char* text, const char* title);

  void (*pumpPending)(void);
  void (*waitOnce)(void);

  // The window's line as its label lays it out, and the label's size, in
  // pixels: width and height of each.
  void (*measureLine)(void* window, int* extents);
};

}  // extern "C"

namespace fl::posix::gtk {

inline constexpr char kModuleFile[] = "libFirstLoadGtk.so";
// The entry: the table, for the version the program was built for.
inline constexpr char kEntrySymbol[] = "FirstLoadGtkModule";
// Bumped whenever FirstLoadGtkApi changes shape, so that a stale module is
// refused rather than called through the wrong table.
inline constexpr int kInterfaceVersion = 3;

}  // namespace fl::posix::gtk
