#include "vel/Subjects.h"

#include <cstdio>

#include "platform/WideText.h"

namespace vel {

std::string EncodeToken(const std::wstring& name) {
  std::string utf8 = tev::ToStdUtf8(name);
  std::string token;
  token.reserve(utf8.size());
  for (unsigned char c : utf8) {
    bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                 c == '_' || c == '-';
    if (plain) {
      token.push_back(static_cast<char>(c));
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      token += hex;
    }
  }
  // An empty name still needs a token.
  return token.empty() ? std::string("%") : token;
}

std::string DirectSubject(const std::wstring& satellite, const std::wstring& method) {
  return "vel.sat." + EncodeToken(satellite) + "." + EncodeToken(method);
}

std::string AnySubject(const std::wstring& method) { return "vel.any." + EncodeToken(method); }

std::string AnyQueue(const std::wstring& method) { return "vel.q." + EncodeToken(method); }

std::string AllSubject(const std::wstring& method) { return "vel.all." + EncodeToken(method); }

std::string PingSubject(const std::wstring& satellite) { return "vel.ping." + EncodeToken(satellite); }

Route RouteOf(const std::wstring& addressee) {
  if (addressee == L"any" || addressee == L"Any") return Route::kAny;
  if (addressee == L"ALL") return Route::kAll;
  return Route::kDirect;
}

}  // namespace vel
