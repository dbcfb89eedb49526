// "AddTevPass" and "UpdateMedium" as clients reach them over the loopback bus.
#include <chrono>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "db/LocalIds.h"
#include "db/SQLite.h"
#include "db/TimeUtils.h"
#include "support/VUtil.h"
#include "tests/passes/PassFixture.h"
#include "tests/common/OfferingSatellite.h"

namespace passtest {
namespace {

using Client = tev::test::OfferingSatellite;

class PassServicesTest : public PassFixture {
 protected:
  void SetUp() override {
    PassFixture::SetUp();
    if (HasFatalFailure()) return;
    UseModuleEndpoint();
    ASSERT_EQ(client_.Connect(bus_.host(), L"PassClient"), 0);
    guide_.SetListings({Channel(L"BBC One", L"ch1", L"Show", Daily(21, 0))});
  }
  void TearDown() override {
    client_.Disconnect();
    PassFixture::TearDown();
  }
  long Call(const Value& in, VARIANT* out = nullptr) {
    AutoVariant ret, unused;
    EXPECT_EQ(client_.Request(L"ZoVIZ", L"AddTevPass", in.get(), out ? out : &unused, 0, &ret), 0);
    return ret.get().vt == VT_I4 ? ret.get().lVal : -999;
  }
  static std::vector<Value> Head(const std::wstring& scheduleId, int32_t mode = 1,
                                 int32_t guideType = -1, const Value& priority = Value()) {
    return {Value::Str(L"bob"), Value::Bool(false), Value::Long(mode), Value::Str(L"high"),
            Value::Long(1),     Value::Long(guideType), priority, Value::Str(scheduleId)};
  }
  // The fourteen-element description of "Show" on BBC One.
  static std::vector<Value> Described(int32_t mode = 1, int32_t guideType = -1,
                                      const std::wstring& program = L"Show") {
    std::vector<Value> in = Head(L"", mode, guideType);
    for (const Value& v :
         {Value::Date(WallClock(Local(2027, 3, 8, 21, 0))), Value::Long(1800000), Value::Str(L"BBC One"),
          Value::Str(L"ch1"), Value::Str(program), Value::Str(L"Drama")}) {
      in.push_back(v);
    }
    return in;
  }

  // The pass of "Show" on BBC One, made through the service; its medium id.
  std::wstring DescribedPass() {
    AutoVariant out;
    EXPECT_EQ(Call(Value::Array(Described()), &out), 0);
    return (out.get().vt & VT_ARRAY) ? peertest::Str(out.get(), 0) : std::wstring();
  }
  long Update(const std::wstring& mediumId, int32_t action, const Value& pairs) {
    AutoVariant ret, out;
    const Value in = Value::Array({Value::Long(action), Value::Str(mediumId), pairs});
    EXPECT_EQ(client_.Request(L"ZoVIZ", L"UpdateMedium", in.get(), &out, 0, &ret), 0);
    return ret.get().vt == VT_I4 ? ret.get().lVal : -999;
  }
  // The medium id of the row that starts at 21:00 on that day of March.
  std::wstring EpisodeMedium(int day) {
    dbtest::RawDb db(dbPath_);
    return tev::FromStdUtf8(db.Value("SELECT TevMediumId FROM Schedules WHERE StartTime = " +
                                     DbTime(Local(2027, 3, day, 21, 0))));
  }
  // "<day of March> <columns joined by '/'>" of every row of the pass.
  std::multiset<std::string> ByDay(int passId, const std::string& columns) {
    std::multiset<std::string> rows;
    for (const auto& row : Rows("substr(StartTime, 7, 2), " + columns,
                                "Owner = '" + std::to_string(passId) + "'")) {
      std::string line = row[0];
      for (size_t i = 1; i < row.size(); ++i) line += (i == 1 ? " " : "/") + row[i];
      rows.insert(line);
    }
    return rows;
  }

  Client client_;
};

TEST_F(PassServicesTest, FromADescriptionAndFromASchedule) {
  // A library slow to answer: the episodes wait for the pass's medium id
  // outside their transaction.
  media_.SetHandler(L"AddMedium", [](const VARIANT&, VARIANT* out) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    Value::Array({Value::Str(L"P-slow")}).CopyTo(out);
    return 0;
  });
  AutoVariant out;
  ASSERT_EQ(Call(Value::Array(Described()), &out), 0);
  const std::wstring mediumId = peertest::Str(out.get(), 0);
  ASSERT_EQ(mediumId, L"P-slow");
  const int pass = LocalIds::GetLocalIdFromTevMediumId(mediumId);
  EXPECT_EQ(Episodes(pass).size(), 7u);
  dbtest::RawDb db(dbPath_);
  EXPECT_EQ(db.Value("SELECT ChannelMimetype || GuideType || Priority || TevMediumId FROM SeasonPasses"),
            "video/x-tv11P-slow");
  media_.ResetReply(L"AddMedium");
  // Admitted while the library stores the pass, yet published after it,
  // each episode naming it and with a medium id of its own.
  std::vector<std::wstring> order;
  for (const auto& request : media_.Requests()) {
    if (request.method.rfind(L"AddMedi", 0) == 0) order.push_back(request.method);
  }
  ASSERT_EQ(order, (std::vector<std::wstring>{L"AddMedium", L"AddMedia"}));
  EXPECT_EQ(enginetest::BatchValues(media_.RequestsOf(L"AddMedia")[0], L"tevPassId"),
            std::vector<std::wstring>(7, mediumId));
  EXPECT_EQ(RowCount("TevMediumId = '' OR TevMediumId IS NULL"), 0);
  // An equal pass exists; the guide, asked ahead of the refusal, adds nothing.
  const size_t searches = guide_.CountOf(L"SearchTVListings");
  EXPECT_EQ(Call(Value::Array(Described())), 112);
  EXPECT_TRUE(guide_.WaitFor(L"SearchTVListings", searches + 1, 10000));
  EXPECT_EQ(Episodes(pass).size(), 7u);
  EXPECT_EQ(RowCount(), 7);

  // From a schedule: thirteen elements, elements 8 to 12 are not read.
  ASSERT_EQ(Add(L"Late", Local(2027, 3, 9, 23, 0), 1800), 0);
  const std::string scheduleMedium = db.Value("SELECT TevMediumId FROM Schedules WHERE Name = 'Late'");
  std::vector<Value> in = Head(tev::FromStdUtf8(scheduleMedium), 3);
  for (int i = 0; i < 5; ++i) in.push_back(Value::Long(99));
  AutoVariant second;
  ASSERT_EQ(Call(Value::Array(in), &second), 0);
  const int fromSchedule = LocalIds::GetLocalIdFromTevMediumId(peertest::Str(second.get(), 0));
  EXPECT_EQ(db.Value("SELECT ProgramName || '/' || ChannelName FROM SeasonPasses WHERE ID = " +
                     std::to_string(fromSchedule)),
            "Late/BBC One");
  EXPECT_EQ(db.Value("SELECT Owner FROM Schedules WHERE Name = 'Late'"), std::to_string(fromSchedule));
  // With the rating and tags the library holds for the schedule's medium.
  const std::wstring passPath = L"RP" + std::to_wstring(fromSchedule);
  EXPECT_EQ(enginetest::LastPublished(media_, passPath, L"rating"), L"PG");
  EXPECT_EQ(enginetest::LastPublished(media_, passPath, L"tags"), L"news");
}

// Fewer than fourteen elements and no schedule: nothing is asked of the
// library's channels or the guide.
TEST_F(PassServicesTest, ThirteenElementsWithoutAScheduleMakeAnEmptyPass) {
  std::vector<Value> in = Head(L"");
  for (int i = 0; i < 5; ++i) in.push_back(Value::Long(99));
  AutoVariant out;
  ASSERT_EQ(Call(Value::Array(in), &out), 0);
  EXPECT_EQ(LocalIds::GetType(peertest::Str(out.get(), 0)), LocalIds::kTypePass);
  EXPECT_EQ(dbtest::RawDb(dbPath_).Value(
                "SELECT ProgramName || '/' || ChannelName || '/' || ChannelMedium || '/' || "
                "Duration || '/' || GuideType || '/' || Priority || '/' || StartDate FROM "
                "SeasonPasses"),
            "///0/0/0/" + DbTime(0));
  EXPECT_EQ(media_.CountOf(L"SearchMedia"), 0u);
  EXPECT_EQ(guide_.CountOf(L"SearchTVListings"), 0u);
  EXPECT_EQ(RowCount(), 0);
  EXPECT_EQ(Call(Value::Array(in)), 112);
  EXPECT_EQ(PassCount(), 1);
}

TEST_F(PassServicesTest, ConflictsGuideAndLibraryFailuresMapToCodes) {
  AddManualFilm();
  AutoVariant report;
  EXPECT_EQ(Call(Value::Array(Described()), &report), 101);
  EXPECT_EQ(VUtil::GetArrayLength(report.get()), 2);
  guide_.SetReply(L"SearchTVListings", 3);
  EXPECT_EQ(Call(Value::Array(Described(2))), 102);
  EXPECT_EQ(PassCount(), 0);
  EXPECT_EQ(RowCount(), 1);
  // Without the library the channel's kind is unknown: no pass is made.
  media_.Leave();
  EXPECT_EQ(Call(Value::Array(Described(3))), 115);
  EXPECT_EQ(PassCount(), 0);
  EXPECT_TRUE(log_->HasPart(LOG_ERROR, L"AddTevPass: the media library could not be asked for channel ch1"));
}

TEST_F(PassServicesTest, MalformedRequestsStoreNothing) {
  AddPass(TvPass(L"Kept", Local(2027, 3, 8, 22, 0), 3, 0, 0));
  const auto before = Priorities();
  const int rows = RowCount();
  const auto with = [](size_t i, const Value& value, int32_t mode = 1) {
    std::vector<Value> in = Described(mode);
    in[i] = value;
    return Value::Array(in);
  };
  const std::vector<Value> full = Described();
  const Value requests[] = {
      with(2, Value::Str(L"1")),
      with(6, Value::Str(L"high")),
      with(8, Value::Str(L"tomorrow")),
      Value::Array(Described(7)),           // unknown schedule mode
      Value::Array(Described(1, 2)),        // unknown guide type
      Value::Array(Described(1, -1, L"")),  // no programme name
      Value::Array(std::vector<Value>(full.begin(), full.begin() + 5)),
      Value::Str(L"AddTevPass"),
  };
  for (const Value& in : requests) EXPECT_EQ(Call(in), 1);
  EXPECT_EQ(Call(Value::Array(Head(L"no-such-medium"))), 103);
  EXPECT_EQ(Priorities(), before);
  EXPECT_EQ(RowCount(), rows);
  // Priorities 0, -5 and 10000 are all accepted places (last, last, first).
  EXPECT_EQ(Call(Value::Array(Described(1))), 0);
  EXPECT_EQ(Call(with(6, Value::Long(-5), 2)), 0);
  EXPECT_EQ(Call(with(6, Value::Long(10000), 3)), 0);
  std::multiset<int> places;
  for (const auto& entry : Priorities()) places.insert(entry.second);
  EXPECT_EQ(places, (std::multiset<int>{1, 2, 3, 4}));
}

Value LibraryTime(int day, int hour, int minute) {
  return Value::Str(FormatTime2(Local(2027, 3, day, hour, minute)));
}

// An airing is its channel and start time: a renamed or moved episode is not
// made a second time, a deleted one stays deleted and out of the library.
TEST_F(PassServicesTest, EpisodesStayAsTheUserLeftThemThroughChecksAndEdits) {
  // Monday's airing not listed yet.
  const std::vector<int64_t> week = Daily(21, 0);
  guide_.SetListings({Channel(L"BBC One", L"ch1", L"Show", {week.begin() + 1, week.end()})});
  const std::wstring passMedium = DescribedPass();
  const int pass = LocalIds::GetLocalIdFromTevMediumId(passMedium);
  ASSERT_EQ(Episodes(pass).size(), 6u);
  EXPECT_EQ(Update(EpisodeMedium(9), 0, Value::Pairs({{L"pvrState", Value::Str(L"skip")}})), 0);
  EXPECT_EQ(Update(EpisodeMedium(10), 0, Value::Pairs({{L"title", Value::Str(L"Show (special)")}})), 0);
  EXPECT_EQ(Update(EpisodeMedium(12), 0, Value::Pairs({{L"startTime", LibraryTime(12, 21, 10)}})), 0);
  EXPECT_EQ(Update(EpisodeMedium(13), 0,
                   Value::Pairs({{L"keepUntil", Value::Str(L"AT_LEAST_3_DAYS")}})),
            0);
  // Thursday's moved, Sunday's renamed, both then deleted.
  const std::wstring thursday = EpisodeMedium(11), sunday = EpisodeMedium(14);
  EXPECT_EQ(Update(thursday, 0, Value::Pairs({{L"startTime", LibraryTime(11, 21, 15)}})), 0);
  EXPECT_EQ(Update(thursday, 1, Value()), 0);
  EXPECT_EQ(Update(sunday, 0, Value::Pairs({{L"title", Value::Str(L"Show (repeat)")}})), 0);
  EXPECT_EQ(Update(sunday, 1, Value()), 0);
  const std::string columns = "ID, Status, Name, KeepUntil, substr(StartTime, 9, 4)";
  const std::multiset<std::string> decided = ByDay(pass, columns);
  ASSERT_EQ(RowCount("Status = 'DVRSTATE_DELETED'"), 2);
  // Each decision took (the rows below compare with these).
  ASSERT_EQ(RowCount("Status = 'DVRSTATE_SKIP' OR Name = 'Show (special)' OR KeepUntil = 13 OR "
                     "StartTime = " +
                     DbTime(Local(2027, 3, 12, 21, 10))),
            4);
  media_.ClearRequests();

  // Once listed, an edit adds Monday's airing and changes nothing else.
  SeasonPassChecker daily(Engine(), Work(), Peers());
  daily.CheckForNewEpisodes();
  EXPECT_EQ(ByDay(pass, columns), decided);
  guide_.SetListings({Channel(L"BBC One", L"ch1", L"Show", week)});
  EXPECT_EQ(Update(passMedium, 0, Value::Pairs({{L"restrictOneChannel", Value::Long(1)}})), 0);
  WaitForPassJobs();
  std::multiset<std::string> after = ByDay(pass, columns);
  for (const std::string& row : decided) EXPECT_EQ(after.count(row), 1u) << row;
  EXPECT_EQ(after.size(), 7u);
  EXPECT_EQ(RowCount("Owner = '" + std::to_string(pass) + "' AND StartTime = " +
                     DbTime(Local(2027, 3, 8, 21, 0)) + " AND Status = 'DVRSTATE_SCHEDULED'"),
            1);
  for (const Value& batch : media_.RequestsOf(L"AddMedia")) {
    for (const std::wstring& start : enginetest::BatchValues(batch, L"startTime")) {
      EXPECT_NE(start.substr(0, 10), L"2027-03-11");
      EXPECT_NE(start.substr(0, 10), L"2027-03-14");
    }
  }

  // Weekdays only: Saturday's goes; what the user deleted stays on record.
  EXPECT_EQ(Update(passMedium, 0,
                   Value::Pairs({{L"scheduleMode", Value::Str(L"WEEKDAYS_AT_SAME_TIME")}})),
            0);
  WaitForPassJobs();
  std::multiset<std::string> weekdays;
  for (const std::string& row : after) {
    if (row.compare(0, 2, "13") != 0) weekdays.insert(row);
  }
  EXPECT_EQ(ByDay(pass, columns), weekdays);

  // A skip stays when a tuner comes free, until the user says otherwise.
  EXPECT_EQ(Update(EpisodeMedium(8), 1, Value()), 0);
  EXPECT_EQ(RowCount("Status = 'DVRSTATE_SKIP'"), 1);
  EXPECT_EQ(Update(EpisodeMedium(9), 0, Value::Pairs({{L"pvrState", Value::Str(L"schedule")}})), 0);
  EXPECT_EQ(RowCount("Status = 'DVRSTATE_SKIP'"), 0);

  // An edit while the guide cannot be read leaves the episodes as they are.
  const std::multiset<std::string> standing = ByDay(pass, columns);
  guide_.SetReply(L"SearchTVListings", 7);
  EXPECT_EQ(Update(passMedium, 0, Value::Pairs({{L"restrictOneChannel", Value::Long(0)}})), 0);
  WaitForPassJobs();
  EXPECT_EQ(ByDay(pass, columns), standing);
}

TEST_F(PassServicesTest, APriorityMoveKeepsTheEpisodesAndDecidesTheTunerAgain) {
  guide_.SetListings({Channel(L"BBC One", L"ch1", L"Show", Daily(21, 0, 6)),
                      Channel(L"BBC Two", L"ch2", L"Other", Daily(21, 0, 6))});
  const std::wstring passMedium = DescribedPass();
  const int show = LocalIds::GetLocalIdFromTevMediumId(passMedium);
  ASSERT_EQ(Episodes(show).size(), 6u);
  PassDescription other = TvPass(L"Other", Local(2027, 3, 8, 21, 0), 1, 1, 1);
  other.channelName = L"BBC Two";
  other.channelMedium = L"ch2";
  const int first = AddPass(other);  // placed first: the only tuner is its
  ASSERT_GT(first, 0);
  const std::string owned = "Owner = '" + std::to_string(show) + "'";
  const std::string theirs = "Owner = '" + std::to_string(first) + "'";
  ASSERT_EQ(RowCount(theirs + " AND Status = 'DVRSTATE_SCHEDULED'"), 6);
  ASSERT_EQ(RowCount(owned + " AND Status = 'DVRSTATE_SCHEDULED'"), 0);
  EXPECT_EQ(Update(EpisodeMedium(10), 0, Value::Pairs({{L"title", Value::Str(L"Show (special)")}})), 0);
  dbtest::RawDb db(dbPath_);
  const std::string ids = db.Value("SELECT group_concat(ID) FROM Schedules WHERE " + owned);

  // Its own rows stay the same rows.
  const auto moveTo = [&](int priority, int ours, int others) {
    EXPECT_EQ(Update(passMedium, 0, Value::Pairs({{L"priority", Value::Long(priority)}})), 0);
    WaitForPassJobs();
    EXPECT_EQ(Priorities()[show], priority);
    EXPECT_EQ(db.Value("SELECT group_concat(ID) FROM Schedules WHERE " + owned), ids);
    EXPECT_EQ(RowCount(owned + " AND Status = 'DVRSTATE_SCHEDULED'"), ours);
    EXPECT_EQ(RowCount(theirs + " AND Status = 'DVRSTATE_SCHEDULED'"), others);
  };
  moveTo(1, 6, 0);
  EXPECT_EQ(RowCount("Name = 'Show (special)' AND Status = 'DVRSTATE_SCHEDULED'"), 1);
  moveTo(2, 0, 6);
  EXPECT_EQ(RowCount("Name = 'Show (special)'"), 1);
}

// A programme found on air is recorded from then on, and its row still stands
// for the airing. (The stand-in guide lists only what starts from now.)
TEST_F(PassServicesTest, AnAiringTakenOnAirIsRecordedOnce) {
  const std::wstring passMedium = DescribedPass();
  ASSERT_FALSE(passMedium.empty());
  const int64_t now = Local(2027, 3, 8, 22, 10);
  SetNow(now);
  const Value listings = tev::peers::GuidePeer::BuildListings(
      {Channel(L"BBC One", L"ch1", L"Show", {Local(2027, 3, 8, 22, 0)})}, L"Show", 0,
      WallClock(Local(2027, 3, 20, 0, 0)), 100);
  SQLite passRow;
  ASSERT_TRUE(passRow.RunQuery("SELECT * FROM SeasonPasses", L"test"));
  const PassRow pass = PassRow::FromQuery(passRow);
  const std::string repeat = "StartTime >= " + DbTime(Local(2027, 3, 8, 22, 0)) +
                             " AND StartTime < " + DbTime(Local(2027, 3, 9, 0, 0));
  for (int search = 0; search < 2; ++search) {
    SeasonPassChecker checker(Engine(), Work(), Peers());
    EXPECT_EQ(checker.AddProgramsForPass(pass, ReadGuideListings(listings.get()), nullptr, AdmissionFlags(), now), 0);
    EXPECT_EQ(RowCount(repeat), 1) << search;
  }
  EXPECT_EQ(RowCount(repeat + " AND Owner = '" + std::to_string(pass.id) + "'"), 1);
}

}  // namespace
}  // namespace passtest
