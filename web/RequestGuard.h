// What every request passes before its route: the password when one is set
// (HTTP Basic, any user name), the Host it was sent to when tev-web listens
// on loopback (so a page of another site cannot reach it by a name that
// resolves to this machine), and for every changing request (POST, PUT,
// PATCH, DELETE) an origin that is the page's own.
#ifndef TEV_WEB_REQUESTGUARD_H_
#define TEV_WEB_REQUESTGUARD_H_

#include <set>
#include <string>
#include <vector>

#include <httplib.h>

namespace web {

class RequestGuard {
 public:
  // `hosts`: the Host values (host:port) accepted; empty accepts any.
  RequestGuard(std::string password, std::set<std::string> hosts);

  // True when the request may go on; otherwise the refusal is in `res`
  // (401 without the password, 403 for a foreign host or origin).
  bool Admit(const httplib::Request& req, httplib::Response& res) const;

  // The Host values of a loopback listener on `port`, plus `extra` names
  // (with or without a port).
  static std::set<std::string> LoopbackHosts(int port, const std::vector<std::string>& extra);

 private:
  bool PasswordMatches(const httplib::Request& req) const;
  bool SameOrigin(const httplib::Request& req) const;

  const std::string password_;
  const std::set<std::string> hosts_;
};

}  // namespace web

#endif  // TEV_WEB_REQUESTGUARD_H_
