#ifndef TEV_TESTS_MONITOR_MONITORFIXTURE_H_
#define TEV_TESTS_MONITOR_MONITORFIXTURE_H_

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "dvr/ThumbnailTable.h"
#include "monitor/FileMetadata.h"
#include "monitor/FileSystemMonitor.h"
#include "tests/engine/EngineFixture.h"

namespace monitortest {

namespace fs = std::filesystem;
using enginetest::Value;

inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

inline bool HaveFfmpeg() { return std::system("ffmpeg -version >/dev/null 2>&1") == 0; }

class MonitorFixture : public enginetest::EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    if (HasFatalFailure()) return;
    engine_->Folders().LoadFolders();
    staging_ = dir_.path() + "/staging";
    fs::create_directories(staging_);
    log_->Clear();
  }
  void TearDown() override {
    monitor_.reset();  // its thread goes before the engine
    EngineFixture::TearDown();
  }

  FileSystemMonitor& Monitor(const std::wstring& kind = L"video") {
    monitor_.reset(new FileSystemMonitor(&engine_->Monitors()));
    monitor_->ChangeFolder(kind);
    return *monitor_;
  }
  // Started, after its first pass.
  FileSystemMonitor& Started(const std::wstring& kind = L"video", bool watching = true) {
    monitor_.reset(new FileSystemMonitor(&engine_->Monitors()));
    monitor_->Start(kind);
    EXPECT_TRUE(WaitUntil([this] { return monitor_->PassCount() >= 1; }));
    EXPECT_EQ(monitor_->IsWatching(), watching);
    return *monitor_;
  }

  // Moved into `folder` in one step, as a finished copy arrives.
  std::string Drop(const std::string& folder, const std::string& name,
                   const std::string& content = "not really a recording") {
    const std::string staged = staging_ + "/" + name;
    std::ofstream(staged, std::ios::binary) << content;
    const std::string path = folder + "/" + name;
    fs::rename(staged, path);
    return path;
  }
  // Empty without ffmpeg.
  std::string DescribedAsf(const std::string& name, Schedule s) {
    const std::string staged = staging_ + "/" + name;
    if (!enginetest::WriteAsfVideo(staged)) return std::string();
    s.m_filePath = W(staged);
    EXPECT_TRUE(s.SetFileMetadata(Engine().Metadata()));
    fs::rename(staged, videoDir_ + "/" + name);
    return videoDir_ + "/" + name;
  }

  // Shifts the clock past the 10-second wait once the change is taken in.
  bool PassAfterSettling(FileSystemMonitor& monitor) {
    const int passes = monitor.PassCount();
    return WaitUntil([&] {
      if (monitor.PassCount() > passes) return true;
      const int64_t due = monitor.MsUntilUpdate();
      if (due > 0 && due <= 10000) env_.Shift(11);
      return false;
    });
  }
  bool ChangesSeen(FileSystemMonitor& monitor, int count) {
    return WaitUntil([&] { return monitor.ChangeCount() >= count; });
  }

  int InsertTimedRow(const std::string& status, const std::string& path, int64_t end,
                     const std::string& name = "Show") {
    enginetest::RowSpec planned = Planned(name, status, end - 3600);
    planned.path = Quoted(path);
    return Insert(planned);
  }
  size_t RowsFor(const std::string& path) { return Rows("ID", "FilePath = '" + Quoted(path) + "'").size(); }
  std::string ColumnFor(const std::string& path, const std::string& column) {
    const auto rows = Rows(column, "FilePath = '" + Quoted(path) + "'");
    return rows.empty() ? "<none>" : rows[0][0];
  }
  // Sent alone ("AddMedium") or in a batch ("AddMedia").
  size_t Publications(const std::string& path) {
    size_t n = enginetest::StatesOf(media_, W(path)).size();
    for (const Value& in : media_.RequestsOf(L"AddMedia")) {
      const std::vector<std::wstring> paths = enginetest::BatchValues(in, L"path");
      n += static_cast<size_t>(std::count(paths.begin(), paths.end(), W(path)));
    }
    return n;
  }

  std::string staging_;
  std::unique_ptr<FileSystemMonitor> monitor_;
};

}  // namespace monitortest

#endif  // TEV_TESTS_MONITOR_MONITORFIXTURE_H_
