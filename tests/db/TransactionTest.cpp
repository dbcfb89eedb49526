// Other threads' statements are kept out of a grouped scope until it ends.
#include "db/Transaction.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/db/DbTestSupport.h"

namespace {

using dbtest::RawDb;

class TransactionTest : public dbtest::OpenDbFixture {
 protected:
  void SetUp() override {
    OpenDbFixture::SetUp();
    if (HasFatalFailure()) return;
    database_->ObserveStatements([this](const std::string& sql) {
      std::lock_guard<std::mutex> hold(mutex_);
      seen_.push_back(sql);
    });
  }
  void TearDown() override {
    database_->ObserveStatements(nullptr);
    DbFixture::TearDown();
  }
  std::vector<std::string> Seen() {
    std::lock_guard<std::mutex> hold(mutex_);
    return seen_;
  }
  static bool Insert(const std::string& name) {
    SQLite query;
    return query.RunQuery("INSERT INTO Schedules (Name) VALUES (?)", {SqlValue::Utf8(name)},
                          L"test");
  }

  std::mutex mutex_;
  std::vector<std::string> seen_;
};

TEST_F(TransactionTest, AScopeCommitsOnceAndAnotherThreadsStatementWaitsForTheCommit) {
  RawDb raw(dbPath_);
  std::atomic<bool> asking{false};
  std::thread other;
  {
    Transaction group(L"test");
    ASSERT_TRUE(group.Active());
    ASSERT_TRUE(Insert("a"));
    {
      Transaction inner(L"test");
      EXPECT_TRUE(inner.Active());
      ASSERT_TRUE(Insert("b"));
      EXPECT_TRUE(inner.Commit());  // joins the outer one: nothing yet
    }
    other = std::thread([&asking] {
      asking = true;
      Insert("c");
    });
    while (!asking) std::this_thread::yield();
    // Time for the other statement to slip in were it not held back.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(raw.Value("SELECT count(*) FROM Schedules"), "0");
    EXPECT_TRUE(group.Commit());
  }
  other.join();
  EXPECT_EQ(raw.Value("SELECT group_concat(Name, '') FROM Schedules ORDER BY ID"), "abc");
  EXPECT_EQ(Seen(), (std::vector<std::string>{
                        "begin", "INSERT INTO Schedules (Name) VALUES ('a')",
                        "INSERT INTO Schedules (Name) VALUES ('b')", "commit",
                        "INSERT INTO Schedules (Name) VALUES ('c')"}));
}

}  // namespace

TEST_F(TransactionTest, AScopeLeftWithoutCommitUndoesOnlyItsOwnStatements) {
  RawDb raw(dbPath_);
  ASSERT_TRUE(Insert("kept"));
  std::thread other;
  {
    Transaction group(L"test");
    ASSERT_TRUE(Insert("undone"));
    other = std::thread([] { Insert("other"); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  other.join();
  // The other thread's row waited for the rollback rather than fall in it.
  EXPECT_EQ(raw.Value("SELECT group_concat(Name, ',') FROM Schedules ORDER BY ID"), "kept,other");
}
