// The form's window and the message box in plain Win32.
#include "platform/window.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "platform/translation.h"
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

// The program's own top-level window: hidden, owning the form, and titled
// with the application title, which is how the task list names the program.
constexpr wchar_t kAppClassName[] = L"FirstLoadApplication";
HWND gAppWindow = nullptr;

// The window's DPI: its own where the system tells it (Windows 10 1607 on),
// the screen's otherwise.
UINT WindowDpi(HWND hwnd) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (getDpiForWindow != nullptr && hwnd != nullptr) {
    const UINT dpi = getDpiForWindow(hwnd);
    if (dpi != 0) return dpi;
  }
  HDC screen = GetDC(nullptr);
  const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
  if (screen != nullptr) ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

// The frame around a client area at a DPI, where the system can say.
void AdjustForDpi(RECT* frame, UINT dpi) {
  using AdjustFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
  static const auto adjustForDpi = reinterpret_cast<AdjustFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"user32.dll"), "AdjustWindowRectExForDpi")));
  if (adjustForDpi == nullptr || !adjustForDpi(frame, kStyle, FALSE, 0, dpi)) {
    AdjustWindowRectEx(frame, kStyle, FALSE, 0);
  }
}

}  // namespace

struct FormWindow::Impl {
  WindowDesign design;
  std::wstring line;  // the label's text, in the user's language
  FormWindow* owner = nullptr;
  HWND hwnd = nullptr;
  HWND label = nullptr;
  HFONT font = nullptr;
  bool visible = false;

  // Twips to pixels at the window's DPI.
  static int Px(int twips, UINT dpi) { return MulDiv(twips, static_cast<int>(dpi), 1440); }

  // Sizes the window, the label and the font for dpi. With no suggested
  // place the window is centred on the work area.
  void Layout(UINT dpi, const RECT* suggested) {
    const WindowDesign& d = design;
    // The character height of 9.75 points at this DPI, negative so that it
    // is the character's and not the cell's.
    HFONT sized = CreateFontW(
        -MulDiv(static_cast<int>(std::lround(d.fontPoints * 100)), static_cast<int>(dpi), 7200), 0,
        0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
        CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS,
        win32::Wide(d.fontName).c_str());
    // A translated line may be longer or taller than the English one the
    // form was drawn for: the label and the window grow by what it lacks;
    // a line that fits leaves the form as drawn.
    const SIZE text = Measure(sized);
    const int wider = std::max(0, static_cast<int>(text.cx) - Px(d.labelWidth, dpi));
    const int taller = std::max(0, static_cast<int>(text.cy) - Px(d.labelHeight, dpi));
    RECT frame{0, 0, Px(d.clientWidth, dpi) + wider, Px(d.clientHeight, dpi) + taller};
    AdjustForDpi(&frame, dpi);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    int left, top;
    if (suggested != nullptr) {
      left = suggested->left, top = suggested->top;
    } else {
      RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
      SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
      left = work.left + (work.right - work.left - width) / 2;
      top = work.top + (work.bottom - work.top - height) / 2;
    }
    SetWindowPos(hwnd, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);

    if (label != nullptr) {
      SetWindowPos(label, nullptr, Px(d.labelLeft, dpi), Px(d.labelTop, dpi),
                   Px(d.labelWidth, dpi) + wider, Px(d.labelHeight, dpi) + taller,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      if (sized != nullptr) SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(sized), TRUE);
    }
    if (font != nullptr) DeleteObject(font);
    font = sized;
  }

  // The line's size in pixels as the static control draws it with font.
  SIZE Measure(HFONT with) const {
    SIZE size{0, 0};
    HDC dc = GetDC(label != nullptr ? label : hwnd);
    if (dc == nullptr) return size;
    HGDIOBJ previous = SelectObject(dc, with != nullptr ? with : GetStockObject(DEFAULT_GUI_FONT));
    RECT r{0, 0, 0, 0};
    DrawTextW(dc, line.c_str(), static_cast<int>(line.size()), &r,
              DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX | DT_LEFT);
    size.cx = r.right - r.left, size.cy = r.bottom - r.top;
    SelectObject(dc, previous);
    ReleaseDC(label != nullptr ? label : hwnd, dc);
    return size;
  }

  // Loading a form creates its window, hidden; showing it comes after.
  HWND Create() {
    if (hwnd != nullptr) return hwnd;
    RegisterFormClass(&Proc);
    const WindowDesign& d = design;
    // Owned by the program's window, so the form keeps its taskbar button
    // only through WS_EX_APPWINDOW.
    HWND created =
        CreateWindowExW(WS_EX_APPWINDOW, kClassName, win32::Wide(UserText(d.caption)).c_str(),
                        kStyle, 0, 0, 0, 0, gAppWindow, nullptr, GetModuleHandleW(nullptr), this);
    if (created == nullptr) win32::ThrowLastError();
    hwnd = created;
    line = win32::Wide(UserText(d.labelText));
    label =
        CreateWindowExW(0, L"STATIC", line.c_str(), WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX,
                        0, 0, 0, 0, hwnd, nullptr, GetModuleHandleW(nullptr), nullptr);
    Layout(WindowDpi(hwnd), nullptr);
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
      case WM_DPICHANGED:
        // Moved to a display of another DPI: the system suggests the place.
        if (impl != nullptr && impl->hwnd == hwnd) {
          impl->Layout(HIWORD(wParam), reinterpret_cast<const RECT*>(lParam));
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

FormWindow::LineExtents FormWindow::MeasureLine() const {
  LineExtents e;
  if (impl_->label == nullptr || !impl_->visible) return e;
  const SIZE text = impl_->Measure(impl_->font);
  RECT r{};
  GetClientRect(impl_->label, &r);
  e.textWidth = text.cx, e.textHeight = text.cy;
  e.labelWidth = r.right, e.labelHeight = r.bottom;
  return e;
}

// Owned by the thread's active window, as a form's message box is, so that
// the form stays behind it.
int MsgBox(const Text& prompt, int buttons, const Text& title) {
  return MessageBoxW(GetActiveWindow(), win32::Wide(UserText(prompt)).c_str(),
                     win32::Wide(UserText(title)).c_str(), static_cast<UINT>(buttons));
}

bool WindowsOnScreen() {
  return true;
}

void ShowAppTitle(const Text& title) {
  if (gAppWindow != nullptr) {
    SetWindowTextW(gAppWindow, win32::Wide(title).c_str());
    return;
  }
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = instance;
  wc.lpszClassName = kAppClassName;
  RegisterClassExW(&wc);
  // Never shown; a window that cannot be made leaves the program untitled.
  gAppWindow =
      CreateWindowExW(0, kAppClassName, win32::Wide(title).c_str(), WS_POPUP | WS_CLIPSIBLINGS, 0,
                      0, 0, 0, nullptr, nullptr, instance, nullptr);
}

}  // namespace fl
