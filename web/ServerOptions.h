// tev-web's command line: where it listens, how it reaches the bus, and
// the password that guards it when it listens beyond this machine.
#ifndef TEV_WEB_SERVEROPTIONS_H_
#define TEV_WEB_SERVEROPTIONS_H_

#include <string>
#include <vector>

#include "tools/velctl_bus.h"

namespace web {

struct ServerOptions {
  std::string listen = "127.0.0.1:8080";
  std::string passwordFile;
  std::vector<std::string> allowHosts;  // extra names the page may be reached by
  int pollMs = 1000;                    // between listings of the media library
  velctl::BusOptions bus;
};

struct ListenAddress {
  std::string host;  // numeric address or "localhost", without brackets
  int port = 0;
};

// "HOST:PORT", "[V6]:PORT" or "PORT" (then 127.0.0.1). False with *error
// for anything else or a port outside 1..65535.
bool ParseListen(const std::string& text, ListenAddress* address, std::string* error);
// 127.0.0.0/8, ::1 and "localhost": reachable from this machine only.
bool IsLoopback(const std::string& host);
// The first line of the file, without its line end; false with *error when
// the file cannot be read or the password is empty.
bool ReadPassword(const std::string& path, std::string* password, std::string* error);

}  // namespace web

#endif  // TEV_WEB_SERVEROPTIONS_H_
