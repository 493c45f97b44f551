#include "ns_httpd.h"

#include <algorithm>
#include <cstring>

extern "C" {

const char* system_version() { return "Netscape-Enterprise/4.1"; }

char* pblock_findval(const char* name, const pblock* pb) {
  for (int i = 0; pb && i < pb->count; ++i) {
    if (std::strcmp(pb->names[i], name) == 0) return const_cast<char*>(pb->values[i]);
  }
  return nullptr;
}

int net_write(void* sd, const char* buf, int sz) {
  static_cast<FakeConnection*>(sd)->output.append(buf, static_cast<std::size_t>(sz));
  return sz;
}

int net_read(void* sd, char* buf, int sz, int) {
  auto* c = static_cast<FakeConnection*>(sd);
  // Small pieces, as a network delivers them.
  const std::size_t n = std::min({static_cast<std::size_t>(sz), std::size_t(1000), c->input.size() - c->pos});
  std::memcpy(buf, c->input.data() + c->pos, n);
  c->pos += n;
  return static_cast<int>(n);
}

int ereport(int, const char*, ...) { return 0; }
}
