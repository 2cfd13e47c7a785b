// The form's window and the message box in plain Win32.
#include "platform/window.h"

#include <cmath>

#include "platform/win32/oserror.h"
#include "platform/win32/resource.h"

namespace fl {

namespace {

constexpr wchar_t kClassName[] = L"FirstLoadForm";
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;  // fixed size

void RegisterFormClass(WNDPROC proc) {
  static const bool registered = [proc] {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    // Absent from programs built without the resource, such as the tests.
    wc.hIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(FIRSTLOAD_IDI_DOWNARROW),
                                             IMAGE_ICON, 32, 32, LR_DEFAULTCOLOR));
    wc.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(FIRSTLOAD_IDI_DOWNARROW),
                                               IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClassName;
    if (RegisterClassExW(&wc) == 0) win32::ThrowLastError();
    return true;
  }();
  (void)registered;
}

}  // namespace

struct FormWindow::Impl {
  WindowDesign design;
  FormWindow* owner = nullptr;
  HWND hwnd = nullptr;
  HFONT font = nullptr;
  bool visible = false;

  // Loading a form creates its window, hidden; showing it comes after.
  HWND Create() {
    if (hwnd != nullptr) return hwnd;
    RegisterFormClass(&Proc);
    const WindowDesign& d = design;
    RECT frame{0, 0, d.clientWidth, d.clientHeight};
    AdjustWindowRectEx(&frame, kStyle, FALSE, 0);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int left = work.left + (work.right - work.left - width) / 2;
    const int top = work.top + (work.bottom - work.top - height) / 2;
    HWND created =
        CreateWindowExW(0, kClassName, win32::Wide(d.caption).c_str(), kStyle, left, top, width,
                        height, nullptr, nullptr, GetModuleHandleW(nullptr), this);
    if (created == nullptr) win32::ThrowLastError();
    hwnd = created;

    // The font's height in pixels at 96 dots per inch, negative for the
    // character height rather than the cell's.
    const int pixels = -static_cast<int>(std::lround(d.fontPoints * 96.0 / 72.0));
    font = CreateFontW(pixels, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_SWISS, win32::Wide(d.fontName).c_str());
    HWND label = CreateWindowExW(0, L"STATIC", win32::Wide(d.labelText).c_str(),
                                 WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, d.labelLeft,
                                 d.labelTop, d.labelWidth, d.labelHeight, hwnd, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    if (label != nullptr && font != nullptr) {
      SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
    return hwnd;
  }

  static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
      auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* impl = reinterpret_cast<Impl*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    switch (message) {
      case WM_CLOSE:
        // The owner decides when the window goes.
        if (impl != nullptr && impl->owner->UserClosed) {
          std::function<void()> handler = impl->owner->UserClosed;
          handler();
        }
        return 0;
      case WM_CTLCOLORSTATIC:
        SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
      default:
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
  }
};

FormWindow::FormWindow(WindowDesign design) : impl_(std::make_unique<Impl>()) {
  impl_->design = std::move(design);
  impl_->owner = this;
}

FormWindow::~FormWindow() {
  if (impl_->hwnd != nullptr) {
    SetWindowLongPtrW(impl_->hwnd, GWLP_USERDATA, 0);
    DestroyWindow(impl_->hwnd);
  }
  if (impl_->font != nullptr) DeleteObject(impl_->font);
}

void FormWindow::Show() {
  if (impl_->visible) return;
  ShowWindow(impl_->Create(), SW_SHOWNORMAL);
  UpdateWindow(impl_->hwnd);
  impl_->visible = true;
}

void FormWindow::Hide() {
  impl_->visible = false;
  if (impl_->hwnd != nullptr) ShowWindow(impl_->hwnd, SW_HIDE);
}

bool FormWindow::Visible() const {
  return impl_->visible;
}

WindowHandle FormWindow::Handle() const {
  return reinterpret_cast<WindowHandle>(impl_->Create());
}

// Owned by the thread's active window, as a form's message box is, so that
// the form stays behind it.
int MsgBox(const Text& prompt, int buttons, const Text& title) {
  return MessageBoxW(GetActiveWindow(), win32::Wide(prompt).c_str(), win32::Wide(title).c_str(),
                     static_cast<UINT>(buttons));
}

bool WindowsOnScreen() {
  return true;
}

}  // namespace fl
