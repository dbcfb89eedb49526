// Credentials for joining the bus server: NATS user and password, or a
// token, and TLS when a CA certificate is named. They are read from the
// settings-file section that holds "velDirectory.host":
//
//   velDirectory.user=pvr
//   velDirectory.password=...
//   velDirectory.token=...        (instead of user and password)
//   velDirectory.ca=/etc/tev/bus-ca.pem
//   velDirectory.cert=/etc/tev/bus/client.pem   (a server that verifies clients)
//   velDirectory.key=/etc/tev/bus/client.key
//
// None of them set: the connection is made without authentication, as a
// server without an authorization block expects.
#ifndef TEV_VEL_BUSCREDENTIALS_H_
#define TEV_VEL_BUSCREDENTIALS_H_

#include <string>

class CRegistry;
struct __natsOptions;

namespace vel {

struct BusCredentials {
  std::string user;
  std::string password;
  std::string token;
  std::string caFile;    // PEM file of the CA; non-empty turns TLS on
  std::string certFile;  // this client's certificate chain (PEM), with keyFile
  std::string keyFile;

  bool Empty() const {
    return user.empty() && token.empty() && caFile.empty() && certFile.empty();
  }
};

// The values from `registry` (absent ones empty).
BusCredentials ReadBusCredentials(CRegistry& registry);

// Puts `credentials` into libnats options before connecting. False with
// *error when the CA, certificate or key file cannot be loaded (the
// connection must then not be tried in the clear).
bool ApplyBusCredentials(const BusCredentials& credentials, __natsOptions* options,
                         std::string* error);

}  // namespace vel

#endif  // TEV_VEL_BUSCREDENTIALS_H_
