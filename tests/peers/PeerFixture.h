// The module's database, a loopback bus with its endpoint joined as "ZoVIZ"
// and the scripted peers, for tests of the module's requests.
#ifndef TEV_TESTS_PEERS_PEERFIXTURE_H_
#define TEV_TESTS_PEERS_PEERFIXTURE_H_

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "bus/CVelAtl.h"
#include "peers/Peers.h"
#include "support/VUtil.h"
#include "tests/db/DbTestSupport.h"
#include "tests/peers/LoopbackBus.h"

namespace peertest {

class PeerFixture : public dbtest::DbFixture {
 protected:
  void SetUp() override {
    DbFixture::SetUp();
    if (HasFatalFailure()) return;
    OpenNew();
    ASSERT_TRUE(bus_.ok()) << "nats-server did not start";
    vel_.reset(new CVelAtl(nullptr));
    vel_->SetRequestTimeout(10000);
    ASSERT_EQ(vel_->Connect(bus_.host(), L"ZoVIZ"), 0);
    for (tev::peers::ScriptedPeer* peer : Peers()) ASSERT_EQ(peer->Join(bus_.host()), 0);
    log_->Clear();
  }
  void TearDown() override {
    for (tev::peers::ScriptedPeer* peer : Peers()) peer->Leave();
    vel_.reset();
    DbFixture::TearDown();
  }
  std::vector<tev::peers::ScriptedPeer*> Peers() {
    return {&media_, &streamer_, &tv_, &guide_, &thumbnails_, &listener_};
  }
  // The last request of `method` that `peer` received (fails when none).
  tev::peers::Value Last(tev::peers::ScriptedPeer& peer, const std::wstring& method) {
    auto all = peer.RequestsOf(method);
    if (all.empty()) {
      ADD_FAILURE() << "no " << tev::ToStdUtf8(method) << " request";
      return tev::peers::Value();
    }
    return all.back();
  }
  // A schedule row with the given columns (raw insert); its ID.
  int InsertSchedule(const std::string& mediumId, const std::string& status,
                     const std::string& mimetype, const std::string& name = "Show",
                     const std::string& channelName = "Chan", const std::string& path = "") {
    dbtest::RawDb db(dbPath_);
    db.Exec("INSERT INTO Schedules (TevMediumId, Status, ChannelMimetype, Name, ChannelName, "
            "FilePath, StartTime, EndTime, Duration) VALUES ('" + mediumId + "', '" + status +
            "', '" + mimetype + "', '" + name + "', '" + channelName + "', '" + path +
            "', 20080304200000, 20080304210000, 3600)");
    return std::stoi(db.Value("SELECT max(ID) FROM Schedules"));
  }

  LoopbackBus bus_;
  std::unique_ptr<CVelAtl> vel_;
  tev::peers::MediaLibraryPeer media_;
  tev::peers::StreamerPeer streamer_;
  tev::peers::TVServicePeer tv_;
  tev::peers::GuidePeer guide_;
  tev::peers::ThumbnailPeer thumbnails_;
  tev::peers::ListenerPeer listener_;
};

inline std::wstring Str(const VARIANT& array, long index) {
  return VUtil::GetStringElement(array, index);
}
inline tev::peers::Value Elem(const VARIANT& array, long index) {
  AutoVariant v;
  VUtil::GetElement(array, index, &v);
  return tev::peers::Value(v.get());
}

}  // namespace peertest

#endif  // TEV_TESTS_PEERS_PEERFIXTURE_H_
