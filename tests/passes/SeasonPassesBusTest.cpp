// The pass store's vocabulary, reads and writes, and its requests to the
// scripted media library on a loopback bus. Pass 1 is "Late 'Show'".
#include <tuple>

#include <gtest/gtest.h>

#include "db/PassStore.h"
#include "passes/SeasonPasses.h"
#include "tests/common/PassObjects.h"
#include "tests/db/BusWire.h"
#include "tests/db/DbTestSupport.h"
#include "tests/peers/PeerFixture.h"

using dbtest::RawDb;
using dbtest::Wire;
using peertest::Elem;
using tev::peers::Value;

class SeasonPassesBusTest : public peertest::PeerFixture {
 protected:
  void SetUp() override {
    PeerFixture::SetUp();
    if (HasFatalFailure()) return;
    db_.reset(new RawDb(dbPath_));
    ASSERT_TRUE(db_->Exec(
        "INSERT INTO SeasonPasses (ProgramName, ChannelName, ChannelMedium, ChannelMimetype, Priority, "
        "ScheduleMode, RestrictToOneChannel, KeepUntil, StartDate, Duration, Category, GuideType) VALUES "
        "('Late ''Show''', 'Chan', 'ch', 'video/x-webwin', 0, 9, 0, 5, 20100102030405, 60, 'News', 0)"));
  }
  std::string LastList() { return Wire(Elem(Last(media_, L"AddMedium").get(), 1).get()); }
  // Made at first use, over the database the test opened.
  tev::test::PassObjects& Objects(bool live = true) {
    if (!objects_) objects_.reset(new tev::test::PassObjects(vel_->Peers(), live));
    return *objects_;
  }

  std::unique_ptr<RawDb> db_;
  std::unique_ptr<tev::test::PassObjects> objects_;
};

TEST_F(SeasonPassesBusTest, PassMediumCarriesTheOptionalPropertiesAndStoresTheId) {
  Objects().passes.AddPassToTevMedia(1, L"RT7", L"PG-13", L"comedy  late");
  EXPECT_EQ(PassStore::MediumId(1), L"M1");
  // The tags are split at each space: the double space gives an empty word.
  EXPECT_EQ(LastList(),
            R"([["tevMediumId",""],["mediaType","schedulePass.tv.web"],["channel","Chan"],)"
            R"(["channelId","ch"],["scheduleMode","ALL_EPISODES"],["restrictOneChannel",0],)"
            R"(["keepUntil","UNTIL_SPACE_NEEDED"],["startTime","2010-01-02 03:04:05"],["duration",60000],)"
            R"(["title","Late 'Show'"],["genre","News"],["path","RP1"],["sourceSatellite","ZoVIZ"],)"
            R"(["updateCallback","UpdateMedium"],["searchTVGuide",0],["priority",0],["thumbnailId","RT7"],)"
            R"(["rating","PG-13"],["tags","comedy"],["tags",""],["tags","late"]])");

  // Republished: the stored id travels, the answered id is stored.
  media_.SetReply(L"AddMedium", 0, Value::Array({Value::Str(L"M9")}));
  Objects().passes.AddPassToTevMedia(1, L"", L"", L"");
  const nlohmann::json list = nlohmann::json::parse(LastList());
  ASSERT_EQ(list.size(), 16u);
  EXPECT_EQ(list[0].dump(), R"(["tevMediumId","M1"])");
  EXPECT_EQ(PassStore::MediumId(1), L"M9");

  media_.SetReply(L"AddMedium", 4);
  Objects().passes.AddPassToTevMedia(1, L"", L"", L"");
  EXPECT_EQ(PassStore::MediumId(1), L"M9");
  EXPECT_TRUE(log_->HasPart(LOG_ERROR, L"Schedule::AddMedium: "));
}

TEST_F(SeasonPassesBusTest, PassChangesReachOnlyItsPendingSchedules) {
  const char* const rows[] = {
      "('a', '5', 'DVRSTATE_SCHEDULED')", "('b', '5', 'DVRSTATE_COMPLETE')",
      "('c', '5', 'DVRSTATE_COMPLETE_PARTIAL')", "('d', '5', 'DVRSTATE_RECORDING')",
      "('e', '5', 'DVRSTATE_CONFLICT')", "('f', '6', 'DVRSTATE_SCHEDULED')",
      "('g''s', '5', 'DVRSTATE_SKIP')",
  };
  for (const char* row : rows) {
    ASSERT_TRUE(db_->Exec(std::string("INSERT INTO Schedules (TevMediumId, Owner, Status) VALUES ") + row));
  }
  SeasonPasses::SetEpisodesAttribute(Objects().engine.Library(), 5, L"rating", L"PG-13");
  ASSERT_EQ(media_.CountOf(L"SetMediaAttributes"), 1u);
  EXPECT_EQ(Wire(Last(media_, L"SetMediaAttributes").get()),
            R"(["",["a","e","g's"],[["rating","PG-13"]],true])");
}

TEST(SeasonPasses, Vocabulary) {
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

TEST_F(SeasonPassesBusTest, IdentifiersAndPriorities) {
  db_->Exec("INSERT INTO SeasonPasses (TevMediumId, Priority) VALUES ('m-1', 4)");
  db_->Exec("INSERT INTO SeasonPasses (TevMediumId, Priority) VALUES (NULL, NULL)");
  EXPECT_EQ(PassStore::MediumId(2) + L"|" + PassStore::MediumId(3) + L"|" + PassStore::MediumId(4),
            L"m-1||");
  EXPECT_EQ(std::make_tuple(PassStore::Priority(2), PassStore::Priority(3), PassStore::Priority(4)),
            std::make_tuple(4, 0, 0));

  PassStore::AssignMediumId(3, L"it's \U0001F4FA");
  EXPECT_EQ(PassStore::MediumId(3), L"it's \U0001F4FA");

  db_->Exec("ALTER TABLE SeasonPasses RENAME TO Gone");
  PassStore::AssignMediumId(3, L"x");
  EXPECT_TRUE(log_->Has(LOG_ERROR,
                        L"SeasonPasses::AssignTevMediumId: SQL error for UPDATE SeasonPasses SET TevMediumId = 'x' WHERE ID = 3"));
  EXPECT_EQ(PassStore::Priority(2), 0);
}

TEST_F(SeasonPassesBusTest, PublishingWithoutPassOrBusIsLoggedOnly) {
  Objects(false).passes.AddPassToTevMedia(9, L"", L"", L"");
  EXPECT_TRUE(log_->Has(LOG_ERROR, L"AddPassToTevMedia: pass 9 is not in db"));
  Objects().passes.AddPassToTevMedia(1, L"RT1", L"PG", L"a b");
  EXPECT_TRUE(log_->Has(LOG_ERROR, L"Schedule::AddMedium: no bus endpoint"));
  EXPECT_EQ(PassStore::MediumId(1), L"");
  db_->Exec("UPDATE SeasonPasses SET StartDate = 'garbage'");
  log_->Clear();
  Objects().passes.AddPassToTevMedia(1, L"", L"", L"");
  EXPECT_TRUE(log_->Has(LOG_ERROR, L"Schedule::AddMedium: FormatTime2: Localtime failed"));

  SeasonPasses::SetEpisodesAttribute(Objects().engine.Library(), 1, L"tevPassId", L"x");
  EXPECT_TRUE(log_->Has(LOG_ERROR, L"Schedule::UpdateSchedulesFromPass: no bus endpoint"));
  EXPECT_FALSE(Objects().passes.ChangeMediumIds());
  EXPECT_TRUE(log_->Has(LOG_ERROR, L"SeasonPasses::UpgradeThumbnails: no bus endpoint"));
  EXPECT_TRUE(log_->Has(LOG_ERROR, L"SeasonPasses::ChangeMediumIds: no bus endpoint"));
  db_->Exec("DELETE FROM SeasonPasses");
  EXPECT_TRUE(Objects().passes.ChangeMediumIds());
}
