// The engine fixture plus a pass store and checker, in America/New_York
// (daylight saving starts 2027-03-14 02:00) on a chosen local time.
#ifndef TEV_TESTS_PASSES_PASSFIXTURE_H_
#define TEV_TESTS_PASSES_PASSFIXTURE_H_

#include <stdlib.h>
#include <time.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "passes/PassJobs.h"
#include "passes/SeasonPassChecker.h"
#include "passes/SeasonPasses.h"
#include "platform/Clock.h"
#include "tests/common/LocalTime.h"
#include "tests/engine/EngineFixture.h"

namespace passtest {

using tev::peers::GuideChannel;
using tev::peers::GuideProgram;
using tev::peers::Value;

inline int64_t Local(int year, int month, int day, int hour, int minute) {
  return tev::test::LocalTime(year, month, day, hour, minute);
}
using tev::test::WallClock;

class PassFixture : public enginetest::EngineFixture {
 protected:
  // Monday 2027-03-08 12:00 local; the coming week crosses the change.
  static int64_t Monday() { return Local(2027, 3, 8, 12, 0); }

  void SetUp() override {
    EngineFixture::SetUp();
    if (HasFatalFailure()) return;
    zone_.reset(new dbtest::ScopedEnv("TZ", "America/New_York"));  // after the base's UTC
    tzset();
    SetNow(Monday());
    checker_.reset(new SeasonPassChecker(*engine_, work_, vel_->Peers()));
    passes_.reset(new SeasonPasses(*engine_, *checker_));
    engine_->SetPassKeeper(passes_.get());
  }
  void TearDown() override {
    WaitForPassJobs();
    engine_->SetPassKeeper(nullptr);
    passes_.reset();
    checker_.reset();
    zone_.reset();
    tzset();
    EngineFixture::TearDown();
  }
  void SetNow(int64_t utc) { env_.SetNow(utc); }
  // The module's once it serves, else the fixture's.
  PassWork& Work() { return pvr_ ? pvr_->Work() : work_; }
  PeerClient& Peers() { return pvr_ ? pvr_->Peers() : vel_->Peers(); }
  void WaitForPassJobs() {
    work_.WaitForJobs();
    if (pvr_) pvr_->Work().WaitForJobs();
  }

  // A pass on the TV channel "BBC One" (medium "ch1").
  static PassDescription TvPass(const std::wstring& program, int64_t start, int32_t mode = 1,
                                int32_t guideType = 1, int32_t priority = 0) {
    PassDescription pass;
    pass.user = L"bob";
    pass.start = start;
    pass.duration = 1800;
    pass.channelName = L"BBC One";
    pass.channelMedium = L"ch1";
    pass.programName = program;
    pass.category = L"Drama";
    pass.channelMimetype = L"video/x-tv";
    pass.scheduleMode = mode;
    pass.quality = L"high";
    pass.keepUntil = UNTIL_SPACE_NEEDED;
    pass.guideType = guideType;
    pass.priority = priority;
    return pass;
  }
  // A pass on a web stream (no guide, no priority).
  static PassDescription WebPass(const std::wstring& program, int64_t start, int32_t mode) {
    PassDescription pass = TvPass(program, start, mode, 0, 0);
    pass.channelName = L"Radio Web";
    pass.channelMedium = L"web1";
    pass.channelMimetype = L"video/x-webwin";
    return pass;
  }
  int32_t AddPass(const PassDescription& pass, PassConflictReport* report = nullptr) {
    return passes_->Add(pass, report, 0);
  }

  // Programmes of 30 min at the given UTC starts.
  static GuideChannel Channel(const std::wstring& name, const std::wstring& medium,
                              const std::wstring& title, const std::vector<int64_t>& starts) {
    GuideChannel channel;
    channel.name = name;
    channel.mediumId = medium;
    for (size_t i = 0; i < starts.size(); ++i) {
      channel.programs.push_back({title,
                                  1800,
                                  WallClock(starts[i]),
                                  L"Drama",
                                  L"",
                                  L"Episode " + std::to_wstring(i + 1),
                                  false,
                                  false,
                                  {}});
    }
    return channel;
  }
  // Daily at hh:mm local for `days` days from the Monday.
  static std::vector<int64_t> Daily(int hour, int minute, int days = 7) {
    std::vector<int64_t> starts;
    for (int d = 0; d < days; ++d) starts.push_back(Local(2027, 3, 8 + d, hour, minute));
    return starts;
  }

  std::map<int, int> Priorities() {
    std::map<int, int> all;
    dbtest::RawDb db(dbPath_);
    for (const auto& row : db.Rows("SELECT ID, Priority FROM SeasonPasses ORDER BY ID")) {
      all[std::stoi(row[0])] = std::stoi(row[1]);
    }
    return all;
  }
  int PassCount() { return static_cast<int>(Priorities().size()); }
  // Rows owned by the pass: [Status, StartTime (db text), ChannelName].
  std::vector<std::vector<std::string>> Episodes(int passId) {
    return Rows("Status, StartTime, ChannelName", "Owner = '" + std::to_string(passId) + "'");
  }
  int RowCount(const std::string& where = "1") {
    return static_cast<int>(Rows("ID", where).size());
  }
  // A manual recording on BBC Two, Wednesday 20:30 to 22:30: it holds the
  // only tuner over Wednesday's 21:00 airing.
  void AddManualFilm() {
    enginetest::RowValues manual = Values(L"Film", Local(2027, 3, 10, 20, 30), 7200);
    manual.channelName = L"BBC Two";
    manual.channel = L"ch2";
    Row(manual);
  }

  PassWork work_;
  std::unique_ptr<SeasonPassChecker> checker_;
  std::unique_ptr<SeasonPasses> passes_;
  std::unique_ptr<dbtest::ScopedEnv> zone_;
};

}  // namespace passtest

#endif  // TEV_TESTS_PASSES_PASSFIXTURE_H_
