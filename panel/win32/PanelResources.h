// What every device panel and the waiting display of one main window share at the window's
// current DPI and locale: fonts, the number format and the OK and Cancel glyphs.
#pragma once

#include "DelayField.h"
#include "PanelLayout.h"
#include "WinHandles.h"

#include <windows.h>

struct TPanelResources {
  UINT Dpi = USER_DEFAULT_SCREEN_DPI;
  win32::TFont Normal;      // Tahoma 11 px
  win32::TFont Bold;        // Tahoma 11 px bold
  win32::TFont CaptionBold; // Tahoma 16 px bold, the channel digits
  q417::TNumberFormat NumberFormat;

  void Rebuild(UINT dpi);
  int Scale(int designPixels) const noexcept { return ::MulDiv(designPixels, int(Dpi), USER_DEFAULT_SCREEN_DPI); }
  RECT Scale(const q417::layout::TDesignRect& design) const noexcept;
};

// The image list handed to every panel: glyph 0 is OK, glyph 1 is Cancel (16 px at 96 DPI).
struct TGlyphList {
  win32::TIcon Glyphs[2];
  void Rebuild(UINT dpi);
};

// The user's decimal separator, grouping separator and grouping.
q417::TNumberFormat UserNumberFormat();
