// The control panel's program entry: common controls, the main window, the message loop.
#include "FQ417MainU.h"

#include <commctrl.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  INITCOMMONCONTROLSEX icc{};
  icc.dwSize = sizeof icc;
  icc.dwICC = ICC_BAR_CLASSES | ICC_STANDARD_CLASSES;
  ::InitCommonControlsEx(&icc);
  std::unique_ptr<TForm1> form;
  try {
    form = TForm1::Create(instance);
  } catch (...) {
  }
  if (!form) return 1;
  ::ShowWindow(form->Handle(), show);
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  return 0;
}
