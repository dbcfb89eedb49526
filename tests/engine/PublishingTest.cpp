// The medium property lists of schedules and their publication to a
// stand-in media library behind recording peers, with a real database.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <utility>
#include <vector>

#include "db/SQLite.h"
#include "db/Schedule.h"
#include "dvr/ThumbnailTable.h"
#include "engine/FailureReasons.h"
#include "engine/LibrarySync.h"
#include "engine/MediaBatch.h"
#include "engine/Schedules.h"
#include "engine/StatusChange.h"
#include "platform/WideText.h"
#include "support/VUtil.h"
#include "tests/common/FakePeers.h"
#include "tests/common/LocalTime.h"
#include "tests/db/DbTestSupport.h"

namespace {

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

// What the media library received, oldest first.
struct Received {
  std::wstring method, source;
  std::vector<Properties> lists;
  bool flag = false;
};
std::vector<Received> ReceivedBy(const testpeers::FakePeers& peers) {
  std::vector<Received> all;
  for (const testpeers::FakePeers::Sent& sent : peers.Requests()) {
    const VARIANT& in = sent.in.get();
    all.push_back({sent.method, VUtil::GetStringElement(in, 0), {}, VUtil::GetBoolElement(in, 3)});
    AutoVariant lists;
    VUtil::GetElement(in, 1, &lists);
    if (sent.method == L"AddMedium") {
      all.back().lists.push_back(Read(lists.get()));
      continue;
    }
    for (long i = 0; i < VUtil::GetArrayLength(lists.get()); ++i) {
      AutoVariant list;
      VUtil::GetElement(lists.get(), i, &list);
      all.back().lists.push_back(Read(list));
    }
  }
  return all;
}

class Publishing : public dbtest::DbFixture {
 protected:
  // How the library answers: new ids, garbage, or one id short of a batch.
  enum Mode { kAnswer, kGarbage, kShortIdList };
  void SetUp() override {
    DbFixture::SetUp();
    OpenNew();
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

  void Run(const std::string& statement, const std::vector<SqlValue>& values = {}) {
    SQLite query;
    ASSERT_TRUE(query.RunQuery(statement, values, L"test")) << statement;
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

  // The list a schedule is published with.
  Properties ListOf(const Schedule& schedule) {
    MediumProperties list;
    publisher_.AddMediumPrepare(schedule, &list);
    return Read(list);
  }

  testpeers::FakePeers peers_;
  ThumbnailTable thumbnails_;
  LibrarySync publisher_{peers_, thumbnails_};
  std::atomic<Mode> mode_{kAnswer};
};

}  // namespace

TEST(PublishingMediaType, ChosenByMimetypePrefix) {
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"video/x-webwin", L"video.file.recorded.web"},
      {L"audio/x-webreal", L"audio.file.recorded.web"},
      {L"audio/x-win", L"audio.file.recorded.web"},
      {L"audio/x-real", L"audio.file.recorded.web"},
      {L"video/x-tv", L"video.file.recorded.tv"},
      {L"video", L"video.file.recorded.tv"},
      {L"Video/x-tv", L"video.file.recorded"},  // case-sensitive
      {L"vid", L"video.file.recorded"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.second, Schedules::MediaTypeForMimetype(c.first)) << tev::ToStdUtf8(c.first);
  }
}

TEST_F(Publishing, PendingEpisodeList) {
  const int id = InsertEpisode(L"/rec/film.wmv");
  Schedule episode(id);
  ASSERT_EQ(id, episode.m_id);
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

  // A thumbnail known for a video schedule adds its "RT" id.
  thumbnails_.Set(id, true);
  Properties more = expected;
  more.insert(more.end() - 1, {L"thumbnailId", L"RT" + std::to_wstring(id)});
  EXPECT_EQ(more, ListOf(episode));

  // Left out by the tuner plan: the row says why, until it is scheduled again.
  const std::wstring why = L"not recorded: Full House (priority 1) and CSI: Miami use both tuners";
  ConflictReasons::Set(id, why);
  Schedule waiting(id);
  ASSERT_TRUE(
      SetScheduleStatus(publisher_, waiting, DVRSTATE_CONFLICT, 0, StatusReason::kConflictCheck));
  EXPECT_EQ(std::make_pair(std::wstring(L"conflictReason"), why), ListOf(Schedule(id)).back());
  ASSERT_TRUE(
      SetScheduleStatus(publisher_, waiting, DVRSTATE_SCHEDULED, 0, StatusReason::kReplanned));
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
  EXPECT_EQ(L"#0", p[11].second);
  EXPECT_EQ(L"UNTIL_SPACE_NEEDED", p[13].second);
  EXPECT_EQ(L"complete", p[16].second);
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
  EXPECT_EQ(L"#0", q[11].second);
  EXPECT_EQ(L"missed", q[16].second);
  EXPECT_EQ(L"creationDate", q[17].first);
}

TEST_F(Publishing, AddMediumStoresTheAssignedId) {
  const int id = InsertEpisode(L"/rec/a.wmv");
  Schedule episode(id);
  publisher_.AddMedium(episode, true);
  EXPECT_EQ(L"NEW-1", Schedules::GetMediumId(id));
  const std::vector<Received> got = ReceivedBy(peers_);
  ASSERT_EQ(1u, got.size());
  EXPECT_EQ(L"PVR", got[0].source);
  EXPECT_TRUE(got[0].flag);
  ASSERT_EQ(1u, got[0].lists.size());
  EXPECT_EQ(19u, got[0].lists[0].size());  // with an empty "conflictReason"
  EXPECT_EQ(L"Sub 😀", got[0].lists[0][6].second);  // non-BMP text kept

  // Garbage back, or no endpoint at all: nothing is stored, nothing breaks.
  mode_ = kGarbage;
  publisher_.AddMedium(episode, false);
  EXPECT_EQ(L"NEW-1", Schedules::GetMediumId(id));
  EXPECT_FALSE(ReceivedBy(peers_).back().flag);
  // A time that cannot be written: no request, nothing stored.
  const size_t requests = ReceivedBy(peers_).size();
  Schedule ancient = episode;
  ancient.m_startTime = -5000000000LL;
  publisher_.AddMedium(ancient, true);
  EXPECT_EQ(requests, ReceivedBy(peers_).size());
  EXPECT_EQ(L"NEW-1", Schedules::GetMediumId(id));
  publisher_.SetLive(false);
  publisher_.AddMedium(episode, true);
  EXPECT_EQ(L"NEW-1", Schedules::GetMediumId(id));
  EXPECT_EQ(L"", Schedules::GetMediumId(987654));
}

TEST_F(Publishing, ABatchCarriesEachRowsOwnPassId) {
  // Three episodes: two of one pass, one of another pass with its own id.
  const int a = InsertEpisode(L"/rec/a.wmv");
  const int b = InsertEpisode(L"/rec/b.wmv");
  const int c = InsertEpisode(L"/rec/c.wmv");
  Run("UPDATE Schedules SET Owner = (SELECT Owner FROM Schedules WHERE ID = ?) WHERE ID = ?",
      {a, c});
  Run("UPDATE SeasonPasses SET TevMediumId = 'PASS-8' WHERE ID = (SELECT Owner FROM "
      "Schedules WHERE ID = ?)",
      {b});
  publisher_.PublishSchedules({Schedule(a), Schedule(b), Schedule(c)}, true);

  const auto received = ReceivedBy(peers_);
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].method, L"AddMedia");
  ASSERT_EQ(received[0].lists.size(), 3u);
  auto passIdOf = [](const Properties& list) {
    for (const auto& property : list) {
      if (property.first == L"tevPassId") return property.second;
    }
    return std::wstring(L"(none)");
  };
  EXPECT_EQ(passIdOf(received[0].lists[0]), L"PASS-7");
  EXPECT_EQ(passIdOf(received[0].lists[1]), L"PASS-8");
  EXPECT_EQ(passIdOf(received[0].lists[2]), L"PASS-7");
  // Each row's own list, in order, and the ids answered are stored by path.
  EXPECT_EQ(received[0].lists[1][1], (std::pair<std::wstring, std::wstring>(L"path", L"/rec/b.wmv")));
  EXPECT_EQ(L"BATCH-0", Schedules::GetMediumId(a));
  EXPECT_EQ(L"BATCH-1", Schedules::GetMediumId(b));
  EXPECT_EQ(L"BATCH-2", Schedules::GetMediumId(c));

  // One id short: nothing is stored. An empty batch sends nothing.
  mode_ = kShortIdList;
  Run("UPDATE Schedules SET TevMediumId = ''");
  publisher_.PublishSchedules({Schedule(a), Schedule(b), Schedule(c)}, true);
  EXPECT_EQ(L"", Schedules::GetMediumId(a));
  EXPECT_EQ(L"", Schedules::GetMediumId(c));
  publisher_.AddMedia({}, true);
  EXPECT_EQ(2u, ReceivedBy(peers_).size());
}
