// The media-library half of the version-5 step against the scripted media
// library on a loopback bus: the schema is at 7 after the open alone; then
// passes are republished with their new priorities, thumbnails registered,
// and every pass and schedule gets its new medium id.
#include <atomic>
#include <filesystem>

#include <gtest/gtest.h>

#include "db/SQLite.h"
#include "db/TimeUtils.h"
#include "engine/Schedules.h"
#include "passes/SeasonPasses.h"
#include "tests/common/PassObjects.h"
#include "tests/db/DbTestSupport.h"
#include "tests/peers/PeerFixture.h"

using dbtest::RawDb;
using peertest::Elem;
using peertest::Str;
using tev::peers::Value;

namespace {

typedef std::vector<std::vector<std::string>> Rows;

// The library's answer to "GetMediaFromSource": [source, key, id, value of
// the first asked property] for each (id, value).
Value MediaFromSource(const std::vector<std::pair<std::wstring, std::wstring>>& media) {
  std::vector<Value> items;
  for (const auto& m : media) {
    items.push_back(Value::Array({Value::Str(L"PVR"), Value::Str(L"key"), Value::Str(m.first),
                                  Value::Str(m.second)}));
  }
  return Value::Array({Value::Array(items)});
}

}  // namespace

class UpgradeBusTest : public peertest::PeerFixture {
 protected:
  void SetUp() override {
    PeerFixture::SetUp();
    if (HasFatalFailure()) return;
    database_.reset();
    std::filesystem::remove(dbPath_);
    dbtest::MakeDatabase(folder_, 4);
    db_.reset(new RawDb(dbPath_));
    const char* const rows[] = {
        "('DVRSTATE_COMPLETE', 'video/x-tv', '/rec/one.wmv', '1', 'E1')",
        "('DVRSTATE_COMPLETE_PARTIAL', 'audio/x-win', '/rec/two.wma', '', 'E2')",
        "('DVRSTATE_SCHEDULED', 'video/x-tv', '/rec/three''s.wmv', '1', 'E3')",
        "('DVRSTATE_COMPLETE_PARTIAL', 'video/x-webwin', '/rec/four.wmv', '', 'E4')",
    };
    for (const char* row : rows) {
      ASSERT_TRUE(db_->Exec(std::string("INSERT INTO Schedules (Status, ChannelMimetype, FilePath, Owner, "
                                        "EpisodeTitle) VALUES ") + row));
    }
    ASSERT_TRUE(db_->Exec(
        "INSERT INTO SeasonPasses (ProgramName, ChannelName, ChannelMedium, ChannelMimetype, Priority, "
        "ScheduleMode, RestrictToOneChannel, KeepUntil, StartDate, Duration, Category, GuideType) VALUES "
        "('Tom''s show', 'Chan 1', 'ch-1', 'video/x-tv', 2, 4, 1, 13, 20090315203000, 1800, 'Drama', 1)"));
    ASSERT_TRUE(db_->Exec(
        "INSERT INTO SeasonPasses (ProgramName, ChannelMimetype, Priority, StartDate) VALUES "
        "('radio', 'audio/x-webwin', 0, 20090315203000)"));
    media_.SetReply(L"GetMediaFromSource", 0,
                    MediaFromSource({{L"old-1", L"RT1"}, {L"old-2", L""}, {L"old-3", L"RT99"},
                                     {L"old-4", L"X"}, {L"old-5", L"RT3"}}));
  }
  std::string Version() { return db_->Value("SELECT Value FROM Config WHERE Key = 'Version'"); }

  // Made at first use, over the database the test opened.
  tev::test::PassObjects& Objects() {
    if (!objects_) objects_.reset(new tev::test::PassObjects(vel_->Peers()));
    return *objects_;
  }

  std::unique_ptr<RawDb> db_;
  std::unique_ptr<tev::test::PassObjects> objects_;
};

TEST_F(UpgradeBusTest, VersionFourEndsAtSevenAtOpenAndMigratesIdsOnceAsked) {
  ASSERT_TRUE(OpenDatabase());
  EXPECT_EQ(Version(), "7") << tev::ToStdUtf8(log_->Dump());
  EXPECT_TRUE(media_.Requests().empty());
  EXPECT_EQ(db_->Value("SELECT Value FROM Config WHERE Key = 'MediumIdUpgrade'"), "passes");
  ASSERT_TRUE(Objects().passes.FinishMediumIdUpgrade()) << tev::ToStdUtf8(log_->Dump());
  EXPECT_EQ(db_->Value("SELECT count(*) FROM Config WHERE Key = 'MediumIdUpgrade'"), "0");
  // The library numbers every id it hands out: M1, M2 for the republished
  // passes, then one per id change in the order asked.
  EXPECT_EQ(db_->Rows("SELECT ID, Priority, TevMediumId FROM SeasonPasses ORDER BY ID"),
            (Rows{{"1", "1", "M3"}, {"2", "0", "M4"}}));
  EXPECT_EQ(db_->Rows("SELECT TevMediumId, EpisodeUrl, ThumbnailState FROM Schedules ORDER BY ID"),
            (Rows{{"M5", "E1", "<NULL>"}, {"M6", "E2", "<NULL>"}, {"M7", "E3", "<NULL>"}, {"M8", "E4", "<NULL>"}}));

  std::vector<std::wstring> methods;
  for (const auto& r : media_.Requests()) methods.push_back(r.method);
  EXPECT_EQ(methods, (std::vector<std::wstring>{
                         L"AddMedium", L"AddMedium",                    // renumbering, by old priority
                         L"GetMediaFromSource", L"SetThumbnailUrl", L"SetThumbnailUrl",
                         L"ChangeMediaId", L"SetMediaAttributes",       // pass 1
                         L"ChangeMediaId", L"SetMediaAttributes",       // pass 2
                         L"SetThumbnailUrl", L"ChangeMediaId",          // schedule 1
                         L"ChangeMediaId",                              // 2: audio
                         L"ChangeMediaId",                              // 3: not finished
                         L"SetThumbnailUrl", L"ChangeMediaId"}));       // 4

  // The thumbnails: first by the media's thumbnail ids, then by old key.
  std::vector<std::vector<std::wstring>> thumbnails;
  for (const Value& in : media_.RequestsOf(L"SetThumbnailUrl")) {
    const Value flag = Elem(in.get(), 2);
    EXPECT_EQ(flag.type(), VT_BOOL);
    EXPECT_EQ(flag.get().boolVal, VARIANT_FALSE);
    thumbnails.push_back({Str(in.get(), 0), Str(in.get(), 1)});
  }
  EXPECT_EQ(thumbnails, (std::vector<std::vector<std::wstring>>{{L"RT1", L"/rec/one.wmv.jpg"},
                                                               {L"RT3", L"/rec/three's.wmv.jpg"},
                                                               {L"R1", L"/rec/one.wmv.jpg"},
                                                               {L"R4", L"/rec/four.wmv.jpg"}}));
  // What was asked of the library.
  const Value source = Last(media_, L"GetMediaFromSource");
  EXPECT_EQ(Str(source.get(), 0), L"PVR");
  EXPECT_EQ(Str(Elem(source.get(), 3).get(), 0), L"thumbnailId");
  EXPECT_EQ(VUtil::GetArrayLength(Elem(source.get(), 3).get()), 1);

  std::vector<std::wstring> keys;
  for (const Value& in : media_.RequestsOf(L"ChangeMediaId")) {
    const Value list = Elem(in.get(), 0);
    ASSERT_EQ(VUtil::GetArrayLength(list.get()), 1);
    keys.push_back(Str(list.get(), 0));
  }
  EXPECT_EQ(keys, (std::vector<std::wstring>{L"M2", L"M1", L"R1", L"R2", L"R3", L"R4"}));

  // The pass's pending schedule learns the new pass id.
  auto attributes = media_.RequestsOf(L"SetMediaAttributes");
  ASSERT_EQ(attributes.size(), 2u);
  const Value ids = Elem(attributes[0].get(), 1);
  ASSERT_EQ(VUtil::GetArrayLength(ids.get()), 1);
  EXPECT_EQ(Str(ids.get(), 0), L"");
  std::wstring passId;
  EXPECT_TRUE(VUtil::FindPair(Elem(attributes[0].get(), 2).get(), L"tevPassId", &passId));
  EXPECT_EQ(passId, L"M3");

  // The television pass is republished by the renumbering with its new
  // priority (the whole property list is the pass store's own test).
  const Value published = media_.RequestsOf(L"AddMedium").at(1);
  int32_t priority = -1;
  EXPECT_TRUE(VUtil::FindPairNoCase(Elem(published.get(), 1).get(), L"priority", &priority));
  EXPECT_EQ(priority, 1);
  const Value flag = Elem(published.get(), 3);
  EXPECT_EQ(flag.type(), VT_BOOL);
  EXPECT_EQ(flag.get().boolVal, VARIANT_TRUE);
}

TEST_F(UpgradeBusTest, RefusedIdChangesAreRetriedFromWhereTheyStopped) {
  ASSERT_TRUE(OpenDatabase());
  EXPECT_EQ(Version(), "7");
  media_.SetReply(L"ChangeMediaId", 7);
  EXPECT_FALSE(Objects().passes.FinishMediumIdUpgrade());
  EXPECT_TRUE(log_->HasPart(LOG_ERROR, L"SeasonPasses::ChangeMediumIds: "));
  EXPECT_EQ(media_.CountOf(L"ChangeMediaId"), 1u);  // the walk ended at the first
  EXPECT_EQ(db_->Value("SELECT Value FROM Config WHERE Key = 'MediumIdUpgrade'"), "passes");

  // The passes go through; the schedules are refused.
  std::atomic<int> changes{0};
  media_.SetHandler(L"ChangeMediaId", [&changes](const VARIANT&, VARIANT* out) {
    if (++changes > 2) return 7;
    Value::Array({Value::Array({Value::Str(L"P" + std::to_wstring(changes))})}).CopyTo(out);
    return 0;
  });
  EXPECT_FALSE(Objects().passes.FinishMediumIdUpgrade());
  EXPECT_TRUE(log_->HasPart(LOG_ERROR, L"Schedules::ChangeMediumIds: "));
  EXPECT_EQ(db_->Value("SELECT Value FROM Config WHERE Key = 'MediumIdUpgrade'"), "schedules");
  // The schedules' walk stopped at its first refusal.
  EXPECT_EQ(db_->Value("SELECT count(*) FROM Schedules WHERE TevMediumId LIKE 'M%'"), "0");
  EXPECT_EQ(changes.load(), 3);
  const size_t published = media_.CountOf(L"AddMedium");

  // The next start does only the schedules, and only once; thumbnails the
  // library refuses do not stop it.
  media_.ResetReply(L"ChangeMediaId");
  media_.SetReply(L"SetThumbnailUrl", 9);
  database_.reset();
  log_->Clear();
  ASSERT_TRUE(OpenDatabase());
  EXPECT_FALSE(log_->HasPart(LOG_INFO, L"Updating database"));
  ASSERT_TRUE(Objects().passes.FinishMediumIdUpgrade());
  EXPECT_EQ(media_.CountOf(L"AddMedium"), published);
  EXPECT_EQ(db_->Rows("SELECT TevMediumId FROM SeasonPasses ORDER BY ID"), (Rows{{"P1"}, {"P2"}}));
  EXPECT_EQ(db_->Value("SELECT count(*) FROM Schedules WHERE TevMediumId LIKE 'M%'"), "4");
  EXPECT_EQ(db_->Value("SELECT count(*) FROM Config WHERE Key = 'MediumIdUpgrade'"), "0");
  const size_t asked = media_.CountOf(L"ChangeMediaId");
  EXPECT_TRUE(Objects().passes.FinishMediumIdUpgrade());
  EXPECT_EQ(media_.CountOf(L"ChangeMediaId"), asked);
}
