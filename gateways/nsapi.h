// The parts of the NSAPI server interface the adaptor uses, declared from the
// interface's public documentation: the leading members of the session and
// request records and the signatures of the server functions it resolves by
// name from the server library.
#pragma once

extern "C" {

struct pblock;  // a parameter block; only the server looks inside
struct netbuf;
using SYS_NETFD = void*;

struct Session {
  pblock* client;  // "ip", "dns"
  SYS_NETFD csd;   // the client connection
  netbuf* inbuf;
  int csd_open;
};

struct Request {
  pblock* vars;
  pblock* reqpb;  // "method", "uri", "protocol", "query"
  int loadhdrs;
  pblock* headers;  // request headers, names in lower case
  int senthdrs;
  pblock* srvhdrs;  // response headers
};

inline constexpr int REQ_PROCEED = 0;
inline constexpr int REQ_ABORTED = -1;
inline constexpr int NET_INFINITE_TIMEOUT = 0;

using NsSystemVersion = const char* (*)();
using NsPblockFindval = char* (*)(const char* name, const pblock* pb);
using NsNetWrite = int (*)(SYS_NETFD sd, const char* buf, int sz);
using NsNetRead = int (*)(SYS_NETFD sd, char* buf, int sz, int timeout);
using NsEreport = int (*)(int degree, const char* fmt, ...);
}
