// The chart's pens and brush: the surface pen and brush values as settings
// objects that notify their owner of a change (OnChange), plus the pen
// kinds the chart's parts start with.
#pragma once

#include <functional>
#include <memory>
#include <utility>

#include "platform/bitmap.h"
#include "platform/color.h"
#include "platform/surface.h"

// A chart pen: the surface pen's values plus Visible. Setters store a changed
// value and call OnChange. The canvas draws an invisible pen as a clear one
// (TChartCanvas3D::AssignPen).
class TChartPen {
 public:
  TChartPen() = default;
  TChartPen(TColor colour, platform::TPenStyle style, bool visible = true);

  TColor Color() const { return pen_.Color; }
  void SetColor(TColor value) { Set(pen_.Color, value); }
  int Width() const { return pen_.Width; }
  void SetWidth(int value) { Set(pen_.Width, value); }
  platform::TPenStyle Style() const { return pen_.Style; }
  void SetStyle(platform::TPenStyle value) { Set(pen_.Style, value); }
  platform::TPenMode Mode() const { return pen_.Mode; }
  void SetMode(platform::TPenMode value) { Set(pen_.Mode, value); }
  bool Visible() const { return visible_; }
  void SetVisible(bool value) { Set(visible_, value); }

  // The surface pen these values describe (without Visible).
  const platform::TPen& Pen() const { return pen_; }

  // Copies colour, width, style, mode and Visible (not the hook); notifies.
  void Assign(const TChartPen& other);
  // Copies a plain surface pen; Visible stays as it is.
  void Assign(const platform::TPen& other);

  std::function<void()> OnChange;

 private:
  template <typename T>
  void Set(T& field, T value) {
    if (field != value) {
      field = value;
      Changed();
    }
  }
  void Changed() const {
    if (OnChange) OnChange();
  }

  platform::TPen pen_;
  bool visible_ = true;
};

// A pen that starts invisible.
class TChartHiddenPen : public TChartPen {
 public:
  TChartHiddenPen() : TChartPen(clBlack, platform::psSolid, false) {}
};

// Gray (0x808080) dotted pen: grids.
class TDottedGrayPen : public TChartPen {
 public:
  TDottedGrayPen() : TChartPen(clGray, platform::psDot) {}
};

// Gray (0x808080) solid pen.
class TDarkGrayPen : public TChartPen {
 public:
  TDarkGrayPen() : TChartPen(clGray, platform::psSolid) {}
};

// A chart brush: colour, style and an optional pattern bitmap, with change
// notification.
class TChartBrush {
 public:
  TChartBrush() = default;
  TChartBrush(TColor colour, platform::TBrushStyle style) : brush_{colour, style, nullptr} {}

  TColor Color() const { return brush_.Color; }
  void SetColor(TColor value) { Set(brush_.Color, value); }
  platform::TBrushStyle Style() const { return brush_.Style; }
  void SetStyle(platform::TBrushStyle value) { Set(brush_.Style, value); }
  const std::shared_ptr<const platform::Bitmap>& Image() const { return brush_.Image; }
  void SetImage(std::shared_ptr<const platform::Bitmap> value) { Set(brush_.Image, std::move(value)); }

  const platform::TBrush& Brush() const { return brush_; }

  // Copies colour, style and image (not the hook); notifies.
  void Assign(const TChartBrush& other);

  std::function<void()> OnChange;

 private:
  template <typename T>
  void Set(T& field, T value) {
    if (field != value) {
      field = std::move(value);
      if (OnChange) OnChange();
    }
  }

  platform::TBrush brush_;
};
