#include "platform/clock.h"

#include "platform/win32/oserror.h"

namespace fl {

Text NowText() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  wchar_t date[128], time[128];
  int n = GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &now, nullptr, date, 128);
  if (n <= 0) win32::ThrowLastError();
  Text text = win32::FromWide(date, static_cast<size_t>(n - 1));
  if (now.wHour != 0 || now.wMinute != 0 || now.wSecond != 0) {
    n = GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &now, nullptr, time, 128);
    if (n <= 0) win32::ThrowLastError();
    text += u' ';
    text += win32::FromWide(time, static_cast<size_t>(n - 1));
  }
  return text;
}

}  // namespace fl
