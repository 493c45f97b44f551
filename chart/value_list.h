// One list of values of a series (X, Y or a kind's own list such as "Balken"
// or "Torte"). Values are stored as given; every read multiplies by
// Multiplier. The list keeps running statistics (Total, AbsoluteTotal,
// MinValue, MaxValue) of the multiplied values and can keep its values in
// ascending or descending order as they are added.
#pragma once

#include <string>
#include <vector>

class TChartSeries;

enum TChartListOrder { loNone, loAscending, loDescending };

class TChartValueList {
 public:
  TChartValueList(TChartSeries* owner, std::string name);

  TChartSeries* Owner() const { return owner_; }

  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  TChartListOrder Order() const { return order_; }
  void SetOrder(TChartListOrder order) { order_ = order; }
  bool DateTime() const { return date_time_; }
  void SetDateTime(bool value);
  double Multiplier() const { return multiplier_; }
  // A different multiplier recomputes every statistic and repaints.
  void SetMultiplier(double value);
  const std::string& ValueSource() const { return value_source_; }
  void SetValueSource(std::string source) { value_source_ = std::move(source); }

  int Count() const { return static_cast<int>(values_.size()); }
  // Stored value × Multiplier. An index outside 0..Count()-1 raises
  // Exception "Listenindex überschreitet das Maximum (i)".
  double Value(int index) const;
  double operator[](int index) const { return Value(index); }
  // The value as stored, without the multiplier.
  double StoredValue(int index) const;
  double Last() const { return Value(Count() - 1); }

  // Adds v keeping Order (equal values keep their insertion order) and
  // returns the index it landed at.
  int AddValue(double value);
  // Inserts v at index (0..Count()) without regard to Order.
  void InsertValue(int index, double value);
  // Replaces the stored value at index.
  void SetValue(int index, double value);
  void Delete(int index);
  void Clear();
  // First index whose Value equals value, or -1.
  int Locate(double value) const;

  double Total() const { return total_; }
  double AbsoluteTotal() const { return absolute_total_; }
  double MinValue() const { return min_value_; }
  double MaxValue() const { return max_value_; }
  // Overrides the absolute total for one drawing (the pie sets it to the
  // plain sum of its values).
  void SetAbsoluteTotal(double value) { absolute_total_ = value; }
  // Recomputes Total, AbsoluteTotal, MinValue and MaxValue from the values.
  void RecalcStats();
  // Recomputes only MinValue and MaxValue.
  void RecalcMinMax();

  // Copies the values, name, order, multiplier and date flag of other.
  void Assign(const TChartValueList& other);

 private:
  void CheckIndex(int index) const;
  void AddStats(double stored);

  TChartSeries* owner_;
  std::string name_;
  std::string value_source_;
  std::vector<double> values_;
  TChartListOrder order_ = loNone;
  bool date_time_ = false;
  double multiplier_ = 1.0;
  double total_ = 0;
  double absolute_total_ = 0;
  double min_value_ = 0;
  double max_value_ = 0;
};
