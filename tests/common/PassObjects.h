// The recorder, engine and season passes over `peers`, without a whole
// module; with `live` false nothing is sent.
#ifndef TEV_TESTS_COMMON_PASSOBJECTS_H_
#define TEV_TESTS_COMMON_PASSOBJECTS_H_

#include "dvr/DVR.h"
#include "engine/Schedules.h"
#include "passes/PassJobs.h"
#include "passes/SeasonPassChecker.h"
#include "passes/SeasonPasses.h"

namespace tev::test {

struct PassObjects {
  explicit PassObjects(PeerClient& peers, bool live = true)
      : recorder(peers), engine(recorder), checker(engine, work, peers), passes(engine, checker) {
    engine.SetPeersLive(live);
  }
  DVR recorder;
  Schedules engine;
  PassWork work;
  SeasonPassChecker checker;
  SeasonPasses passes;
};

}  // namespace tev::test

#endif  // TEV_TESTS_COMMON_PASSOBJECTS_H_
