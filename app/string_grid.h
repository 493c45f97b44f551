// A grid of texts addressed as Cells(column, row), with one object slot per
// cell (the loader keeps cell colours there). Sizes are fixed by the owner;
// reading outside the grid yields an empty text, writing outside is ignored.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/color.h"

class TStringGrid {
 public:
  TStringGrid(int colCount, int rowCount) { SetSize(colCount, rowCount); }

  int ColCount() const { return cols_; }
  int RowCount() const { return rows_; }
  void SetColCount(int cols) { SetSize(cols, rows_); }
  void SetRowCount(int rows) { SetSize(cols_, rows); }

  const std::string& Cell(int col, int row) const {
    static const std::string empty;
    return InRange(col, row) ? cells_[Index(col, row)] : empty;
  }
  void SetCell(int col, int row, std::string text) {
    if (InRange(col, row)) cells_[Index(col, row)] = std::move(text);
  }

  std::optional<TColor> Object(int col, int row) const {
    return InRange(col, row) ? objects_[Index(col, row)] : std::nullopt;
  }
  void SetObject(int col, int row, std::optional<TColor> colour) {
    if (InRange(col, row)) objects_[Index(col, row)] = colour;
  }

 private:
  bool InRange(int col, int row) const { return col >= 0 && row >= 0 && col < cols_ && row < rows_; }
  std::size_t Index(int col, int row) const {
    return static_cast<std::size_t>(row) * static_cast<std::size_t>(cols_) + static_cast<std::size_t>(col);
  }
  void SetSize(int cols, int rows) {
    cols = cols < 0 ? 0 : cols;
    rows = rows < 0 ? 0 : rows;
    std::vector<std::string> cells(static_cast<std::size_t>(cols) * static_cast<std::size_t>(rows));
    std::vector<std::optional<TColor>> objects(cells.size());
    for (int r = 0; r < rows && r < rows_; ++r) {
      for (int c = 0; c < cols && c < cols_; ++c) {
        const auto to = static_cast<std::size_t>(r) * static_cast<std::size_t>(cols) + static_cast<std::size_t>(c);
        cells[to] = std::move(cells_[Index(c, r)]);
        objects[to] = objects_[Index(c, r)];
      }
    }
    cells_ = std::move(cells);
    objects_ = std::move(objects);
    cols_ = cols;
    rows_ = rows;
  }

  int cols_ = 0;
  int rows_ = 0;
  std::vector<std::string> cells_;
  std::vector<std::optional<TColor>> objects_;
};
