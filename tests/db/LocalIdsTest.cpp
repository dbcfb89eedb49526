#include "db/LocalIds.h"

#include <gtest/gtest.h>

#include "tests/db/DbTestSupport.h"

using dbtest::RawDb;

class LocalIdsTest : public dbtest::OpenDbFixture {};

TEST_F(LocalIdsTest, LookUpsBothWaysSearchPassesFirst) {
  // Through the layer, which owns the text's encoding.
  const std::pair<const wchar_t*, const wchar_t*> schedules[] = {
      {L"sched-1", L"/rec/a.wmv"},
      {L"shared", L"/rec/it's.wmv"},
      {L"O'Neil \U0001F600", L"/rec/c.wmv"}};
  for (const auto& row : schedules) {
    SQLite q;
    ASSERT_TRUE(q.RunQuery("INSERT INTO Schedules (TevMediumId, FilePath) VALUES (?, ?)",
                           {row.first, row.second}, L"test"));
  }
  for (const wchar_t* pass : {L"pass-1", L"shared"}) {
    SQLite q;
    ASSERT_TRUE(q.RunQuery("INSERT INTO SeasonPasses (TevMediumId) VALUES (?)", {pass}, L"test"));
  }
  struct Case {
    std::wstring mediumId;
    int32_t localId;
    int32_t type;
  };
  const Case cases[] = {
      {L"sched-1", 1, LocalIds::kTypeSchedule},
      {L"pass-1", 1, LocalIds::kTypePass},
      {L"shared", 2, LocalIds::kTypePass},
      {L"O'Neil \U0001F600", 3, LocalIds::kTypeSchedule},
      {L"unknown", 0, LocalIds::kTypeNeither},
      {L"x' OR '1'='1", 0, LocalIds::kTypeNeither},
      {L"%", 0, LocalIds::kTypeUnknown},
      {L"", 0, LocalIds::kTypeUnknown},
  };
  for (const Case& c : cases) {
    const std::string what = tev::ToStdUtf8(c.mediumId);
    EXPECT_EQ(LocalIds::GetLocalIdFromTevMediumId(c.mediumId), c.localId) << what;
    EXPECT_EQ(LocalIds::GetLocalIdFromTevMediumId(c.mediumId, true), c.localId) << what;
    EXPECT_EQ(LocalIds::GetType(c.mediumId), c.type) << what;
  }

  EXPECT_EQ(LocalIds::GetScheduleMediumId(1), L"sched-1");
  EXPECT_EQ(LocalIds::GetScheduleMediumId(3), L"O'Neil \U0001F600");
  EXPECT_EQ(LocalIds::GetPassMediumId(2), L"shared");
  EXPECT_EQ(LocalIds::GetScheduleMediumId(99), L"");
  EXPECT_EQ(LocalIds::GetPassMediumId(-1), L"");

  EXPECT_EQ(LocalIds::GetLocalIdFromPath(L"/rec/it's.wmv"), 2);
  EXPECT_EQ(LocalIds::GetLocalIdFromPath(L"/rec/none.wmv"), 0);
  EXPECT_TRUE(log_->Has(LOG_ERROR, L"GetLocalIdFromPath could not find id for path: /rec/none.wmv"));

  RawDb(dbPath_).Exec("DROP TABLE Schedules");
  EXPECT_EQ(LocalIds::GetType(L"sched-1"), LocalIds::kTypeUnknown);
  EXPECT_EQ(LocalIds::GetLocalIdFromTevMediumId(L"sched-1", true), 0);
  EXPECT_EQ(LocalIds::GetScheduleMediumId(1), L"");
  EXPECT_EQ(LocalIds::GetPassMediumId(1), L"pass-1");
  EXPECT_EQ(LocalIds::GetLocalIdFromPath(L"/rec/a.wmv"), 0);
  EXPECT_TRUE(log_->Has(LOG_ERROR, L"GetLocalIdFromPath failed: SELECT * from Schedules WHERE FilePath='/rec/a.wmv'"));
}

