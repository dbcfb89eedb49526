// The pieces of the monitor's wait, on real folders and kernel objects.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "platform/Clock.h"
#include "platform/DueTimer.h"
#include "platform/FolderListing.h"
#include "platform/FolderWatch.h"
#include "platform/WakeEvent.h"
#include "tests/common/FakeEnv.h"
#include "tests/db/DbTestSupport.h"

namespace {

namespace fs = std::filesystem;

TEST(FolderWatch, ReportsFileChangesInTheFolderItselfOnly) {
  dbtest::TempDir dir;
  const std::string folder = dir.path() + "/watched";
  fs::create_directories(folder + "/sub");
  tev::FolderWatch watch;
  int error = 0;
  ASSERT_TRUE(watch.Open(folder, &error));
  EXPECT_FALSE(watch.Drain().changed);

  std::ofstream(folder + "/sub/inner.asf") << "x";  // inside a subfolder
  fs::create_directories(folder + "/another");      // a folder's own name
  EXPECT_FALSE(watch.Drain().changed);

  std::ofstream(folder + "/a.asf") << "x";
  EXPECT_TRUE(watch.Drain().changed);
  fs::rename(folder + "/a.asf", folder + "/b.asf");
  EXPECT_TRUE(watch.Drain().changed);
  fs::remove(folder + "/b.asf");
  EXPECT_TRUE(watch.Drain().changed);

  fs::remove_all(folder);
  const tev::FolderWatch::Events gone = watch.Drain();
  EXPECT_TRUE(gone.lost);
  EXPECT_EQ(watch.fd(), -1);

  EXPECT_FALSE(watch.Open(folder, &error));
  EXPECT_EQ(error, ENOENT);
  std::ofstream(dir.path() + "/file") << "x";
  EXPECT_FALSE(watch.Open(dir.path() + "/file", &error));
  EXPECT_EQ(error, ENOTDIR);
  EXPECT_FALSE(watch.Open("", &error));
}

TEST(FolderWatch, AFullQueueIsReportedAsOverflow) {
  dbtest::TempDir dir;
  tev::FolderWatch watch;
  ASSERT_TRUE(watch.Open(dir.path(), nullptr));
  int limit = 16384;
  std::ifstream("/proc/sys/fs/inotify/max_queued_events") >> limit;
  if (limit > 40000) GTEST_SKIP() << "queue limit " << limit << " is too large to fill here";
  for (int i = 0; i <= limit; ++i) {
    const std::string path = dir.path() + "/" + std::to_string(i);
    std::ofstream(path) << "";
  }
  const tev::FolderWatch::Events events = watch.Drain();
  EXPECT_TRUE(events.overflow);
  EXPECT_FALSE(events.lost);
}

TEST(DueTimerAndWakeEvent, DueByTheProductClockUntilSetAgainAndResetWhenTaken) {
  tev::test::FakeEnv env;
  tev::DueTimer timer;
  ASSERT_TRUE(timer.ok());
  EXPECT_EQ(timer.MsUntilDue(), -1);
  EXPECT_FALSE(timer.IsDue());
  timer.SetAfterMs(86400 * 1000LL);
  EXPECT_GT(timer.MsUntilDue(), 86399 * 1000LL);
  env.Shift(86401);
  EXPECT_TRUE(timer.IsDue());
  EXPECT_TRUE(timer.IsDue());
  timer.SetAfterMs(10000);
  EXPECT_FALSE(timer.IsDue());
  // At once: due now, and its descriptor wakes a poll.
  timer.SetAfterMs(-1);
  EXPECT_TRUE(timer.IsDue());
  uint64_t expirations = 0;
  EXPECT_EQ(read(timer.fd(), &expirations, sizeof expirations),
            static_cast<ssize_t>(sizeof expirations));
  timer.Drain();

  // The wake event resets itself when taken.
  tev::WakeEvent event;
  ASSERT_TRUE(event.ok());
  EXPECT_FALSE(event.Consume());
  event.Set();
  event.Set();
  EXPECT_TRUE(event.Consume());
  EXPECT_FALSE(event.Consume());
  EXPECT_FALSE(event.Wait(0));
  event.Set();
  EXPECT_TRUE(event.Wait(1000));
}

TEST(FolderListing, ListsEveryEntryByKindWithoutFollowingLinks) {
  dbtest::TempDir dir;
  std::ofstream(dir.path() + "/file") << "x";
  fs::create_directories(dir.path() + "/folder");
  fs::create_symlink(dir.path() + "/loop", dir.path() + "/loop");
  fs::create_symlink("/etc/hostname", dir.path() + "/out");
  ASSERT_EQ(mkfifo((dir.path() + "/pipe").c_str(), 0600), 0);
  const std::string odd("bad\xff\xfe", 5);
  std::ofstream(dir.path() + "/" + odd) << "x";
  std::set<std::pair<std::string, int>> seen;
  ASSERT_TRUE(tev::ListFolder(dir.path(), [&](const tev::FolderEntry& entry) {
    seen.insert({entry.name, entry.kind});
    return true;
  }));
  const std::set<std::pair<std::string, int>> expected = {
      {"file", tev::FolderEntry::kFile},   {"folder", tev::FolderEntry::kFolder},
      {"loop", tev::FolderEntry::kLink},   {"out", tev::FolderEntry::kLink},
      {"pipe", tev::FolderEntry::kOther},  {odd, tev::FolderEntry::kFile}};
  EXPECT_EQ(seen, expected);

  int visited = 0;
  ASSERT_TRUE(tev::ListFolder(dir.path(), [&](const tev::FolderEntry&) { return ++visited < 2; }));
  EXPECT_EQ(visited, 2);
  int error = 0;
  EXPECT_FALSE(tev::ListFolder(dir.path() + "/missing", [](const tev::FolderEntry&) { return true; },
                               &error));
  EXPECT_EQ(error, ENOENT);
}

}  // namespace
