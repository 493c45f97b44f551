// The chart: one object in three layers.
//   TCustomChartPanel: bounds, margins, bevels, panel colour, the 3D canvas and
//     the 3D switch; Draw(target, rect) draws one complete picture.
//   TCustomAxisPanel: the series list, the five axes, the depth computation and
//     the drawing pipeline.
//   TCustomChart: walls, title, foot, legend and gradient.
// TChart is the concrete chart. The chart owns its series, axes, settings
// objects and canvas.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "chart/axis.h"
#include "chart/canvas3d.h"
#include "chart/gradient.h"
#include "chart/legend.h"
#include "chart/series.h"
#include "chart/title.h"
#include "chart/wall.h"
#include "platform/color.h"
#include "platform/geometry.h"
#include "platform/sysutils.h"

namespace platform {
class Surface;
}

class ChartException : public Exception {
 public:
  using Exception::Exception;
};

enum TPanelBevel { bvNone, bvLowered, bvRaised };
// How the back image fills its rectangle.
enum TBackImageMode { pbmStretch, pbmTile, pbmCenter };
enum TBorderStyle { bsNone, bsSingle };

// ---------------------------------------------------------------------------
class TCustomChartPanel {
 public:
  TCustomChartPanel();
  virtual ~TCustomChartPanel();
  TCustomChartPanel(const TCustomChartPanel&) = delete;
  TCustomChartPanel& operator=(const TCustomChartPanel&) = delete;

  // Control size in pixels (the picture the image output draws).
  int Width() const { return width_; }
  void SetWidth(int v);
  int Height() const { return height_; }
  void SetHeight(int v);

  // Margins in percent of the bounds' width (left, right) or height (top, bottom).
  int MarginLeft() const { return margin_left_; }
  void SetMarginLeft(int v);
  int MarginTop() const { return margin_top_; }
  void SetMarginTop(int v);
  int MarginRight() const { return margin_right_; }
  void SetMarginRight(int v);
  int MarginBottom() const { return margin_bottom_; }
  void SetMarginBottom(int v);
  bool View3D() const { return view_3d_; }
  void SetView3D(bool v);
  TView3DOptions& View3DOptions() { return *view_3d_options_; }
  const TView3DOptions& View3DOptions() const { return *view_3d_options_; }
  bool Monochrome() const { return monochrome_; }
  void SetMonochrome(bool v);
  // Panel background colour (the button-face system colour by default).
  TColor Color() const { return color_; }
  void SetColor(TColor v);
  TPanelBevel BevelOuter() const { return bevel_outer_; }
  void SetBevelOuter(TPanelBevel v);
  TPanelBevel BevelInner() const { return bevel_inner_; }
  void SetBevelInner(TPanelBevel v);
  int BevelWidth() const { return bevel_width_; }
  void SetBevelWidth(int v);
  int BorderWidth() const { return border_width_; }
  void SetBorderWidth(int v);
  // Window frame of the control; not part of the drawn picture.
  TBorderStyle BorderStyle() const { return border_style_; }
  void SetBorderStyle(TBorderStyle v);

  TChartCanvas3D& Canvas() { return *canvas_; }
  const TChartCanvas3D& Canvas() const { return *canvas_; }

  // Geometry of the current drawing.
  const TRect& DrawBounds() const { return bounds_; }
  TRect& PlotRect() { return plot_rect_; }
  const TRect& PlotRect() const { return plot_rect_; }
  void SetPlotRect(const TRect& r) { plot_rect_ = r; }
  int PlotWidth() const { return plot_width_; }
  int PlotHeight() const { return plot_height_; }
  int PlotXCenter() const { return plot_x_center_; }
  int PlotYCenter() const { return plot_y_center_; }
  int Width3D() const { return width_3d_; }
  int Height3D() const { return height_3d_; }
  // Clamps PlotRect into DrawBounds, keeps it non-empty and derives
  // PlotWidth, PlotHeight and the centres.
  void Recalculate();
  // Count of repaint requests (settings changes); a repaint itself does
  // nothing here, the image output draws on demand.
  void Repaint();
  int RepaintCount() const { return repaint_count_; }
  std::function<void()> OnRepaint;

  // Draws the whole chart into rect of target.
  void Draw(platform::Surface& target, const TRect& rect);

 protected:
  // Everything after the plot rectangle is known (the drawing pipeline).
  virtual void DrawChartPicture() = 0;
  // Fills the panel background (the decorated chart adds its gradient).
  virtual void DrawBackground(const TRect& rect);
  // Background, then outer bevel, border and inner bevel.
  void DrawPanelBevels(const TRect& rect);
  // Frees the off-screen bitmap (or invalidates an unbuffered canvas).
  void SizeChanged();

  std::unique_ptr<TView3DOptions> view_3d_options_;
  std::unique_ptr<TChartCanvas3D> canvas_;
  TRect bounds_{};
  TRect plot_rect_{};
  int plot_width_ = 0;
  int plot_height_ = 0;
  int plot_x_center_ = 0;
  int plot_y_center_ = 0;
  int width_3d_ = 0;
  int height_3d_ = 0;

 private:
  int width_ = 400;
  int height_ = 250;
  int margin_left_ = 3;
  int margin_top_ = 4;
  int margin_right_ = 3;
  int margin_bottom_ = 4;
  bool view_3d_ = true;
  bool monochrome_ = false;
  TColor color_ = clBtnFace;
  TPanelBevel bevel_outer_ = bvRaised;
  TPanelBevel bevel_inner_ = bvNone;
  int bevel_width_ = 1;
  int border_width_ = 0;
  TBorderStyle border_style_ = bsNone;
  int repaint_count_ = 0;
};

// ---------------------------------------------------------------------------
class TCustomAxisPanel : public TCustomChartPanel {
 public:
  TCustomAxisPanel();
  ~TCustomAxisPanel() override;

  // --- series list ----------------------------------------------------------
  // Takes the series, gives it a free colour when its SeriesColor is
  // clAutomatic, appends it and tells it its chart. Returns the series (typed
  // as passed in). A series another chart holds must be taken out there
  // first (RemoveSeries); otherwise ChartException.
  TChartSeries& AddSeries(std::unique_ptr<TChartSeries> series);
  template <class T>
  T& AddSeries(std::unique_ptr<T> series) {
    T& ref = *series;
    AddSeries(std::unique_ptr<TChartSeries>(std::move(series)));
    return ref;
  }
  // Takes the series out of the list and hands it back (nullptr when it is
  // not in the list).
  std::unique_ptr<TChartSeries> RemoveSeries(TChartSeries& series);
  int SeriesCount() const { return static_cast<int>(series_.size()); }
  // The i-th series, or nullptr for an index outside the list.
  TChartSeries* Series(int index) const;
  int SeriesIndex(const TChartSeries& series) const;
  int CountActiveSeries() const;
  // The first palette colour no series uses and that is neither the panel
  // colour nor BackColor (when checkBackground); PaletteColor(0) after 16
  // tries.
  TColor GetFreeSeriesColor(bool checkBackground = true) const;
  // The colour the chart's back wall shows (clAutomatic without walls).
  virtual TColor BackColor() const { return clAutomatic; }
  // Thickness of the back wall as the depth computation counts it.
  virtual int BackWallSize() const { return 0; }

  // --- axes -----------------------------------------------------------------
  TChartAxis& LeftAxis() { return *left_axis_; }
  TChartAxis& RightAxis() { return *right_axis_; }
  TChartAxis& TopAxis() { return *top_axis_; }
  TChartAxis& BottomAxis() { return *bottom_axis_; }
  TChartDepthAxis& DepthAxis() { return *depth_axis_; }
  const TChartAxis& LeftAxis() const { return *left_axis_; }
  const TChartAxis& RightAxis() const { return *right_axis_; }
  const TChartAxis& TopAxis() const { return *top_axis_; }
  const TChartAxis& BottomAxis() const { return *bottom_axis_; }
  const TChartDepthAxis& DepthAxis() const { return *depth_axis_; }
  // The size of the wall on the axis' side (bottom axis: bottom wall, left
  // axis: left wall), counted only in 3D with View3DWalls; 0 otherwise.
  virtual int AxisWallSize(const TCustomChartAxis& /*axis*/) const { return 0; }
  // True when the axis is drawn in this picture: visible, and either no active
  // series uses axes or an active series that uses axes is bound to it.
  bool IsAxisDrawn(const TCustomChartAxis& axis) const;

  // --- settings ---------------------------------------------------------------
  int Chart3DPercent() const { return chart_3d_percent_; }
  // 1..100, else ChartException "3D-Effekt-Prozentangabe muß zwischen 1 und 100 liegen".
  void SetChart3DPercent(int v);
  bool View3DWalls() const { return view_3d_walls_; }
  void SetView3DWalls(bool v);
  bool ClipPoints() const { return clip_points_; }
  void SetClipPoints(bool v);
  bool AxisVisible() const { return axis_visible_; }
  void SetAxisVisible(bool v);
  int MaxPointsPerPage() const { return max_points_per_page_; }
  void SetMaxPointsPerPage(int v);
  int Page() const { return page_; }
  void SetPage(int v);
  bool ScaleLastPage() const { return scale_last_page_; }
  void SetScaleLastPage(bool v);

  // --- depth of the current drawing -------------------------------------------
  int SeriesWidth3D() const { return series_width_3d_; }
  int SeriesHeight3D() const { return series_height_3d_; }
  int TopZSlot() const { return top_z_slot_; }
  // Raises TopZSlot by one and returns it (a series claiming its own slot).
  int ClaimZSlot() { return ++top_z_slot_; }
  bool ApplyZOrder() const { return apply_z_order_; }
  void SetApplyZOrder(bool v) { apply_z_order_ = v; }

  // --- events -----------------------------------------------------------------
  std::function<void(TCustomAxisPanel&)> OnAfterDraw;
  std::function<void(TChartAxis& axis, TChartSeries* series, int valueIndex, std::string& labelText)>
      OnGetAxisLabel;

  // True while the chart is being destroyed (series do not repaint then).
  bool Destroying() const { return destroying_; }

 protected:
  void DrawChartPicture() override;
  // Pipeline hooks of the decorated chart.
  virtual void DrawFrontPlane() {}
  virtual void DrawWalls() {}
  // Steps of the pipeline (also used by tests through TChart).
  void CalcZOrders();
  void CalcAxisSpaceAndDepth();
  void SetSeriesDepths();
  void ApplySeriesMargins();
  void DrawAxes();
  void DrawAllSeries();
  void DrawSeriesValues(TChartSeries& series);
  void DrawSeriesMarks(TChartSeries& series);
  void DrawSeriesGroup(const std::vector<TChartSeries*>& group);

  std::vector<std::unique_ptr<TChartSeries>> series_;
  bool destroying_ = false;

 private:
  std::unique_ptr<TChartAxis> left_axis_;
  std::unique_ptr<TChartAxis> right_axis_;
  std::unique_ptr<TChartAxis> top_axis_;
  std::unique_ptr<TChartAxis> bottom_axis_;
  std::unique_ptr<TChartDepthAxis> depth_axis_;
  int chart_3d_percent_ = 15;
  bool view_3d_walls_ = true;
  bool clip_points_ = true;
  bool axis_visible_ = true;
  int max_points_per_page_ = 0;
  int page_ = 1;
  bool scale_last_page_ = true;
  int series_width_3d_ = 0;
  int series_height_3d_ = 0;
  int top_z_slot_ = 0;
  bool apply_z_order_ = true;
};

// ---------------------------------------------------------------------------
class TCustomChart : public TCustomAxisPanel {
 public:
  TCustomChart();
  ~TCustomChart() override;

  TChartWall& BackWall() { return *back_wall_; }
  TChartWall& LeftWall() { return *left_wall_; }
  TChartWall& BottomWall() { return *bottom_wall_; }
  const TChartWall& BackWall() const { return *back_wall_; }
  const TChartWall& LeftWall() const { return *left_wall_; }
  const TChartWall& BottomWall() const { return *bottom_wall_; }
  TChartTitle& Title() { return *title_; }
  TChartTitle& Foot() { return *foot_; }
  const TChartTitle& Title() const { return *title_; }
  const TChartTitle& Foot() const { return *foot_; }
  TChartLegend& Legend() { return *legend_; }
  const TChartLegend& Legend() const { return *legend_; }
  TChartGradient& Gradient() { return *gradient_; }
  const TChartGradient& Gradient() const { return *gradient_; }
  // The frame of the plotting area: the back wall's pen.
  TChartPen& Frame();
  // The back wall's colour; setting it also makes the back wall's brush solid.
  TColor BackColor() const override;
  void SetBackColor(TColor v);
  int BackWallSize() const override;

  int AxisWallSize(const TCustomChartAxis& axis) const override;

  // A picture behind the chart: over the whole panel, or with
  // BackImageInside only over the plotting area (under the back wall).
  const std::shared_ptr<const platform::Bitmap>& BackImage() const { return back_image_; }
  void SetBackImage(std::shared_ptr<const platform::Bitmap> image);
  TBackImageMode BackImageMode() const { return back_image_mode_; }
  void SetBackImageMode(TBackImageMode v);
  bool BackImageInside() const { return back_image_inside_; }
  void SetBackImageInside(bool v);

  // Legend events: the text of an item, the box and the place of an item.
  std::function<void(TCustomChart&, TLegendStyle, int index, std::string& text)> OnGetLegendText;
  std::function<void(TCustomChart&, TRect& rect)> OnGetLegendRect;
  std::function<void(TCustomChart&, int index, int& x, int& y, int& symbolX)> OnGetLegendPos;

 protected:
  void DrawBackground(const TRect& rect) override;
  void DrawFrontPlane() override;
  void DrawWalls() override;
  void DrawBackImage(const TRect& rect);

 private:
  std::unique_ptr<TChartWall> back_wall_;
  std::unique_ptr<TChartWall> left_wall_;
  std::unique_ptr<TChartWall> bottom_wall_;
  std::unique_ptr<TChartTitle> title_;
  std::unique_ptr<TChartTitle> foot_;
  std::unique_ptr<TChartLegend> legend_;
  std::unique_ptr<TChartGradient> gradient_;
  std::shared_ptr<const platform::Bitmap> back_image_;
  TBackImageMode back_image_mode_ = pbmStretch;
  bool back_image_inside_ = false;
};

// Stores a changed setting of one of the chart's parts (legend, title,
// walls, gradient) and asks the chart, when there is one, to repaint.
template <class T>
void StoreAndRepaint(T& field, T value, TCustomChart* chart) {
  if (field == value) return;
  field = value;
  if (chart) chart->Repaint();
}

class TChart : public TCustomChart {
 public:
  TChart() = default;
};
