// The pass store: adding, placing, changing and removing passes.
#include <initializer_list>
#include <set>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/passes/PassFixture.h"

namespace passtest {
namespace {

class PassStoreTest : public PassFixture {
 protected:
  // A fixed-time TV pass: no guide traffic.
  int32_t Television(const std::wstring& name, int32_t priority) {
    return AddPass(TvPass(name, Local(2027, 3, 8, 21, 0), 3, 0, priority));
  }
  // The library's change list; an integer value comes as its decimal text.
  static std::vector<MediumChange> Changes(
      std::initializer_list<std::pair<std::wstring, std::wstring>> pairs) {
    std::vector<MediumChange> changes;
    for (const auto& pair : pairs) changes.push_back({false, pair.first, pair.second});
    return changes;
  }
  int Move(int passId, const std::wstring& place) {
    return passes_->UpdatePassMedium(0, passId, Changes({{L"priority", place}}), nullptr);
  }
};

TEST_F(PassStoreTest, PrioritiesStayDenseThroughAddMoveAndRemove) {
  const int p = Television(L"P", 0), q = Television(L"Q", 0);
  EXPECT_EQ(Priorities(), (std::map<int, int>{{p, 1}, {q, 2}}));
  // Any positive priority puts the pass first.
  const int r = Television(L"R", 5);
  EXPECT_EQ(Priorities(), (std::map<int, int>{{p, 2}, {q, 3}, {r, 1}}));
  // A web pass has no priority and no guide, whatever was asked.
  PassDescription web = WebPass(L"W", Local(2027, 3, 8, 18, 0), 3);
  web.guideType = 1;
  web.priority = 4;
  const int w = AddPass(web);
  ASSERT_GT(w, 0);
  dbtest::RawDb db(dbPath_);
  EXPECT_EQ(db.Value("SELECT GuideType FROM SeasonPasses WHERE ID = " + std::to_string(w)), "0");
  EXPECT_EQ(Priorities()[w], 0);

  EXPECT_EQ(Move(r, L"3"), 0);
  EXPECT_EQ(Priorities(), (std::map<int, int>{{p, 1}, {q, 2}, {r, 3}, {w, 0}}));
  WaitForPassJobs();
  media_.ClearRequests();
  EXPECT_EQ(Move(q, L"1"), 0);
  EXPECT_EQ(Priorities(), (std::map<int, int>{{p, 2}, {q, 1}, {r, 3}, {w, 0}}));
  // The pass moved down is republished with its new place.
  int32_t republished = -1;
  for (const Value& in : media_.RequestsOf(L"AddMedium")) {
    const Value list = peertest::Elem(in.get(), 1);
    std::wstring path;
    VUtil::FindPair(list.get(), L"path", &path);
    if (path == L"RP" + std::to_wstring(p))
      VUtil::FindPairNoCase(list.get(), L"priority", &republished);
  }
  EXPECT_EQ(republished, 2);
  EXPECT_EQ(Move(q, L"10000"), 0);
  EXPECT_EQ(Priorities(), (std::map<int, int>{{p, 1}, {q, 3}, {r, 2}, {w, 0}}));

  WaitForPassJobs();
  media_.ClearRequests();
  for (const wchar_t* place : {L"0", L"-5", L"first"}) EXPECT_EQ(Move(p, place), 403);
  EXPECT_EQ(Move(w, L"1"), 403);
  EXPECT_EQ(Priorities(), (std::map<int, int>{{p, 1}, {q, 3}, {r, 2}, {w, 0}}));
  EXPECT_EQ(media_.CountOf(L"AddMedium"), 0u);

  EXPECT_TRUE(passes_->RemoveSeasonPass(r, true));
  EXPECT_EQ(Priorities(), (std::map<int, int>{{p, 1}, {q, 2}, {w, 0}}));
  EXPECT_TRUE(passes_->RemoveSeasonPass(w, true));
  EXPECT_EQ(Priorities(), (std::map<int, int>{{p, 1}, {q, 2}}));
  EXPECT_FALSE(passes_->RemoveSeasonPass(w, true));
}

TEST_F(PassStoreTest, LibraryChangesToAPassThroughUpdateMedium) {
  const int pass = Television(L"P", 0);
  dbtest::RawDb db(dbPath_);
  const std::wstring medium = tev::FromStdUtf8(db.Value("SELECT TevMediumId FROM SeasonPasses"));
  auto update = [&](int32_t action, const std::vector<MediumChange>& changes) {
    return engine_->Updates().UpdateMedium({action, medium, changes}, tev::Clock::Now());
  };
  auto column = [&](const std::string& name) {
    return db.Value("SELECT " + name + " FROM SeasonPasses WHERE ID = " + std::to_string(pass));
  };
  // The first pair a pass takes ends the call.
  media_.ClearRequests();
  EXPECT_EQ(update(0, Changes({{L"genre", L"Comedy"},
                                     {L"keepUntil", L"AT_LEAST_2_DAYS"}})),
            0);
  WaitForPassJobs();
  EXPECT_EQ(column("Category || '/' || KeepUntil"), "Comedy/1");
  EXPECT_EQ(RowCount("Category = 'Comedy' AND Owner = '" + std::to_string(pass) + "'"), 7);
  ASSERT_EQ(media_.CountOf(L"AddMedia"), 1u);
  EXPECT_EQ(VUtil::GetArrayLength(peertest::Elem(Last(media_, L"AddMedia").get(), 1).get()), 7);
  EXPECT_EQ(update(0, Changes({{L"channel", L"BBC Two"}})), 403);
  EXPECT_EQ(update(0, Changes({{L"duration", L"500"}})), 403);
  EXPECT_EQ(update(0, Changes({{L"searchTVGuide", L"2"}})), 403);
  EXPECT_EQ(update(0, Changes({{L"title", L"New"}, {L"genre", L"X"}})), 0);
  EXPECT_EQ(column("ProgramName || Category || Duration"), "PComedy1800");

  EXPECT_EQ(update(0, Changes({{L"startTime", L"2027-03-08 22:30:00"}})), 0);
  WaitForPassJobs();
  const auto rows = Episodes(pass);
  ASSERT_EQ(rows.size(), 7u);
  for (const auto& row : rows) EXPECT_EQ(row[1].substr(8), "223000");

  // A new keep-until reaches the pending episodes, not the one recorded
  // (the disk-space manager reads it).
  const std::string owned = " AND Owner = '" + std::to_string(pass) + "'";
  db.Exec("UPDATE Schedules SET Status = 'DVRSTATE_COMPLETE' WHERE StartTime = " +
          DbTime(Local(2027, 3, 8, 22, 30)));
  media_.ClearRequests();
  EXPECT_EQ(update(0, Changes({{L"keepUntil", L"AT_LEAST_3_DAYS"}})), 0);
  WaitForPassJobs();
  EXPECT_EQ(column("KeepUntil"), "13");
  EXPECT_EQ(RowCount("Status = 'DVRSTATE_SCHEDULED' AND KeepUntil = 13" + owned), 6);
  EXPECT_EQ(RowCount("Status = 'DVRSTATE_COMPLETE' AND KeepUntil = 1" + owned), 1);
  const std::vector<Value> batches = media_.RequestsOf(L"AddMedia");
  ASSERT_EQ(batches.size(), 1u);
  const std::pair<const wchar_t*, std::wstring> published[] = {
      {L"keepUntil", L"AT_LEAST_3_DAYS"}, {L"tevPassId", medium}, {L"rating", L"PG"},
      {L"pvrState", L"schedule"}};
  for (const auto& p : published) {
    EXPECT_EQ(enginetest::BatchValues(batches[0], p.first), std::vector<std::wstring>(6, p.second));
  }
  // A name that is no keep-until is refused, not stored as the first to go.
  EXPECT_EQ(update(0, Changes({{L"keepUntil", L"FOREVER"}})), 403);
  WaitForPassJobs();
  EXPECT_EQ(column("KeepUntil"), "13");
  EXPECT_EQ(RowCount("KeepUntil = 13" + owned), 6);

  EXPECT_EQ(update(1, {}), 0);
  EXPECT_EQ(PassCount(), 0);
  EXPECT_EQ(RowCount(), 1);  // the recording stays
}

TEST_F(PassStoreTest, RemovalKeepsFinishedRecordingsAndDropsPendingOnes) {
  const int pass = Television(L"P", 0);
  ASSERT_GT(pass, 0);
  EXPECT_EQ(RowCount("Owner = '" + std::to_string(pass) + "'"), 7);
  dbtest::RawDb db(dbPath_);
  const char* const kept[] = {"DVRSTATE_COMPLETE", "DVRSTATE_COMPLETE_PARTIAL",
                              "DVRSTATE_RECORDING"};
  for (const char* status : kept) {
    const int id = Row(Values(L"old " + tev::FromStdUtf8(status), Monday() - 86400, 3600,
                              L"video/x-tv", tev::FromStdUtf8(status)));
    db.Exec("UPDATE Schedules SET Owner = '" + std::to_string(pass) + "', TevMediumId = 'K" +
            std::to_string(id) + "' WHERE ID = " + std::to_string(id));
  }
  const std::string passMedium = db.Value("SELECT TevMediumId FROM SeasonPasses");
  media_.ClearRequests();

  ASSERT_TRUE(passes_->RemoveSeasonPass(pass, true));
  EXPECT_EQ(PassCount(), 0);
  EXPECT_EQ(RowCount("Owner != ''"), 0);
  EXPECT_EQ(RowCount(), 3);
  EXPECT_EQ(RowCount("Status = 'DVRSTATE_SCHEDULED'"), 0);
  std::vector<std::wstring> removed;
  for (const Value& in : media_.RequestsOf(L"RemoveImportedMedia")) {
    for (const std::wstring& id : enginetest::BatchValues(in, L"tevMediumId"))
      removed.push_back(id);
  }
  ASSERT_EQ(removed.size(), 8u);  // seven episodes, then the pass
  EXPECT_EQ(removed.back(), tev::FromStdUtf8(passMedium));
  ASSERT_EQ(media_.CountOf(L"SetMediaAttributes"), 1u);
  Value attribute = Last(media_, L"SetMediaAttributes");
  EXPECT_EQ(VUtil::GetArrayLength(peertest::Elem(attribute.get(), 1).get()), 3);
}

TEST_F(PassStoreTest, FailedStatementLeavesPassAndPrioritiesWhole) {
  const int p = Television(L"P", 0), q = Television(L"Q", 0);
  const int rows = RowCount();
  for (int successes = 0; successes < 100; ++successes) {
    database_->FailStatementsAfter(successes);
    passes_->RemoveSeasonPass(p, false);
    database_->FailStatementsAfter(-1);
    const std::map<int, int> now = Priorities();
    if (now.size() == 2) {
      EXPECT_EQ(now, (std::map<int, int>{{p, 1}, {q, 2}})) << successes;
      EXPECT_EQ(RowCount(), rows) << successes;
    } else {
      EXPECT_EQ(now, (std::map<int, int>{{q, 1}})) << successes;
      break;
    }
  }
  EXPECT_EQ(Priorities(), (std::map<int, int>{{q, 1}}));

  // Adding at the top under the same faults.
  for (int successes = 0; successes < 40; ++successes) {
    database_->FailStatementsAfter(successes);
    const int added = Television(L"N" + std::to_wstring(successes), 5);
    database_->FailStatementsAfter(-1);
    std::set<int> places;
    for (const auto& entry : Priorities()) places.insert(entry.second);
    EXPECT_EQ(*places.begin(), 1) << successes;
    EXPECT_EQ(*places.rbegin(), static_cast<int>(places.size())) << successes;
    EXPECT_EQ(places.size(), Priorities().size()) << successes;
    if (added > 0) break;
  }
}

}  // namespace
}  // namespace passtest
