#include "tests/web/WebStack.h"

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/common/Shell.h"
#include "tests/common/TempRoot.h"
#include "tests/common/XmltvText.h"

namespace webtest {

using nlohmann::json;

const std::string kQuoted = "He said \"Stop\" & 'left' \\ back";
const std::string kMarkup = "<script>alert('x')</script><img src=x onerror=\"alert(1)\">";
const std::string kEmoji = "Emoji \xF0\x9F\x93\xBA Night \xF0\x9F\x8C\x99 caf\xC3\xA9";

std::string LongTitle() {
  std::string title;
  for (int i = 0; i < 2000; ++i) title += (i % 10 == 9) ? "\xC3\xA9" : "a";
  return title;
}

long long Now() { return static_cast<long long>(std::time(nullptr)); }

std::string LineStarting(const std::string& text, const std::string& prefix) {
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(prefix, 0) == 0) return line;
  }
  return std::string();
}

namespace {

std::string XmlEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default: out += c;
    }
  }
  return out;
}

bool WriteFile(const std::string& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary);
  file << text;
  return static_cast<bool>(file);
}

}  // namespace

WebStack::WebStack() {
  std::string pattern = tev::test::TempPattern("tev-web-");
  if (mkdtemp(&pattern[0]) != nullptr) dir_ = pattern;
}

WebStack::~WebStack() {
  StopWeb();
  StopModule();
  peers_.Stop(SIGTERM, 5000);
  nats_.Stop();
  if (!dir_.empty()) std::system(("rm -rf '" + dir_ + "'").c_str());
}

bool WebStack::Start(const std::vector<GuideEntry>& guide, std::string* error) {
  if (dir_.empty()) return *error = "no temporary folder", false;
  if (!nats_.Start()) return *error = "nats-server did not start", false;
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<tv>\n"
      "<channel id=\"testcard.tev\"><display-name>Test Card</display-name></channel>\n"
      "<channel id=\"bars.tev\"><display-name>Colour Bars</display-name></channel>\n"
      "<channel id=\"mandel.tev\"><display-name>Mandelbrot</display-name></channel>\n";
  for (const GuideEntry& entry : guide) {
    xml += "<programme start=\"" + tev::test::PacificText(entry.start) + "\" stop=\"" +
           tev::test::PacificText(entry.start + entry.minutes * 60LL) + "\" channel=\"" + entry.channel + "\"><title>" +
           XmlEscape(entry.title) + "</title><desc>" + XmlEscape(entry.title) +
           " described</desc><category>Test</category></programme>\n";
  }
  xml += "</tv>\n";
  const std::string registry = dir_ + "/registry.ini";
  if (!WriteFile(dir_ + "/guide.xml", xml) ||
      !WriteFile(registry, "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TEV Networks\\Tev\\Config]\nvelDirectory.host=127.0.0.1:" +
                               std::to_string(nats_.Port()) + "\n\n[HKEY_LOCAL_MACHINE\\Software\\TEV Networks\\Tev]\nLogLevel=2\n")) {
    return *error = "cannot write the test's files", false;
  }
  mkdir((dir_ + "/documents").c_str(), 0755);
  mkdir((dir_ + "/appdata").c_str(), 0755);
  if (!moduleUser_.empty()) {
    const struct passwd* user = getpwnam(moduleUser_.c_str());
    const struct group* group = getgrnam(moduleGroup_.c_str());
    if (user == nullptr || group == nullptr || chmod(dir_.c_str(), 0755) != 0 ||
        chown((dir_ + "/appdata").c_str(), user->pw_uid, group->gr_gid) != 0) {
      return *error = "cannot hand the data folder to " + moduleUser_, false;
    }
  }
  const std::string host = "127.0.0.1:" + std::to_string(nats_.Port());
  if (!peers_.Start(
          {TEV_PEERS_BINARY, "--host", host, "--data", dir_ + "/peers", "--channels", channels_,
           "--guide", dir_ + "/guide.xml", "--tuners", TEV_SOURCE_DIR "/peers/samples/tuners.json",
           "--no-shift", "--settings", registry},
          dir_ + "/peers.log")) {
    return *error = "tev-peers did not start", false;
  }
  if (!StartWeb()) return *error = "tev-web did not start", false;
  // The library answers before the module asks it (it asks only every 10 s).
  if (!WaitUntil([this] { return Get("/api/upcoming").is_object() && !Get("/api/guide").is_null(); }, 30)) {
    return *error = "the media library did not answer through tev-web", false;
  }
  if (!StartModule()) return *error = "the module did not start: see " + dir_ + "/appdata", false;
  int status = 0;
  Send("PUT", "/api/settings", {{"padding", 0}}, &status);
  if (status != 200) return *error = "the padding could not be set", false;
  return true;
}

bool WebStack::StartModule() {
  const std::map<std::string, std::string> env = {{"TEV_APPDATA_DIR", dir_ + "/appdata"},
                                                  {"TEV_DOCUMENTS_DIR", dir_ + "/documents"},
                                                  {"TEV_REGISTRY_FILE", dir_ + "/registry.ini"}};
  std::vector<std::string> argv{TEV_HOST_BINARY, TEV_MODULE_FILE};
  if (!moduleUser_.empty()) {
    argv.insert(argv.begin(), {"/usr/bin/setpriv", "--reuid=" + moduleUser_,
                               "--regid=" + moduleGroup_, "--clear-groups"});
  }
  if (!module_.Start(argv, dir_ + "/host.log", env)) return false;
  // Ready once the engine has its folders and the library has been read.
  return WaitUntil(
      [this] {
        json settings = Get("/api/settings");
        json status = Get("/api/status");
        return settings.is_object() && settings["videoDir"].is_string() &&
               !settings["videoDir"].get<std::string>().empty() && status.value("ok", false);
      },
      60);
}

void WebStack::RunModuleAs(const std::string& user, const std::string& group) {
  moduleUser_ = user;
  moduleGroup_ = group;
}

void WebStack::StopModule() { module_.Stop(SIGTERM, 15000); }

bool WebStack::StartWeb(const std::vector<std::string>& extraArguments) {
  webPort_ = tev::test::FreeLoopbackPort();
  std::vector<std::string> args{TEV_WEB_BINARY, "--listen", "127.0.0.1:" + std::to_string(webPort_), "--host",
                                "127.0.0.1:" + std::to_string(nats_.Port()), "--settings", dir_ + "/registry.ini",
                                "--poll", "200"};
  args.insert(args.end(), extraArguments.begin(), extraArguments.end());
  if (!web_.Start(args, dir_ + "/web.log")) return false;
  return WaitUntil([this] { return Client()->Get("/") != nullptr; }, 20);
}

void WebStack::StopWeb() { web_.Stop(SIGTERM, 10000); }

std::unique_ptr<httplib::Client> WebStack::Client() const {
  auto client = std::make_unique<httplib::Client>("127.0.0.1", webPort_);
  client->set_connection_timeout(5);
  client->set_read_timeout(30);
  return client;
}

json WebStack::Get(const std::string& path) const {
  httplib::Result result = Client()->Get(path.c_str());
  if (!result || result->status != 200) return json();
  return json::parse(result->body, nullptr, false);
}

json WebStack::Send(const std::string& method, const std::string& path, const json& body, int* status) const {
  httplib::Headers headers{{"Origin", Origin()}};
  auto client = Client();
  const std::string text = body.is_null() ? std::string() : body.dump();
  httplib::Result result =
      method == "POST"    ? client->Post(path.c_str(), headers, text, "application/json")
      : method == "PUT"   ? client->Put(path.c_str(), headers, text, "application/json")
      : method == "PATCH" ? client->Patch(path.c_str(), headers, text, "application/json")
                          : client->Delete(path.c_str(), headers, text, "application/json");
  *status = result ? result->status : -1;
  return result ? json::parse(result->body, nullptr, false) : json();
}

bool WebStack::WaitUntil(const std::function<bool()>& done, int seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return true;
}

std::string WebStack::Velctl(const std::string& arguments) const {
  return tev::test::RunShell(std::string(TEV_VELCTL_BINARY) + " --timeout 20000 --host 127.0.0.1:" +
                             std::to_string(nats_.Port()) + " " + arguments + " 2>&1")
      .output;
}

std::string WebStack::Schedule(const std::string& channel, const std::string& channelId,
                               const std::string& title, long long start, int seconds, int* status,
                               json* answer) const {
  const json sent = Send("POST", "/api/schedules",
                         {{"channel", channel}, {"channelId", channelId}, {"title", title}, {"start", start},
                          {"duration", seconds}},
                         status);
  if (answer != nullptr) *answer = sent;
  return sent.is_object() ? sent.value("id", std::string()) : std::string();
}

json WebStack::Find(const std::string& list, const std::string& id) const {
  json answer = Get(list);
  if (!answer.is_object()) return json();
  for (const json& item : answer["items"]) {
    if (item["id"] == id) return item;
  }
  return json();
}

}  // namespace webtest
