// The two bus satellites the benchmarks measure against: one that answers
// every call at once, and a client that only sends.
#ifndef TEV_BENCH_BENCHSATELLITES_H_
#define TEV_BENCH_BENCHSATELLITES_H_

#include <string>

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

}  // namespace bench

#endif  // TEV_BENCH_BENCHSATELLITES_H_
