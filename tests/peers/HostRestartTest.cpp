// What a crash may cost: the module in the host program, killed with SIGKILL
// and started again over its data, beside the real tev-peers.
#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "peers/ScriptedPeer.h"
#include "platform/WideText.h"
#include "support/VUtil.h"
#include "tests/db/DbTestSupport.h"
#include "tests/peers/ProgramProcess.h"

namespace {

using tev::peers::Value;

class HostRestart : public HostAndPeers<> {
 protected:
  void SetUp() override {
    if (!OnPath("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    ASSERT_TRUE(StartPeers({"--channels", WriteTestCardChannel(dir_.path())},
                           "[HKEY_LOCAL_MACHINE\\Software\\TEV Networks\\Tev]\nLogLevel=4\n", ""));
    // A request the killed host never answers must not hold a trial long.
    client_.SetRequestTimeout(1000);
  }
  void KillHost() { ASSERT_NE(host_.Stop(SIGKILL, 5000), -1); }

  // "ScheduleRecording" on the test channel; -1 for a bus failure.
  long Schedule(const std::wstring& name, int64_t localStart, int32_t durationMs,
                int32_t recordNow) {
    Value in = Value::Array({Value::Str(L"viewer"), Value::Str(L"Test Card"),
                             Value::Str(L"ch-test"), Value::Date(localStart),
                             Value::Long(durationMs), Value::Str(name), Value::Str(L"News"),
                             Value::Str(L""), Value::Str(L""), Value::Str(L""), Value::Str(L""),
                             Value::Long(0), Value::Long(recordNow)});
    AutoVariant out, retcodes;
    if (client_.Request(L"ZoVIZ", L"ScheduleRecording", in.get(), &out, 0, &retcodes) != 0) {
      return -1;
    }
    return VUtil::GetSingleRetcode(retcodes);
  }
  // The ffmpeg processes of tev-peers that write a recording, not a thumbnail.
  std::vector<pid_t> Ffmpegs() {
    std::vector<pid_t> found;
    for (pid_t child : ChildrenOf(peers_.pid())) {
      std::string name;
      char state = 0;
      if (!ProcStat(child, nullptr, &state, &name) || name != "ffmpeg" || state == 'Z') continue;
      std::string command = ReadFile("/proc/" + std::to_string(child) + "/cmdline");
      while (!command.empty() && command.back() == '\0') command.pop_back();
      const std::string output = command.substr(command.rfind('\0') + 1);
      if (output.size() > 4 && output.compare(output.size() - 4, 4, ".asf") == 0) {
        found.push_back(child);
      }
    }
    return found;
  }
};

TEST_F(HostRestart, AKillDuringRequestsLosesNoAnsweredRecordingAndDamagesNothing) {
  std::mt19937 random(20261207);
  std::set<std::string> answered;
  // Programmes an hour apart from tomorrow on: none conflicts with another.
  const int64_t base = (time(nullptr) / 3600 + 24) * 3600;
  int next = 0;
  for (int trial = 0; trial < 20; ++trial) {
    ASSERT_TRUE(StartHost());
    std::atomic<bool> stop{false};
    std::mutex mu;
    std::vector<std::string> ok;
    std::thread sender([&] {
      while (!stop) {
        const int n = next++;
        const std::string name = "P" + std::to_string(n);
        if (Schedule(tev::FromStdUtf8(name), base + int64_t{n} * 3600, 1800000, 0) == 0) {
          std::lock_guard<std::mutex> hold(mu);
          ok.push_back(name);
        }
      }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50 + random() % 400));
    KillHost();
    stop = true;
    sender.join();
    answered.insert(ok.begin(), ok.end());

    dbtest::RawDb db(DbPath());
    ASSERT_EQ(db.Value("PRAGMA integrity_check"), "ok") << "trial " << trial;
    EXPECT_TRUE(db.Rows("SELECT Name FROM Schedules GROUP BY Name HAVING COUNT(*) > 1").empty());
    EXPECT_TRUE(
        db.Rows("SELECT FilePath FROM Schedules GROUP BY FilePath HAVING COUNT(*) > 1").empty());
    std::set<std::string> stored;
    for (const auto& row : db.Rows("SELECT Name FROM Schedules")) stored.insert(row[0]);
    for (const std::string& name : answered) {
      EXPECT_EQ(stored.count(name), 1u) << name << " was answered 0 but is gone, trial " << trial;
    }
  }
  EXPECT_GT(answered.size(), 20u);
}

TEST_F(HostRestart, AKillMidRecordingLeavesOneStreamForTheProgramme) {
  ASSERT_TRUE(StartHost());
  AutoVariant out, retcodes;
  ASSERT_EQ(
      client_.Request(L"ZoVIZ", L"SetPVRRecordPadding", Value::Long(2).get(), &out, 0, &retcodes),
      0);
  ASSERT_EQ(Schedule(L"Bulletin", 0, 25000, 1), 0);
  dbtest::RawDb db(DbPath());
  const auto rows = db.Rows("SELECT ID, FilePath FROM Schedules WHERE Name = 'Bulletin'");
  ASSERT_EQ(rows.size(), 1u);
  const std::string path = rows[0][1];
  struct stat info = {};
  for (int i = 0; i < 200 && (stat(path.c_str(), &info) != 0 || info.st_size == 0); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_GT(info.st_size, 0) << ReadFile(PeersLog());
  // Killed once the module has kept the stream's id: a kill before that write
  // cannot know of the stream (the file may grow before the answer arrives).
  for (int i = 0; i < 400 && db.Rows("SELECT StreamId FROM Streams").empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_EQ(db.Rows("SELECT StreamId FROM Streams").size(), 1u);
  std::this_thread::sleep_for(std::chrono::seconds(2));

  KillHost();
  ASSERT_EQ(Ffmpegs().size(), 1u);  // the streamer records on without the module
  ASSERT_TRUE(StartHost());
  // From the restart to the end of the programme, one ffmpeg at most.
  const std::string log = dir_.path() + "/appdata/TevNetworks/Logs/TevPVR.log";
  bool resumed = false;
  size_t most = 0;
  for (int i = 0; i < 1200; ++i) {
    most = std::max(most, Ffmpegs().size());
    resumed = resumed || ReadFile(log).find("to resume") != std::string::npos;
    const auto open = db.Rows("SELECT ID FROM Schedules WHERE Status = 'DVRSTATE_RECORDING'");
    if (resumed && open.empty()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_TRUE(resumed);
  EXPECT_EQ(most, 1u);
  // The stream that was still writing was taken back: one row, complete.
  const auto all = db.Rows("SELECT Status, FilePath FROM Schedules");
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0][0], "DVRSTATE_COMPLETE");
  EXPECT_EQ(all[0][1], path);
  for (int i = 0; i < 100 && !Ffmpegs().empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_TRUE(Ffmpegs().empty());
  if (HasFailure()) std::fprintf(stderr, "%s\n", ReadFile(log).c_str());
}

}  // namespace
