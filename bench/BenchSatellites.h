// The two bus satellites the benchmarks measure against: one that answers
// every call at once, and a client that only sends.
#ifndef TEV_BENCH_BENCHSATELLITES_H_
#define TEV_BENCH_BENCHSATELLITES_H_

#include <string>

#include "peers/Peers.h"
#include "peers/Value.h"
#include "vel/VelSatellite.h"

namespace bench {

// Answers every "Echo" call with one text of a medium id's size: the plain
// round trip a service's cost is set beside.
class Echo : public VelSatellite {
 public:
  void DefineServices() override { AddService(L"Echo", L"Echo", new Reply); }

 private:
  struct Reply : VelSatelliteDelegateGeneric {
    int invoke(const std::wstring&, const VARIANT&, VARIANT* out) override {
      tev::peers::Value::Str(L"M12345").CopyTo(out);
      return 0;
    }
  };
};

class Client : public VelSatellite {
 public:
  void DefineServices() override {}
};

// Makes the media library answer every channel search with one television
// channel, so that intake finds the channel a request names.
inline void ServeOneChannel(tev::peers::MediaLibraryPeer& media) {
  using tev::peers::Value;
  const Value record = Value::Array({Value::Str(L"ch"), Value::Str(L""), Value::Str(L"tv.channel"),
                                     Value::Str(L""), Value::Str(L"T7"), Value::Str(L"PG"),
                                     Value::Str(L"news")});
  media.SetReply(L"SearchMedia", 0,
                 Value::Array({Value::Array({Value::Long(1), Value(), Value(), Value(),
                                             Value::Array({record})})}));
}

}  // namespace bench

#endif  // TEV_BENCH_BENCHSATELLITES_H_
