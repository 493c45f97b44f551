#include "chart/value_list.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/sysutils.h"

namespace {

std::vector<double> Values(const TChartValueList& list) {
  std::vector<double> out;
  for (int i = 0; i < list.Count(); ++i) out.push_back(list.Value(i));
  return out;
}

TEST(ValueList, AddKeepsOrder) {
  struct Case {
    TChartListOrder order;
    std::vector<double> added;
    std::vector<double> stored;
    std::vector<int> indexes;  // index each AddValue returned
  };
  const Case cases[] = {
      {loNone, {2, 1, 3}, {2, 1, 3}, {0, 1, 2}},
      {loAscending, {2, 1}, {1, 2}, {0, 0}},
      {loAscending, {1, 3, 2, 0}, {0, 1, 2, 3}, {0, 1, 1, 0}},
      {loDescending, {1, 3, 2, 4}, {4, 3, 2, 1}, {0, 0, 1, 0}},
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
}

TEST(ValueList, EqualValuesKeepInsertionOrder) {
  // The stored values are equal, so tell them apart by what sits beside them.
  TChartValueList x(nullptr, "X");
  TChartValueList y(nullptr, "Y");
  x.SetOrder(loAscending);
  const double points[][2] = {{2, 10}, {1, 20}, {2, 30}, {2, 40}};
  for (const auto& p : points) y.InsertValue(x.AddValue(p[0]), p[1]);
  EXPECT_EQ(Values(x), (std::vector<double>{1, 2, 2, 2}));
  EXPECT_EQ(Values(y), (std::vector<double>{20, 10, 30, 40}));
}

TEST(ValueList, StatisticsFollowAddDeleteSetAndClear) {
  TChartValueList list(nullptr, "Y");
  for (double v : {5.0, 3.0, 7.0}) list.AddValue(v);
  EXPECT_DOUBLE_EQ(list.Total(), 15);
  EXPECT_DOUBLE_EQ(list.AbsoluteTotal(), 15);
  EXPECT_DOUBLE_EQ(list.MinValue(), 3);
  EXPECT_DOUBLE_EQ(list.MaxValue(), 7);

  list.AddValue(-4);
  EXPECT_DOUBLE_EQ(list.Total(), 11);
  EXPECT_DOUBLE_EQ(list.AbsoluteTotal(), 19);
  EXPECT_DOUBLE_EQ(list.MinValue(), -4);

  list.Delete(3);  // the -4
  EXPECT_DOUBLE_EQ(list.Total(), 15);
  EXPECT_DOUBLE_EQ(list.AbsoluteTotal(), 15);
  EXPECT_DOUBLE_EQ(list.MinValue(), 3);

  list.Delete(2);  // the 7: the maximum is found again among the rest
  EXPECT_DOUBLE_EQ(list.MaxValue(), 5);

  list.SetValue(0, 10);
  EXPECT_EQ(Values(list), (std::vector<double>{10, 3}));
  EXPECT_DOUBLE_EQ(list.Total(), 13);
  EXPECT_DOUBLE_EQ(list.MaxValue(), 10);

  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_DOUBLE_EQ(list.Total(), 0);
  EXPECT_DOUBLE_EQ(list.AbsoluteTotal(), 0);
  EXPECT_DOUBLE_EQ(list.MinValue(), 0);
  EXPECT_DOUBLE_EQ(list.MaxValue(), 0);
}

TEST(ValueList, MultiplierScalesReadsAndStatistics) {
  TChartValueList list(nullptr, "Y");
  list.AddValue(2);
  list.AddValue(-3);
  list.SetMultiplier(10);
  EXPECT_DOUBLE_EQ(list.Value(0), 20);
  EXPECT_DOUBLE_EQ(list.StoredValue(0), 2);
  EXPECT_DOUBLE_EQ(list.MinValue(), -30);
  EXPECT_DOUBLE_EQ(list.MaxValue(), 20);
  // The totals are sums of multiplied values too, so they change with it.
  EXPECT_DOUBLE_EQ(list.Total(), -10);
  EXPECT_DOUBLE_EQ(list.AbsoluteTotal(), 50);
  list.AddValue(1);
  EXPECT_DOUBLE_EQ(list.Total(), 0);
  EXPECT_EQ(list.Locate(10), 2);
  EXPECT_EQ(list.Locate(1), -1);
}

TEST(ValueList, AscendingOrderComparesStoredValues) {
  // A negative multiplier turns the read order round, but the list keeps the
  // order of what it stores.
  TChartValueList list(nullptr, "X");
  list.SetOrder(loAscending);
  list.SetMultiplier(-1);
  list.AddValue(2);
  list.AddValue(1);
  EXPECT_EQ(Values(list), (std::vector<double>{-1, -2}));
}

TEST(ValueList, BadIndexesRaise) {
  TChartValueList list(nullptr, "Y");
  list.AddValue(1);
  EXPECT_THROW(list.Value(1), Exception);
  EXPECT_THROW(list.Value(-1), Exception);
  EXPECT_THROW(list.Delete(5), Exception);
  EXPECT_THROW(list.InsertValue(3, 0), Exception);
  EXPECT_THROW(list.SetValue(1, 0), Exception);
  EXPECT_EQ(list.Count(), 1);
  try {
    list.Value(7);
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Listenindex überschreitet das Maximum (7)");
  }
}

}  // namespace
