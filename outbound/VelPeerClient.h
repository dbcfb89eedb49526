// The module's requests sent over its satellite on the bus.
#ifndef TEV_OUTBOUND_VELPEERCLIENT_H_
#define TEV_OUTBOUND_VELPEERCLIENT_H_

#include <memory>
#include <string>

#include "outbound/PeerClient.h"
#include "vel/VelSatellite.h"

class VelPeerClient : public PeerClient {
 public:
  explicit VelPeerClient(VelSatellite& satellite) : satellite_(satellite) {}

  long Request(const std::wstring& addressee, const std::wstring& method, const VARIANT& in,
               VARIANT* out, VARIANT* retcodes) override;
  std::unique_ptr<Pending> Post(const std::wstring& addressee, const std::wstring& method,
                                const VARIANT& in) override;
  long Collect(std::unique_ptr<Pending> posted, VARIANT* out, VARIANT* retcodes) override;
  bool Answered(const Pending& posted) override;

 private:
  VelSatellite& satellite_;
};

#endif  // TEV_OUTBOUND_VELPEERCLIENT_H_
