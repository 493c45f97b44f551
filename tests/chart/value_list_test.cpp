#include "chart/value_list.h"
#include <gtest/gtest.h>
#include <vector>
#include "chart_test_support.h"
#include "platform/sysutils.h"

namespace {

using namespace charttest;

TEST(ValueList, AddKeepsOrder) {
  struct Case {
    TChartListOrder order;
    std::vector<double> added;
    std::vector<double> stored;
    std::vector<int> indexes;  // index each AddValue returned
  };
  const Case cases[] = {
      {loNone, {2, 1, 3}, {2, 1, 3}, {0, 1, 2}}, {loAscending, {2, 1}, {1, 2}, {0, 0}},
      {loAscending, {1, 3, 2, 0}, {0, 1, 2, 3}, {0, 1, 1, 0}}, {loDescending, {1, 3, 2, 4}, {4, 3, 2, 1}, {0, 0, 1, 0}},
      {loAscending, {5, 5, 5}, {5, 5, 5}, {0, 1, 2}},
  };
  for (const Case& c : cases) {
    TChartValueList list(nullptr, "X");
    list.SetOrder(c.order);
    std::vector<int> indexes;
    for (double v : c.added) indexes.push_back(list.AddValue(v));
    EXPECT_EQ(Values(list), c.stored) << "order " << c.order;
    EXPECT_EQ(indexes, c.indexes) << "order " << c.order;
  }
  // Equal values keep their insertion order: told apart by what sits beside them.
  TChartValueList x(nullptr, "X");
  TChartValueList y(nullptr, "Y");
  x.SetOrder(loAscending);
  const double points[][2] = {{2, 10}, {1, 20}, {2, 30}, {2, 40}};
  for (const auto& p : points) y.InsertValue(x.AddValue(p[0]), p[1]);
  EXPECT_EQ(Values(x), (std::vector<double>{1, 2, 2, 2}));
  EXPECT_EQ(Values(y), (std::vector<double>{20, 10, 30, 40}));
}

std::vector<double> Stats(const TChartValueList& l) { return {l.Total(), l.AbsoluteTotal(), l.MinValue(), l.MaxValue()}; }

TEST(ValueList, StatisticsFollowAddDeleteSetAndClear) {
  TChartValueList list(nullptr, "Y");
  for (double v : {5.0, 3.0, 7.0}) list.AddValue(v);
  EXPECT_EQ(Stats(list), (std::vector<double>{15, 15, 3, 7}));
  list.AddValue(-4);
  EXPECT_EQ(Stats(list), (std::vector<double>{11, 19, -4, 7}));
  list.Delete(3);  // the -4
  EXPECT_EQ(Stats(list), (std::vector<double>{15, 15, 3, 7}));
  list.Delete(2);  // the 7: the maximum is found again among the rest
  EXPECT_EQ(Stats(list), (std::vector<double>{8, 8, 3, 5}));
  list.SetValue(0, 10);
  EXPECT_EQ(Values(list), (std::vector<double>{10, 3}));
  EXPECT_EQ(Stats(list), (std::vector<double>{13, 13, 3, 10}));
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(Stats(list), (std::vector<double>{0, 0, 0, 0}));
}

TEST(ValueList, MultiplierScalesReadsAndStatistics) {
  TChartValueList list(nullptr, "Y");
  for (double v : {2.0, -3.0}) list.AddValue(v);
  list.SetMultiplier(10);
  EXPECT_DOUBLE_EQ(list.Value(0), 20);
  EXPECT_DOUBLE_EQ(list.StoredValue(0), 2);
  // The totals are sums of multiplied values too, so they change with it.
  EXPECT_EQ(Stats(list), (std::vector<double>{-10, 50, -30, 20}));
  list.AddValue(1);
  EXPECT_DOUBLE_EQ(list.Total(), 0);
  EXPECT_EQ((Ints{list.Locate(10), list.Locate(1)}), (Ints{2, -1}));
  // A negative multiplier turns the read order round, but the list keeps the
  // order of what it stores.
  TChartValueList x(nullptr, "X");
  x.SetOrder(loAscending);
  x.SetMultiplier(-1);
  for (double v : {2.0, 1.0}) x.AddValue(v);
  EXPECT_EQ(Values(x), (std::vector<double>{-1, -2}));
}

TEST(ValueList, BadIndexesRaise) {
  TChartValueList list(nullptr, "Y");
  list.AddValue(1);
  ExpectRaises<Exception>([&] { list.Value(7); }, "Listenindex überschreitet das Maximum (7)");
  EXPECT_THROW(list.Value(-1), Exception);
  EXPECT_THROW(list.Delete(5), Exception);
  EXPECT_THROW(list.InsertValue(3, 0), Exception);
  EXPECT_THROW(list.SetValue(1, 0), Exception);
  EXPECT_EQ(list.Count(), 1);
}

}  // namespace
