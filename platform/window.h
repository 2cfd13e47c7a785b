// The form's window and the message box. On a machine without a display the
// window and the message box fall back to standard error, so the program
// still runs without the GUI libraries.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/types.h"

namespace fl {

// How the form looks; positions and sizes in twips (1/1440 inch) of the
// client area, laid out in pixels at the display's DPI, so 15 twips are a
// pixel at 96 DPI and 10 at 144.
struct WindowDesign {
  Text caption;
  int clientWidth = 0;
  int clientHeight = 0;
  Text labelText;
  int labelLeft = 0;
  int labelTop = 0;
  int labelWidth = 0;
  int labelHeight = 0;
  Text fontName;
  double fontPoints = 0;
};

class FormWindow {
 public:
  explicit FormWindow(WindowDesign design);
  ~FormWindow();  // the toolkit window, if any, goes with it
  FormWindow(const FormWindow&) = delete;
  FormWindow& operator=(const FormWindow&) = delete;

  // Puts the window on screen without waiting.
  void Show();
  void Hide();
  bool Visible() const;
  // A handle that identifies the window as an owner. Needs no toolkit window
  // while the form is not shown.
  WindowHandle Handle() const;

  // The line as the toolkit lays it out in the label's font, and the label's
  // size, in pixels; zeros while the window is not on screen.
  struct LineExtents {
    int textWidth = 0, textHeight = 0, labelWidth = 0, labelHeight = 0;
  };
  LineExtents MeasureLine() const;

  // Raised on the user-interface thread when the user closes the window. The
  // window stays until the owner destroys this object.
  std::function<void()> UserClosed;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The message box flag for the information icon.
inline constexpr int vbInformation = 64;
inline constexpr int vbOK = 1;

// A modal message box with one OK button; returns the button pressed. On
// screen, the window's texts and the box's are in the user's language
// (platform/translation.h); on standard error they stay as given.
int MsgBox(const Text& prompt, int buttons, const Text& title);

// True when windows go to a real display.
bool WindowsOnScreen();

// Hands the application title to the window system, which names the running
// program with it: on Windows the program's hidden top-level owner window,
// as the task list shows it; with GTK the GLib program and application name
// (once the toolkit is loaded). SetAppTitle calls it.
void ShowAppTitle(const Text& title);

}  // namespace fl
