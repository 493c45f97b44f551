#include "app/excel_loader.h"

TExcel::TExcel() {
  for (int i = 0; i < Grid.ColCount() - 1; ++i) {
    std::string header;
    if (i / 26 > 0) header += static_cast<char>('A' + i / 26 - 1);
    header += static_cast<char>('A' + i % 26);
    Grid.SetCell(i + 1, 0, header);
  }
  for (int r = 1; r < Grid.RowCount(); ++r) Grid.SetCell(0, r, std::to_string(r));
}

void TExcel::Button2Click() {
  for (int c = 1; c < Grid.ColCount(); ++c) {
    for (int r = 1; r < Grid.RowCount(); ++r) {
      Grid.SetCell(c, r, {});
      Grid.SetObject(c, r, std::nullopt);
    }
  }
  // The workbook itself is read by the spreadsheet reader (not yet wired in).
}
