// Windows on POSIX: GTK 3 through libFirstLoadGtk.so when there is a display,
// standard error when there is none.
#include "platform/window.h"

#include <cstdlib>
#include <mutex>

#include "platform/app.h"
#include "platform/failure.h"
#include "platform/posix/events_posix.h"
#include "platform/posix/gui_module.h"
#include "platform/posix/modules.h"

namespace fl {

namespace {

posix::GuiModule* gGui = nullptr;
bool gGuiTried = false;

void PumpPending() {
  gGui->PumpPending();
}
void WaitOnce() {
  gGui->WaitOnce();
}
const posix::WindowSystemPump kPump{&PumpPending, &WaitOnce};

bool HasDisplay() {
  const char* x = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x != nullptr && *x != '\0') || (wayland != nullptr && *wayland != '\0');
}

// The toolkit, or null when windows cannot go on screen. Tried once.
posix::GuiModule* Gui() {
  if (gGuiTried) return gGui;
  gGuiTried = true;
  if (!HasDisplay()) return nullptr;
  try {
    auto factory = reinterpret_cast<posix::GuiModule* (*)()>(
        posix::LoadModuleSymbol("libFirstLoadGtk.so", "FirstLoadGuiModule"));
    posix::GuiModule* gui = factory();
    if (gui == nullptr || !gui->Init(posix::EventWakeFd())) {
      WriteStandardError(u"FirstLoad: cannot open the display; going on without windows");
      return nullptr;
    }
    gui->SetApplicationName(ToUtf8(AppTitle()));
    gGui = gui;
    posix::SetWindowSystemPump(&kPump);
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
  if (impl_->native != nullptr) gGui->DestroyWindow(impl_->native);
}

void FormWindow::Show() {
  if (impl_->visible) return;
  impl_->visible = true;
  posix::GuiModule* gui = Gui();
  if (gui == nullptr) {
    WriteStandardError(impl_->design.labelText);
    return;
  }
  if (impl_->native == nullptr) {
    const WindowDesign& d = impl_->design;
    posix::GuiWindowDesign g{ToUtf8(d.caption),  d.clientWidth, d.clientHeight, ToUtf8(d.labelText),
                             d.labelLeft,        d.labelTop,    d.labelWidth,   d.labelHeight,
                             ToUtf8(d.fontName), d.fontPoints};
    impl_->native = gui->CreateWindow(g, &Impl::OnClose, impl_.get());
  }
  gui->ShowWindow(impl_->native);
}

void FormWindow::Hide() {
  impl_->visible = false;
  if (impl_->native != nullptr) gGui->HideWindow(impl_->native);
}

bool FormWindow::Visible() const {
  return impl_->visible;
}

WindowHandle FormWindow::Handle() const {
  // The X window id once on screen; before that the object's own address
  // identifies it well enough as an owner.
  if (impl_->native != nullptr) return static_cast<WindowHandle>(gGui->NativeHandle(impl_->native));
  return reinterpret_cast<WindowHandle>(impl_.get());
}

int MsgBox(const Text& prompt, int /*buttons*/, const Text& title) {
  posix::GuiModule* gui = Gui();
  if (gui == nullptr) {
    WriteStandardError(title);
    WriteStandardError(prompt);
    return vbOK;
  }
  return gui->MessageBox(ToUtf8(prompt), ToUtf8(title));
}

bool WindowsOnScreen() {
  return Gui() != nullptr;
}

}  // namespace fl
