#include "app/excel_loader.h"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/sysutils.h"
#include "workbook/workbook_read.h"

TExcel::TExcel() {
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
  XLSRead.OnSheet = [this](TXLSRead& Sender, const std::string&, int Index, bool& ReadIt) {
    ReadIt = Index == seSheet - 1;
    if (Index > seSheet - 1) Sender.StopReading();
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

  XLSWrite.FuncArgSeparator = ';';
  XLSWrite.StrTRUE = "TRUE";
  XLSWrite.StrFALSE = "FALSE";
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

void TExcel::MakeGrid() {
  Grid = TStringGrid(64, 256);
  for (int i = 0; i < Grid.ColCount() - 1; ++i) {
    std::string header;
    if (i / 26 > 0) header += static_cast<char>('A' + i / 26 - 1);
    header += static_cast<char>('A' + i % 26);
    Grid.SetCell(i + 1, 0, header);
  }
  for (int r = 1; r < Grid.RowCount(); ++r) Grid.SetCell(0, r, std::to_string(r));
}

void TExcel::Button2Click() {
  Progress = 0;
  if (Grid.ColCount() == 0) MakeGrid();
  for (int c = 1; c < Grid.ColCount(); ++c) {
    for (int r = 1; r < Grid.RowCount(); ++r) {
      Grid.SetCell(c, r, {});
      Grid.SetObject(c, r, std::nullopt);
    }
  }
  formulaValues_.clear();
  workbook::ReadWorkbookFile(XLSRead, edRead, workbook::ReadLimits::Chart(), edReadName);
  static const std::array<const char*, 7> kVersions = {
      "Version: ???",         "Version: Excel 2.1", "Version: Excel 3.0", "Version: Excel 4.0",
      "Version: Excel 5.0",   "Version: Excel 95",  "Version: Excel 97"};
  const int code = XLSRead.Version() & 0x7F;
  lblVersion = code < static_cast<int>(kVersions.size()) ? kVersions[static_cast<std::size_t>(code)] : kVersions[0];
}

void TExcel::Button3Click() {
  const auto& versions = TXLSWrite::VersionNames();
  const int index = cbVersion >= 0 && cbVersion < static_cast<int>(versions.size()) ? cbVersion : 1;
  XLSWrite.SetXLSVersion(static_cast<TXLSVersion>(index));
  const std::size_t slash = edWrite.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : edWrite.substr(0, slash + 1);
  const std::string temp = folder + "." + edWrite.substr(folder.size()) + "." + std::to_string(::getpid()) + ".tmp";
  XLSWrite.FileName = temp;
  XLSWrite.OpenFile();
  try {
    for (int r = 1; r < Grid.RowCount(); ++r) {
      for (int c = 1; c < Grid.ColCount(); ++c) {
        const std::string& text = Grid.Cell(c, r);
        if (text.empty()) continue;
        char* end = nullptr;
        const double number = std::strtod(text.c_str(), &end);
        if (text[0] == '=') {
          XLSWrite.WriteFormula(c - 1, r - 1, text.substr(1));
        } else if (text == "TRUE" || text == "FALSE") {
          XLSWrite.WriteBoolean(c - 1, r - 1, text == "TRUE");
        } else if (*end == '\0' && text.find_first_of("xXnN ") == std::string::npos) {
          XLSWrite.WriteNumber(c - 1, r - 1, number);
        } else {
          XLSWrite.WriteString(c - 1, r - 1, text);
        }
      }
    }
    XLSWrite.CloseFile();
  } catch (...) {
    try {
      XLSWrite.CloseFile();
    } catch (...) {
    }
    ::unlink(temp.c_str());
    throw;
  }
  if (std::rename(temp.c_str(), edWrite.c_str()) != 0) {
    const int error = errno;
    ::unlink(temp.c_str());
    throw Exception("Cannot write file \"" + edWrite + "\": " + std::strerror(error));
  }
}
