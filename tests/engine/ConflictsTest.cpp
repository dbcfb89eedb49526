// Conflict detection on a real database, with stand-in tuner counts and library.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/TimeUtils.h"
#include "engine/FailureReasons.h"
#include "dvr/DVR.h"
#include "engine/Schedules.h"
#include "platform/Clock.h"
#include "platform/WideText.h"
#include "support/VUtil.h"
#include "tests/common/FakePeers.h"
#include "tests/common/LocalTime.h"
#include "tests/db/DbTestSupport.h"

namespace {

using testpeers::Value;

// A settable number of TV tuners (and one capture device); "M<n>" medium ids.
class StandInPeers : public testpeers::FakePeers {
 public:
  StandInPeers() {
    Serve(L"GetTVInfo", [this](const VARIANT&, VARIANT* out) {
      std::vector<Value> info{Value::Long(tvTuners_ + 1)};
      for (int i = 0; i <= tvTuners_; ++i) {
        info.push_back(
            Value::Array({Value::Str(L"tuner"), Value::Str(L""),
                          Value::Str(i < tvTuners_ ? L"video/x-tv" : L"video/x-inputdevice")}));
      }
      Value::Array({Value::Array(info)}).CopyTo(out);
      return 0;
    });
    Serve(L"AddMedium", [this](const VARIANT&, VARIANT* out) {
      Value::Array({Value::Str(L"M" + std::to_wstring(Requests(L"AddMedium").size()))}).CopyTo(out);
      return 0;
    });
  }
  std::atomic<int> tvTuners_{1};
};

int64_t At(int hour, int minute) { return tev::test::LocalTime(2030, 1, 10, hour, minute); }

struct Row {
  std::wstring name, channel, channelName, mimetype;
  int64_t start;
  int32_t duration;
  std::wstring status, owner;
};

Row Existing(int64_t start, const std::wstring& status = L"DVRSTATE_SCHEDULED", int owner = 0) {
  return {L"Show", L"tv.channel.1",
          L"One",  L"video/x-tv",
          start,   3600,
          status,  owner != 0 ? std::to_wstring(owner) : L""};
}

class Conflicts : public dbtest::DbFixture {
 protected:
  void SetUp() override {
    DbFixture::SetUp();
    OpenNew();
    SetTuners(1);
  }

  // The tuner count is cached for 30 s: move past the cache.
  void SetTuners(int tv) {
    peers_.tvTuners_ = tv;
    env_.Shift(31);
  }

  int Insert(const Row& row) {
    const int n = ++rows_;
    const std::wstring path = L"/rec/" + std::to_wstring(n) + L".wmv";
    SQLite query;
    EXPECT_TRUE(query.RunQuery(
        "INSERT INTO Schedules (Name, Channel, ChannelName, ChannelMimetype, StartTime, "
        "Duration, EndTime, Status, Owner, FilePath, TevMediumId, KeepUntil) "
        "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 'T' || ?, 1)",
        {row.name, row.channel, row.channelName, row.mimetype, SqlValue::TimeNumber(row.start),
         row.duration, SqlValue::TimeNumber(row.start + row.duration), row.status, row.owner,
         path, n},
        L"test"));
    EXPECT_TRUE(query.RunQuery("SELECT ID FROM Schedules WHERE FilePath = ?", {path}, L"test"));
    return query.GetInt("ID");
  }

  int AddPass(int priority, const std::wstring& channelName) {
    SQLite query;
    EXPECT_TRUE(query.RunQuery("INSERT INTO SeasonPasses (Priority, ChannelName, ProgramName, "
                               "ChannelMimetype) VALUES (?, ?, 'Pass', 'video/x-tv')",
                               {priority, channelName}, L"test"));
    EXPECT_TRUE(query.RunQuery("SELECT max(ID) AS ID FROM SeasonPasses", L"test"));
    return query.GetInt("ID");
  }

  std::wstring StatusOf(int id) {
    SQLite query;
    EXPECT_TRUE(query.RunQuery("SELECT Status FROM Schedules WHERE ID = ?", {id}, L"test"));
    return query.GetString("Status");
  }

  int Check(const Row& program, ScheduleAnswer* list, BumpedSet* bumped, bool allow = false) {
    BumpedSet local;
    return engine_.Conflicts().CheckForScheduleConflicts(
        program.name, program.channel, program.mimetype, program.start, program.duration, list, 0,
        0, allow, false, L"", allow, false, bumped ? *bumped : local, tev::Clock::Now());
  }

  int CheckEpisode(int64_t start, int owner, bool ownChannel, const std::wstring& channelName,
                   ScheduleAnswer* list, BumpedSet& bumped, bool displace = true) {
    return engine_.Conflicts().CheckForScheduleConflicts(
        L"Other", L"tv.channel.2", L"video/x-tv", start, 1800, list, 0, owner, displace, ownChannel,
        channelName, false, false, bumped, tev::Clock::Now());
  }

  StandInPeers peers_;
  DVR recorder_{peers_};
  Schedules engine_{recorder_};
  int rows_ = 0;
};

Row Program(int64_t start, int32_t duration) {
  return {L"New",   L"tv.channel.2",       L"One", L"video/x-tv", start,
          duration, L"DVRSTATE_SCHEDULED", L""};
}

}  // namespace

TEST_F(Conflicts, OneTunerOverlapIsReportedAndTheTunerCountDecides) {
  const int id = Insert(Existing(At(20, 30)));

  ScheduleAnswer list;
  EXPECT_EQ(101, Check(Program(At(20, 0), 3600), &list, nullptr));
  ASSERT_EQ(ScheduleAnswer::Kind::kConflicts, list.kind);
  ASSERT_EQ(1u, list.conflicts.size());
  EXPECT_EQ(L"T" + std::to_wstring(id), list.conflicts[0].mediumId);
  EXPECT_EQ(L"DVRSTATE_SCHEDULED", StatusOf(id));  // a check alone changes nothing

  SetTuners(2);
  EXPECT_EQ(0, Check(Program(At(20, 0), 3600), nullptr, nullptr));
  SetTuners(0);
  EXPECT_EQ(105, Check(Program(At(20, 0), 3600), nullptr, nullptr));

  SetTuners(1);
  BumpedSet bumped;
  EXPECT_EQ(0, Check(Program(At(20, 0), 3600), nullptr, &bumped, true));
  EXPECT_EQ(L"DVRSTATE_SKIP", StatusOf(id));
  EXPECT_EQ((BumpedSet{{id, kBumpedChanged}}), bumped);
}

TEST_F(Conflicts, SamplesDecideWhatOverlaps) {
  struct {
    const char* what;
    int64_t existingStart;
    int32_t existingDuration;
    const wchar_t* existingStatus;
    int32_t programDuration;
    int expected;
  } cases[] = {
      {"existing ends at the first sample", At(19, 0), 3660, L"DVRSTATE_SCHEDULED", 3600, 0},
      {"existing ends just after it", At(19, 0), 3661, L"DVRSTATE_SCHEDULED", 3600, 101},
      {"60 s program never conflicts", At(19, 30), 7200, L"DVRSTATE_RECORDING", 60, 0},
      {"61 s program is sampled once", At(19, 30), 7200, L"DVRSTATE_RECORDING", 61, 101},
      {"skipped rows are not counted", At(20, 0), 3600, L"DVRSTATE_SKIP", 3600, 0},
      {"finished rows are not counted", At(20, 0), 3600, L"DVRSTATE_COMPLETE", 3600, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SQLite wipe;
    ASSERT_TRUE(wipe.RunQuery("DELETE FROM Schedules", L"test"));
    Row existing = Existing(c.existingStart, c.existingStatus);
    existing.duration = c.existingDuration;
    Insert(existing);
    EXPECT_EQ(c.expected, Check(Program(At(20, 0), c.programDuration), nullptr, nullptr));
  }
}

TEST_F(Conflicts, DuplicatesDevicesAndWebStreams) {
  const Row existing = Existing(At(20, 0), L"DVRSTATE_CONFLICT");
  Insert(existing);

  EXPECT_EQ(119, Check(existing, nullptr, nullptr));

  // A capture device records one program at a time, per device.
  Row camera = Existing(At(20, 0));
  camera.mimetype = L"video/x-inputdevice";
  camera.channel = L"/dev/video0";
  Insert(camera);
  Row otherDevice = Program(At(20, 15), 1800);
  otherDevice.mimetype = L"video/x-inputdevice";
  otherDevice.channel = L"/dev/video1";
  EXPECT_EQ(0, Check(otherDevice, nullptr, nullptr));
  Row sameDevice = otherDevice;
  sameDevice.channel = L"/dev/video0";
  EXPECT_EQ(101, Check(sameDevice, nullptr, nullptr));

  // Web streams never conflict, even with quotes in their texts.
  Row web = Program(At(20, 0), 3600);
  web.mimetype = L"video/x-web";
  web.name = L"It's \"live\"";
  Insert(web);
  Row laterWeb = web;
  laterWeb.start = At(20, 5);
  EXPECT_EQ(0, Check(laterWeb, nullptr, nullptr));
  EXPECT_EQ(119, Check(web, nullptr, nullptr));  // but duplicates are found for every kind

  Row quoted = Program(At(20, 0), 3600);
  quoted.name = L"O'Brien's";
  quoted.channel = L"tv.channel.'9'";
  EXPECT_EQ(0, Check(quoted, nullptr, nullptr));
  Insert(quoted);
  EXPECT_EQ(119, Check(quoted, nullptr, nullptr));
}

TEST_F(Conflicts, PassPrioritiesDecideWhoYields) {
  const int high = AddPass(1, L"One");
  const int low = AddPass(2, L"One");
  const int lowId = Insert(Existing(At(20, 0), L"DVRSTATE_SCHEDULED", low));
  Row highEpisode = Existing(At(22, 0), L"DVRSTATE_SCHEDULED", high);
  highEpisode.channelName = L"Two";
  const int highId = Insert(highEpisode);

  // Without leave to displace the lower pass's episode, that is the conflict.
  BumpedSet bumped;
  ScheduleAnswer displaced;
  EXPECT_EQ(101, CheckEpisode(At(20, 10), 1, false, L"One", &displaced, bumped, false));
  ASSERT_EQ(1u, displaced.conflicts.size());
  EXPECT_EQ(L"T1", displaced.conflicts[0].mediumId);
  // With leave the check writes nothing; once the episode is written the
  // window's plan puts the lower one in conflict and says why.
  EXPECT_EQ(0, CheckEpisode(At(20, 10), 1, false, L"One", nullptr, bumped));
  EXPECT_EQ(L"DVRSTATE_SCHEDULED", StatusOf(lowId));
  Row taking = highEpisode;
  taking.name = L"High";
  taking.start = At(20, 10);
  taking.duration = 1800;
  const int takingId = Insert(taking);
  engine_.Conflicts().ReplanAround(takingId, tev::Clock::Now(), bumped);
  EXPECT_EQ(L"DVRSTATE_CONFLICT", StatusOf(lowId));
  EXPECT_EQ(L"DVRSTATE_SCHEDULED", StatusOf(takingId));
  EXPECT_EQ((BumpedSet{{lowId, kBumpedChanged}}), bumped);
  EXPECT_EQ(L"not recorded: High (priority 1) uses the tuner", ConflictReasons::Get(lowId));

  // The lower pass yields to the higher one's episode.
  bumped.clear();
  ScheduleAnswer list;
  EXPECT_EQ(101, CheckEpisode(At(22, 10), 2, false, L"One", &list, bumped));
  EXPECT_EQ(1u, list.conflicts.size());
  EXPECT_TRUE(bumped.empty());
  EXPECT_EQ(L"DVRSTATE_SCHEDULED", StatusOf(highId));
}

TEST_F(Conflicts, AFreeTunerTakesAnEpisodeBesideAManualSchedule) {
  SetTuners(2);
  const int pass = AddPass(1, L"Anywhere");
  const int manualId = Insert(Existing(At(20, 0)));
  const int episodeId = Insert(Existing(At(20, 30), L"DVRSTATE_CONFLICT", pass));
  engine_.Conflicts().UpdateConflicts(0, tev::Clock::Now());
  EXPECT_EQ(L"DVRSTATE_SCHEDULED", StatusOf(episodeId));  // the second tuner is free

  // With one tuner the one-off keeps it, and the episode says so.
  SetTuners(1);
  BumpedSet bumped;
  engine_.Conflicts().ReplanAround(episodeId, tev::Clock::Now(), bumped);
  EXPECT_EQ(L"DVRSTATE_CONFLICT", StatusOf(episodeId));
  EXPECT_EQ(L"DVRSTATE_SCHEDULED", StatusOf(manualId));
  EXPECT_EQ(L"not recorded: Show uses the tuner", ConflictReasons::Get(episodeId));
}

TEST_F(Conflicts, ForceScheduleSkipsWhatOverlaps) {
  const int forcedId = Insert(Existing(At(20, 0), L"DVRSTATE_SKIP"));
  const int otherId = Insert(Existing(At(20, 30)));
  const int recordingId = Insert(Existing(At(19, 30), L"DVRSTATE_RECORDING"));
  const int apartId = Insert(Existing(At(22, 0)));

  engine_.Conflicts().ForceSchedule(forcedId, tev::Clock::Now());
  EXPECT_EQ(L"DVRSTATE_SKIP", StatusOf(otherId));
  EXPECT_EQ(L"DVRSTATE_SKIP", StatusOf(recordingId));  // marked only
  EXPECT_EQ(L"DVRSTATE_SCHEDULED", StatusOf(apartId));

  // Nothing overlaps any more: the forced row itself is scheduled again.
  engine_.Conflicts().ForceSchedule(forcedId, tev::Clock::Now());
  EXPECT_EQ(L"DVRSTATE_SCHEDULED", StatusOf(forcedId));
  engine_.Conflicts().ForceSchedule(987654, tev::Clock::Now());  // no such row: nothing happens
}

TEST_F(Conflicts, SkippedRowsCountForTheConflictReport) {
  const int existingId = Insert(Existing(At(20, 30), L"DVRSTATE_SKIP"));
  const int askedId = Insert(Existing(At(20, 0)));

  ScheduleAnswer out;
  EXPECT_EQ(101, engine_.Conflicts().GetConflicts(L"T" + std::to_wstring(askedId), &out));
  EXPECT_EQ(1u, out.conflicts.size());
  EXPECT_EQ(L"DVRSTATE_SKIP", StatusOf(existingId));  // a query changes nothing
}

TEST_F(Conflicts, OddTimesAndDurationsAreHandled) {
  Insert(Existing(At(20, 0)));
  EXPECT_EQ(0, Check(Program(At(20, 0), 0), nullptr, nullptr));
  EXPECT_EQ(0, Check(Program(At(20, 0), -1), nullptr, nullptr));
  EXPECT_EQ(101, Check(Program(At(19, 0), 10 * 365 * 86400), nullptr, nullptr));
  EXPECT_EQ(-1, Check(Program(-5000000000LL, 3600), nullptr, nullptr));  // not writable
  // A stored time that cannot be written back leaves the updates quiet.
  SQLite query;
  ASSERT_TRUE(query.RunQuery("UPDATE Schedules SET Status = 'DVRSTATE_CONFLICT', StartTime = 1",
                             L"test"));
  engine_.Conflicts().UpdateConflicts(0, tev::Clock::Now());
  engine_.Conflicts().ForceSchedule(1, tev::Clock::Now());
}
