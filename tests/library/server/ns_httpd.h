// A stand-in for an NSAPI server library (installed as libns-httpd50.so):
// parameter blocks held by the test host, and a connection that reads the
// request body from memory and collects what the plug-in writes.
#pragma once

#include <string>

extern "C" {

struct pblock { const char* names[16]; const char* values[16]; int count; };

struct FakeConnection { std::string input; std::size_t pos; std::string output; };

const char* system_version();
char* pblock_findval(const char* name, const pblock* pb);
int net_write(void* sd, const char* buf, int sz);
int net_read(void* sd, char* buf, int sz, int timeout);
int ereport(int degree, const char* fmt, ...);
}
