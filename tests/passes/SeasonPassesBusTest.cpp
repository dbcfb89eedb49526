// The pass store's media-library requests against the scripted media
// library on a loopback bus.
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
  // The property list last published.
  std::string LastList() { return Wire(Elem(Last(media_, L"AddMedium").get(), 1).get()); }
  // Made at first use, over the database the test opened.
  tev::test::PassObjects& Objects() {
    if (!objects_) objects_.reset(new tev::test::PassObjects(vel_->Peers()));
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

  // Republished: the stored id travels, optional properties stay out, and
  // the id the library answers is stored.
  media_.SetReply(L"AddMedium", 0, Value::Array({Value::Str(L"M9")}));
  Objects().passes.AddPassToTevMedia(1, L"", L"", L"");
  const nlohmann::json list = nlohmann::json::parse(LastList());
  ASSERT_EQ(list.size(), 16u);
  EXPECT_EQ(list[0].dump(), R"(["tevMediumId","M1"])");
  EXPECT_EQ(PassStore::MediumId(1), L"M9");

  // A refusal keeps the stored id.
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
