// The series base: one set of values drawn in one style. A series holds an X
// and a Y value list, a parallel list of per-point colours and one of labels,
// its marks, and the virtual operations that the concrete kinds (bars, pies,
// lines, areas, points, fast lines) override to scale and draw themselves.
// The chart owns its series (TCustomAxisPanel::AddSeries) and draws them in
// list order.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "chart/canvas3d.h"
#include "chart/marks.h"
#include "chart/value_list.h"
#include "platform/color.h"
#include "platform/geometry.h"

class TCustomAxisPanel;
class TCustomChartAxis;
class TChartAxis;

enum THorizAxis { aTopAxis, aBottomAxis };
enum TVertAxis { aLeftAxis, aRightAxis };

class TChartSeries {
 public:
  TChartSeries();
  virtual ~TChartSeries();
  TChartSeries(const TChartSeries&) = delete;
  TChartSeries& operator=(const TChartSeries&) = delete;

  // --- identity and chart binding -----------------------------------------
  // Component name; the legend shows it when Title is empty.
  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  const std::string& Title() const { return title_; }
  void SetTitle(std::string title);
  TCustomAxisPanel* ParentChart() const { return parent_; }
  // Called by the chart when the series is added (chart) or taken out
  // (nullptr). Kinds that take over the chart (pies) hook in here.
  virtual void SetParentChart(TCustomAxisPanel* chart);

  // --- published settings -------------------------------------------------
  bool Active() const { return active_; }
  virtual void SetActive(bool value);
  TColor SeriesColor() const { return series_color_; }
  virtual void SetSeriesColor(TColor colour);
  bool ColorEachPoint() const { return color_each_point_; }
  // Switching off resets every point's own colour to clAutomatic.
  virtual void SetColorEachPoint(bool value);
  bool ShowInLegend() const { return show_in_legend_; }
  void SetShowInLegend(bool value);
  const std::string& PercentFormat() const { return percent_format_; }
  void SetPercentFormat(std::string format);
  const std::string& ValueFormat() const { return value_format_; }
  void SetValueFormat(std::string format);
  THorizAxis HorizAxis() const { return horiz_axis_; }
  void SetHorizAxis(THorizAxis axis);
  TVertAxis VertAxis() const { return vert_axis_; }
  void SetVertAxis(TVertAxis axis);
  // The chart's axis objects this series is scaled by (nullptr without a chart).
  TChartAxis* GetHorizAxis() const;
  TChartAxis* GetVertAxis() const;

  TSeriesMarks& Marks() { return marks_; }
  const TSeriesMarks& Marks() const { return marks_; }
  TChartValueList& XValues() { return x_values_; }
  const TChartValueList& XValues() const { return x_values_; }
  TChartValueList& YValues() { return y_values_; }
  const TChartValueList& YValues() const { return y_values_; }
  // The list that carries the series' values: YValues for every kind but the
  // horizontal bar, whose values run along X.
  virtual TChartValueList& MainValueList() { return y_values_; }
  const TChartValueList& MainValueList() const { return const_cast<TChartSeries*>(this)->MainValueList(); }
  bool YMandatory() const { return &MainValueList() == &y_values_; }

  // --- values ---------------------------------------------------------------
  int Count() const { return x_values_.Count(); }
  // Adds one value: X = the current count and Y = value, or the other way
  // round for kinds whose main list is XValues. Returns the index.
  int Add(double value, const std::string& label = "", TColor colour = clAutomatic);
  // A null point: value 0 with the colour clNone (not drawn).
  int AddNull(const std::string& label = "");
  // Adds a point at the place XValues' order gives it; returns the index, or
  // -1 when OnBeforeAdd refused it. clDefault is stored as clAutomatic.
  virtual int AddPoint(double x, double y, const std::string& label = "", TColor colour = clAutomatic);
  // Removes every value; fires OnClearValues (also on an empty series).
  virtual void Clear();
  // Removes one value from every list. Raises Exception for a bad index.
  virtual void Delete(int index);
  // Design-time sample data: clears and adds n random points. n < 1 raises
  // Exception "FillSampleValues NumValues müssen > 0 sein.".
  void FillSampleValues(int n);
  virtual int NumSampleValues() const { return 25; }

  // The label of a point; empty for no label or an index past the end.
  std::string Label(int index) const;
  void SetLabel(int index, const std::string& label);
  // The colour stored with a point (clAutomatic = none of its own);
  // SeriesColor for an index past the end.
  TColor PointColor(int index) const;
  void SetPointColor(int index, TColor colour);
  // The colour a point is drawn in: its own colour; a point without one takes
  // PaletteColor(index) with ColorEachPoint, SeriesColor otherwise.
  virtual TColor ValueColor(int index) const;
  virtual std::string XLabel(int index) const { return Label(index); }
  virtual double XValue(int index) const { return x_values_.Value(index); }
  virtual double YValue(int index) const { return y_values_.Value(index); }
  // The value marks and legend texts show, and the one stacking sums.
  virtual double MarkValue(int index) const { return YValue(index); }
  virtual double GetOriginValue(int index) const { return MarkValue(index); }
  // Sum of GetOriginValue(index) over the active series of the same kind
  // before this one in the chart's list (all of them with sumAll) that hold
  // more than index values.
  virtual double PointOrigin(int index, bool sumAll) const;

  // --- scale ------------------------------------------------------------------
  virtual double MaxXValue() const { return x_values_.MaxValue(); }
  virtual double MinXValue() const { return x_values_.MinValue(); }
  virtual double MaxYValue() const { return y_values_.MaxValue(); }
  virtual double MinYValue() const { return y_values_.MinValue(); }
  virtual double MaxZValue() const { return z_order_; }
  virtual double MinZValue() const { return z_order_; }
  // True when axis scales this series.
  virtual bool AssociatedToAxis(const TCustomChartAxis& axis) const;
  // False for kinds that draw without axes (pies).
  virtual bool UseAxis() const { return true; }
  // Pixel position of a point or a value along the series' axes.
  virtual int CalcXPos(int index) const;
  virtual int CalcYPos(int index) const;
  int CalcXPosValue(double value) const;
  int CalcYPosValue(double value) const;
  // Room the kind needs beyond the first and last value, in pixels.
  virtual void AskHorizMargins(int& left, int& right) { left = right = 0; }
  virtual void AskVertMargins(int& top, int& bottom) { top = bottom = 0; }

  // --- drawing (called by the chart's pipeline) ---------------------------------
  int FirstValueIndex() const { return first_value_index_; }
  int LastValueIndex() const { return last_value_index_; }
  // Computes FirstValueIndex and LastValueIndex from the axes' edges.
  void CalcFirstLastVisibleIndex();
  int ZOrder() const { return z_order_; }
  void SetZOrder(int z) { z_order_ = z; }
  int StartZ() const { return start_z_; }
  int MiddleZ() const { return middle_z_; }
  int EndZ() const { return end_z_; }
  // Sets StartZ, EndZ, MiddleZ from the series' depth and its ZOrder; the
  // marks take MiddleZ.
  void SetDepths(int seriesDepth);
  // Claims the series' depth slot (TopZSlot of the chart + 1 in 3D).
  virtual void CalcZOrder();
  virtual void DoBeforeDrawChart() {}
  virtual void DoBeforeDrawValues();
  virtual void DoAfterDrawValues();
  // DrawValue for each visible index, backwards unless DrawValuesForward.
  virtual void DrawVisibleValues();
  virtual void DrawValue(int /*index*/) {}
  // Places and draws one mark; kinds move the position first.
  virtual void DrawMark(int index, const std::string& text, TSeriesMarkPosition& position);
  virtual bool DrawValuesForward() const { return true; }
  // Direction of a same-depth group drawn value by value.
  virtual bool DrawSeriesForward(int /*index*/) const { return true; }
  // True for kinds whose same-depth groups are drawn value by value.
  virtual bool DrawValueByValue() const { return false; }
  virtual int Clicked(int /*x*/, int /*y*/) { return -1; }

  // --- legend ---------------------------------------------------------------------
  // Number of legend items this series lists in a value legend.
  virtual int CountLegendItems() const { return Count(); }
  virtual int LegendToValueIndex(int legendIndex) const { return legendIndex; }
  // Sets up the brush in the point's colour (-1: SeriesColor) and lets the
  // kind adjust it, then draws the symbol.
  virtual void DrawLegend(int valueIndex, const TRect& rect);
  virtual void DrawLegendSymbol(int valueIndex, const TRect& rect);
  virtual void PrepareLegendCanvas(int /*valueIndex*/, TColor& /*backColor*/, platform::TBrushStyle& /*style*/) {}

  // Asks the chart to repaint (no-op without a chart).
  void Repaint() const;

  // --- events -----------------------------------------------------------------------
  // May refuse a point (return false).
  std::function<bool(TChartSeries&)> OnBeforeAdd;
  std::function<void(TChartSeries&, int valueIndex)> OnAfterAdd;
  std::function<void(TChartSeries&)> OnClearValues;
  std::function<void(TChartSeries&, int valueIndex, std::string& markText)> OnGetMarkText;
  std::function<void(TChartSeries&)> BeforeDrawValues;
  std::function<void(TChartSeries&)> AfterDrawValues;
  std::function<void(TChartSeries&, int valueIndex)> OnClick;
  std::function<void(TChartSeries&, int valueIndex)> OnDblClick;

  // The canvas of the chart; only valid with a chart.
  TChartCanvas3D& ParentCanvas() const;

  // Pending values of the point being added (read by OnBeforeAdd).
  double PendingX() const { return pending_x_; }
  double PendingY() const { return pending_y_; }

 protected:
  // Fires OnAfterAdd and repaints when active.
  virtual void AddedValue(int index);
  // Empties every value list, the colours, labels and mark positions.
  virtual void ClearLists();
  // True when other is of this series' kind or a kind derived from it.
  virtual bool SameKindAs(const TChartSeries& other) const;
  // Sets the canvas brush for a filled shape: `colour` in `style` on the back
  // colour `back` (clAutomatic: the chart's colour). A hatch in the back
  // colour itself would vanish: it is drawn in black, or white on black.
  void PrepareFillBrush(TColor colour, platform::TBrushStyle style, TColor back) const;

  // The series draws all its values whatever the axes show (pies).
  bool draw_all_values_ = false;
  // The visible range keeps one point beyond each edge (kinds drawing
  // between points).
  bool draw_between_points_ = false;

  TChartValueList x_values_;
  TChartValueList y_values_;
  TSeriesMarks marks_;

 private:
  TCustomAxisPanel* parent_ = nullptr;
  std::string name_;
  std::string title_;
  bool active_ = true;
  TColor series_color_ = clAutomatic;
  bool color_each_point_ = false;
  bool show_in_legend_ = true;
  std::string percent_format_ = "##0.## %";
  std::string value_format_ = "#,##0.###";
  THorizAxis horiz_axis_ = aBottomAxis;
  TVertAxis vert_axis_ = aLeftAxis;
  std::vector<TColor> colors_;
  std::vector<std::string> labels_;
  int first_value_index_ = -1;
  int last_value_index_ = -1;
  int z_order_ = 0;
  int start_z_ = 0;
  int middle_z_ = 0;
  int end_z_ = 0;
  double pending_x_ = 0;
  double pending_y_ = 0;
};

// Stores a series setting; a changed value repaints the series' chart.
template <class T>
void Store(T& field, T value, const TChartSeries& series) {
  if (field == value) return;
  field = value;
  series.Repaint();
}
