#include "vel/ReplyInboxes.h"

#include <chrono>
#include <cstring>

namespace vel {

void ReplyInboxes::Destroy(ReplyInbox* inbox) {
  if (inbox->sub != nullptr) {
    natsSubscription_Unsubscribe(inbox->sub);
    natsSubscription_Destroy(inbox->sub);
  }
  delete inbox;
}

void ReplyInboxes::Clear() {
  std::vector<ReplyInbox*> idle;
  {
    std::lock_guard<std::mutex> hold(mu_);
    idle.swap(idle_);
    conn_ = nullptr;
  }
  for (ReplyInbox* inbox : idle) Destroy(inbox);
}

natsStatus ReplyInboxes::Send(natsConnection* conn, const char* subject, const std::string& data,
                              Ticket* ticket) {
  ReplyInbox* inbox = nullptr;
  {
    std::lock_guard<std::mutex> hold(mu_);
    if (conn_ != conn) {  // idle inboxes of an earlier connection are gone with it
      for (ReplyInbox* old : idle_) Destroy(old);
      idle_.clear();
      conn_ = conn;
    }
    if (!idle_.empty()) {
      inbox = idle_.back();
      idle_.pop_back();
    }
  }
  natsStatus s = NATS_OK;
  if (inbox == nullptr) {
    inbox = new ReplyInbox;
    natsInbox* name = nullptr;
    s = natsInbox_Create(&name);
    if (s == NATS_OK) {
      inbox->prefix = std::string(name) + ".";
      natsInbox_Destroy(name);
      s = natsConnection_SubscribeSync(&inbox->sub, conn, (inbox->prefix + "*").c_str());
    }
    if (s != NATS_OK) {
      Destroy(inbox);
      return s;
    }
  }
  ticket->replyTo = inbox->prefix + std::to_string(++inbox->sent);
  s = natsConnection_PublishRequest(conn, subject, ticket->replyTo.c_str(), data.data(),
                                    static_cast<int>(data.size()));
  if (s != NATS_OK) {
    Destroy(inbox);
    return s;
  }
  ticket->inbox = inbox;
  ticket->conn = conn;
  return s;
}

bool ReplyInboxes::Arrived(const Ticket& ticket) {
  if (ticket.inbox == nullptr) return true;  // Receive refuses it at once
  int messages = 0, bytes = 0;
  return natsSubscription_GetPending(ticket.inbox->sub, &messages, &bytes) == NATS_OK &&
         messages > 0;
}

natsStatus ReplyInboxes::Receive(Ticket* ticket, int timeoutMs, natsMsg** reply) {
  *reply = nullptr;
  ReplyInbox* inbox = ticket->inbox;
  natsConnection* conn = ticket->conn;
  ticket->inbox = nullptr;
  if (inbox == nullptr) return NATS_INVALID_ARG;
  natsStatus s = NATS_OK;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (s == NATS_OK) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) {
      s = NATS_TIMEOUT;
      break;
    }
    natsMsg* msg = nullptr;
    s = natsSubscription_NextMsg(&msg, inbox->sub, left < kDisconnectCheckMs ? left : kDisconnectCheckMs);
    if (s == NATS_OK) {
      if (std::strcmp(natsMsg_GetSubject(msg), ticket->replyTo.c_str()) == 0) {
        *reply = msg;
        break;
      }
      natsMsg_Destroy(msg);  // a late answer to an earlier request
    } else if (s == NATS_TIMEOUT) {
      if (natsConnection_Status(conn) != NATS_CONN_STATUS_CONNECTED) {
        s = NATS_CONNECTION_DISCONNECTED;
      } else {
        s = NATS_OK;  // keep waiting
      }
    }
  }
  if (s == NATS_OK) {
    std::lock_guard<std::mutex> hold(mu_);
    if (conn_ == conn) {
      idle_.push_back(inbox);
      return s;
    }
  }
  Destroy(inbox);
  return s;
}

void ReplyInboxes::Abandon(Ticket* ticket) {
  if (ticket->inbox != nullptr) Destroy(ticket->inbox);
  ticket->inbox = nullptr;
}

}  // namespace vel
