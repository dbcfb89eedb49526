// The whole system for tev-web's tests in a temporary folder: nats-server,
// tev-peers with the test's guide, the module in tevpvr-host, and tev-web.
#ifndef TEV_TESTS_WEB_WEBSTACK_H_
#define TEV_TESTS_WEB_WEBSTACK_H_

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "tests/common/ChildProgram.h"
#include "tests/common/NatsServer.h"

namespace webtest {

// Titles that must come back exactly as they went in.
extern const std::string kQuoted;
extern const std::string kMarkup;
extern const std::string kEmoji;
std::string LongTitle();  // 2,000 characters, not all ASCII

long long Now();
inline int StatusOf(const httplib::Result& result) { return result ? result->status : -1; }
std::string LineStarting(const std::string& text, const std::string& prefix);

struct GuideEntry {
  std::string channel;  // XMLTV channel id of the sample channels ("testcard.tev"...)
  std::string title;
  long long start;      // UTC seconds
  int minutes;
};

class WebStack {
 public:
  WebStack();
  ~WebStack();

  // Waits until the module's engine answers; false with the reason in *error.
  bool Start(const std::vector<GuideEntry>& guide, std::string* error);
  // Before Start: the line-up tev-peers imports instead of the sample's.
  void UseChannels(const std::string& lineup) { channels_ = lineup; }

  // Before Start (as root): the module runs as `user`:`group`, owning its data.
  void RunModuleAs(const std::string& user, const std::string& group);

  bool StartModule();
  void StopModule();
  bool StartWeb(const std::vector<std::string>& extraArguments = {});
  void StopWeb();
  tev::test::NatsServer& Bus() { return nats_; }

  const std::string& Dir() const { return dir_; }
  std::string RecordingFolder() const { return dir_ + "/documents/Recorded TV"; }
  std::string ModuleLog() const { return dir_ + "/appdata/TevNetworks/Logs/TevPVR.log"; }
  std::string Origin() const { return "http://127.0.0.1:" + std::to_string(webPort_); }

  // A client of tev-web; requests carry no Origin unless given.
  std::unique_ptr<httplib::Client> Client() const;
  // JSON of a GET (null when it did not answer 200).
  nlohmann::json Get(const std::string& path) const;
  // A changing request from the page itself (Origin set).
  nlohmann::json Send(const std::string& method, const std::string& path, const nlohmann::json& body,
                      int* status) const;

  static bool WaitUntil(const std::function<bool()>& done, int seconds);
  // The medium of a list (/api/upcoming...) with that id; null when none.
  nlohmann::json Find(const std::string& list, const std::string& id) const;
  // velctl's output (stdout and stderr) for `arguments`, a shell text.
  std::string Velctl(const std::string& arguments) const;
  // A schedule made as the page makes it; its id, "" when refused.
  std::string Schedule(const std::string& channel, const std::string& channelId, const std::string& title,
                       long long start, int seconds, int* status, nlohmann::json* answer = nullptr) const;

 private:
  std::string dir_;
  std::string moduleUser_, moduleGroup_;
  std::string channels_ = TEV_SOURCE_DIR "/peers/samples/channels.json";
  int webPort_ = 0;
  tev::test::NatsServer nats_;
  tev::test::ChildProgram peers_, module_, web_;
};

}  // namespace webtest

#endif  // TEV_TESTS_WEB_WEBSTACK_H_
