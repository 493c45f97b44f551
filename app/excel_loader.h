// The loader form: reads one worksheet of a workbook into a grid of texts.
// The request driver sets the sheet number and file name, calls Button2Click
// and takes rows 1 and 2 of the grid.
#pragma once

#include <functional>
#include <string>

#include "app/string_grid.h"
#include "xls/xls_read.h"

class TExcel {
 public:
  // Sets up the reader with its stored settings and event handlers. The
  // grid is made by the first read (a request without a workbook never
  // needs it).
  TExcel();

  // Empties the data cells and reads sheet seSheet of the workbook edRead
  // into the grid: sheet cell (row r, column c), counted from 0, lands in
  // grid cell (column c+1, row r+1); sheet columns 0..62 and rows 0..254 fit.
  // Numbers arrive as FloatToStr text, booleans as "TRUE"/"FALSE"; cached
  // formula results are not shown (a formula cell shows "=" and its formula
  // text once formulas are decoded; until then it stays empty). Each cell's
  // object slot gets the background colour of its format. Open failures
  // raise the reader's exception; failures while reading are reported
  // through OnLogMessage and end the read (the grid keeps what arrived).
  // The read ends once the chosen sheet has: nothing after it reaches the grid.
  void Button2Click();

  std::string edRead = "ReadTest.xls";  // file name to read
  int seSheet = 1;                      // sheet number, counted from 1
  TStringGrid Grid{0, 0};               // 64 x 256 once read; row 0 and column 0 are headers
  std::string lblVersion;               // version of the file read
  int Progress = 0;                     // progress of the last read, 0..100

  TXLSRead XLSRead;
  // Receives the reader's error messages, without the question the reader
  // would ask (the request log in the gateway).
  std::function<void(const std::string&)> OnLogMessage;

 private:
  bool InRange(int col, int row) const { return col < Grid.ColCount() - 1 && row < Grid.RowCount() - 1; }
  void SetColour(int col, int row, int formatIndex);
  // Sizes the grid and writes its headers (column letters, row numbers).
  void MakeGrid();
};
