// The pass store's media-library requests against the scripted media
// library on a loopback bus.
#include <gtest/gtest.h>

#include "db/PassStore.h"
#include "passes/SeasonPasses.h"
#include "tests/common/PassObjects.h"
#include "tests/db/DbTestSupport.h"
#include "tests/peers/PeerFixture.h"

using dbtest::RawDb;
using peertest::Elem;
using peertest::Str;
using tev::peers::Value;

typedef std::vector<std::pair<std::wstring, std::wstring>> PairList;

namespace {

// The pairs of a property list, values as text (integers in decimal).
PairList Pairs(const VARIANT& list) {
  PairList pairs;
  for (long i = 0; i < VUtil::GetArrayLength(list); ++i) {
    const Value pair = Elem(list, i);
    const Value value = Elem(pair.get(), 1);
    pairs.emplace_back(Str(pair.get(), 0), value.type() == VT_I4 ? std::to_wstring(value.get().lVal)
                                                                  : Str(pair.get(), 1));
  }
  return pairs;
}

}  // namespace

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
  PairList LastList() {
    auto published = media_.RequestsOf(L"AddMedium");
    return published.empty() ? PairList() : Pairs(Elem(published.back().get(), 1).get());
  }
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
  EXPECT_EQ(LastList(), (PairList{
                            {L"tevMediumId", L""},
                            {L"mediaType", L"schedulePass.tv.web"},
                            {L"channel", L"Chan"},
                            {L"channelId", L"ch"},
                            {L"scheduleMode", L"ALL_EPISODES"},
                            {L"restrictOneChannel", L"0"},
                            {L"keepUntil", L"UNTIL_SPACE_NEEDED"},
                            {L"startTime", L"2010-01-02 03:04:05"},
                            {L"duration", L"60000"},
                            {L"title", L"Late 'Show'"},
                            {L"genre", L"News"},
                            {L"path", L"RP1"},
                            {L"sourceSatellite", L"ZoVIZ"},
                            {L"updateCallback", L"UpdateMedium"},
                            {L"searchTVGuide", L"0"},
                            {L"priority", L"0"},
                            {L"thumbnailId", L"RT7"},
                            {L"rating", L"PG-13"},
                            // split at each space: the double space gives an empty word
                            {L"tags", L"comedy"},
                            {L"tags", L""},
                            {L"tags", L"late"},
                        }));

  // Republished: the stored id travels, optional properties stay out, and
  // the id the library answers is stored.
  media_.SetReply(L"AddMedium", 0, Value::Array({Value::Str(L"M9")}));
  Objects().passes.AddPassToTevMedia(1, L"", L"", L"");
  PairList list = LastList();
  ASSERT_EQ(list.size(), 16u);
  EXPECT_EQ(list[0], (std::pair<std::wstring, std::wstring>{L"tevMediumId", L"M1"}));
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
  const Value in = Last(media_, L"SetMediaAttributes");
  EXPECT_EQ(Str(in.get(), 0), L"");
  const Value ids = Elem(in.get(), 1);
  std::vector<std::wstring> texts;
  for (long i = 0; i < VUtil::GetArrayLength(ids.get()); ++i) texts.push_back(Str(ids.get(), i));
  EXPECT_EQ(texts, (std::vector<std::wstring>{L"a", L"e", L"g's"}));
  EXPECT_EQ(Pairs(Elem(in.get(), 2).get()), (PairList{{L"rating", L"PG-13"}}));
}

TEST_F(SeasonPassesBusTest, ThumbnailUpgradeSkipsMediaItCannotPlace) {
  ASSERT_TRUE(db_->Exec("INSERT INTO Schedules (FilePath) VALUES ('/rec/x.wmv')"));
  std::vector<Value> media;
  for (const auto& m : std::vector<std::pair<const wchar_t*, const wchar_t*>>{
           {L"a", L"RT1"}, {L"b", L"RT"}, {L"c", L""}, {L"d", L"RTabc"}, {L"e", L"RT2"}, {L"f", L"XY1"}}) {
    media.push_back(Value::Array(
        {Value::Str(L"PVR"), Value::Str(L"key"), Value::Str(m.first), Value::Str(m.second)}));
  }
  media_.SetReply(L"GetMediaFromSource", 0, Value::Array({Value::Array(media)}));
  Objects().passes.UpgradeThumbnails();
  auto thumbnails = media_.RequestsOf(L"SetThumbnailUrl");
  ASSERT_EQ(thumbnails.size(), 2u);
  EXPECT_EQ(Str(thumbnails[0].get(), 0), L"RT1");
  EXPECT_EQ(Str(thumbnails[0].get(), 1), L"/rec/x.wmv.jpg");
  EXPECT_EQ(Str(thumbnails[1].get(), 0), L"XY1");

  // A library that refuses the question: logged, and the migration goes on.
  media_.SetReply(L"GetMediaFromSource", 2);
  log_->Clear();
  EXPECT_TRUE(Objects().passes.ChangeMediumIds());
  EXPECT_TRUE(log_->HasPart(LOG_ERROR, L"SeasonPasses::UpgradeThumbnails: "));
  EXPECT_EQ(PassStore::MediumId(1), L"M1");
}
