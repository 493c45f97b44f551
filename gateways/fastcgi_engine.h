// FastCGI: the program stays resident under a FastCGI-capable web server
// (lighttpd mod_fastcgi, nginx with spawn-fcgi, Apache mod_fcgid) and serves
// one request after the other through Debian's libfcgi. Each request runs
// through the standard CGI engine with the FastCGI parameters as its
// environment and the FastCGI streams as its input and output, so its answer
// is byte for byte the plain CGI answer, without the status line, which
// FastCGI servers do not want.
#pragma once

#include <string>

#include "gateways/cgi_std_engine.h"

class TFastCgiEngine : public TCGIStdEngine {
 public:
  // `address` ("host:port", ":port" or a socket path) to listen on; empty:
  // the listening socket the web server passed as standard input.
  TFastCgiEngine(const THttpEngineSettings& settings, std::string address);

  // Accepts and serves requests until the listening socket fails.
  void Start() override;
  void WriteStatusLine() override { WriteStatusField(); }

 private:
  std::string address_;
};
