#include "chart/value_list.h"

#include <algorithm>
#include <cmath>

#include "chart/series.h"
#include "platform/sysutils.h"

TChartValueList::TChartValueList(TChartSeries* owner, std::string name)
    : owner_(owner), name_(std::move(name)) {}

void TChartValueList::SetDateTime(bool value) {
  if (date_time_ == value) return;
  date_time_ = value;
  if (owner_) owner_->Repaint();
}

void TChartValueList::SetMultiplier(double value) {
  if (multiplier_ == value) return;
  multiplier_ = value;
  // Every statistic holds multiplied values, so all of them change.
  RecalcStats();
  if (owner_) owner_->Repaint();
}

void TChartValueList::CheckIndex(int index) const {
  if (index < 0 || index >= Count())
    throw Exception("Listenindex überschreitet das Maximum (" + std::to_string(index) + ")");
}

double TChartValueList::Value(int index) const {
  CheckIndex(index);
  return values_[static_cast<size_t>(index)] * multiplier_;
}

double TChartValueList::StoredValue(int index) const {
  CheckIndex(index);
  return values_[static_cast<size_t>(index)];
}

void TChartValueList::AddStats(double stored) {
  const double v = stored * multiplier_;
  total_ += v;
  absolute_total_ += std::fabs(v);
  if (values_.size() == 1) {
    min_value_ = max_value_ = v;
  } else {
    min_value_ = std::min(min_value_, v);
    max_value_ = std::max(max_value_, v);
  }
}

int TChartValueList::AddValue(double value) {
  size_t at = values_.size();
  if (order_ != loNone && !values_.empty()) {
    // Searching from the end: the new value goes after the last stored value
    // that does not break the order, so equal values keep insertion order.
    const bool ascending = order_ == loAscending;
    auto keeps_order = [&](double stored) { return ascending ? stored <= value : stored >= value; };
    at = 0;
    for (size_t i = values_.size(); i > 0; --i) {
      if (keeps_order(values_[i - 1])) {
        at = i;
        break;
      }
    }
  }
  values_.insert(values_.begin() + static_cast<std::ptrdiff_t>(at), value);
  AddStats(value);
  return static_cast<int>(at);
}

void TChartValueList::InsertValue(int index, double value) {
  if (index < 0 || index > Count())
    throw Exception("Listenindex überschreitet das Maximum (" + std::to_string(index) + ")");
  values_.insert(values_.begin() + index, value);
  AddStats(value);
}

void TChartValueList::SetValue(int index, double value) {
  CheckIndex(index);
  const double old = values_[static_cast<size_t>(index)] * multiplier_;
  values_[static_cast<size_t>(index)] = value;
  const double now = value * multiplier_;
  total_ += now - old;
  absolute_total_ += std::fabs(now) - std::fabs(old);
  RecalcMinMax();
}

void TChartValueList::Delete(int index) {
  CheckIndex(index);
  const double old = values_[static_cast<size_t>(index)] * multiplier_;
  values_.erase(values_.begin() + index);
  total_ -= old;
  absolute_total_ -= std::fabs(old);
  RecalcMinMax();
}

void TChartValueList::Clear() {
  values_.clear();
  min_value_ = max_value_ = total_ = absolute_total_ = 0;
}

int TChartValueList::Locate(double value) const {
  for (int i = 0; i < Count(); ++i)
    if (values_[static_cast<size_t>(i)] * multiplier_ == value) return i;
  return -1;
}

void TChartValueList::RecalcMinMax() {
  min_value_ = max_value_ = 0;
  for (size_t i = 0; i < values_.size(); ++i) {
    const double v = values_[i] * multiplier_;
    if (i == 0) {
      min_value_ = max_value_ = v;
    } else {
      min_value_ = std::min(min_value_, v);
      max_value_ = std::max(max_value_, v);
    }
  }
}

void TChartValueList::RecalcStats() {
  total_ = absolute_total_ = 0;
  for (double stored : values_) {
    const double v = stored * multiplier_;
    total_ += v;
    absolute_total_ += std::fabs(v);
  }
  RecalcMinMax();
}

void TChartValueList::Assign(const TChartValueList& other) {
  if (this == &other) return;
  name_ = other.name_;
  order_ = other.order_;
  date_time_ = other.date_time_;
  multiplier_ = other.multiplier_;
  value_source_ = other.value_source_;
  values_ = other.values_;
  total_ = other.total_;
  absolute_total_ = other.absolute_total_;
  min_value_ = other.min_value_;
  max_value_ = other.max_value_;
}
