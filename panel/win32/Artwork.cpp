#include "Artwork.h"

#include "WinHandles.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace Gdiplus {
using std::max;
using std::min;
} // namespace Gdiplus
#include <objidl.h>
#ifdef __GNUC__
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wextra"
#endif
#include <gdiplus.h>
#ifdef __GNUC__
#pragma GCC diagnostic pop
#endif

using namespace Gdiplus;

namespace artwork {
namespace {

constexpr float Pi = 3.14159265358979f;

const Color kTileFace(255, 215, 215, 215);
const Color kTileEdge(255, 160, 160, 160);
const Color kOff(255, 192, 192, 192);
const Color kOn(255, 0, 255, 0);
const Color kOutline(255, 96, 96, 96);
const Color kInk(255, 52, 64, 84);

RectF ToRectF(const RECT& r) { return RectF(float(r.left), float(r.top), float(r.right - r.left), float(r.bottom - r.top)); }

// An outlined shape inside r: its pen's last pixel falls on r's last row and column.
RectF ShapeRect(const RECT& r) {
  RectF f = ToRectF(r);
  f.Width -= 1;
  f.Height -= 1;
  return f;
}

void Prepare(Graphics& g) {
  g.SetSmoothingMode(SmoothingModeAntiAlias);
  g.SetPixelOffsetMode(PixelOffsetModeHalf);
}

void RoundedRect(GraphicsPath& path, RectF r, float radius) {
  const float d = radius * 2;
  path.AddArc(r.X, r.Y, d, d, 180, 90);
  path.AddArc(r.X + r.Width - d, r.Y, d, d, 270, 90);
  path.AddArc(r.X + r.Width - d, r.Y + r.Height - d, d, d, 0, 90);
  path.AddArc(r.X, r.Y + r.Height - d, d, d, 90, 90);
  path.CloseFigure();
}

// A picture is designed on a 40 x 40 grid and drawn scaled into r.
void OnGrid(Graphics& g, const RECT& r) {
  const RectF f = ToRectF(r);
  g.TranslateTransform(f.X, f.Y);
  g.ScaleTransform(f.Width / 40.0f, f.Height / 40.0f);
}

void DrawPulse(Graphics& g, const PointF* points, int count, const Color& color) {
  Pen pen(color, 2.6f);
  pen.SetLineJoin(LineJoinRound);
  pen.SetStartCap(LineCapRound);
  pen.SetEndCap(LineCapRound);
  g.DrawLines(&pen, points, count);
}

void Baseline(Graphics& g) {
  Pen axis(Color(255, 150, 150, 150), 1.0f);
  g.DrawLine(&axis, 4.0f, 27.0f, 36.0f, 27.0f);
}

void PaintPicture(Graphics& g, TPicture picture) {
  const Color blue(255, 30, 90, 170);
  switch (picture) {
  case TPicture::Off: { // a power sign
    Pen pen(Color(255, 90, 90, 90), 3.2f);
    pen.SetStartCap(LineCapRound);
    pen.SetEndCap(LineCapRound);
    g.DrawArc(&pen, 9.0f, 10.0f, 22.0f, 22.0f, -60.0f, 300.0f);
    g.DrawLine(&pen, 20.0f, 6.0f, 20.0f, 19.0f);
    break;
  }
  case TPicture::Mode1: { // a single pulse
    Baseline(g);
    const PointF p[] = {{4, 27}, {14, 27}, {14, 11}, {26, 11}, {26, 27}, {36, 27}};
    DrawPulse(g, p, 6, blue);
    break;
  }
  case TPicture::Mode2: { // a pulse of each polarity
    Pen axis(Color(255, 150, 150, 150), 1.0f);
    g.DrawLine(&axis, 4.0f, 20.0f, 36.0f, 20.0f);
    const PointF p[] = {{4, 20}, {11, 20}, {11, 9}, {20, 9}, {20, 31}, {29, 31}, {29, 20}, {36, 20}};
    DrawPulse(g, p, 8, Color(255, 150, 60, 160));
    break;
  }
  case TPicture::Mode3: { // a train of pulses
    Baseline(g);
    const PointF p[] = {{3, 27}, {7, 27}, {7, 12}, {12, 12}, {12, 27}, {17, 27}, {17, 12}, {22, 12},
                        {22, 27}, {27, 27}, {27, 12}, {32, 12}, {32, 27}, {37, 27}};
    DrawPulse(g, p, 14, Color(255, 200, 110, 20));
    break;
  }
  case TPicture::Indicator: { // a lit lamp with rays
    SolidBrush glow(Color(90, 255, 210, 40));
    g.FillEllipse(&glow, 8.0f, 6.0f, 24.0f, 24.0f);
    SolidBrush bulb(Color(255, 255, 200, 30));
    Pen rim(Color(255, 170, 120, 0), 1.4f);
    g.FillEllipse(&bulb, 12.0f, 10.0f, 16.0f, 16.0f);
    g.DrawEllipse(&rim, 12.0f, 10.0f, 16.0f, 16.0f);
    SolidBrush base(Color(255, 110, 110, 110));
    g.FillRectangle(&base, 16.0f, 27.0f, 8.0f, 6.0f);
    Pen ray(Color(255, 220, 160, 0), 1.8f);
    ray.SetStartCap(LineCapRound);
    ray.SetEndCap(LineCapRound);
    for (int i = 0; i < 8; ++i) {
      if (i == 2) continue; // no ray through the base
      const float a = (float(i) * 45.0f + 90.0f) * Pi / 180.0f;
      g.DrawLine(&ray, 20 + 12.5f * std::cos(a), 18 + 12.5f * std::sin(a), 20 + 17 * std::cos(a), 18 + 17 * std::sin(a));
    }
    break;
  }
  }
}

void PaintGlyph(Graphics& g, TGlyph glyph) {
  // Designed on a 16 x 16 grid.
  if (glyph == TGlyph::Ok) {
    Pen pen(Color(255, 20, 140, 40), 2.6f);
    pen.SetStartCap(LineCapRound);
    pen.SetEndCap(LineCapRound);
    pen.SetLineJoin(LineJoinRound);
    const PointF p[] = {{2.5f, 8.5f}, {6.3f, 12.3f}, {13.5f, 3.5f}};
    g.DrawLines(&pen, p, 3);
  } else {
    Pen pen(Color(255, 200, 30, 30), 2.6f);
    pen.SetStartCap(LineCapRound);
    pen.SetEndCap(LineCapRound);
    g.DrawLine(&pen, 3.5f, 3.5f, 12.5f, 12.5f);
    g.DrawLine(&pen, 12.5f, 3.5f, 3.5f, 12.5f);
  }
}

void AddGear(GraphicsPath& path, float cx, float cy, float rootRadius, float tipRadius, int teeth, float angle) {
  std::vector<PointF> points;
  const float step = 2 * Pi / float(teeth);
  for (int i = 0; i < teeth; ++i) {
    const float a = angle + step * float(i);
    // root, rising flank, tip, falling flank: a trapezoid tooth
    const float fractions[4] = {0.0f, 0.22f, 0.5f, 0.72f};
    const float radii[4] = {rootRadius, tipRadius, tipRadius, rootRadius};
    for (int k = 0; k < 4; ++k) {
      const float t = a + step * fractions[k];
      points.emplace_back(cx + radii[k] * std::cos(t), cy + radii[k] * std::sin(t));
    }
  }
  path.AddPolygon(points.data(), int(points.size()));
}

void PaintGear(Graphics& g, float cx, float cy, float radius, int teeth, float angle, const Color& face) {
  GraphicsPath path(FillModeAlternate);
  AddGear(path, cx, cy, radius * 0.82f, radius, teeth, angle);
  path.AddEllipse(cx - radius * 0.28f, cy - radius * 0.28f, radius * 0.56f, radius * 0.56f); // the hub hole
  SolidBrush brush(face);
  Pen edge(Color(255, 60, 70, 85), 0.7f);
  g.FillPath(&brush, &path);
  g.DrawPath(&edge, &path);
}

} // namespace

TGdiplusSession::TGdiplusSession() {
  GdiplusStartupInput input;
  if (GdiplusStartup(&fToken, &input, nullptr) != Ok) fToken = 0;
}

TGdiplusSession::~TGdiplusSession() {
  if (fToken) GdiplusShutdown(fToken);
}

void DrawTile(HDC dc, const RECT& r, float scale) {
  Graphics g(dc);
  Prepare(g);
  GraphicsPath path;
  RoundedRect(path, ShapeRect(r), 7.0f * scale);
  SolidBrush face(kTileFace);
  Pen edge(kTileEdge, std::max(1.0f, scale));
  g.FillPath(&face, &path);
  g.DrawPath(&edge, &path);
}

void DrawLamp(HDC dc, const RECT& r, bool lit, float scale) {
  Graphics g(dc);
  Prepare(g);
  const RectF f = ShapeRect(r);
  SolidBrush fill(lit ? kOn : kOff);
  g.FillEllipse(&fill, f);
  // A soft highlight so that a lamp reads as a lamp.
  SolidBrush shine(Color(lit ? 110 : 80, 255, 255, 255));
  g.FillEllipse(&shine, f.X + f.Width * 0.22f, f.Y + f.Height * 0.14f, f.Width * 0.36f, f.Height * 0.28f);
  Pen edge(kOutline, std::max(1.0f, scale));
  g.DrawEllipse(&edge, f);
}

void DrawBar(HDC dc, const RECT& r, bool lit, float scale) {
  Graphics g(dc);
  Prepare(g);
  const RectF f = ShapeRect(r);
  SolidBrush fill(lit ? kOn : kOff);
  Pen edge(kOutline, std::max(1.0f, scale));
  g.FillRectangle(&fill, f);
  g.DrawRectangle(&edge, f);
}

void DrawPicture(HDC dc, const RECT& r, TPicture picture) {
  Graphics g(dc);
  Prepare(g);
  OnGrid(g, r);
  PaintPicture(g, picture);
}

HICON MakeGlyphIcon(TGlyph glyph, int size) {
  BITMAPV5HEADER header{};
  header.bV5Size = sizeof header;
  header.bV5Width = size;
  header.bV5Height = -size;
  header.bV5Planes = 1;
  header.bV5BitCount = 32;
  header.bV5Compression = BI_BITFIELDS;
  header.bV5RedMask = 0x00FF0000;
  header.bV5GreenMask = 0x0000FF00;
  header.bV5BlueMask = 0x000000FF;
  header.bV5AlphaMask = 0xFF000000;
  void* bits = nullptr;
  HBITMAP color;
  {
    const win32::TWindowDC screen(nullptr);
    color = ::CreateDIBSection(screen.Get(), reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits, nullptr, 0);
  }
  if (!color) return nullptr;
  {
    Bitmap canvas(size, size, size * 4, PixelFormat32bppPARGB, static_cast<BYTE*>(bits));
    Graphics g(&canvas);
    Prepare(g);
    g.Clear(Color(0, 0, 0, 0));
    g.ScaleTransform(float(size) / 16.0f, float(size) / 16.0f);
    PaintGlyph(g, glyph);
  }
  HBITMAP mask = ::CreateBitmap(size, size, 1, 1, nullptr);
  ICONINFO info{};
  info.fIcon = TRUE;
  info.hbmMask = mask;
  info.hbmColor = color;
  HICON icon = ::CreateIconIndirect(&info);
  ::DeleteObject(mask);
  ::DeleteObject(color);
  return icon;
}

void DrawGears(HDC dc, const RECT& r, float angleDegrees, COLORREF background) {
  Graphics g(dc);
  Prepare(g);
  SolidBrush clear(Color(255, GetRValue(background), GetGValue(background), GetBValue(background)));
  g.FillRectangle(&clear, ToRectF(r));
  OnGrid(g, r); // designed on 40 x 40, drawn at the picture's 102 x 102
  const float a = angleDegrees * Pi / 180.0f;
  // A 12-tooth gear driving two 8-tooth gears, which turn 1.5 times as fast the other way.
  // Each small gear's phase puts a gap where a tooth of the large one meets it, whatever a.
  const float bigX = 14.0f, bigY = 20.0f, distance = 19.0f;
  const float bigStep = 2 * Pi / 12, smallStep = 2 * Pi / 8;
  PaintGear(g, bigX, bigY, 12.5f, 12, a, Color(255, 120, 140, 170));
  const struct { float direction; Color face; } smalls[] = {{-35.0f, Color(255, 200, 160, 70)},
                                                              {35.0f, Color(255, 150, 175, 120)}};
  for (const auto& s : smalls) {
    const float phi = s.direction * Pi / 180.0f;
    const float toothPhase = phi / bigStep - 0.36f; // a tooth's centre lies at 0.36 of its step
    const float offset = phi + Pi - smallStep * (0.86f - toothPhase); // a gap's centre at 0.86
    PaintGear(g, bigX + distance * std::cos(phi), bigY + distance * std::sin(phi), 8.6f, 8, -1.5f * a + offset, s.face);
  }
}

} // namespace artwork
