// Guide passes against the scripted guide: which airings of a week become
// schedules, with which state, and what a bad guide does.
#include <unistd.h>

#include <set>

#include <gtest/gtest.h>

#include "tests/passes/PassFixture.h"

namespace passtest {
namespace {

class GuidePassTest : public PassFixture {
 protected:
  // Local "hhmm" of each episode's start (database time), in ID order.
  std::vector<std::string> Times(int passId) {
    std::vector<std::string> times;
    for (const auto& row : Episodes(passId)) times.push_back(row[1].substr(8, 4));
    return times;
  }
  std::multiset<std::string> StatesByChannel(int passId) {
    std::multiset<std::string> states;
    for (const auto& row : Episodes(passId)) states.insert(row[2] + " " + row[0]);
    return states;
  }
};

TEST_F(GuidePassTest, AllEpisodesOfTheWeekKeepTheirLocalTimeAndEachDayAddsTheNext) {
  guide_.SetListings({Channel(L"BBC One", L"ch1", L"Show", Daily(21, 0, 14)),
                      Channel(L"BBC Two", L"ch2", L"Show", Daily(18, 0)),
                      Channel(L"BBC One", L"ch1", L"Other", Daily(20, 0))});
  const int pass = AddPass(TvPass(L"Show", Local(2027, 3, 8, 21, 0)));
  ASSERT_GT(pass, 0);
  const std::vector<std::string> times = Times(pass);
  ASSERT_EQ(times.size(), 13u);
  for (const std::string& t : times) EXPECT_TRUE(t == "2100" || t == "1800") << t;
  EXPECT_EQ(RowCount("Status = 'DVRSTATE_SCHEDULED'"), 13);
  EXPECT_EQ(RowCount("Name = 'Other'"), 0);

  // The daily check adds only the new day.
  checker_->CheckForNewEpisodes();
  EXPECT_EQ(Episodes(pass).size(), 13u);
  SetNow(Monday() + 86400);
  checker_->CheckForNewEpisodes();
  const auto rows = Episodes(pass);
  ASSERT_EQ(rows.size(), 14u);
  EXPECT_EQ(rows.back()[1], DbTime(Local(2027, 3, 15, 21, 0)));
  std::set<std::string> starts;
  for (const auto& row : rows) starts.insert(row[1]);
  EXPECT_EQ(starts.size(), 14u);
}

TEST_F(GuidePassTest, NewEpisodesOnlyReadsTheListingsMarksAndRecordsEachEpisodeOnce) {
  GuideChannel one = Channel(L"BBC One", L"ch1", L"Show", Daily(21, 0));
  GuideChannel itv = Channel(L"ITV", L"ch2", L"Show", Daily(18, 0));
  auto mark = [](GuideProgram& p, bool isNew, bool shown, const std::wstring& title,
                 const std::wstring& xmltvNs) {
    p.isNew = isNew;
    p.previouslyShown = shown;
    p.episodeTitle = title;
    p.episodeNums.clear();
    if (!xmltvNs.empty()) p.episodeNums.emplace_back(L"xmltv_ns", xmltvNs);
  };
  mark(one.programs[0], true, false, L"", L"0.0.");              // Mon: new S1E1
  mark(one.programs[1], false, true, L"", L"0.3.");              // Tue: a repeat
  mark(one.programs[2], false, false, L"", L"0.1.");             // Wed: S1E2, unmarked
  mark(one.programs[3], false, false, L"Pilot", L"0 . 1 . 0/1");  // Thu: S1E2 again
  mark(one.programs[4], false, false, L"The Finale", L"");       // Fri: by its title
  mark(one.programs[5], false, false, L"the finale!", L"");      // Sat: the same
  mark(one.programs[6], true, false, L"", L"0.0.");              // Sun: S1E1 again, new
  mark(itv.programs[2], false, false, L"", L"0.2.");             // Wed: S1E3 elsewhere
  mark(itv.programs[3], false, false, L"", L"0.1.");             // Thu: S1E2 elsewhere
  mark(itv.programs[4], false, false, L"", L"");                 // Fri: cannot tell
  for (int day : {0, 1, 5, 6}) mark(itv.programs[day], false, true, L"", L"");
  guide_.SetListings({one, itv});

  const int pass = AddPass(TvPass(L"Show", Local(2027, 3, 8, 21, 0), 2));
  ASSERT_GT(pass, 0);
  const auto states = StatesByChannel(pass);
  EXPECT_EQ(states.count("BBC One DVRSTATE_SCHEDULED"), 3u);  // Mon, Wed, Fri
  EXPECT_EQ(states.count("ITV DVRSTATE_SCHEDULED"), 2u);      // Wed, Fri
  EXPECT_EQ(states.size(), 5u);
  EXPECT_EQ(Times(pass), (std::vector<std::string>{"2100", "2100", "2100", "1800", "1800"}));

  checker_->CheckForNewEpisodes();
  EXPECT_EQ(Episodes(pass).size(), 5u);
}

TEST_F(GuidePassTest, TheSameAiringOnTwoChannelsIsRecordedOnThePassChannel) {
  // BBC Two comes first in the listing; the pass's own channel wins anyway.
  guide_.SetListings({Channel(L"BBC Two", L"ch2", L"Show", Daily(21, 0, 2)),
                      Channel(L"BBC One", L"ch1", L"Show", Daily(21, 0, 2))});
  const int pass = AddPass(TvPass(L"Show", Local(2027, 3, 8, 21, 0)));
  ASSERT_GT(pass, 0);
  EXPECT_EQ(StatesByChannel(pass),
            (std::multiset<std::string>{"BBC One DVRSTATE_SCHEDULED", "BBC One DVRSTATE_SCHEDULED",
                                        "BBC Two DVRSTATE_SKIP", "BBC Two DVRSTATE_SKIP"}));
}

// The restricted pass names its channel in another letter case.
TEST_F(GuidePassTest, ARestrictedPassKeepsToItsChannelAndPassesShareNoEpisode) {
  guide_.SetListings({Channel(L"BBC One", L"ch1", L"Show", Daily(21, 0)),
                      Channel(L"BBC Two", L"ch2", L"Show", Daily(18, 0))});
  PassDescription restricted = TvPass(L"Show", Local(2027, 3, 8, 21, 0));
  restricted.channelName = L"bbc one";
  restricted.restrictToOneChannel = true;
  const int a = AddPass(restricted);
  const int b = AddPass(TvPass(L"Show", Local(2027, 3, 8, 21, 0)));
  const int c = AddPass(TvPass(L"Show", Local(2027, 3, 8, 21, 0), 3));
  ASSERT_TRUE(a > 0 && b > 0 && c > 0);
  const auto first = StatesByChannel(a);
  EXPECT_EQ(first.count("BBC One DVRSTATE_SCHEDULED"), 7u);
  EXPECT_EQ(first.size(), 7u);
  // Only BBC Two's airings from Tuesday on are left for the second.
  const auto second = StatesByChannel(b);
  EXPECT_EQ(second.count("BBC Two DVRSTATE_SCHEDULED"), 6u);
  EXPECT_EQ(second.size(), 6u);
  EXPECT_EQ(Episodes(c).size(), 0u);
  EXPECT_EQ(RowCount(), 13);
}

TEST_F(GuidePassTest, FirstSearchWithConflictsRemovesThePass) {
  guide_.SetListings({Channel(L"BBC One", L"ch1", L"Show", Daily(21, 0))});
  AddManualFilm();
  PassConflictReport report;
  EXPECT_EQ(AddPass(TvPass(L"Show", Local(2027, 3, 8, 21, 0)), &report),
            SeasonPasses::kConflictsFound);
  EXPECT_EQ(PassCount(), 0);
  EXPECT_EQ(RowCount(), 1);
  ASSERT_EQ(report.size(), 1u);
  EXPECT_EQ(report[0].title, L"Show");
  EXPECT_EQ(report[0].start, Local(2027, 3, 10, 21, 0));
  ASSERT_EQ(report[0].conflicts.conflicts.size(), 1u);
  EXPECT_EQ(report[0].conflicts.conflicts[0].name, L"Film");

  // Placed first, the pass takes the tuner from the manual recording.
  PassDescription first = TvPass(L"Show", Local(2027, 3, 8, 21, 0));
  first.priority = 1;
  const int placed = AddPass(first);
  ASSERT_GT(placed, 0);
  EXPECT_EQ(RowCount("Owner = '" + std::to_string(placed) + "' AND Status = 'DVRSTATE_SCHEDULED'"),
            7);
  EXPECT_EQ(RowCount("Name = 'Film' AND Status = 'DVRSTATE_SKIP'"), 1);
}

TEST_F(GuidePassTest, PassFromAnExistingScheduleRecordsThatAiringOnce) {
  guide_.SetListings({Channel(L"BBC One", L"ch1", L"Show", Daily(21, 0))});
  // Intake keeps the start one second past the minute.
  ASSERT_EQ(Add(L"Show", Local(2027, 3, 8, 21, 0) + 37, 1800), 0);
  const int schedule = std::stoi(Rows("ID")[0][0]);
  EXPECT_EQ(Column(schedule, "StartTime"), DbTime(Local(2027, 3, 8, 21, 0) + 1));
  const int pass = passes_->AddPassFromSchedule(schedule, L"", false, 1, L"high",
                                                UNTIL_SPACE_NEEDED, -1, 0, nullptr);
  ASSERT_GT(pass, 0);
  EXPECT_EQ(Column(schedule, "Owner"), std::to_string(pass));
  EXPECT_EQ(Episodes(pass).size(), 7u);
  EXPECT_EQ(RowCount(), 7);
  EXPECT_EQ(RowCount("Status = 'DVRSTATE_SCHEDULED'"), 7);
}

TEST_F(GuidePassTest, ABadGuideAddsNothingAndTheDailyCheckGoesOn) {
  const int web = AddPass(WebPass(L"Radio", Local(2027, 3, 8, 18, 0), 3));
  ASSERT_GT(web, 0);
  const int before = RowCount();
  guide_.SetListings({});
  const int pass = AddPass(TvPass(L"Show", Local(2027, 3, 8, 21, 0)));
  ASSERT_GT(pass, 0);  // an empty week is no failure

  // An unreadable answer, and a readable one with an unreadable programme.
  const std::vector<Value> garbage = {
      Value::Array({Value::Str(L"junk")}),
      Value::Array({Value::Array(
          {Value::Long(1),
           Value::Array({Value::Array({Value::Str(L"BBC One"), Value(),
                                       Value::Array({Value::Str(L"Show"), Value::Array({}),
                                                     Value::Array(std::vector<Value>(15))}),
                                       Value::Str(L"video/x-tv"), Value(), Value(), Value(),
                                       Value::Str(L"ch1")})})})}),
  };
  for (const Value& answer : garbage) {
    guide_.SetReply(L"SearchTVListings", 0, answer);
    EXPECT_NO_THROW(checker_->CheckForNewEpisodes());
    EXPECT_EQ(RowCount(), before);
  }
  // A failing guide skips the guide pass; the web pass is still served.
  guide_.SetReply(L"SearchTVListings", 9);
  SetNow(Monday() + 86400);
  EXPECT_NO_THROW(checker_->CheckForNewEpisodes());
  EXPECT_EQ(RowCount(), before + 1);
}

TEST_F(GuidePassTest, CheckerThreadRunsAfterItsDelayAndStopsAtOnce) {
  AddPass(WebPass(L"Radio", Local(2027, 3, 8, 18, 0), 3));
  dbtest::RawDb db(dbPath_);
  db.Exec("DELETE FROM Schedules");
  SeasonPassChecker checker(*engine_, work_, vel_->Peers());
  checker.Start();
  // The first check waits 10 s on the engine's clock.
  for (int i = 0; i < 1000 && RowCount() < 7; ++i) {
    env_.Shift(1);
    usleep(10000);
  }
  checker.Stop();  // ends the day-long wait
  EXPECT_EQ(RowCount(), 7);
}

}  // namespace
}  // namespace passtest
