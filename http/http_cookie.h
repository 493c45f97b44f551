// The cookie component: names a cookie and how it is sent (domain, path,
// secure) and whether its value is scrambled with a numeric key. The engine
// creates one per request as the session cookie.
#pragma once

#include <cstdint>
#include <string>

class THttpCookie {
 public:
  std::string CookieName;
  std::string Domain;
  std::string Path;
  bool Secure = false;
  bool Coded = false;
  std::int32_t CodeKey = 0;

  const std::string& Name() const { return name_; }
  // Renames the component; CookieName follows as long as it still equals the
  // old name (compared without case), and an empty CookieName takes the new
  // name while designing.
  void SetName(const std::string& name, bool designing = false);

 private:
  std::string name_;
};
