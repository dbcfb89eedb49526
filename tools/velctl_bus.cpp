#include "tools/velctl_bus.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <cstdlib>
#include <iostream>
#include <utility>
#include <vector>

#include "platform/WideText.h"
#include "support/Registry.h"
#include "support/VUtil.h"
#include "vel/VelSatellite.h"
#include "vel/WireCodec.h"

namespace velctl {

namespace {

using nlohmann::json;

std::wstring W(const std::string& text) { return tev::FromStdUtf8(text); }

// velctl's own settings where the package put them (cmake/Install.cmake),
// used before the module's file when nothing else is named.
const char kInstalledSettings[] = "/etc/tev/bus/velctl.ini";
const char kDefaultHost[] = "127.0.0.1:4222";

class JsonService : public VelSatelliteDelegateGeneric {
 public:
  explicit JsonService(std::function<int(const json&)> handler) : handler_(std::move(handler)) {}
  int invoke(const std::wstring&, const VARIANT& in, VARIANT*) override {
    json value;
    std::string error;
    if (!vel::EncodeVariant(in, &value, &error)) value = json();
    return handler_(value);
  }

 private:
  std::function<int(const json&)> handler_;
};

// Who a person should start when nobody offers a method of `addressee`.
std::string WhoOffers(const std::string& addressee) {
  if (addressee == "ZoVIZ") return "the module (tevpvr-host)";
  if (addressee == "TevMediaV2" || addressee == "TevStreamer") return "tev-peers";
  if (addressee == "ALL") return "anyone listening";
  return "a satellite that offers it";
}

// The group whose members may read `path`: the file's, or when even the
// file is hidden, its folder's.
std::string ReadingGroup(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    if (stat(folder.c_str(), &info) != 0) return std::string();
  }
  const group* owner = getgrgid(info.st_gid);
  return owner != nullptr ? owner->gr_name : std::to_string(info.st_gid);
}

// Why `path` cannot be read, as a sentence; empty when it can. A folder
// that may not be searched hides the file behind it: that is a permission,
// not a missing file.
std::string UnreadableBecause(const std::string& path) {
  if (access(path.c_str(), R_OK) == 0) return std::string();
  const int error = errno;
  if (error == ENOENT) return "the file is missing";
  if (error == EACCES) {
    const std::string group = ReadingGroup(path);
    return "permission denied" +
           (group.empty() || group == "root" ? std::string() : "; run as a member of group " + group);
  }
  return std::strerror(error);
}

}  // namespace

class Bus::Client : public VelSatellite {
 public:
  void DefineServices() override {
    for (auto& service : services_) {
      AddService(W(service.first), W(service.first), new JsonService(service.second));
    }
  }
  std::vector<std::pair<std::string, std::function<int(const json&)>>> services_;
};

Bus::Bus(const BusOptions& options) : options_(options), client_(new Client) {
  if (options_.name.empty()) options_.name = "velctl-" + std::to_string(getpid());
  // What velctl and the web page offer are listeners for the module's
  // broadcasts; their bus user may not take requests.
  client_->SetBroadcastsOnly(true);
}

Bus::~Bus() { client_->Disconnect(); }

void Bus::Offer(const std::string& method, std::function<int(const json&)> handler) {
  client_->services_.emplace_back(method, std::move(handler));
}

bool Bus::Join(std::string* error) {
  if (options_.dryRun) return true;
  if (options_.settings.empty() && std::getenv("TEV_REGISTRY_FILE") == nullptr) {
    // The package's file when it is installed; one we may not read must be
    // said, or the bus refuses us without credentials and nobody knows why.
    const std::string because = UnreadableBecause(kInstalledSettings);
    if (because.empty()) {
      options_.settings = kInstalledSettings;
    } else if (because != "the file is missing") {
      *error = std::string("cannot read ") + kInstalledSettings + ": " + because;
      return false;
    }
  } else if (!options_.settings.empty()) {
    const std::string because = UnreadableBecause(options_.settings);
    if (!because.empty()) {
      *error = "cannot read the settings file " + options_.settings + ": " + because;
      return false;
    }
  }
  CRegistryImpl registry(options_.settings);
  if (options_.host.empty()) {
    std::wstring host;
    bool named = registry.GetString(L"SOFTWARE\\TEV Networks\\Tev\\Config", L"velDirectory.host",
                                    &host) &&
                 !host.empty();
    options_.host = named ? tev::ToStdUtf8(host) : kDefaultHost;
  }
  vel::BusCredentials credentials = vel::ReadBusCredentials(registry);
  const vel::BusCredentials& overrides = options_.overrides;
  if (!overrides.user.empty()) {
    credentials.user = overrides.user;
    credentials.password = overrides.password;
  }
  if (!overrides.token.empty()) credentials.token = overrides.token;
  if (!overrides.caFile.empty()) credentials.caFile = overrides.caFile;
  if (!overrides.certFile.empty()) {
    credentials.certFile = overrides.certFile;
    credentials.keyFile = overrides.keyFile;
  }
  client_->SetCredentials(credentials);
  long connected = client_->Connect(W(options_.host), W(options_.name));
  if (connected != 0) {
    *error = "cannot join the bus at " + options_.host + ": is nats-server running there" +
             (credentials.Empty() ? std::string("?") : std::string(", and does it take these credentials?"));
    return false;
  }
  client_->SetRequestTimeout(options_.timeoutMs);
  return true;
}

Answer Bus::Call(const std::string& addressee, const std::string& method, const json& params) {
  Answer answer;
  AutoVariant in, out, ret;
  std::string error;
  if (!params.is_null() && !vel::DecodeVariant(params, &in, &error)) {
    answer.exit = kUsage;
    answer.error = "parameters of " + method + ": " + error;
    return answer;
  }
  if (options_.dryRun) {
    std::cout << addressee << " " << method << " "
              << (params.is_null() ? std::string("null") : params.dump()) << "\n";
    return answer;
  }
  answer.busResult = client_->Request(W(addressee), W(method), in, &out, 0, &ret);
  if (answer.busResult != 0) {
    answer.exit = kBusFailure;
    answer.error = DescribeBusFailure(answer.busResult, addressee, method, options_);
    VELSTATUS status = VELSTATUS_UNKNOWN;
    if (answer.busResult == 2 && addressee != "any" && addressee != "Any" && addressee != "ALL" &&
        client_->DirectoryPingSatellite(W(options_.host), W(addressee), 0, 2000, &status) == 0 &&
        status == VELSTATUS_ONLINE) {
      answer.error = addressee + " is on the bus but does not offer " + method;
    }
    return answer;
  }
  json code;
  vel::EncodeVariant(out, &answer.out, &error);
  vel::EncodeVariant(ret, &code, &error);
  try {
    answer.ret = VUtil::GetSingleRetcode(ret);
  } catch (const VelException&) {
    answer.ret = -1;
  }
  if (answer.ret != 0) {
    answer.exit = kRefused;
    answer.error = addressee + " refused " + method + ": " + DescribeReturnCode(answer.ret);
    // A refusal may say which part was refused and why.
    if (answer.out.is_string() && !answer.out.get<std::string>().empty()) {
      answer.error += ": " + answer.out.get<std::string>();
    }
  }
  return answer;
}

std::string DescribeBusFailure(long result, const std::string& addressee, const std::string& method,
                               const BusOptions& options) {
  switch (result) {
    case 1:
      return "not connected to the bus at " + options.host;
    case 2:
      return "no satellite offers " + method + ": is " + WhoOffers(addressee) + " running?";
    case 3:
      return "no answer from " + addressee + " to " + method + " within " +
             std::to_string(options.timeoutMs) + " ms";
    case 4:
      return "the answer of " + addressee + " to " + method + " was malformed";
    case 6:
      return "the broadcast of " + method + " could not be sent";
    case 7:
      return "the parameters of " + method + " cannot be encoded";
    default:
      return "bus failure " + std::to_string(result) + " on " + method;
  }
}

std::string DescribeReturnCode(long code) {
  switch (code) {
    case -1: return "the service failed (-1)";
    case 1: return "a parameter is missing or of the wrong type (1)";
    case 101: return "it conflicts with other schedules (101)";
    case 102: return "a database statement failed or the row is missing (102)";
    case 103: return "no such schedule (103)";
    case 105: return "no tuner for this channel (105)";
    case 107: return "not enough disk space (107)";
    case 108: return "the recording file could not be removed (108)";
    case 109: return "the recording file is not on disk (109)";
    case 110: return "the programme is over (110)";
    case 111: return "no stream to stop (111)";
    case 112: return "an equal season pass exists (112)";
    case 115: return "the streamer refused, or it or the media library could not be reached (115)";
    case 116: return "the streamer could not connect to the source (116)";
    case 119: return "no unique file name, or the programme is already scheduled (119)";
    case 122: return "the recording folder is missing (122)";
    case 123: return "the recording folder is not writable (123)";
    case 125: return "the same pass already records it (125)";
    case 403: return "the change is refused (403)";
    default: return "return code " + std::to_string(code);
  }
}

int Report(const Answer& answer) {
  if (answer.exit != kOk) std::cerr << "velctl: " << answer.error << "\n";
  return answer.exit;
}

}  // namespace velctl
