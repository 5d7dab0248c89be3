// The least drawing surface the library needs: a pen with a colour, style and width, and straight
// lines drawn with MoveTo/LineTo. Grids hand their own canvas to the library's drawing helpers.
// Graphics and pictures store themselves in streams (blob columns keep images that way).
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/Forms.h"
#include "platform/Streams.h"

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

// An image that stores itself in and loads itself from a stream.
class TGraphic : public TObject {
public:
  // Reads the image from Stream's position to its end.
  virtual void LoadFromStream(TStream& Stream) = 0;
  virtual void SaveToStream(TStream& Stream) = 0;
};

// A bitmap, kept as the bytes of its stored form (nothing here draws it).
class TBitmap : public TGraphic {
public:
  void LoadFromStream(TStream& Stream) override {
    FData.assign(static_cast<size_t>(std::max<int64_t>(Stream.GetSize() - Stream.GetPosition(), 0)), '\0');
    Stream.ReadBuffer(FData.data(), static_cast<int64_t>(FData.size()));
  }
  void SaveToStream(TStream& Stream) override { Stream.WriteBuffer(FData.data(), static_cast<int64_t>(FData.size())); }
  const std::string& GetData() const noexcept { return FData; }
  void SetData(std::string Value) { FData = std::move(Value); }

private:
  std::string FData;
};

// Holds one graphic, which it owns.
class TPicture : public TObject {
public:
  TGraphic* GetGraphic() const noexcept { return FGraphic.get(); }
  void SetGraphic(std::unique_ptr<TGraphic> Value) { FGraphic = std::move(Value); }
  // The graphic as a bitmap; a picture without a graphic gets an empty bitmap first.
  TBitmap* GetBitmap() {
    if (!FGraphic) FGraphic = std::make_unique<TBitmap>();
    return dynamic_cast<TBitmap*>(FGraphic.get());
  }

private:
  std::unique_ptr<TGraphic> FGraphic;
};
