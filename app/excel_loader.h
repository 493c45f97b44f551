// The loader form: reads one worksheet of a workbook into a grid of texts.
// The request driver sets the sheet number and file name, calls Button2Click
// and takes rows 1 and 2 of the grid.
#pragma once

#include <string>

#include "app/string_grid.h"

class TExcel {
 public:
  // Sets up the grid headers (column letters, row numbers).
  TExcel();

  // Empties the data cells and reads sheet seSheet of the workbook edRead
  // into the grid: sheet cell (row r, column c), counted from 0, lands in
  // grid cell (column c+1, row r+1); sheet columns 0..62 and rows 0..254 fit.
  void Button2Click();

  std::string edRead = "ReadTest.xls";  // file name to read
  int seSheet = 1;                      // sheet number, counted from 1
  TStringGrid Grid{64, 256};            // row 0 and column 0 are headers
  std::string lblVersion;               // version of the file read
};
