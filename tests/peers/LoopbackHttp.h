// A small HTTP server on a loopback port for the peer tests: every GET is
// answered with one fixed status and body (what a network tuner serves at
// /lineup.json, or a stream that is not there). Requests are counted.
#ifndef TEV_TESTS_PEERS_LOOPBACKHTTP_H_
#define TEV_TESTS_PEERS_LOOPBACKHTTP_H_

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

class LoopbackHttp {
 public:
  explicit LoopbackHttp(std::string body, std::string status = "200 OK")
      : body_(std::move(body)), status_(std::move(status)) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listener_, 8) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      return;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~LoopbackHttp() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) close(listener_);
  }
  int port() const { return port_; }
  int requests() const { return requests_; }

 private:
  void Serve() {
    while (!stop_) {
      pollfd ready{listener_, POLLIN, 0};
      if (poll(&ready, 1, 100) <= 0) continue;
      const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      std::string request;
      char buffer[4096];
      while (request.find("\r\n\r\n") == std::string::npos) {
        pollfd in{client, POLLIN, 0};
        if (poll(&in, 1, 5000) <= 0) break;
        const ssize_t got = read(client, buffer, sizeof buffer);
        if (got <= 0) break;
        request.append(buffer, static_cast<size_t>(got));
      }
      ++requests_;
      const std::string reply = "HTTP/1.1 " + status_ + "\r\nContent-Type: application/json\r\n"
                                "Connection: close\r\nContent-Length: " +
                                std::to_string(body_.size()) + "\r\n\r\n" + body_;
      for (size_t sent = 0; sent < reply.size();) {
        const ssize_t put = write(client, reply.data() + sent, reply.size() - sent);
        if (put <= 0) break;
        sent += static_cast<size_t>(put);
      }
      close(client);
    }
  }

  const std::string body_;
  const std::string status_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> requests_{0};
  std::thread thread_;
};

#endif  // TEV_TESTS_PEERS_LOOPBACKHTTP_H_
