#include "passes/SeasonPasses.h"
#include "tests/common/FakePeers.h"
#include "tests/common/PassObjects.h"

#include <gtest/gtest.h>

#include "db/PassStore.h"
#include "outbound/PeerClient.h"
#include "tests/db/DbTestSupport.h"

using dbtest::RawDb;

class SeasonPassesTest : public dbtest::DbFixture {
 protected:
  void SetUp() override {
    DbFixture::SetUp();
    if (HasFatalFailure()) return;
    OpenNew();
    db_.reset(new RawDb(dbPath_));
  }
  // Made at first use, over the database the test opened.
  tev::test::PassObjects& Objects() {
    if (!objects_) objects_.reset(new tev::test::PassObjects(peers_, false));
    return *objects_;
  }

  std::unique_ptr<RawDb> db_;
  testpeers::FakePeers peers_;
  std::unique_ptr<tev::test::PassObjects> objects_;
};

TEST_F(SeasonPassesTest, Vocabulary) {
  const wchar_t* const names[] = {L"ALL_EPISODES", L"ONLY_NEW_EPISODES", L"DAILY_AT_SAME_TIME",
                                  L"WEEKLY_AT_SAME_TIME", L"WEEKDAYS_AT_SAME_TIME",
                                  L"WEEKENDS_AT_SAME_TIME"};
  for (int mode = 1; mode <= 6; ++mode) {
    EXPECT_EQ(SeasonPasses::ScheduleModeName(mode), names[mode - 1]);
    EXPECT_EQ(SeasonPasses::ScheduleModeNumber(names[mode - 1]), mode);
  }
  EXPECT_EQ(SeasonPasses::ScheduleModeName(0), L"ALL_EPISODES");
  EXPECT_EQ(SeasonPasses::ScheduleModeName(7), L"ALL_EPISODES");
  EXPECT_EQ(SeasonPasses::ScheduleModeNumber(L"all_episodes"), 1);
  EXPECT_EQ(SeasonPasses::ScheduleModeNumber(L""), 1);

  struct Type {
    const wchar_t* mimetype;
    const wchar_t* mediaType;
  };
  const Type types[] = {
      {L"video/x-webwin", L"schedulePass.tv.web"},
      {L"video/x-webreal", L"schedulePass.tv.web"},
      {L"audio/x-webwin", L"schedulePass.audio.file.recorded.web"},
      {L"video/x-inputdevice", L"schedulePass.tv.webcam"},
      {L"video/x-videomail", L"schedulePass.video"},
      {L"audio/x-videomail", L"schedulePass.audio"},
      {L"audio/x-win", L"schedulePass.audio"},
      {L"video/x-tv", L"schedulePass.tv.channel"},
      {L"text/html", L""},
      {L"", L""},
  };
  for (const Type& t : types) EXPECT_EQ(SeasonPasses::PassMediaType(t.mimetype), t.mediaType) << t.mimetype;
}

TEST_F(SeasonPassesTest, IdentifiersAndPriorities) {
  db_->Exec("INSERT INTO SeasonPasses (TevMediumId, Priority) VALUES ('m-1', 4)");
  db_->Exec("INSERT INTO SeasonPasses (TevMediumId, Priority) VALUES (NULL, NULL)");
  EXPECT_EQ(PassStore::MediumId(1), L"m-1");
  EXPECT_EQ(PassStore::MediumId(2), L"");
  EXPECT_EQ(PassStore::MediumId(3), L"");
  EXPECT_EQ(PassStore::Priority(1), 4);
  EXPECT_EQ(PassStore::Priority(2), 0);
  EXPECT_EQ(PassStore::Priority(3), 0);

  PassStore::AssignMediumId(2, L"it's \U0001F4FA");
  EXPECT_EQ(PassStore::MediumId(2), L"it's \U0001F4FA");

  db_->Exec("ALTER TABLE SeasonPasses RENAME TO Gone");
  PassStore::AssignMediumId(2, L"x");
  EXPECT_TRUE(log_->Has(LOG_ERROR,
                        L"SeasonPasses::AssignTevMediumId: SQL error for UPDATE SeasonPasses SET TevMediumId = 'x' WHERE ID = 2"));
  EXPECT_EQ(PassStore::Priority(1), 0);
}

TEST_F(SeasonPassesTest, PublishingWithoutPassOrBusIsLoggedOnly) {
  Objects().passes.AddPassToTevMedia(9, L"", L"", L"");
  EXPECT_TRUE(log_->Has(LOG_ERROR, L"AddPassToTevMedia: pass 9 is not in db"));
  db_->Exec("INSERT INTO SeasonPasses (ProgramName, StartDate) VALUES ('p', 20090315203000)");
  Objects().passes.AddPassToTevMedia(1, L"RT1", L"PG", L"a b");
  EXPECT_TRUE(log_->Has(LOG_ERROR, L"Schedule::AddMedium: no bus endpoint"));
  EXPECT_EQ(PassStore::MediumId(1), L"");
  // A start date that is no time cannot be published.
  db_->Exec("UPDATE SeasonPasses SET StartDate = 'garbage'");
  log_->Clear();
  Objects().passes.AddPassToTevMedia(1, L"", L"", L"");
  EXPECT_TRUE(log_->Has(LOG_ERROR, L"Schedule::AddMedium: FormatTime2: Localtime failed"));

  SeasonPasses::SetEpisodesAttribute(Objects().engine.Library(), 1, L"tevPassId", L"x");
  EXPECT_TRUE(log_->Has(LOG_ERROR, L"Schedule::UpdateSchedulesFromPass: no bus endpoint"));
  EXPECT_FALSE(Objects().passes.ChangeMediumIds());
  EXPECT_TRUE(log_->Has(LOG_ERROR, L"SeasonPasses::UpgradeThumbnails: no bus endpoint"));
  EXPECT_TRUE(log_->Has(LOG_ERROR, L"SeasonPasses::ChangeMediumIds: no bus endpoint"));
  // With no passes there is nothing to migrate.
  db_->Exec("DELETE FROM SeasonPasses");
  EXPECT_TRUE(Objects().passes.ChangeMediumIds());
}
