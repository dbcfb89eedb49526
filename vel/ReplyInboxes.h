// Private reply inboxes for requests: each is a synchronous subscription
// that one request at a time waits on, so an answer wakes the waiting
// thread straight from the connection's reader. (libnats' own request call
// hands the answer to a delivery thread first, which then wakes the caller:
// one thread switch more per round trip.)
//
// Every request gets its own reply subject below its inbox ("<inbox>.<n>");
// a late answer to an earlier request of the same inbox is dropped. An
// inbox whose request failed is not reused: a server's "no responders"
// notice carries no subject to check.
//
// Threads: any; an inbox belongs to one request while it is taken.
#ifndef TEV_VEL_REPLYINBOXES_H_
#define TEV_VEL_REPLYINBOXES_H_

#include <nats/nats.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vel {

// One private reply subscription; idle in ReplyInboxes or held by one request.
struct ReplyInbox {
  natsSubscription* sub = nullptr;
  std::string prefix;  // "<inbox>."
  uint64_t sent = 0;   // requests sent through it
};

class ReplyInboxes {
 public:
  ReplyInboxes() = default;
  ~ReplyInboxes() { Clear(); }
  ReplyInboxes(const ReplyInboxes&) = delete;
  ReplyInboxes& operator=(const ReplyInboxes&) = delete;

  // A request in two halves, so that the caller can do other work while
  // the answer travels. Send takes an inbox and publishes `data` to
  // `subject`; on NATS_OK the ticket must be given to exactly one Receive
  // or Abandon.
  struct Ticket {
    ReplyInbox* inbox = nullptr;
    natsConnection* conn = nullptr;
    std::string replyTo;
  };
  natsStatus Send(natsConnection* conn, const char* subject, const std::string& data,
                  Ticket* ticket);
  // Waits up to timeoutMs (counted from now) for the ticket's answer.
  // NATS_OK with *reply (the caller destroys it); otherwise
  // NATS_NO_RESPONDERS, NATS_TIMEOUT, or the connection's failure (a
  // request fails once the connection is lost, within kDisconnectCheckMs,
  // as libnats' own requests do with FailRequestsOnDisconnect).
  natsStatus Receive(Ticket* ticket, int timeoutMs, natsMsg** reply);
  // Whether something waits in the ticket's inbox (its answer, or the
  // server's notice that nobody answers), so that Receive returns at once.
  static bool Arrived(const Ticket& ticket);
  // Gives up the answer of a sent request; its inbox is not reused.
  void Abandon(Ticket* ticket);

  // Destroys the idle inboxes; those of running requests are destroyed when
  // their request ends. Before the connection is destroyed.
  void Clear();

  static constexpr int kDisconnectCheckMs = 250;

 private:
  static void Destroy(ReplyInbox* inbox);

  std::mutex mu_;
  std::vector<ReplyInbox*> idle_;  // guarded by mu_
  natsConnection* conn_ = nullptr;  // the connection of the idle inboxes
};

}  // namespace vel

#endif  // TEV_VEL_REPLYINBOXES_H_
