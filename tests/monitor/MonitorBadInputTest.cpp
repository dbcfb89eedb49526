#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "db/Schedule.h"
#include "tests/monitor/MonitorFixture.h"

namespace {

using monitortest::Value;
using monitortest::WaitUntil;
namespace fs = std::filesystem;

std::map<std::string, std::pair<uintmax_t, int64_t>> Snapshot(const std::string& folder) {
  std::map<std::string, std::pair<uintmax_t, int64_t>> entries;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    struct stat info;
    if (lstat(entry.path().c_str(), &info) != 0) continue;
    entries[entry.path().string()] = {static_cast<uintmax_t>(info.st_size),
                                      static_cast<int64_t>(info.st_mtime)};
  }
  return entries;
}

class MonitorBadInput : public monitortest::MonitorFixture {};

TEST_F(MonitorBadInput, OddNamesAndFilesAreSkippedOrAdoptedByTheRules) {
  const std::string date = "_03-04-2008 20-00-01 Tev.asf";
  const std::string quoted = Drop(videoDir_, "It's \"quoted\"_Chan" + date);
  const std::string dots = Drop(videoDir_, "a..b ..c_Chan" + date);
  const std::string emoji = Drop(videoDir_, "\xF0\x9F\x93\xBA Show_\xE2\x98\x80 Chan" + date);
  std::string longName(255 - date.size() - 5, 'x');
  const std::string longest = Drop(videoDir_, longName + "_Chan" + date);
  const std::string zero = Drop(videoDir_, "Zero_Chan" + date, "");
  std::string asfHeader("\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C", 16);
  const std::string truncated = Drop(videoDir_, "Cut_Chan" + date, asfHeader + "\xff\xff\xff\x7f");
  const std::string locked = Drop(videoDir_, "Locked_Chan" + date);
  chmod(locked.c_str(), 0);
  // Not adopted: a name that is not UTF-8, links, a folder, a pipe.
  Drop(videoDir_, "Bad\xFF\xFE_Chan" + date);
  const std::string outside = dir_.path() + "/outside";
  fs::create_directories(outside);
  std::ofstream(outside + "/target.asf") << "someone else's file";
  fs::create_symlink(outside + "/target.asf", videoDir_ + "/Link_Chan" + date);
  fs::create_symlink(videoDir_ + "/Loop_Chan" + date, videoDir_ + "/Loop_Chan" + date);
  fs::create_directories(videoDir_ + "/Sub_Chan" + date);
  Drop(videoDir_ + "/Sub_Chan" + date, "Inner_Chan" + date);
  ASSERT_EQ(mkfifo((videoDir_ + "/Pipe_Chan" + date).c_str(), 0600), 0);
  const auto outsideBefore = Snapshot(outside);
  const auto insideBefore = Snapshot(videoDir_);

  FileSystemMonitor& monitor = Monitor();
  monitor.RunPass();
  monitor.RunPass();

  // The database layer owns the stored text's encoding.
  auto row = [](const std::string& path) { return Schedule(W(path), L"DVRSTATE_COMPLETE"); };
  EXPECT_EQ(row(quoted).m_name, L"It's \"quoted\"");
  EXPECT_EQ(row(dots).m_name, L"a..b ..c");
  EXPECT_EQ(row(emoji).m_name, W("\xF0\x9F\x93\xBA Show"));
  EXPECT_EQ(row(emoji).m_channelName, W("\xE2\x98\x80 Chan"));
  EXPECT_EQ(row(longest).m_name, W(longName));
  for (const std::string& path : {quoted, dots, emoji, longest, zero, truncated, locked}) {
    EXPECT_EQ(row(path).m_type, L"Recovered") << path;
  }
  EXPECT_EQ(Rows("ID").size(), 7u);
  EXPECT_EQ(Snapshot(outside), outsideBefore);
  EXPECT_EQ(Snapshot(videoDir_), insideBefore);
  chmod(locked.c_str(), 0600);
}

TEST_F(MonitorBadInput, AFolderRemovedWhileWatchedIsUpdatedDailyAndWatchedAgainWhenBack) {
  const std::string path = Drop(videoDir_, "Kept_Chan_03-04-2008 20-00-01 Tev.asf");
  InsertSchedule("M1", "DVRSTATE_COMPLETE", "video/x-tv", "Kept", "Chan", path);
  FileSystemMonitor& monitor = Started();
  const int changes = monitor.ChangeCount();
  fs::remove_all(videoDir_);
  ASSERT_TRUE(WaitUntil([&] { return !monitor.IsWatching(); }));
  ASSERT_TRUE(ChangesSeen(monitor, changes + 1));
  // A folder that is gone says nothing of its files.
  ASSERT_TRUE(PassAfterSettling(monitor));
  EXPECT_EQ(RowsFor(path), 1u);
  EXPECT_TRUE(monitor.IsRunning());

  int passes = monitor.PassCount();
  env_.Shift(86400);
  ASSERT_TRUE(WaitUntil([&] { return monitor.PassCount() > passes; }));

  fs::create_directories(videoDir_);
  monitor.ChangeFolder(L"video");
  ASSERT_TRUE(WaitUntil([&] { return monitor.IsWatching(); }));
  const int later = monitor.ChangeCount();
  const std::string back = Drop(videoDir_, "Back_Chan_03-04-2008 20-00-01 Tev.asf");
  ASSERT_TRUE(ChangesSeen(monitor, later + 1));
  ASSERT_TRUE(PassAfterSettling(monitor));
  EXPECT_EQ(RowsFor(back), 1u);
}

TEST_F(MonitorBadInput, TenThousandFilesDroppedAtOnceAreAdoptedOnce) {
  FileSystemMonitor& monitor = Started(L"audio");
  constexpr int kFiles = 10000;
  for (int i = 0; i < kFiles; ++i) {
    std::ofstream(audioDir_ + "/Show " + std::to_string(i) + "_Radio_03-04-2008 20-00-01 Tev.wma")
        << "x";
  }
  ASSERT_TRUE(ChangesSeen(monitor, 1));
  auto published = [&] {
    size_t n = 0;
    for (const Value& in : media_.RequestsOf(L"AddMedia")) {
      n += VUtil::GetArrayLength(peertest::Elem(in.get(), 1).get());
    }
    return n;
  };
  // Whatever the notifications (the queue may overflow).
  ASSERT_TRUE(WaitUntil(
      [&] {
        if (monitor.MsUntilUpdate() > 0) env_.Shift(11);
        dbtest::RawDb db(dbPath_);
        return db.Value("SELECT count(*) FROM Schedules") == std::to_string(kFiles) &&
               published() >= static_cast<size_t>(kFiles);
      },
      240000));
  dbtest::RawDb db(dbPath_);
  EXPECT_EQ(db.Value("SELECT count(DISTINCT FilePath) FROM Schedules"), std::to_string(kFiles));
  EXPECT_EQ(published(), static_cast<size_t>(kFiles));
  EXPECT_TRUE(monitor.IsRunning());
}

}  // namespace
