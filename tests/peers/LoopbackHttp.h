// An HTTP server on a loopback port answering every GET with one status and
// body (a network tuner's /lineup.json, a stream that is not there).
#ifndef TEV_TESTS_PEERS_LOOPBACKHTTP_H_
#define TEV_TESTS_PEERS_LOOPBACKHTTP_H_

#include <httplib.h>

#include <atomic>
#include <string>
#include <thread>

class LoopbackHttp {
 public:
  explicit LoopbackHttp(const std::string& body, int status = 200) {
    server_.Get(".*", [this, body, status](const httplib::Request&, httplib::Response& res) {
      ++requests_;
      res.status = status;
      res.set_content(body, "application/json");
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }
  ~LoopbackHttp() {
    server_.stop();
    thread_.join();
  }
  int port() const { return port_; }
  int requests() const { return requests_; }

 private:
  httplib::Server server_;
  int port_ = 0;
  std::atomic<int> requests_{0};
  std::thread thread_;
};

#endif  // TEV_TESTS_PEERS_LOOPBACKHTTP_H_
