#include "http/http_cookie.h"

#include "http/http_fields.h"

void THttpCookie::SetName(const std::string& name, bool designing) {
  if (UpperCase(CookieName) == UpperCase(name_) || (designing && CookieName.empty())) CookieName = name;
  name_ = name;
}
