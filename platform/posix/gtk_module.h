// The interface of libFirstLoadGtk.so, the window-system module. It is loaded
// only when a window or message box is needed, so that runs which show
// nothing never load the toolkit. Both sides are built by the same compiler.
#pragma once

#include <string>

namespace fl::posix {

struct GuiWindowDesign {
  std::string caption;  // UTF-8 throughout
  int clientWidth, clientHeight;
  std::string labelText;
  int labelLeft, labelTop, labelWidth, labelHeight;
  std::string fontName;
  double fontPoints;
};

class GuiModule {
 public:
  // Opens the display; false when there is none. wakeFd is the event
  // queue's descriptor, watched together with the display.
  virtual bool Init(int wakeFd) = 0;
  virtual void SetApplicationName(const std::string& name) = 0;

  virtual void* CreateWindow(const GuiWindowDesign& design, void (*onClose)(void*),
                             void* context) = 0;
  virtual void ShowWindow(void* window) = 0;
  virtual void HideWindow(void* window) = 0;
  virtual void DestroyWindow(void* window) = 0;
  virtual unsigned long NativeHandle(void* window) = 0;

  virtual int MessageBox(const std::string& text, const std::string& title) = 0;

  virtual void PumpPending() = 0;
  virtual void WaitOnce() = 0;

 protected:
  ~GuiModule() = default;
};

}  // namespace fl::posix

extern "C" fl::posix::GuiModule* FirstLoadGuiModule();
