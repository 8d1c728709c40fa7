// The control panel's artwork, drawn by the program at any scale: tiles, lamps and bars, the
// mode and indicator pictures, the OK and Cancel glyphs and the waiting gears. Anti-aliased
// through GDI+; every size is given in device pixels by the caller.
#pragma once

#include <windows.h>

#include <cstdint>

namespace artwork {

// GDI+ for the life of the object (nested sessions are counted by GDI+ itself).
class TGdiplusSession {
public:
  TGdiplusSession();
  ~TGdiplusSession();
  TGdiplusSession(const TGdiplusSession&) = delete;
  TGdiplusSession& operator=(const TGdiplusSession&) = delete;

private:
  ULONG_PTR fToken = 0;
};

enum class TPicture { Off, Mode1, Mode2, Mode3, Indicator };
enum class TGlyph { Ok, Cancel };

// The elements of a device panel, in device pixels.
void DrawTile(HDC dc, const RECT& r, float scale);
void DrawLamp(HDC dc, const RECT& r, bool lit, float scale);
void DrawBar(HDC dc, const RECT& r, bool lit, float scale);
void DrawPicture(HDC dc, const RECT& r, TPicture picture);

// An icon of size x size pixels with alpha, for an image button. The caller destroys it.
HICON MakeGlyphIcon(TGlyph glyph, int size);

// Three meshing gears, turned by angleDegrees, filling r on the given background.
void DrawGears(HDC dc, const RECT& r, float angleDegrees, COLORREF background);

} // namespace artwork
