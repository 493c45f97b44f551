#include "app/excel_loader.h"

#include <array>

#include "platform/sysutils.h"

TExcel::TExcel() {
  for (int i = 0; i < Grid.ColCount() - 1; ++i) {
    std::string header;
    if (i / 26 > 0) header += static_cast<char>('A' + i / 26 - 1);
    header += static_cast<char>('A' + i % 26);
    Grid.SetCell(i + 1, 0, header);
  }
  for (int r = 1; r < Grid.RowCount(); ++r) Grid.SetCell(0, r, std::to_string(r));

  XLSRead.FuncArgSeparator = ';';
  XLSRead.StrTRUE = "TRUE";
  XLSRead.StrFALSE = "FALSE";
  XLSRead.ErrorLevel = xelMessage;
  // Nobody can answer the reader's question inside a request: the message
  // goes to the log and the answer is No, which ends the read.
  XLSRead.OnMessageBox = [this](const std::string& message, bool) {
    if (OnLogMessage) OnLogMessage(message.substr(0, message.find("\rContinue?")));
    return false;
  };
  XLSRead.OnSheet = [this](TXLSRead&, const std::string&, int Index, bool& ReadIt) {
    ReadIt = Index == seSheet - 1;
  };
  XLSRead.OnNumberCell = [this](TXLSRead&, int Col, int Row, int FormatIndex, double Value, bool IsFormulaValue) {
    SetColour(Col, Row, FormatIndex);
    SetValue(Col, Row, FloatToStr(Value), IsFormulaValue);
  };
  XLSRead.OnStringCell = [this](TXLSRead&, int Col, int Row, int FormatIndex, const std::string& Value,
                                bool IsFormulaValue) {
    SetColour(Col, Row, FormatIndex);
    SetValue(Col, Row, Value, IsFormulaValue);
  };
  XLSRead.OnBoolCell = [this](TXLSRead&, int Col, int Row, int FormatIndex, bool Value, bool IsFormulaValue) {
    SetColour(Col, Row, FormatIndex);
    SetValue(Col, Row, Value ? "TRUE" : "FALSE", IsFormulaValue);
  };
  XLSRead.OnBlankCell = [this](TXLSRead&, int Col, int Row, int FormatIndex) { SetColour(Col, Row, FormatIndex); };
  XLSRead.OnFormulaCell = [this](TXLSRead&, int Col, int Row, const std::string& Formula) {
    if (InRange(Col, Row)) Grid.SetCell(Col + 1, Row + 1, "=" + Formula);
  };
  XLSRead.OnProgress = [this](TXLSRead&, int Value) { Progress = Value; };
}

void TExcel::SetValue(int col, int row, std::string text, bool isFormulaValue) {
  if (!InRange(col, row)) return;
  if (isFormulaValue) {
    formulaValues_[{col + 1, row + 1}] = std::move(text);
  } else {
    Grid.SetCell(col + 1, row + 1, std::move(text));
  }
}

const std::string* TExcel::FormulaValue(int col, int row) const {
  const auto it = formulaValues_.find({col, row});
  return it == formulaValues_.end() ? nullptr : &it->second;
}

void TExcel::SetColour(int col, int row, int formatIndex) {
  if (!InRange(col, row)) return;
  // The colour only paints the grid: a format index the workbook does not
  // define leaves the slot empty rather than ending the whole read.
  try {
    Grid.SetObject(col + 1, row + 1, XLSRead.GetCellColor(formatIndex));
  } catch (const Exception&) {
    Grid.SetObject(col + 1, row + 1, std::nullopt);
  }
}

void TExcel::Button2Click() {
  Progress = 0;
  for (int c = 1; c < Grid.ColCount(); ++c) {
    for (int r = 1; r < Grid.RowCount(); ++r) {
      Grid.SetCell(c, r, {});
      Grid.SetObject(c, r, std::nullopt);
    }
  }
  formulaValues_.clear();
  XLSRead.FileName = edRead;
  XLSRead.Read();
  static const std::array<const char*, 7> kVersions = {
      "Version: ???",         "Version: Excel 2.1", "Version: Excel 3.0", "Version: Excel 4.0",
      "Version: Excel 5.0",   "Version: Excel 95",  "Version: Excel 97"};
  const int code = XLSRead.Version() & 0x7F;
  lblVersion = code < static_cast<int>(kVersions.size()) ? kVersions[static_cast<std::size_t>(code)] : kVersions[0];
}
