// A VFS wrapping the system's one counts the write-ahead log's syncs.
#include "db/GroupSync.h"

#include <sqlite3.h>

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "db/SQLite.h"
#include "db/Transaction.h"
#include "tests/db/DbTestSupport.h"

namespace {

std::atomic<int> g_logSyncs{0};
sqlite3_vfs* g_system = nullptr;
sqlite3_vfs g_counting;

struct CountingFile {
  sqlite3_file base;
  bool log;
  sqlite3_file* real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};

CountingFile* Of(sqlite3_file* file) { return reinterpret_cast<CountingFile*>(file); }
const sqlite3_io_methods* Real(sqlite3_file* file) { return Of(file)->real()->pMethods; }

// Each method but xSync passes straight to the system's file.
template <typename T>
struct Forward;
template <typename R, typename... A>
struct Forward<R (*)(sqlite3_file*, A...)> {
  template <R (*sqlite3_io_methods::*method)(sqlite3_file*, A...)>
  static R To(sqlite3_file* f, A... a) {
    return (Real(f)->*method)(Of(f)->real(), a...);
  }
};
#define TEV_FORWARD(m) &Forward<decltype(sqlite3_io_methods::m)>::To<&sqlite3_io_methods::m>

int Sync(sqlite3_file* f, int flags) {
  if (Of(f)->log) ++g_logSyncs;
  return Real(f)->xSync(Of(f)->real(), flags);
}

const sqlite3_io_methods kMethods = {
    2, TEV_FORWARD(xClose), TEV_FORWARD(xRead), TEV_FORWARD(xWrite), TEV_FORWARD(xTruncate), Sync,
    TEV_FORWARD(xFileSize), TEV_FORWARD(xLock), TEV_FORWARD(xUnlock), TEV_FORWARD(xCheckReservedLock),
    TEV_FORWARD(xFileControl), TEV_FORWARD(xSectorSize), TEV_FORWARD(xDeviceCharacteristics),
    TEV_FORWARD(xShmMap), TEV_FORWARD(xShmLock), TEV_FORWARD(xShmBarrier), TEV_FORWARD(xShmUnmap),
    nullptr, nullptr};

int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
  CountingFile* counting = Of(file);
  counting->base.pMethods = nullptr;
  const int rc = g_system->xOpen(g_system, name, counting->real(), flags, outFlags);
  if (rc != SQLITE_OK || counting->real()->pMethods == nullptr) return rc;
  counting->log = (flags & SQLITE_OPEN_WAL) != 0;
  counting->base.pMethods = &kMethods;
  return rc;
}

class CountingVfs {
 public:
  CountingVfs() {
    g_system = sqlite3_vfs_find(nullptr);
    g_counting = *g_system;
    g_counting.zName = "tev-counting";
    g_counting.szOsFile = static_cast<int>(sizeof(CountingFile)) + g_system->szOsFile;
    g_counting.xOpen = Open;
    sqlite3_vfs_register(&g_counting, 1);
  }
  ~CountingVfs() {
    sqlite3_vfs_unregister(&g_counting);
    sqlite3_vfs_register(g_system, 1);
  }
};

bool Insert(int i) {
  SQLite q;
  return q.RunQuery("INSERT INTO Schedules (Name) VALUES ('row ' || ?)", {i}, L"t");
}

}  // namespace

class GroupSyncTest : public dbtest::DbFixture {
 protected:
  void SetUp() override {
    dbtest::DbFixture::SetUp();
    vfs_.reset(new CountingVfs());
    OpenNew();
    g_logSyncs = 0;
  }
  void TearDown() override {
    database_.reset();  // the connection goes before its VFS
    vfs_.reset();
  }
  std::unique_ptr<CountingVfs> vfs_;
};

TEST_F(GroupSyncTest, CommitsInsideSyncOnceAtTheEndAndOthersSyncAsAlways) {
  // Outside a group every commit syncs (NORMAL would lose it on a power cut).
  ASSERT_TRUE(Insert(1));
  ASSERT_TRUE(Insert(2));
  EXPECT_EQ(g_logSyncs.load(), 2);

  g_logSyncs = 0;
  {
    GroupSync outer;
    ASSERT_TRUE(Insert(3));
    {
      GroupSync inner;
      Transaction transaction(L"test");
      ASSERT_TRUE(Insert(4));
      ASSERT_TRUE(Insert(5));
      ASSERT_TRUE(transaction.Commit());
    }
    EXPECT_EQ(g_logSyncs.load(), 0);
    // Another thread's commit syncs (and takes ours with it).
    std::thread other([] { EXPECT_TRUE(Insert(6)); });
    other.join();
    EXPECT_EQ(g_logSyncs.load(), 1);
    ASSERT_TRUE(Insert(7));
    EXPECT_EQ(g_logSyncs.load(), 1);
  }
  EXPECT_EQ(g_logSyncs.load(), 2);

  // A group that changed nothing does not sync.
  g_logSyncs = 0;
  {
    GroupSync reading;
    SQLite q;
    ASSERT_TRUE(q.RunQuery("SELECT * FROM Schedules WHERE Name = 'row 3'", L"t"));
    EXPECT_EQ(q.GetRowCount(), 1);
  }
  EXPECT_EQ(g_logSyncs.load(), 0);
  ASSERT_TRUE(Insert(8));
  EXPECT_EQ(g_logSyncs.load(), 1);
  EXPECT_EQ(dbtest::RawDb(dbPath_).Value("SELECT count(*) FROM Schedules"), "8");
}

TEST_F(GroupSyncTest, ABackgroundSyncSparesTheEndsSyncUnlessMoreWasCommittedAfterIt) {
  GroupSync::SyncInBackground();
  ASSERT_TRUE(Insert(1));
  EXPECT_EQ(g_logSyncs.load(), 1);

  g_logSyncs = 0;
  {
    GroupSync outer;
    ASSERT_TRUE(Insert(2));
    GroupSync::SyncInBackground();
    GroupSync::SyncInBackground();  // nothing new: no second one
  }
  EXPECT_EQ(g_logSyncs.load(), 0);  // the end only waited for it

  {
    GroupSync outer;
    ASSERT_TRUE(Insert(3));
    GroupSync::SyncInBackground();
    ASSERT_TRUE(Insert(4));  // after the background sync began
  }
  EXPECT_EQ(g_logSyncs.load(), 1);
  EXPECT_EQ(dbtest::RawDb(dbPath_).Value("SELECT count(*) FROM Schedules"), "4");
}

TEST_F(GroupSyncTest, RebuildableCommitsDoNotHoldUpTheEnd) {
  {
    GroupSync outer;
    ASSERT_TRUE(Insert(1));
    GroupSync::SyncInBackground();
    {
      GroupSync::Rebuildable ids;
      ASSERT_TRUE(Insert(2));
    }
  }
  EXPECT_EQ(g_logSyncs.load(), 0);  // neither the end nor the rebuildable commit synced here
  EXPECT_TRUE(GroupSync::WaitForRebuildableSyncs());  // it was synced on another thread

  // A plain commit after the rebuildable one is synced by the end.
  {
    GroupSync outer;
    {
      GroupSync::Rebuildable ids;
      ASSERT_TRUE(Insert(3));
    }
    ASSERT_TRUE(Insert(4));
  }
  EXPECT_EQ(g_logSyncs.load(), 1);
  {
    GroupSync::Rebuildable ids;
    ASSERT_TRUE(Insert(5));
  }
  EXPECT_EQ(g_logSyncs.load(), 2);
  EXPECT_TRUE(GroupSync::WaitForRebuildableSyncs());
  EXPECT_EQ(dbtest::RawDb(dbPath_).Value("SELECT count(*) FROM Schedules"), "5");
}
