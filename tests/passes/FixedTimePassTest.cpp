// Passes without a guide: a schedule per qualifying day at the pass's local
// time, over a week that crosses the start of daylight saving time.
#include <gtest/gtest.h>

#include "db/PassStore.h"
#include "tests/passes/PassFixture.h"

namespace passtest {
namespace {

class FixedTimePassTest : public PassFixture {
 protected:
  // Local "dd hhmm" of each episode, in ID order.
  std::vector<std::string> Days(int passId) {
    std::vector<std::string> days;
    for (const auto& row : Episodes(passId)) {
      days.push_back(row[1].substr(6, 2) + " " + row[1].substr(8, 4));
    }
    return days;
  }
};

TEST_F(FixedTimePassTest, EachModeOverAWeekThatCrossesTheChange) {
  // Monday, before the 07:00 show; Sunday's 07:00 is daylight time.
  SetNow(Local(2027, 3, 8, 6, 0));
  struct Case {
    int32_t mode;
    std::vector<std::string> days;
  };
  const std::vector<std::string> all = {"08 0700", "09 0700", "10 0700", "11 0700",
                                        "12 0700", "13 0700", "14 0700"};
  const Case cases[] = {
      {1, all},
      {2, all},
      {3, all},
      {4, {"08 0700"}},
      {5, {"08 0700", "09 0700", "10 0700", "11 0700", "12 0700"}},
      {6, {"13 0700", "14 0700"}},
  };
  for (const Case& c : cases) {
    const int pass = AddPass(WebPass(L"Morning", Local(2027, 3, 8, 7, 0), c.mode));
    ASSERT_GT(pass, 0) << c.mode;
    EXPECT_EQ(Days(pass), c.days) << "mode " << c.mode;
    ASSERT_TRUE(passes_->RemoveSeasonPass(pass, true));
  }
}

TEST_F(FixedTimePassTest, WeekdaysFromFridayEveningTheNextDayAndALateStart) {
  SetNow(Local(2027, 3, 12, 18, 0));  // Friday 18:00, show at 18:30
  const int pass = AddPass(WebPass(L"Evening", Local(2027, 3, 12, 18, 30), 5));
  ASSERT_GT(pass, 0);
  EXPECT_EQ(Days(pass), (std::vector<std::string>{"12 1830", "15 1830", "16 1830", "17 1830",
                                                  "18 1830"}));
  SetNow(Local(2027, 3, 13, 18, 0));
  checker_->CheckForNewEpisodes();
  const std::vector<std::string> days = Days(pass);
  ASSERT_EQ(days.size(), 6u);
  EXPECT_EQ(days.back(), "19 1830");
  ASSERT_TRUE(passes_->RemoveSeasonPass(pass, true));

  // A late start counts for five minutes.
  SetNow(Local(2027, 3, 8, 7, 4));
  const int late = AddPass(WebPass(L"Morning", Local(2027, 3, 8, 7, 0), 4));
  EXPECT_EQ(Days(late), (std::vector<std::string>{"08 0700"}));
  ASSERT_TRUE(passes_->RemoveSeasonPass(late, true));
  SetNow(Local(2027, 3, 8, 7, 6));
  const int tooLate = AddPass(WebPass(L"Morning", Local(2027, 3, 8, 7, 0), 4));
  ASSERT_GT(tooLate, 0);
  EXPECT_TRUE(Days(tooLate).empty());
}

// Through the daily check, a refresh and a new length.
TEST_F(FixedTimePassTest, EpisodesStayAsTheUserLeftThem) {
  SetNow(Local(2027, 3, 8, 6, 0));
  const int pass = AddPass(WebPass(L"Morning", Local(2027, 3, 8, 7, 0), 3));
  ASSERT_EQ(Episodes(pass).size(), 7u);
  dbtest::RawDb db(dbPath_);
  const auto at = [](int day) { return " WHERE StartTime = " + DbTime(Local(2027, 3, day, 7, 0)); };
  const auto update = [this](const std::wstring& medium, const wchar_t* key, const wchar_t* value) {
    return engine_->Updates().UpdateMedium({0, medium, {{false, key, value}}}, tev::Clock::Now());
  };
  const auto medium = [&](int day) {
    return tev::FromStdUtf8(db.Value("SELECT TevMediumId FROM Schedules" + at(day)));
  };
  EXPECT_EQ(update(medium(9), L"pvrState", L"skip"), 0);
  EXPECT_EQ(update(medium(10), L"title", L"Morning (long)"), 0);
  db.Exec("UPDATE Schedules SET Status = 'DVRSTATE_DELETED'" + at(11));
  db.Exec("UPDATE Schedules SET Name = 'Early', Status = 'DVRSTATE_DELETED'" + at(12));
  const auto decided = [this] {
    EXPECT_EQ(RowCount("Status = 'DVRSTATE_DELETED'"), 2);
    EXPECT_EQ(RowCount("Status = 'DVRSTATE_SKIP'"), 1);
    EXPECT_EQ(RowCount("Name = 'Morning (long)'"), 1);
    EXPECT_EQ(RowCount("Status = 'DVRSTATE_SCHEDULED'"), 4);
  };
  checker_->CheckForNewEpisodes();
  decided();
  passes_->RefreshPass(pass);
  WaitForPassJobs();
  decided();

  const std::string ids = db.Value("SELECT group_concat(ID) FROM Schedules");
  EXPECT_EQ(update(PassStore::MediumId(pass), L"duration", L"3600000"), 0);
  WaitForPassJobs();
  EXPECT_EQ(db.Value("SELECT group_concat(ID) FROM Schedules"), ids);
  decided();
  EXPECT_EQ(RowCount("Duration = 3600 AND Status != 'DVRSTATE_DELETED'"), 5);
  EXPECT_EQ(RowCount("Status = 'DVRSTATE_SKIP' AND EndTime = " + DbTime(Local(2027, 3, 9, 8, 0))), 1);
  EXPECT_EQ(RowCount("Name = 'Morning (long)' AND EndTime = " + DbTime(Local(2027, 3, 10, 8, 0))),
            1);
}

TEST_F(FixedTimePassTest, ModeAgreementOfGuideAirings) {
  const int64_t monday20 = Local(2027, 3, 8, 20, 0);
  struct Case {
    int32_t mode;
    int64_t candidate;
    bool isNew;
    bool expected;
  };
  const Case cases[] = {
      {1, Local(2027, 3, 9, 13, 0), false, true},
      {2, Local(2027, 3, 9, 13, 0), false, false},
      {2, Local(2027, 3, 9, 13, 0), true, true},
      {3, Local(2027, 3, 9, 20, 0), false, true},
      {3, Local(2027, 3, 9, 20, 5), false, false},
      {3, Local(2027, 3, 15, 20, 0), false, true},  // after the change, still 20:00
      {4, Local(2027, 3, 15, 20, 0), false, true},
      {4, Local(2027, 3, 9, 20, 0), false, false},
      {5, Local(2027, 3, 12, 20, 0), false, true},
      {5, Local(2027, 3, 13, 20, 0), false, false},
      {6, Local(2027, 3, 14, 20, 0), false, true},
      {6, Local(2027, 3, 12, 20, 0), false, false},
      {1, monday20 - 60, false, false},  // before the pass began
      {9, Local(2027, 3, 9, 1, 0), false, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SeasonPassChecker::AccordingToMode(c.mode, monday20, c.candidate, c.isNew), c.expected)
        << c.mode << " " << c.candidate;
  }
}

}  // namespace
}  // namespace passtest
