// The media-library half of the version-5 step against a stand-in media
// library on a loopback bus: the schema is at 7 after the open alone; then
// passes are republished with their new priorities, thumbnails registered,
// and every pass and schedule gets its new medium id.
#include <gtest/gtest.h>

#include "db/SQLite.h"
#include "db/TimeUtils.h"
#include "engine/Schedules.h"
#include "passes/SeasonPasses.h"
#include "tests/common/PassObjects.h"
#include "tests/db/DbTestSupport.h"
#include "tests/db/MediaLibraryStandIn.h"

using dbtest::MediaLibraryStandIn;
using dbtest::RawDb;

namespace {

typedef std::vector<std::vector<std::string>> Rows;

}  // namespace

class UpgradeBusTest : public dbtest::BusFixture {
 protected:
  void SetUp() override {
    BusFixture::SetUp();
    if (HasFatalFailure()) return;
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
    media_.SetMedia({{L"old-1", L"RT1"}, {L"old-2", L""}, {L"old-3", L"RT99"}, {L"old-4", L"X"},
                     {L"old-5", L"RT3"}});
  }
  std::string Version() { return db_->Value("SELECT Value FROM Config WHERE Key = 'Version'"); }

  // Made at first use, over the database the test opened.
  tev::test::PassObjects& Objects() {
    if (!objects_) objects_.reset(new tev::test::PassObjects(vel_.Peers()));
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
  EXPECT_EQ(db_->Rows("SELECT ID, Priority, TevMediumId FROM SeasonPasses ORDER BY ID"),
            (Rows{{"1", "1", "new-M2"}, {"2", "0", "new-M1"}}));
  EXPECT_EQ(db_->Rows("SELECT TevMediumId, EpisodeUrl, ThumbnailState FROM Schedules ORDER BY ID"),
            (Rows{{"new-R1", "E1", "<NULL>"},
                  {"new-R2", "E2", "<NULL>"},
                  {"new-R3", "E3", "<NULL>"},
                  {"new-R4", "E4", "<NULL>"}}));

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
  for (const auto& r : media_.Requests(L"SetThumbnailUrl")) {
    AutoVariant flag;
    MediaLibraryStandIn::Element(r.in->get(), 2, &flag);
    EXPECT_EQ(flag.get().vt, VT_BOOL);
    EXPECT_EQ(flag.get().boolVal, VARIANT_FALSE);
    thumbnails.push_back({VUtil::GetStringElement(r.in->get(), 0), VUtil::GetStringElement(r.in->get(), 1)});
  }
  EXPECT_EQ(thumbnails, (std::vector<std::vector<std::wstring>>{{L"RT1", L"/rec/one.wmv.jpg"},
                                                               {L"RT3", L"/rec/three's.wmv.jpg"},
                                                               {L"R1", L"/rec/one.wmv.jpg"},
                                                               {L"R4", L"/rec/four.wmv.jpg"}}));
  // What was asked of the library.
  auto source = media_.Requests(L"GetMediaFromSource");
  ASSERT_EQ(source.size(), 1u);
  EXPECT_EQ(VUtil::GetStringElement(source[0].in->get(), 0), L"PVR");
  AutoVariant names;
  MediaLibraryStandIn::Element(source[0].in->get(), 3, &names);
  EXPECT_EQ(MediaLibraryStandIn::Strings(names.get()), std::vector<std::wstring>{L"thumbnailId"});

  std::vector<std::wstring> keys;
  for (const auto& r : media_.Requests(L"ChangeMediaId")) {
    AutoVariant list;
    MediaLibraryStandIn::Element(r.in->get(), 0, &list);
    auto one = MediaLibraryStandIn::Strings(list.get());
    ASSERT_EQ(one.size(), 1u);
    keys.push_back(one[0]);
  }
  EXPECT_EQ(keys, (std::vector<std::wstring>{L"M2", L"M1", L"R1", L"R2", L"R3", L"R4"}));

  // The pass's pending schedule learns the new pass id.
  auto attributes = media_.Requests(L"SetMediaAttributes");
  ASSERT_EQ(attributes.size(), 2u);
  AutoVariant ids, pair;
  MediaLibraryStandIn::Element(attributes[0].in->get(), 1, &ids);
  EXPECT_EQ(MediaLibraryStandIn::Strings(ids.get()), std::vector<std::wstring>{L""});
  MediaLibraryStandIn::Element(attributes[0].in->get(), 2, &pair);
  EXPECT_EQ(MediaLibraryStandIn::Pairs(pair.get()),
            (std::vector<std::pair<std::wstring, std::wstring>>{{L"tevPassId", L"new-M2"}}));

  // The television pass as republished by the renumbering, with its new
  // priority (the whole property list is the pass store's own test).
  auto published = media_.Requests(L"AddMedium");
  ASSERT_EQ(published.size(), 2u);
  EXPECT_EQ(VUtil::GetStringElement(published[1].in->get(), 0), L"PVR");
  AutoVariant list;
  MediaLibraryStandIn::Element(published[1].in->get(), 1, &list);
  const auto pairs = MediaLibraryStandIn::Pairs(list.get());
  ASSERT_EQ(pairs.size(), 16u);
  EXPECT_EQ(pairs[9].second + L"|" + pairs[11].second + L"|" + pairs[15].first + L"=" + pairs[15].second,
            L"Tom's show|RP1|priority=1");
  AutoVariant flag;
  MediaLibraryStandIn::Element(published[1].in->get(), 3, &flag);
  EXPECT_EQ(flag.get().vt, VT_BOOL);
  EXPECT_EQ(flag.get().boolVal, VARIANT_TRUE);
}

TEST_F(UpgradeBusTest, RefusedIdChangesAreRetriedFromWhereTheyStopped) {
  ASSERT_TRUE(OpenDatabase());
  EXPECT_EQ(Version(), "7");
  media_.FailWith(L"ChangeMediaId", 7);
  EXPECT_FALSE(Objects().passes.FinishMediumIdUpgrade());
  EXPECT_TRUE(log_->HasPart(LOG_ERROR, L"SeasonPasses::ChangeMediumIds: "));
  EXPECT_EQ(media_.Requests(L"ChangeMediaId").size(), 1u);  // the walk ended at the first
  EXPECT_EQ(db_->Value("SELECT Value FROM Config WHERE Key = 'MediumIdUpgrade'"), "passes");

  // The passes go through; the schedules are refused.
  media_.FailWith(L"ChangeMediaId", 0);
  media_.FailWith(L"ChangeMediaId", 7, 2);
  EXPECT_FALSE(Objects().passes.FinishMediumIdUpgrade());
  EXPECT_EQ(db_->Value("SELECT Value FROM Config WHERE Key = 'MediumIdUpgrade'"), "schedules");
  const size_t published = media_.Requests(L"AddMedium").size();

  // The next start does only the schedules, and only once.
  media_.FailWith(L"ChangeMediaId", 0);
  database_.reset();
  log_->Clear();
  ASSERT_TRUE(OpenDatabase());
  EXPECT_FALSE(log_->HasPart(LOG_INFO, L"Updating database"));
  ASSERT_TRUE(Objects().passes.FinishMediumIdUpgrade());
  EXPECT_EQ(media_.Requests(L"AddMedium").size(), published);
  EXPECT_EQ(db_->Value("SELECT count(*) FROM Schedules WHERE TevMediumId LIKE 'new-R%'"), "4");
  EXPECT_EQ(db_->Value("SELECT count(*) FROM Config WHERE Key = 'MediumIdUpgrade'"), "0");
  const size_t changes = media_.Requests(L"ChangeMediaId").size();
  EXPECT_TRUE(Objects().passes.FinishMediumIdUpgrade());
  EXPECT_EQ(media_.Requests(L"ChangeMediaId").size(), changes);
}

TEST_F(UpgradeBusTest, ScheduleMigrationStopsAtTheFirstRefusal) {
  ASSERT_TRUE(OpenDatabase());
  ASSERT_TRUE(Objects().passes.FinishMediumIdUpgrade());
  ASSERT_EQ(Version(), "7");
  // Run the schedule walk again with a library that refuses.
  db_->Exec("UPDATE Schedules SET TevMediumId = 'kept'");
  media_.FailWith(L"ChangeMediaId", 3);
  EXPECT_FALSE(Objects().engine.Library().ChangeMediumIds());
  EXPECT_TRUE(log_->HasPart(LOG_ERROR, L"Schedules::ChangeMediumIds: "));
  EXPECT_EQ(db_->Value("SELECT count(*) FROM Schedules WHERE TevMediumId = 'kept'"), "4");
  // A thumbnail the library refuses does not stop it.
  media_.FailWith(L"ChangeMediaId", 0);
  media_.FailWith(L"SetThumbnailUrl", 9);
  EXPECT_TRUE(Objects().engine.Library().ChangeMediumIds());
  EXPECT_EQ(db_->Value("SELECT count(*) FROM Schedules WHERE TevMediumId LIKE 'new-R%'"), "4");
}
