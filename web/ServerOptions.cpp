#include "web/ServerOptions.h"

#include <arpa/inet.h>

#include <cstdlib>
#include <fstream>

namespace web {

bool ParseListen(const std::string& text, ListenAddress* address, std::string* error) {
  std::string host = "127.0.0.1", port = text;
  if (!text.empty() && text[0] == '[') {
    const size_t close = text.find("]:");
    if (close == std::string::npos) {
      *error = "--listen " + text + ": write an IPv6 address as [ADDRESS]:PORT";
      return false;
    }
    host = text.substr(1, close - 1);
    port = text.substr(close + 2);
  } else if (text.find(':') != std::string::npos) {
    const size_t colon = text.rfind(':');
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
  }
  char* end = nullptr;
  const long number = port.empty() ? 0 : std::strtol(port.c_str(), &end, 10);
  if (port.empty() || *end != '\0' || number < 1 || number > 65535 || host.empty()) {
    *error = "--listen " + text + ": expected HOST:PORT with a port from 1 to 65535";
    return false;
  }
  address->host = host;
  address->port = static_cast<int>(number);
  return true;
}

bool IsLoopback(const std::string& host) {
  if (host == "localhost") return true;
  in_addr v4{};
  if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6{};
  return inet_pton(AF_INET6, host.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

bool ReadPassword(const std::string& path, std::string* password, std::string* error) {
  std::ifstream file(path);
  std::string line;
  if (!file || !std::getline(file, line)) {
    *error = "--password-file " + path + ": cannot be read";
    return false;
  }
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  if (line.empty()) {
    *error = "--password-file " + path + ": the first line (the password) is empty";
    return false;
  }
  *password = line;
  return true;
}

}  // namespace web
