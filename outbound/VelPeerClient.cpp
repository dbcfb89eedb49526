#include "outbound/VelPeerClient.h"

#include <utility>

namespace {

class PostedOnBus : public PeerClient::Pending {
 public:
  explicit PostedOnBus(std::unique_ptr<VelSatellite::PostedRequest> posted)
      : posted(std::move(posted)) {}
  std::unique_ptr<VelSatellite::PostedRequest> posted;
};

}  // namespace

long VelPeerClient::Request(const std::wstring& addressee, const std::wstring& method,
                            const VARIANT& in, VARIANT* out, VARIANT* retcodes) {
  return satellite_.Request(addressee, method, in, out, 0, retcodes);
}

std::unique_ptr<PeerClient::Pending> VelPeerClient::Post(const std::wstring& addressee,
                                                         const std::wstring& method,
                                                         const VARIANT& in) {
  std::unique_ptr<VelSatellite::PostedRequest> posted = satellite_.Post(addressee, method, in);
  if (!posted) return nullptr;
  return std::make_unique<PostedOnBus>(std::move(posted));
}

long VelPeerClient::Collect(std::unique_ptr<Pending> posted, VARIANT* out, VARIANT* retcodes) {
  std::unique_ptr<VelSatellite::PostedRequest> request;
  if (auto* onBus = dynamic_cast<PostedOnBus*>(posted.get())) request = std::move(onBus->posted);
  return satellite_.Collect(std::move(request), out, retcodes);
}

bool VelPeerClient::Answered(const Pending& posted) {
  auto* onBus = dynamic_cast<const PostedOnBus*>(&posted);
  return onBus == nullptr || !onBus->posted || VelSatellite::Answered(*onBus->posted);
}
