// The media-library half of the version-5 step, on a loopback bus.
#include <atomic>
#include <filesystem>

#include <gtest/gtest.h>

#include "engine/Schedules.h"
#include "passes/SeasonPasses.h"
#include "tests/common/PassObjects.h"
#include "tests/db/BusWire.h"
#include "tests/db/DbTestSupport.h"
#include "tests/peers/PeerFixture.h"

using dbtest::RawDb;
using dbtest::Wire;
using peertest::Elem;
using tev::peers::Value;

namespace {

typedef std::vector<std::vector<std::string>> Rows;

// "GetMediaFromSource" answers [source, key, id, first asked property].
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
                                     {L"old-4", L"X"}, {L"old-5", L"XY3"}}));
  }
  std::string Version() { return db_->Value("SELECT Value FROM Config WHERE Key = 'Version'"); }

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
  // M1, M2 are the republished passes, then one per id change in order.
  EXPECT_EQ(db_->Rows("SELECT ID, Priority, TevMediumId FROM SeasonPasses ORDER BY ID"),
            (Rows{{"1", "1", "M3"}, {"2", "0", "M4"}}));
  EXPECT_EQ(db_->Rows("SELECT TevMediumId, EpisodeUrl, ThumbnailState FROM Schedules ORDER BY ID"),
            (Rows{{"M5", "E1", "<NULL>"}, {"M6", "E2", "<NULL>"}, {"M7", "E3", "<NULL>"}, {"M8", "E4", "<NULL>"}}));

  std::vector<std::string> sent;
  for (const auto& r : media_.Requests()) {
    sent.push_back(tev::ToStdUtf8(r.method) + " " + (r.method == L"AddMedium" ? "..." : Wire(r.in.get())));
  }
  EXPECT_EQ(sent, (std::vector<std::string>{
                      "AddMedium ...", "AddMedium ...",  // renumbering, by old priority
                      // Thumbnails by thumbnail id (any two-letter prefix), then by key.
                      R"(GetMediaFromSource ["PVR",{"vt":"EMPTY"},{"vt":"EMPTY"},)"
                      R"({"v":["thumbnailId"],"vt":"ARRAY|BSTR"}])",
                      R"(SetThumbnailUrl ["RT1","/rec/one.wmv.jpg",false])",
                      R"(SetThumbnailUrl ["XY3","/rec/three's.wmv.jpg",false])",
                      // Each pass; its pending schedules learn the new pass id.
                      R"(ChangeMediaId [{"v":["M2"],"vt":"ARRAY|BSTR"}])",
                      R"(SetMediaAttributes ["",[""],[["tevPassId","M3"]],true])",
                      R"(ChangeMediaId [{"v":["M1"],"vt":"ARRAY|BSTR"}])",
                      R"(SetMediaAttributes ["",[],[["tevPassId","M4"]],true])",
                      // Each schedule: 2 is audio, 3 not finished.
                      R"(SetThumbnailUrl ["R1","/rec/one.wmv.jpg",false])",
                      R"(ChangeMediaId [{"v":["R1"],"vt":"ARRAY|BSTR"}])",
                      R"(ChangeMediaId [{"v":["R2"],"vt":"ARRAY|BSTR"}])",
                      R"(ChangeMediaId [{"v":["R3"],"vt":"ARRAY|BSTR"}])",
                      R"(SetThumbnailUrl ["R4","/rec/four.wmv.jpg",false])",
                      R"(ChangeMediaId [{"v":["R4"],"vt":"ARRAY|BSTR"}])"}));

  // The television pass is republished with its new priority.
  const Value published = media_.RequestsOf(L"AddMedium").at(1);
  int32_t priority = -1;
  EXPECT_TRUE(VUtil::FindPairNoCase(Elem(published.get(), 1).get(), L"priority", &priority));
  EXPECT_EQ(priority, 1);
  EXPECT_EQ(Wire(Elem(published.get(), 3).get()), "true");
}

TEST_F(UpgradeBusTest, RefusedIdChangesAreRetriedFromWhereTheyStopped) {
  ASSERT_TRUE(OpenDatabase());
  EXPECT_EQ(Version(), "7");
  media_.SetReply(L"ChangeMediaId", 7);
  EXPECT_FALSE(Objects().passes.FinishMediumIdUpgrade());
  EXPECT_EQ(media_.CountOf(L"ChangeMediaId"), 1u);  // the walk ended at the first
  EXPECT_EQ(db_->Value("SELECT Value FROM Config WHERE Key = 'MediumIdUpgrade'"), "passes");

  // The passes go through despite refused thumbnails; the schedules are refused.
  media_.SetReply(L"GetMediaFromSource", 2);
  std::atomic<int> changes{0};
  media_.SetHandler(L"ChangeMediaId", [&changes](const VARIANT&, VARIANT* out) {
    if (++changes > 2) return 7;
    Value::Array({Value::Array({Value::Str(L"P" + std::to_wstring(changes))})}).CopyTo(out);
    return 0;
  });
  EXPECT_FALSE(Objects().passes.FinishMediumIdUpgrade());
  EXPECT_EQ(db_->Value("SELECT Value FROM Config WHERE Key = 'MediumIdUpgrade'"), "schedules");
  EXPECT_EQ(db_->Value("SELECT count(*) FROM Schedules WHERE TevMediumId LIKE 'M%'"), "0");
  EXPECT_EQ(changes.load(), 3);
  const size_t published = media_.CountOf(L"AddMedium");

  // The next start does only the schedules, once; refused thumbnails do not stop it.
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
