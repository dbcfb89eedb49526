#include "bus/CVelAtl.h"

#include "support/Log.h"
#include "support/Registry.h"
#include "vel/BusCredentials.h"

namespace {

const wchar_t kConfigKey[] = L"SOFTWARE\\TEV Networks\\Tev\\Config";
const wchar_t kDirectoryHostValue[] = L"velDirectory.host";
const wchar_t kDefaultDirectoryHost[] = L"127.0.0.1";
const wchar_t kSatelliteName[] = L"ZoVIZ";

}  // namespace

CVelAtl::CVelAtl(Schedules* engine, SeasonPassChecker* checker)
    : engine_(engine), checker_(checker) {}

CVelAtl::~CVelAtl() { Disconnect(); }

int CVelAtl::RegisterWithBus() {
  std::wstring host;
  boost::shared_ptr<CRegistry> registry = CRegistry::Instance();
  if (!registry || !registry->GetString(kConfigKey, kDirectoryHostValue, &host) || host.empty()) {
    host = kDefaultDirectoryHost;
  }
  if (registry) SetCredentials(vel::ReadBusCredentials(*registry));
  long result = Connect(host, kSatelliteName);
  if (result != 0) {
    LogError(L"Vel Registration returned %d, exiting", static_cast<int>(result));
    return 1;
  }
  return 0;
}

void CVelAtl::UnregisterFromBus() { Disconnect(); }

void CVelAtl::DefineServices() {
  for (const CVelAtlService& service : CVelAtlServiceTable()) {
    AddService(service.name, service.name,
               new VelSatelliteDelegateMember<CVelAtl>(this, service.handler));
  }
}
