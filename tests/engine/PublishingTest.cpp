// The state setter and the medium property lists of schedules, on a real database
// with a stand-in media library behind recording peers.
#include "engine/StatusChange.h"

#include <algorithm>
#include <atomic>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "db/SQLite.h"
#include "db/Schedule.h"
#include "dvr/ThumbnailTable.h"
#include "engine/FailureReasons.h"
#include "engine/LibrarySync.h"
#include "engine/MediaBatch.h"
#include "engine/Schedules.h"
#include "platform/WideText.h"
#include "support/VUtil.h"
#include "tests/common/FakePeers.h"
#include "tests/common/LocalTime.h"
#include "tests/db/DbTestSupport.h"

namespace {

constexpr int kLastReason = static_cast<int>(StatusReason::kLibraryRemoved);
// Every state: the pending ones and a recording first, then the finished.
const std::vector<std::wstring> kStates{
    DVRSTATE_SCHEDULED,  DVRSTATE_CONFLICT,   DVRSTATE_SKIP,   DVRSTATE_RECORDING,
    DVRSTATE_COMPLETE,   DVRSTATE_COMPLETE_PARTIAL,            DVRSTATE_ERROR,
    DVRSTATE_COULD_NOT_CONNECT, DVRSTATE_TUNER_BUSY, DVRSTATE_MCE_RUNNING, DVRSTATE_MISSED,
    DVRSTATE_DISK_FULL,  DVRSTATE_RETRY,      DVRSTATE_DELETED};

class StatusChangeTest : public dbtest::DbFixture {
 protected:
  testpeers::FakePeers peers_;
  ThumbnailTable thumbnails_;
  LibrarySync library_{peers_, thumbnails_};
  void SetUp() override {
    DbFixture::SetUp();
    if (HasFatalFailure()) return;
    OpenNew();
  }
  int Row(const std::wstring& status, const std::wstring& path) {
    Schedule row;
    row.m_user = L"bob";
    row.m_type = L"Manual";
    row.m_status = status;
    row.m_channelMimetype = L"video/x-tv";
    row.m_startTime = 1700000000;
    row.m_duration = 600;
    row.m_endTime = row.m_startTime + row.m_duration;
    row.m_name = L"Show";
    row.m_filePath = path;
    EXPECT_TRUE(row.Insert());
    return Schedule::GetIdFromPath(path);
  }
  std::wstring Stored(int id) { return Schedule(id).m_status; }
  void Run(const std::string& statement, const std::vector<SqlValue>& values = {}) {
    SQLite query;
    ASSERT_TRUE(query.RunQuery(statement, values, L"test")) << statement;
  }
  void Store(int id, const std::wstring& status) {
    Run("UPDATE Schedules SET Status = ? WHERE ID = ?", {status, id});
  }
};

// Written out rather than read from the setter's table, so that a change added
// to or dropped from that table by mistake shows.
struct Allowed {
  StatusReason reason;
  std::vector<std::wstring> from;
  std::vector<std::wstring> to;
  bool bulk;
};

std::vector<Allowed> ExpectedLife() {
  using R = StatusReason;
  const std::vector<std::wstring> pending{DVRSTATE_SCHEDULED, DVRSTATE_SKIP, DVRSTATE_CONFLICT};
  const std::vector<std::wstring> notStarted{DVRSTATE_MCE_RUNNING, DVRSTATE_TUNER_BUSY,
                                             DVRSTATE_COULD_NOT_CONNECT};
  std::vector<std::wstring> failedStart = notStarted;
  failedStart.push_back(DVRSTATE_ERROR);
  std::vector<std::wstring> newFile = failedStart;
  newFile.push_back(DVRSTATE_RECORDING);
  std::vector<std::wstring> finishable = notStarted;
  finishable.push_back(DVRSTATE_RECORDING);
  // Everything but a stream being written can be tried again.
  std::vector<std::wstring> retryable = kStates;
  retryable.erase(retryable.begin() + 3);  // DVRSTATE_RECORDING
  std::vector<Allowed> life{
      {R::kConflictCheck, {DVRSTATE_SCHEDULED, DVRSTATE_RECORDING, DVRSTATE_SKIP}, {DVRSTATE_CONFLICT}, false},
      {R::kBumped, pending, {DVRSTATE_SKIP}, false},
      {R::kConflictUpdate, {DVRSTATE_CONFLICT, DVRSTATE_SKIP}, {DVRSTATE_SCHEDULED}, false},
      {R::kReplanned, {DVRSTATE_CONFLICT}, {DVRSTATE_SCHEDULED}, false},
      {R::kForced, pending, {DVRSTATE_SCHEDULED}, false},
      {R::kForcedAside, {DVRSTATE_SCHEDULED, DVRSTATE_RECORDING}, {DVRSTATE_SKIP}, false},
      {R::kDiskFull, {DVRSTATE_SCHEDULED}, {DVRSTATE_DISK_FULL}, false},
      {R::kStart, {DVRSTATE_SCHEDULED}, {DVRSTATE_RECORDING}, false},
      {R::kStartOutcome, {DVRSTATE_RECORDING}, failedStart, false},
      {R::kStartNewFile, {DVRSTATE_RECORDING}, newFile, false},
      {R::kMissed, pending, {DVRSTATE_RETRY}, false},
      {R::kMissed, pending, {DVRSTATE_MISSED}, true},
      {R::kRecorderFailed, {DVRSTATE_RECORDING}, {DVRSTATE_ERROR}, false},
      {R::kRecorderFinished, finishable,
       {DVRSTATE_COMPLETE, DVRSTATE_COMPLETE_PARTIAL, DVRSTATE_ERROR}, false},
      {R::kCancel, {DVRSTATE_RECORDING}, {DVRSTATE_COMPLETE_PARTIAL}, false},
      {R::kRetry, retryable, {DVRSTATE_SCHEDULED}, false},
      {R::kResume, {DVRSTATE_RECORDING, DVRSTATE_COMPLETE_PARTIAL, DVRSTATE_RETRY},
       {DVRSTATE_COMPLETE_PARTIAL, DVRSTATE_RETRY}, false},
      {R::kAdopt, {DVRSTATE_COMPLETE_PARTIAL, DVRSTATE_RETRY}, {DVRSTATE_RECORDING}, false},
      {R::kOrphan, {DVRSTATE_RECORDING}, {DVRSTATE_COMPLETE}, true},
      {R::kCrashRecovery, {DVRSTATE_RECORDING}, {DVRSTATE_COMPLETE_PARTIAL}, true},
      {R::kShutdown, {DVRSTATE_RECORDING}, {DVRSTATE_COMPLETE_PARTIAL, DVRSTATE_RETRY}, false},
      {R::kLibraryEdit, pending, pending, false},
      {R::kLibraryRemoved, {DVRSTATE_RECORDING}, {DVRSTATE_COMPLETE_PARTIAL}, false},
      {R::kLibraryRemoved, pending, {DVRSTATE_DELETED}, false},
  };
  // A deleted medium whose recording has finished keeps its state.
  for (auto done = kStates.begin() + 4; done != kStates.end(); ++done) {
    life.push_back({R::kLibraryRemoved, {*done}, {*done}, false});
  }
  return life;
}

bool Expected(const std::vector<Allowed>& life, StatusReason reason, const std::wstring& from,
              const std::wstring& to, bool* bulk) {
  auto has = [](const std::vector<std::wstring>& states, const std::wstring& s) {
    return std::find(states.begin(), states.end(), s) != states.end();
  };
  for (const Allowed& a : life) {
    if (a.reason == reason && has(a.from, from) && has(a.to, to)) {
      *bulk = a.bulk;
      return true;
    }
  }
  return false;
}

TEST_F(StatusChangeTest, EveryChangeOutsideTheLifeIsRefusedAndEveryOneInItIsWritten) {
  const std::vector<Allowed> life = ExpectedLife();
  const int id = Row(DVRSTATE_SCHEDULED, L"/rec/walk.asf");
  for (int r = 0; r <= kLastReason; ++r) {
    const StatusReason reason = static_cast<StatusReason>(r);
    for (const std::wstring& from : kStates) {
      for (const std::wstring& to : kStates) {
        const std::string what = tev::ToStdUtf8(std::wstring(StatusReasonName(reason)) + L" " +
                                                from + L" -> " + to);
        SCOPED_TRACE(what);
        bool bulk = false;
        const bool allowed = Expected(life, reason, from, to, &bulk);
        Store(id, from);
        Schedule row(id);
        log_->Clear();
        const StatusChange change = SetScheduleStatus(library_, row, to, 1700000000, reason);
        EXPECT_EQ(change.written, allowed && !bulk);
        if (change.written) {
          EXPECT_EQ(change.changed, std::wstring(from) != to);
          EXPECT_EQ(row.m_status, to);
          EXPECT_EQ(Stored(id), to);
          continue;
        }
        EXPECT_EQ(row.m_status, from);
        EXPECT_EQ(Stored(id), from);
        if (!allowed) {
          EXPECT_TRUE(log_->HasPart(LOG_ERROR, L"Schedule::SetStatus refused"));
        }
        // The bulk form writes exactly the changes it is meant for.
        std::vector<Schedule> rows{row};
        ASSERT_TRUE(SetScheduleStatuses(library_, rows, to, 1700000000, reason));
        EXPECT_EQ(rows.size(), bulk ? 1u : 0u);
        EXPECT_EQ(Stored(id), bulk ? std::wstring(to) : std::wstring(from));
      }
    }
  }
}

TEST_F(StatusChangeTest, AFailedWriteLeavesTheRowInItsOldState) {
  const int id = Row(DVRSTATE_SCHEDULED, L"/rec/fail.asf");
  Schedule row(id);
  database_->FailStatementsAfter(0);
  const StatusChange change =
      SetScheduleStatus(library_, row, DVRSTATE_CONFLICT, 0, StatusReason::kConflictCheck);
  database_->FailStatementsAfter(-1);
  EXPECT_FALSE(change.written);
  EXPECT_FALSE(change.changed);
  EXPECT_EQ(row.m_status, DVRSTATE_SCHEDULED);
  EXPECT_EQ(Stored(id), DVRSTATE_SCHEDULED);
}

TEST_F(StatusChangeTest, ABulkChangeWritesOnlyTheRowsItSelectedInTheStateItSawThem) {
  const int first = Row(DVRSTATE_RECORDING, L"/rec/a.asf");
  const int second = Row(DVRSTATE_RECORDING, L"/rec/b.asf");
  const int cancelled = Row(DVRSTATE_RECORDING, L"/rec/d.asf");
  SQLite select;
  ASSERT_TRUE(select.RunQuery("SELECT * FROM Schedules WHERE Status = ?", {DVRSTATE_RECORDING},
                              L"test"));
  std::vector<Schedule> rows = Schedule::FromRows(select);
  // Between the selection and the write one row starts, one is cancelled.
  const int late = Row(DVRSTATE_RECORDING, L"/rec/c.asf");
  Store(cancelled, DVRSTATE_COMPLETE_PARTIAL);
  ASSERT_TRUE(SetScheduleStatuses(library_, rows, DVRSTATE_COMPLETE_PARTIAL, 0,
                                  StatusReason::kCrashRecovery));
  EXPECT_EQ(rows.size(), 3u);
  EXPECT_EQ(Stored(first), DVRSTATE_COMPLETE_PARTIAL);
  EXPECT_EQ(Stored(second), DVRSTATE_COMPLETE_PARTIAL);
  // A recording cut by a crash has no known length.
  EXPECT_EQ(Schedule(first).m_duration, -1);
  // Not published, so not written: the next clean-up takes it.
  EXPECT_EQ(Stored(late), DVRSTATE_RECORDING);
  EXPECT_EQ(Schedule(late).m_duration, 600);
  // Its own change stands, length included.
  EXPECT_EQ(Schedule(cancelled).m_duration, 600);
}

using testpeers::Value;

typedef std::vector<std::pair<std::wstring, std::wstring>> Properties;

// A property list as (name, value) texts; integers are written "#<n>".
Properties Read(const VARIANT& list) {
  Properties properties;
  for (long i = 0; i < VUtil::GetArrayLength(list); ++i) {
    AutoVariant pair, value;
    VUtil::GetElement(list, i, &pair);
    VUtil::GetElement(pair.get(), 1, &value);
    std::wstring text = value.get().vt == VT_I4 ? L"#" + std::to_wstring(value.get().lVal)
                                                : VUtil::GetStringElement(pair.get(), 1);
    properties.emplace_back(VUtil::GetStringElement(pair.get(), 0), text);
  }
  return properties;
}
Properties Read(const MediumProperties& list) {
  Properties properties;
  for (const MediumProperty& property : list.Items()) {
    properties.emplace_back(property.name, property.isNumber
                                               ? L"#" + std::to_wstring(property.number)
                                               : property.text);
  }
  return properties;
}

// The property lists of one "AddMedium" or "AddMedia" request.
std::vector<Properties> ListsOf(const testpeers::FakePeers::Sent& sent) {
  AutoVariant lists;
  VUtil::GetElement(sent.in.get(), 1, &lists);
  if (sent.method == L"AddMedium") return {Read(lists.get())};
  std::vector<Properties> all;
  for (long i = 0; i < VUtil::GetArrayLength(lists.get()); ++i) {
    AutoVariant list;
    VUtil::GetElement(lists.get(), i, &list);
    all.push_back(Read(list));
  }
  return all;
}
bool FlagOf(const testpeers::FakePeers::Sent& sent) {
  return VUtil::GetBoolElement(sent.in.get(), 3);
}

class Publishing : public StatusChangeTest {
 protected:
  // How the library answers: new ids, garbage, or one id short of a batch.
  enum Mode { kAnswer, kGarbage, kShortIdList };
  void SetUp() override {
    StatusChangeTest::SetUp();
    if (HasFatalFailure()) return;
    peers_.Serve(L"AddMedium", [this](const VARIANT&, VARIANT* out) {
      const size_t n = peers_.Requests(L"AddMedium").size();
      (mode_ == kGarbage ? Value::Long(7)
                         : Value::Array({Value::Str(L"NEW-" + std::to_wstring(n))}))
          .CopyTo(out);
      return 0;
    });
    peers_.Serve(L"AddMedia", [this](const VARIANT& in, VARIANT* out) {
      AutoVariant lists;
      VUtil::GetElement(in, 1, &lists);
      std::vector<Value> ids;
      for (long i = mode_ == kShortIdList ? 1 : 0; i < VUtil::GetArrayLength(lists.get()); ++i) {
        ids.push_back(Value::Str(L"BATCH-" + std::to_wstring(ids.size())));
      }
      Value::Array({Value::Array(ids)}).CopyTo(out);
      return 0;
    });
  }

  // A pending episode of a pass, stored and loaded back.
  int InsertEpisode(const std::wstring& path) {
    Run("INSERT INTO SeasonPasses (TevMediumId, Priority, ChannelName) VALUES ('PASS-7', 1, 'One')");
    SQLite query;
    EXPECT_TRUE(query.RunQuery("SELECT max(ID) AS ID FROM SeasonPasses", L"test"));
    const int pass = query.GetInt("ID");
    Run("INSERT INTO Schedules (TevMediumId, Name, Channel, ChannelName, ChannelMimetype, "
        "StartTime, Duration, EndTime, Status, Owner, FilePath, Subtitle, Category, "
        "Description, KeepUntil) VALUES ('MED-1', 'Film ''94', 'tv.1', 'One', 'video/x-tv', "
        "20300110200000, 5400, 20300110213000, 'DVRSTATE_SCHEDULED', ?, ?, ?, 'Drama', "
        "'Two lines\nhere', 13)",
        {std::to_wstring(pass), path, L"Sub 😀"});
    EXPECT_TRUE(query.RunQuery("SELECT ID FROM Schedules WHERE FilePath = ?", {path}, L"test"));
    return query.GetInt("ID");
  }

  Properties ListOf(const Schedule& schedule) {
    MediumProperties list;
    library_.AddMediumPrepare(schedule, &list);
    return Read(list);
  }

  std::atomic<Mode> mode_{kAnswer};
};

}  // namespace

TEST_F(Publishing, PendingEpisodeList) {
  const int id = InsertEpisode(L"/rec/film.wmv");
  Schedule episode(id);
  const Properties expected = {
      {L"tevMediumId", L"MED-1"},
      {L"path", L"/rec/film.wmv"},
      {L"mimeType", L"video/x-tv"},
      {L"mediaType", L"schedule.video.file.recorded.tv"},
      {L"title", L"Film '94 2030-01-10 20:00"},
      {L"channel", L"One"},
      {L"subTitle", L"Sub 😀"},
      {L"genre", L"Drama"},
      {L"description", L"Two lines\nhere"},
      {L"startTime", L"2030-01-10 20:00:00"},
      {L"endTime", L"2030-01-10 21:30:00"},
      {L"duration", L"#5400000"},
      {L"sourceSatellite", L"ZoVIZ"},
      {L"keepUntil", L"AT_LEAST_3_DAYS"},
      {L"channelId", L"tv.1"},
      {L"updateCallback", L"UpdateMedium"},
      {L"pvrState", L"schedule"},
      {L"tevPassId", L"PASS-7"},
      {L"conflictReason", L""},
  };
  EXPECT_EQ(expected, ListOf(episode));

  thumbnails_.Set(id, true);
  Properties more = expected;
  more.insert(more.end() - 1, {L"thumbnailId", L"RT" + std::to_wstring(id)});
  EXPECT_EQ(more, ListOf(episode));

  // Left out by the tuner plan: the row says why, until it is scheduled again.
  const std::wstring why = L"not recorded: Full House (priority 1) and CSI: Miami use both tuners";
  ConflictReasons::Set(id, why);
  Schedule waiting(id);
  ASSERT_TRUE(
      SetScheduleStatus(library_, waiting, DVRSTATE_CONFLICT, 0, StatusReason::kConflictCheck));
  EXPECT_EQ(std::make_pair(std::wstring(L"conflictReason"), why), ListOf(Schedule(id)).back());
  ASSERT_TRUE(
      SetScheduleStatus(library_, waiting, DVRSTATE_SCHEDULED, 0, StatusReason::kReplanned));
  EXPECT_EQ(more, ListOf(Schedule(id)));
}

TEST_F(Publishing, DurationsBeyondThirtyTwoBitMillisecondsAreClamped) {
  Schedule episode(InsertEpisode(L"/rec/long.wmv"));
  for (int32_t days : {24, 25, 40, 20000}) {
    episode.m_duration = days * 86400;
    const int64_t ms = std::min<int64_t>(int64_t{days} * 86400 * 1000, INT32_MAX);
    EXPECT_EQ(ListOf(episode).at(11),
              Properties::value_type(L"duration", L"#" + std::to_wstring(ms)))
        << days;
  }
}

TEST_F(Publishing, FinishedRecordingListHasTheOptionalSlotsInOrder) {
  Schedule s;  // not stored: id 0 is logged and published regardless
  s.m_status = L"DVRSTATE_COMPLETE";
  s.m_channelMimetype = L"video/x-webwin";
  s.m_name = L"Clip";
  s.m_startTime = tev::test::LocalTime(2031, 6, 1, 8, 5);
  s.m_duration = -1;
  s.m_keepUntil = 3;  // not a code: the default name
  s.m_width = 640;
  s.m_height = 480;
  s.m_bitrate = 2000;
  s.m_size = 5000000000LL;
  s.m_thumbnailId = L"thumb-9";
  s.m_rating = L"PG";
  s.m_tags = L"a b";
  const Properties p = ListOf(s);
  ASSERT_EQ(25u, p.size());
  EXPECT_EQ((std::pair<std::wstring, std::wstring>(L"mediaType", L"video.file.recorded.web")), p[3]);
  EXPECT_EQ(L"2031-06-01 08:04:59", p[10].second);  // start + duration, duration < 0
  EXPECT_EQ((Properties{p[11], p[13], p[16]}), (Properties{{L"duration", L"#0"},
                                                           {L"keepUntil", L"UNTIL_SPACE_NEEDED"},
                                                           {L"pvrState", L"complete"}}));
  const Properties optional(p.begin() + 17, p.end());
  const Properties expected = {
      {L"width", L"#640"},       {L"height", L"#480"},
      {L"bitrate", L"#2000"},    {L"size", L"5000000000"},
      {L"thumbnailId", L"thumb-9"}, {L"creationDate", L"2031-06-01 08:05:00"},
      {L"rating", L"PG"},        {L"tags", L"a b"},
  };
  EXPECT_EQ(expected, optional);

  // Start + duration not positive: the EndTime field is published.
  Schedule timeless;
  timeless.m_status = L"DVRSTATE_MISSED";
  timeless.m_startTime = tev::test::LocalTime(2031, 6, 1, 8, 0);
  timeless.m_duration = -static_cast<int32_t>(timeless.m_startTime);
  timeless.m_endTime = tev::test::LocalTime(2031, 6, 1, 9, 0);
  const Properties q = ListOf(timeless);
  ASSERT_EQ(18u, q.size());  // not pending: creationDate
  EXPECT_EQ(L"schedule.video.file.recorded", q[3].second);
  EXPECT_EQ(L"2031-06-01 09:00:00", q[10].second);
  EXPECT_EQ((std::vector<std::wstring>{q[11].second, q[16].second, q[17].first}),
            (std::vector<std::wstring>{L"#0", L"missed", L"creationDate"}));
}

TEST_F(Publishing, AddMediumStoresTheAssignedId) {
  const int id = InsertEpisode(L"/rec/a.wmv");
  Schedule episode(id);
  library_.AddMedium(episode, true);
  EXPECT_EQ(L"NEW-1", LibrarySync::GetMediumId(id));
  const auto got = peers_.Requests();
  ASSERT_EQ(1u, got.size());
  EXPECT_EQ(L"PVR", VUtil::GetStringElement(got[0].in.get(), 0));
  EXPECT_TRUE(FlagOf(got[0]));
  const Properties list = ListsOf(got[0]).at(0);
  EXPECT_EQ(19u, list.size());          // with an empty "conflictReason"
  EXPECT_EQ(L"Sub 😀", list[6].second);  // non-BMP text kept

  // Garbage back, or no endpoint at all: nothing is stored, nothing breaks.
  mode_ = kGarbage;
  library_.AddMedium(episode, false);
  EXPECT_EQ(L"NEW-1", LibrarySync::GetMediumId(id));
  EXPECT_FALSE(FlagOf(peers_.Requests().back()));
  const size_t requests = peers_.Requests().size();
  Schedule ancient = episode;
  ancient.m_startTime = -5000000000LL;
  library_.AddMedium(ancient, true);
  EXPECT_EQ(requests, peers_.Requests().size());
  EXPECT_EQ(L"NEW-1", LibrarySync::GetMediumId(id));
  library_.SetLive(false);
  library_.AddMedium(episode, true);
  EXPECT_EQ(L"NEW-1", LibrarySync::GetMediumId(id));
}

TEST_F(Publishing, ABatchCarriesEachRowsOwnPassId) {
  const int a = InsertEpisode(L"/rec/a.wmv");
  const int b = InsertEpisode(L"/rec/it's b.wmv");
  const int c = InsertEpisode(L"/rec/c.wmv");
  Run("UPDATE Schedules SET Owner = (SELECT Owner FROM Schedules WHERE ID = ?) WHERE ID = ?",
      {a, c});
  Run("UPDATE SeasonPasses SET TevMediumId = 'PASS-8' WHERE ID = (SELECT Owner FROM "
      "Schedules WHERE ID = ?)",
      {b});
  library_.PublishSchedules({Schedule(a), Schedule(b), Schedule(c)}, true);

  const auto received = peers_.Requests();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].method, L"AddMedia");
  const std::vector<Properties> lists = ListsOf(received[0]);
  ASSERT_EQ(lists.size(), 3u);
  std::vector<std::wstring> passIds;
  for (const Properties& list : lists) {
    for (const auto& property : list) {
      if (property.first == L"tevPassId") passIds.push_back(property.second);
    }
  }
  EXPECT_EQ(passIds, (std::vector<std::wstring>{L"PASS-7", L"PASS-8", L"PASS-7"}));
  // Each row's own list, in order; the ids are stored by path (a quote in it too).
  EXPECT_EQ(lists[1][1], (std::pair<std::wstring, std::wstring>(L"path", L"/rec/it's b.wmv")));
  EXPECT_EQ((std::vector<std::wstring>{LibrarySync::GetMediumId(a), LibrarySync::GetMediumId(b),
                                       LibrarySync::GetMediumId(c)}),
            (std::vector<std::wstring>{L"BATCH-0", L"BATCH-1", L"BATCH-2"}));

  mode_ = kShortIdList;
  Run("UPDATE Schedules SET TevMediumId = ''");
  library_.PublishSchedules({Schedule(a), Schedule(b), Schedule(c)}, true);
  EXPECT_EQ(L"", LibrarySync::GetMediumId(a));
  EXPECT_EQ(L"", LibrarySync::GetMediumId(c));
  library_.AddMedia({}, true);
  EXPECT_EQ(2u, peers_.Requests().size());
}
