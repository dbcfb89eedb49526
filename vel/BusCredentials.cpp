#include "vel/BusCredentials.h"

#include <nats/nats.h>

#include "platform/WideText.h"
#include "support/Registry.h"

namespace vel {

namespace {

const wchar_t kConfigKey[] = L"SOFTWARE\\TEV Networks\\Tev\\Config";

std::string Read(CRegistry& registry, const wchar_t* name) {
  std::wstring value;
  if (!registry.GetString(kConfigKey, name, &value)) return std::string();
  return tev::ToStdUtf8(value);
}

}  // namespace

BusCredentials ReadBusCredentials(CRegistry& registry) {
  BusCredentials credentials;
  credentials.user = Read(registry, L"velDirectory.user");
  credentials.password = Read(registry, L"velDirectory.password");
  credentials.token = Read(registry, L"velDirectory.token");
  credentials.caFile = Read(registry, L"velDirectory.ca");
  credentials.certFile = Read(registry, L"velDirectory.cert");
  credentials.keyFile = Read(registry, L"velDirectory.key");
  return credentials;
}

bool ApplyBusCredentials(const BusCredentials& credentials, natsOptions* options,
                         std::string* error) {
  if (!credentials.user.empty()) {
    natsOptions_SetUserInfo(options, credentials.user.c_str(), credentials.password.c_str());
  } else if (!credentials.token.empty()) {
    natsOptions_SetToken(options, credentials.token.c_str());
  }
  if (credentials.caFile.empty() && credentials.certFile.empty()) return true;
  natsStatus s = natsOptions_SetSecure(options, true);
  if (s == NATS_OK && !credentials.caFile.empty()) {
    s = natsOptions_LoadCATrustedCertificates(options, credentials.caFile.c_str());
    if (s != NATS_OK) {
      if (error) *error = "cannot use the CA file " + credentials.caFile + ": " + natsStatus_GetText(s);
      return false;
    }
  }
  if (s == NATS_OK && !credentials.certFile.empty()) {
    // A certificate without its key (or the other way round) cannot be used.
    s = natsOptions_LoadCertificatesChain(options, credentials.certFile.c_str(),
                                          credentials.keyFile.c_str());
    if (s != NATS_OK) {
      if (error) {
        *error = "cannot use the client certificate " + credentials.certFile + " with the key " +
                 (credentials.keyFile.empty() ? std::string("(none named)") : credentials.keyFile) +
                 ": " + natsStatus_GetText(s);
      }
      return false;
    }
  }
  if (s != NATS_OK) {
    if (error) *error = std::string("cannot turn TLS on: ") + natsStatus_GetText(s);
    return false;
  }
  return true;
}

}  // namespace vel
