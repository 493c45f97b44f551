// The range checks of the chart's setters in one table: a refused value
// raises the class's exception with its message and keeps the old value;
// the edge values are accepted (some stored wrapped).
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "chart/axis.h"
#include "chart/legend.h"
#include "chart_test_support.h"

namespace {

using namespace charttest;

struct Parts {
  TChart chart;
  TChartAxis& axis = chart.LeftAxis();
  TChartLegend& legend = chart.Legend();
  TBarSeries bars;
  TPieSeries pie;
  TPointSeries points;
  Parts() { axis.SetMinMax(0, 5); }
};

using Raises = void (*)(const std::function<void()>&, const std::string&);

TEST(SetterChecks, RefusedValuesKeepTheOldOne) {
  const struct {
    const char* what;
    Raises raises;  // nullptr: the value is accepted
    std::function<void(Parts&)> set;
    const char* message;
    std::function<double(Parts&)> get;
    double expected;  // the value read back afterwards
  } cases[] = {
      {"axis increment", ExpectRaises<AxisException, const std::function<void()>&>,
       [](Parts& p) { p.axis.SetIncrement(-1); }, "Achsen-Steigung muß >= 0 sein.",
       [](Parts& p) { return p.axis.Increment(); }, 0},
      {"axis minimum", ExpectRaises<AxisException, const std::function<void()>&>,
       [](Parts& p) { p.axis.SetMinimum(10); }, "Wert für Achsenminimum muß <= Maximum sein.",
       [](Parts& p) { return p.axis.Minimum(); }, 0},
      {"axis maximum", ExpectRaises<AxisException, const std::function<void()>&>,
       [](Parts& p) { p.axis.SetMaximum(-1); }, "Wert für Achsenmaximum muß >= Minimum sein.",
       [](Parts& p) { return p.axis.Maximum(); }, 5},
      {"labels separation", ExpectRaises<AxisException, const std::function<void()>&>,
       [](Parts& p) { p.axis.SetLabelsSeparation(-1); }, "Beschriftungssabstand muß größer als 0 sein.",
       [](Parts& p) { return p.axis.LabelsSeparation(); }, 10},
      {"labels angle 361", ExpectRaises<ChartException, const std::function<void()>&>,
       [](Parts& p) { p.axis.SetLabelsAngle(361); }, "Achsenbeschriftung-Winkel muß zwischen 0 und 359 Grad liegen.",
       [](Parts& p) { return p.axis.LabelsAngle(); }, 0},
      {"labels angle -1", ExpectRaises<ChartException, const std::function<void()>&>,
       [](Parts& p) { p.axis.SetLabelsAngle(-1); }, "Achsenbeschriftung-Winkel muß zwischen 0 und 359 Grad liegen.",
       [](Parts& p) { return p.axis.LabelsAngle(); }, 0},
      {"labels angle 360", nullptr, [](Parts& p) { p.axis.SetLabelsAngle(360); }, "",
       [](Parts& p) { return p.axis.LabelsAngle(); }, 0},
      {"legend top 101", ExpectRaises<LegendException, const std::function<void()>&>,
       [](Parts& p) { p.legend.SetTopPos(101); }, "Position der oberen Legende muß zwischen 0 und 100% liegen.",
       [](Parts& p) { return p.legend.TopPos(); }, 10},
      {"legend top -1", ExpectRaises<LegendException, const std::function<void()>&>,
       [](Parts& p) { p.legend.SetTopPos(-1); }, "Position der oberen Legende muß zwischen 0 und 100% liegen.",
       [](Parts& p) { return p.legend.TopPos(); }, 10},
      {"legend top 100", nullptr, [](Parts& p) { p.legend.SetTopPos(100); }, "",
       [](Parts& p) { return p.legend.TopPos(); }, 100},
      {"legend first value", ExpectRaises<LegendException, const std::function<void()>&>,
       [](Parts& p) { p.legend.SetFirstValue(-1); }, "Erster Wert für Legende muß > 0 sein.",
       [](Parts& p) { return p.legend.FirstValue(); }, 0},
      {"legend colour width 101", ExpectRaises<LegendException, const std::function<void()>&>,
       [](Parts& p) { p.legend.SetColorWidth(101); }, "Farbbreite für Legende muß zwischen 0 und 100% liegen.",
       [](Parts& p) { return p.legend.ColorWidth(); }, 12},
      {"legend colour width -1", ExpectRaises<LegendException, const std::function<void()>&>,
       [](Parts& p) { p.legend.SetColorWidth(-1); }, "Farbbreite für Legende muß zwischen 0 und 100% liegen.",
       [](Parts& p) { return p.legend.ColorWidth(); }, 12},
      {"legend colour width 0", nullptr, [](Parts& p) { p.legend.SetColorWidth(0); }, "",
       [](Parts& p) { return p.legend.ColorWidth(); }, 0},
      {"3D percent 0", ExpectRaises<ChartException, const std::function<void()>&>,
       [](Parts& p) { p.chart.SetChart3DPercent(0); }, "3D-Effekt-Prozentangabe muß zwischen 1 und 100 liegen",
       [](Parts& p) { return p.chart.Chart3DPercent(); }, 15},
      {"3D percent 101", ExpectRaises<ChartException, const std::function<void()>&>,
       [](Parts& p) { p.chart.SetChart3DPercent(101); }, "3D-Effekt-Prozentangabe muß zwischen 1 und 100 liegen",
       [](Parts& p) { return p.chart.Chart3DPercent(); }, 15},
      {"3D percent 100", nullptr, [](Parts& p) { p.chart.SetChart3DPercent(100); }, "",
       [](Parts& p) { return p.chart.Chart3DPercent(); }, 100},
      {"bar width 0", ExpectRaises<BarException, const std::function<void()>&>,
       [](Parts& p) { p.bars.SetBarWidthPercent(0); }, "Prozentwert für Balkenbreite muß zwischen 1 und 100 liegen.",
       [](Parts& p) { return p.bars.BarWidthPercent(); }, 70},
      {"bar width 101", ExpectRaises<BarException, const std::function<void()>&>,
       [](Parts& p) { p.bars.SetBarWidthPercent(101); }, "Prozentwert für Balkenbreite muß zwischen 1 und 100 liegen.",
       [](Parts& p) { return p.bars.BarWidthPercent(); }, 70},
      {"bar offset -101", ExpectRaises<BarException, const std::function<void()>&>,
       [](Parts& p) { p.bars.SetOffsetPercent(-101); },
       "Prozentwert für Balken-Offset muß zwischen -100% und 100% liegen.",
       [](Parts& p) { return p.bars.OffsetPercent(); }, 0},
      {"bar offset 101", ExpectRaises<BarException, const std::function<void()>&>,
       [](Parts& p) { p.bars.SetOffsetPercent(101); },
       "Prozentwert für Balken-Offset muß zwischen -100% und 100% liegen.",
       [](Parts& p) { return p.bars.OffsetPercent(); }, 0},
      {"bar offset -100", nullptr, [](Parts& p) { p.bars.SetOffsetPercent(-100); }, "",
       [](Parts& p) { return p.bars.OffsetPercent(); }, -100},
      {"pie rotation -1", ExpectRaises<PieException, const std::function<void()>&>,
       [](Parts& p) {
         p.pie.SetRotationAngle(30);
         p.pie.SetRotationAngle(-1);
       },
       "Drehung-Winkel muß zwischen 0 und 359 Grad liegen.", [](Parts& p) { return p.pie.RotationAngle(); }, 30},
      {"pie rotation 450", nullptr, [](Parts& p) { p.pie.SetRotationAngle(450); }, "",
       [](Parts& p) { return p.pie.RotationAngle(); }, 90},
      {"pointer width 0", ExpectRaises<ChartException, const std::function<void()>&>,
       [](Parts& p) { p.points.Pointer().SetHorizSize(0); }, "Die Größe des Pointers muß > 0 sein.",
       [](Parts& p) { return p.points.Pointer().HorizSize(); }, 4},
      {"pointer height -2", ExpectRaises<ChartException, const std::function<void()>&>,
       [](Parts& p) { p.points.Pointer().SetVertSize(-2); }, "Die Größe des Pointers muß > 0 sein.",
       [](Parts& p) { return p.points.Pointer().VertSize(); }, 4},
      {"pointer width 1", nullptr, [](Parts& p) { p.points.Pointer().SetHorizSize(1); }, "",
       [](Parts& p) { return p.points.Pointer().HorizSize(); }, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Parts parts;
    if (c.raises)
      c.raises([&] { c.set(parts); }, c.message);
    else
      c.set(parts);
    EXPECT_EQ(c.get(parts), c.expected);
  }
}

}  // namespace
