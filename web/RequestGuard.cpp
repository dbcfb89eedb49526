#include "web/RequestGuard.h"

#include <cctype>
#include <utility>

#include "web/HttpJson.h"

namespace web {

namespace {

bool Changes(const std::string& method) {
  return method == "POST" || method == "PUT" || method == "PATCH" || method == "DELETE";
}

std::string Base64Decode(const std::string& text) {
  static const std::string kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  unsigned bits = 0;
  int count = 0;
  for (char c : text) {
    if (c == '=') break;
    const size_t value = kAlphabet.find(c);
    if (value == std::string::npos) return std::string();
    bits = (bits << 6) | static_cast<unsigned>(value);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xff);
    }
  }
  return out;
}

// Compares without leaving the length of the common prefix in the timing.
bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  unsigned char differ = 0;
  for (size_t i = 0; i < a.size(); ++i) differ |= static_cast<unsigned char>(a[i] ^ b[i]);
  return differ == 0;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

RequestGuard::RequestGuard(std::string password, std::set<std::string> hosts)
    : password_(std::move(password)), hosts_(std::move(hosts)) {}

std::set<std::string> RequestGuard::LoopbackHosts(int port, const std::vector<std::string>& extra) {
  const std::string suffix = ":" + std::to_string(port);
  std::set<std::string> hosts{"127.0.0.1" + suffix, "localhost" + suffix, "[::1]" + suffix};
  for (const std::string& name : extra) {
    hosts.insert(Lower(name));
    if (name.find(':') == std::string::npos || name.back() == ']') hosts.insert(Lower(name) + suffix);
  }
  return hosts;
}

bool RequestGuard::PasswordMatches(const httplib::Request& req) const {
  const std::string header = req.get_header_value("Authorization");
  if (header.compare(0, 6, "Basic ") != 0) return false;
  const std::string credentials = Base64Decode(header.substr(6));
  const size_t colon = credentials.find(':');
  return colon != std::string::npos && SameText(credentials.substr(colon + 1), password_);
}

bool RequestGuard::SameOrigin(const httplib::Request& req) const {
  const std::string host = Lower(req.get_header_value("Host"));
  if (req.has_header("Origin")) {
    const std::string origin = Lower(req.get_header_value("Origin"));
    return !host.empty() && (origin == "http://" + host || origin == "https://" + host);
  }
  // Browsers send Origin with every changing request of a page; a request
  // without it comes from a program, unless the fetch metadata says
  // otherwise.
  if (req.has_header("Sec-Fetch-Site")) {
    const std::string site = req.get_header_value("Sec-Fetch-Site");
    return site == "same-origin" || site == "none";
  }
  return true;
}

bool RequestGuard::Admit(const httplib::Request& req, httplib::Response& res) const {
  if (!hosts_.empty() && hosts_.count(Lower(req.get_header_value("Host"))) == 0) {
    ReplyError(res, 403, "tev-web does not answer requests for the host \"" + req.get_header_value("Host") +
                             "\" (start it with --allow-host NAME to be reached by that name)");
    return false;
  }
  if (!password_.empty() && !PasswordMatches(req)) {
    res.set_header("WWW-Authenticate", "Basic realm=\"TevPVR\", charset=\"UTF-8\"");
    ReplyError(res, 401, "the password is missing or wrong");
    return false;
  }
  if (Changes(req.method) && !SameOrigin(req)) {
    ReplyError(res, 403, "a change from another site is refused (Origin " + req.get_header_value("Origin") + ")");
    return false;
  }
  return true;
}

}  // namespace web
