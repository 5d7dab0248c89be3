// The least drawing surface the library needs: a pen with a colour, style and width, and straight
// lines drawn with MoveTo/LineTo. Grids hand their own canvas to the library's drawing helpers.
#pragma once

#include <cstdint>

#include "platform/Forms.h"

// System colours of 3-D edges.
inline constexpr TColor clBtnShadow = clSystemColor | 16;
inline constexpr TColor clBtnHighlight = clSystemColor | 20;

enum TPenStyle { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear };

struct TPoint {
  int32_t X = 0;
  int32_t Y = 0;
  friend bool operator==(const TPoint&, const TPoint&) = default;
};

struct TRect {
  int32_t Left = 0;
  int32_t Top = 0;
  int32_t Right = 0;
  int32_t Bottom = 0;
};

// A surface to draw lines on. LineTo draws from the pen position to (X, Y), leaving out the end
// point, and moves the pen there.
class TCanvas {
public:
  virtual ~TCanvas() = default;

  virtual void SetPenColor(TColor Value) = 0;
  virtual void SetPenStyle(TPenStyle Value) = 0;
  virtual void SetPenWidth(int32_t Value) = 0;
  virtual void MoveTo(int32_t X, int32_t Y) = 0;
  virtual void LineTo(int32_t X, int32_t Y) = 0;
};
