#include "PanelResources.h"

#include "Artwork.h"
#include "WideText.h"

#include <string>

RECT TPanelResources::Scale(const q417::layout::TDesignRect& design) const noexcept {
  const int left = Scale(design.x), top = Scale(design.y);
  return RECT{left, top, left + Scale(design.w), top + Scale(design.h)};
}

void TPanelResources::Rebuild(UINT dpi) {
  Dpi = dpi ? dpi : USER_DEFAULT_SCREEN_DPI;
  auto font = [&](int px, int weight) {
    return ::CreateFontW(-Scale(px), 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                         CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Tahoma");
  };
  Normal.Reset(font(11, FW_NORMAL));
  Bold.Reset(font(11, FW_BOLD));
  CaptionBold.Reset(font(16, FW_BOLD));
  NumberFormat = UserNumberFormat();
}

void TGlyphList::Rebuild(UINT dpi) {
  const int size = ::MulDiv(16, int(dpi ? dpi : USER_DEFAULT_SCREEN_DPI), USER_DEFAULT_SCREEN_DPI);
  Glyphs[0].Reset(artwork::MakeGlyphIcon(artwork::TGlyph::Ok, size));
  Glyphs[1].Reset(artwork::MakeGlyphIcon(artwork::TGlyph::Cancel, size));
}

q417::TNumberFormat UserNumberFormat() {
  auto info = [](LCTYPE type, const wchar_t* fallback) {
    wchar_t buffer[16] = {};
    const wchar_t* text = ::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, type, buffer, 16) > 0 ? buffer : fallback;
    return win32::ToU16(text);
  };
  return q417::TNumberFormat::FromWindows(info(LOCALE_SDECIMAL, L"."), info(LOCALE_STHOUSAND, L","),
                                          info(LOCALE_SGROUPING, L"3;0"));
}
