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

template <class E>
void Raises(const std::function<void()>& f, const std::string& message) {
  ExpectRaises<E>(f, message);
}

// Each property's tries run in order on one set of parts: a refused value
// raises the class's exception with its message and keeps the old value.
TEST(SetterChecks, RefusedValuesKeepTheOldOne) {
  struct Try {
    double value;
    bool refused;
    double after;  // the value read back
  };
  const struct {
    const char* what;
    void (*raises)(const std::function<void()>&, const std::string&);
    const char* message;
    std::function<void(Parts&, double)> set;
    std::function<double(Parts&)> get;
    std::vector<Try> tries;
  } cases[] = {
      {"axis increment", Raises<AxisException>, "Achsen-Steigung muß >= 0 sein.",
       [](Parts& p, double v) { p.axis.SetIncrement(v); }, [](Parts& p) { return p.axis.Increment(); }, {{-1, true, 0}}},
      {"axis minimum", Raises<AxisException>, "Wert für Achsenminimum muß <= Maximum sein.",
       [](Parts& p, double v) { p.axis.SetMinimum(v); }, [](Parts& p) { return p.axis.Minimum(); }, {{10, true, 0}}},
      {"axis maximum", Raises<AxisException>, "Wert für Achsenmaximum muß >= Minimum sein.",
       [](Parts& p, double v) { p.axis.SetMaximum(v); }, [](Parts& p) { return p.axis.Maximum(); }, {{-1, true, 5}}},
      {"labels separation", Raises<AxisException>, "Beschriftungssabstand muß größer als 0 sein.",
       [](Parts& p, double v) { p.axis.SetLabelsSeparation(int(v)); },
       [](Parts& p) { return p.axis.LabelsSeparation(); }, {{-1, true, 10}}},
      {"labels angle", Raises<ChartException>, "Achsenbeschriftung-Winkel muß zwischen 0 und 359 Grad liegen.",
       [](Parts& p, double v) { p.axis.SetLabelsAngle(int(v)); }, [](Parts& p) { return p.axis.LabelsAngle(); },
       {{361, true, 0}, {-1, true, 0}, {360, false, 0}}},
      {"legend top", Raises<LegendException>, "Position der oberen Legende muß zwischen 0 und 100% liegen.",
       [](Parts& p, double v) { p.legend.SetTopPos(int(v)); }, [](Parts& p) { return p.legend.TopPos(); },
       {{101, true, 10}, {-1, true, 10}, {100, false, 100}}},
      {"legend first value", Raises<LegendException>, "Erster Wert für Legende muß > 0 sein.",
       [](Parts& p, double v) { p.legend.SetFirstValue(int(v)); }, [](Parts& p) { return p.legend.FirstValue(); },
       {{-1, true, 0}}},
      {"legend colour width", Raises<LegendException>, "Farbbreite für Legende muß zwischen 0 und 100% liegen.",
       [](Parts& p, double v) { p.legend.SetColorWidth(int(v)); }, [](Parts& p) { return p.legend.ColorWidth(); },
       {{101, true, 12}, {-1, true, 12}, {0, false, 0}}},
      {"3D percent", Raises<ChartException>, "3D-Effekt-Prozentangabe muß zwischen 1 und 100 liegen",
       [](Parts& p, double v) { p.chart.SetChart3DPercent(int(v)); },
       [](Parts& p) { return p.chart.Chart3DPercent(); }, {{0, true, 15}, {101, true, 15}, {100, false, 100}}},
      {"bar width", Raises<BarException>, "Prozentwert für Balkenbreite muß zwischen 1 und 100 liegen.",
       [](Parts& p, double v) { p.bars.SetBarWidthPercent(int(v)); },
       [](Parts& p) { return p.bars.BarWidthPercent(); }, {{0, true, 70}, {101, true, 70}}},
      {"bar offset", Raises<BarException>, "Prozentwert für Balken-Offset muß zwischen -100% und 100% liegen.",
       [](Parts& p, double v) { p.bars.SetOffsetPercent(int(v)); }, [](Parts& p) { return p.bars.OffsetPercent(); },
       {{-101, true, 0}, {101, true, 0}, {-100, false, -100}}},
      {"pie rotation (stored wrapped)", Raises<PieException>, "Drehung-Winkel muß zwischen 0 und 359 Grad liegen.",
       [](Parts& p, double v) { p.pie.SetRotationAngle(int(v)); }, [](Parts& p) { return p.pie.RotationAngle(); },
       {{30, false, 30}, {-1, true, 30}, {450, false, 90}}},
      {"pointer width", Raises<ChartException>, "Die Größe des Pointers muß > 0 sein.",
       [](Parts& p, double v) { p.points.Pointer().SetHorizSize(int(v)); },
       [](Parts& p) { return p.points.Pointer().HorizSize(); }, {{0, true, 4}, {1, false, 1}}},
      {"pointer height", Raises<ChartException>, "Die Größe des Pointers muß > 0 sein.",
       [](Parts& p, double v) { p.points.Pointer().SetVertSize(int(v)); },
       [](Parts& p) { return p.points.Pointer().VertSize(); }, {{-2, true, 4}}},
  };
  for (const auto& c : cases) {
    Parts parts;
    for (const Try& t : c.tries) {
      SCOPED_TRACE(testing::Message() << c.what << " " << t.value);
      if (t.refused)
        c.raises([&] { c.set(parts, t.value); }, c.message);
      else
        c.set(parts, t.value);
      EXPECT_EQ(c.get(parts), t.after);
    }
  }
}

}  // namespace
