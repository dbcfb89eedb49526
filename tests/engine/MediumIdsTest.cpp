#include <gtest/gtest.h>

#include "db/LocalIds.h"
#include "dvr/ThumbnailTable.h"
#include "engine/LibrarySync.h"
#include "engine/Schedules.h"
#include "outbound/PeerClient.h"
#include "tests/common/FakePeers.h"
#include "tests/db/DbTestSupport.h"

using dbtest::RawDb;

class MediumIdsTest : public dbtest::DbFixture {
 protected:
  void SetUp() override {
    DbFixture::SetUp();
    if (HasFatalFailure()) return;
    OpenNew();
    db_.reset(new RawDb(dbPath_));
    db_->Exec("INSERT INTO Schedules (FilePath) VALUES ('/rec/a.wmv')");
    db_->Exec("INSERT INTO Schedules (FilePath) VALUES ('/rec/it''s.wmv')");
  }
  std::unique_ptr<RawDb> db_;
  testpeers::FakePeers peers_;
  ThumbnailTable thumbnails_;
  LibrarySync library_{peers_, thumbnails_};
};

TEST_F(MediumIdsTest, AssignByIdAndByPath) {
  Schedules::AssignTevMediumId(1, L"id 'one' \u00e9");
  Schedules::AssignTevMediumId(std::wstring(L"/rec/it's.wmv"), L"two");
  Schedules::AssignTevMediumId(std::wstring(L"/rec/none.wmv"), L"three");  // no row: nothing
  EXPECT_EQ(LocalIds::GetScheduleMediumId(1), L"id 'one' \u00e9");
  EXPECT_EQ(LocalIds::GetScheduleMediumId(2), L"two");
  EXPECT_EQ(db_->Value("SELECT count(*) FROM Schedules WHERE TevMediumId = 'three'"), "0");
}

TEST_F(MediumIdsTest, MigrationWithoutBusFailsAndChangesNothing) {
  library_.SetLive(false);
  EXPECT_FALSE(library_.ChangeMediumIds());
  EXPECT_TRUE(log_->Has(LOG_ERROR, L"Schedules::ChangeMediumIds: no bus endpoint"));
  EXPECT_EQ(db_->Value("SELECT count(*) FROM Schedules WHERE TevMediumId IS NOT NULL"), "0");
  db_->Exec("DELETE FROM Schedules");
  EXPECT_TRUE(library_.ChangeMediumIds());
  db_->Exec("DROP TABLE Schedules");
  EXPECT_FALSE(library_.ChangeMediumIds());
  EXPECT_TRUE(log_->Has(LOG_ERROR, L"Schedules::ChangeMediumIds: SQL error for SELECT * FROM Schedules"));
}
