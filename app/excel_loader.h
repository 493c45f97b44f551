// The loader form: reads one worksheet of a workbook into a grid of texts.
// The request driver sets the sheet number and file name, calls Button2Click
// and takes rows 1 and 2 of the grid.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <utility>

#include "app/string_grid.h"
#include "xls/xls_read.h"
#include "xlswrite/xls_write.h"

class TExcel {
 public:
  // Sets up the reader with its stored settings and event handlers. The
  // grid is made by the first read (a request without a workbook never
  // needs it).
  TExcel();

  // Empties the data cells and reads sheet seSheet of the workbook edRead
  // into the grid: sheet cell (row r, column c), counted from 0, lands in
  // grid cell (column c+1, row r+1); sheet columns 0..62 and rows 0..254 fit.
  // Numbers arrive as FloatToStr text, booleans as "TRUE"/"FALSE"; a
  // formula cell shows "=" and its formula text, and its cached result is
  // kept apart (FormulaValue) in the same text form. Each cell's
  // object slot gets the background colour of its format. Open failures
  // raise the reader's exception; failures while reading are reported
  // through OnLogMessage and end the read (the grid keeps what arrived).
  // The read ends once the chosen sheet has: nothing after it reaches the grid.
  // The workbook's format is found from its content (workbook/workbook_read.h);
  // for the formats other than .xls the read ends after the sheet's second
  // row, all the request driver takes.
  void Button2Click();

  // Writes the grid's data cells into the workbook edWrite in the format
  // chosen in cbVersion (an index into TXLSWrite::VersionNames()): a text
  // beginning with "=" as a formula (arguments separated by ";", as the read
  // path shows them), a number text as a number, "TRUE" and "FALSE" as
  // booleans, anything else as a text. The workbook is written under a
  // temporary name beside edWrite and renamed only when it is complete; on
  // any failure (the writer's exception is passed on) nothing is left.
  void Button3Click();

  std::string edRead = "ReadTest.xls";  // file name to read
  std::string edReadName;  // name its format is judged by when not edRead's (an upload's own name)
  std::string edWrite = "WriteTest.xls";  // file name to write
  int cbVersion = 1;                      // "Excel 5.0/95"
  int seSheet = 1;                      // sheet number, counted from 1
  TStringGrid Grid{0, 0};               // 64 x 256 once read; row 0 and column 0 are headers
  // The grid as a user fills it before writing: made (64 x 256, with its
  // headers) on first use, as a read makes it.
  TStringGrid& EditGrid() {
    if (Grid.ColCount() == 0) MakeGrid();
    return Grid;
  }
  std::string lblVersion;               // version of the file read
  int Progress = 0;                     // progress of the last read, 0..100

  // The cached result of the formula in grid cell (col, row) of the last
  // read, as a value cell would show it; nullptr when it has none.
  const std::string* FormulaValue(int col, int row) const;

  TXLSRead XLSRead;
  TXLSWrite XLSWrite;
  // Receives the reader's error messages, without the question the reader
  // would ask (the request log in the gateway).
  std::function<void(const std::string&)> OnLogMessage;

 private:
  bool InRange(int col, int row) const { return col < Grid.ColCount() - 1 && row < Grid.RowCount() - 1; }
  void SetColour(int col, int row, int formatIndex);
  // Sizes the grid and writes its headers (column letters, row numbers).
  void MakeGrid();
  void SetValue(int col, int row, std::string text, bool isFormulaValue);

  std::map<std::pair<int, int>, std::string> formulaValues_;  // by grid cell
};
