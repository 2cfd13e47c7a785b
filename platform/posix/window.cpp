// Windows on POSIX: GTK 3 through libFirstLoadGtk.so when there is a display,
// standard error when there is none.
#include "platform/window.h"
#include "platform/utf8.h"

#include <cstdlib>
#include <mutex>

#include "platform/app.h"
#include "platform/failure.h"
#include "platform/posix/events_posix.h"
#include "platform/posix/gtk_module.h"
#include "platform/posix/modules.h"
#include "platform/translation.h"

namespace fl {

namespace {

const FirstLoadGtkApi* gGui = nullptr;
bool gGuiTried = false;
posix::WindowSystemPump gPump;

bool HasDisplay() {
  const char* x = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x != nullptr && *x != '\0') || (wayland != nullptr && *wayland != '\0');
}

// The toolkit, or null when windows cannot go on screen. Tried once.
const FirstLoadGtkApi* Gui() {
  if (gGuiTried) return gGui;
  gGuiTried = true;
  if (!HasDisplay()) return nullptr;
  try {
    namespace module = posix::gtk;
    const FirstLoadGtkApi* gui = posix::LoadModuleApi<FirstLoadGtkApi>(
        module::kModuleFile, module::kEntrySymbol, module::kInterfaceVersion);
    if (gui->init(posix::EventWakeFd()) == 0) {
      WriteStandardError(u"FirstLoad: cannot open the display; going on without windows");
      return nullptr;
    }
    gui->setApplicationName(ToUtf8(AppTitle()).c_str());
    gGui = gui;
    gPump = {gui->pumpPending, gui->waitOnce};
    posix::SetWindowSystemPump(&gPump);
  } catch (const Failure& f) {
    // Without the toolkit the program carries on headless.
    WriteStandardError(u"FirstLoad: " + f.Description());
  }
  return gGui;
}

}  // namespace

struct FormWindow::Impl {
  WindowDesign design;
  void* native = nullptr;
  bool visible = false;
  FormWindow* owner = nullptr;

  static void OnClose(void* context) {
    auto* self = static_cast<Impl*>(context);
    if (self->owner->UserClosed) self->owner->UserClosed();
  }
};

FormWindow::FormWindow(WindowDesign design) : impl_(std::make_unique<Impl>()) {
  impl_->design = std::move(design);
  impl_->owner = this;
}

FormWindow::~FormWindow() {
  if (impl_->native != nullptr) gGui->destroyWindow(impl_->native);
}

void FormWindow::Show() {
  if (impl_->visible) return;
  impl_->visible = true;
  const FirstLoadGtkApi* gui = Gui();
  if (gui == nullptr) {
    WriteStandardError(impl_->design.labelText);
    return;
  }
  if (impl_->native == nullptr) {
    const WindowDesign& d = impl_->design;
    const std::string caption = ToUtf8(UserText(d.caption)), label = ToUtf8(UserText(d.labelText)),
                      font = ToUtf8(d.fontName);
    const FirstLoadGtkWindowDesign g{caption.c_str(), d.clientWidth, d.clientHeight, label.c_str(),
                                     d.labelLeft,     d.labelTop,    d.labelWidth,   d.labelHeight,
                                     font.c_str(),    d.fontPoints};
    impl_->native = gui->createWindow(&g, &Impl::OnClose, impl_.get());
  }
  gui->showWindow(impl_->native);
}

void FormWindow::Hide() {
  impl_->visible = false;
  if (impl_->native != nullptr) gGui->hideWindow(impl_->native);
}

bool FormWindow::Visible() const {
  return impl_->visible;
}

WindowHandle FormWindow::Handle() const {
  // The X window id once on screen; before that the object's own address
  // identifies it well enough as an owner.
  if (impl_->native != nullptr) return static_cast<WindowHandle>(gGui->nativeHandle(impl_->native));
  return reinterpret_cast<WindowHandle>(impl_.get());
}

FormWindow::LineExtents FormWindow::MeasureLine() const {
  LineExtents e;
  if (impl_->native == nullptr || !impl_->visible) return e;
  int extents[4] = {};
  gGui->measureLine(impl_->native, extents);
  e.textWidth = extents[0], e.textHeight = extents[1];
  e.labelWidth = extents[2], e.labelHeight = extents[3];
  return e;
}

int MsgBox(const Text& prompt, int /*buttons*/, const Text& title) {
  const FirstLoadGtkApi* gui = Gui();
  if (gui == nullptr) {
    WriteStandardError(title);
    WriteStandardError(prompt);
    return vbOK;
  }
  return gui->messageBox(ToUtf8(UserText(prompt)).c_str(), ToUtf8(UserText(title)).c_str());
}

void ShowAppTitle(const Text& title) {
  if (gGui != nullptr) gGui->setApplicationName(ToUtf8(title).c_str());
}

bool WindowsOnScreen() {
  return Gui() != nullptr;
}

}  // namespace fl
