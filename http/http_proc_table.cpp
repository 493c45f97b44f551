#include "http/http_proc_table.h"

THttpProcTable& HttpProcTable() {
  static THttpProcTable table;
  return table;
}
