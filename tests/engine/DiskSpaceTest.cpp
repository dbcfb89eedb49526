// Disk space for recordings on a real database and real (sparse) files,
// with the volume's free space injected through the platform seam: either a
// volume whose capacity is fixed (free = capacity - the files in the video
// folder) or a scripted series of readings.
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "db/Schedule.h"
#include "platform/Clock.h"
#include "support/FreeSpace.h"
#include "tests/engine/EngineFixture.h"

namespace {

namespace fs = std::filesystem;
using enginetest::RowValues;
using enginetest::StatesOf;

constexpr int64_t kHour = 3600;
constexpr int64_t kDay = 86400;
constexpr uintmax_t kGigabyte = 1000000000;  // 1,000,000 kB as file sizes count
const wchar_t kTv[] = L"video/x-tv";

class DiskSpace : public enginetest::EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    if (HasFatalFailure()) return;
    env_.SetFreeSpace([this](const std::wstring& directory) { return Read(directory); });
    wvideo_ = tev::FromStdUtf8(videoDir_);
  }
  void TearDown() override {
    env_.SetFreeSpace(nullptr);
    EngineFixture::TearDown();
  }

  // Free kilobytes (of 1024 bytes): the next scripted reading (the last
  // one repeats), else what the files in the video folder leave of the
  // capacity.
  int64_t Read(const std::wstring& directory) {
    std::lock_guard<std::mutex> lock(mu_);
    readDirectories_.push_back(directory);
    if (!script_.empty()) {
      const int64_t value = script_.front();
      if (script_.size() > 1) script_.pop_front();
      return value;
    }
    return capacity_ - UsedKilobytes();
  }
  void Script(std::deque<int64_t> readings) {
    std::lock_guard<std::mutex> lock(mu_);
    script_ = std::move(readings);
  }
  // Makes the volume show `free` kilobytes now.
  void VolumeWithFree(int64_t free) {
    std::lock_guard<std::mutex> lock(mu_);
    script_.clear();
    capacity_ = free + UsedKilobytes();
  }
  size_t Reads() {
    std::lock_guard<std::mutex> lock(mu_);
    return readDirectories_.size();
  }
  int64_t UsedKilobytes() {
    uintmax_t bytes = 0;
    for (const auto& entry : fs::directory_iterator(videoDir_)) bytes += entry.file_size();
    return static_cast<int64_t>(bytes / 1024);
  }

  // A finished recording of `bytes` (a sparse file) that started `age`
  // seconds ago, published under the medium id "M-<name>". No file when
  // `bytes` is 0.
  int Recording(const std::wstring& name, int64_t age, int32_t keepUntil,
                uintmax_t bytes = kGigabyte, const std::string& folder = "",
                const std::wstring& status = DVRSTATE_COMPLETE) {
    const std::string dir = folder.empty() ? videoDir_ : folder;
    fs::create_directories(dir);
    const std::string path = dir + "/" + tev::ToStdUtf8(name) + ".asf";
    if (bytes > 0) {
      std::ofstream(path).put('x');
      fs::resize_file(path, bytes);
    }
    RowValues values = Values(name, tev::Clock::Now() - age, 1800, kTv, status);
    values.keepUntil = keepUntil;
    values.path = tev::FromStdUtf8(path);
    return Published(L"M-" + name, values);
  }
  bool Exists(int id) { return !Rows("ID", "ID = " + std::to_string(id)).empty(); }
  bool FileOf(const std::wstring& name) { return fs::exists(videoDir_ + "/" + tev::ToStdUtf8(name) + ".asf"); }

  // Medium ids the library was told to show as deleted, in order.
  std::vector<std::wstring> RetypedMedia() {
    std::vector<std::wstring> ids;
    for (const enginetest::Value& request : media_.RequestsOf(L"SetMediaAttributeList")) {
      AutoVariant list;
      VUtil::GetElement(request.get(), 1, &list);
      for (long i = 0; i < VUtil::GetArrayLength(list.get()); ++i) {
        AutoVariant item, pairs;
        VUtil::GetElement(list.get(), i, &item);
        VUtil::GetElement(item.get(), 1, &pairs);
        std::wstring type;
        VUtil::FindPair(pairs.get(), L"mediaType", &type);
        EXPECT_EQ(type, L"deleted.video.file.recorded.tv");
        ids.push_back(VUtil::GetStringElement(item.get(), 0));
      }
    }
    return ids;
  }
  bool Clear(int64_t seconds, const std::wstring& mimetype = kTv) {
    return Engine().StartStop().ClearDiskSpace(wvideo_, mimetype, seconds, L"high",
                                               tev::Clock::Now());
  }

  std::wstring wvideo_;
  std::mutex mu_;
  std::deque<int64_t> script_;                // guarded by mu_
  int64_t capacity_ = 0;                      // guarded by mu_
  std::vector<std::wstring> readDirectories_;  // guarded by mu_
};

TEST_F(DiskSpace, ARecordingNeedsItsSizePlusTheFloor) {
  // One hour of television: 3,600,000 kB plus the default floor of 200,000.
  Script({3800000});
  EXPECT_TRUE(Clear(kHour));
  Script({3799999});
  EXPECT_FALSE(Clear(kHour));

  // Web video takes 100 kB a second, everything that is not video 32.
  Script({560000});
  EXPECT_TRUE(Clear(kHour, L"video/x-webwin"));
  Script({559999});
  EXPECT_FALSE(Clear(kHour, L"video/x-webwin"));
  Script({315200});
  EXPECT_TRUE(Clear(kHour, L"audio/x-win"));
  Script({315199});
  EXPECT_FALSE(Clear(kHour, L"audio/x-win"));

  // The floor follows the setting.
  Engine().Folders().SetFreeSpaceRequired(500);
  Script({3800000});
  EXPECT_FALSE(Clear(kHour));
  Script({4100000});
  EXPECT_TRUE(Clear(kHour));

  // A volume that cannot be read counts as roomy.
  Script({-1});
  EXPECT_TRUE(Clear(kHour));
  EXPECT_TRUE(log_->Has(LOG_ERROR, L"CInformationImpl::GetFreeDiskSpaceImpl failed for directory " +
                                       wvideo_));
  for (const std::wstring& directory : readDirectories_) EXPECT_EQ(directory, wvideo_);
}

TEST_F(DiskSpace, KeepUntilDecidesWhatMayGo) {
  const int young = Recording(L"Two days young", 47 * kHour, AT_LEAST_2_DAYS);
  const int old = Recording(L"Two days old", 49 * kHour, AT_LEAST_2_DAYS);
  const int manual = Recording(L"Manual", 100 * kDay, UNTIL_MANUALLY_DELETED);
  const int elsewhere = Recording(L"Elsewhere", 200 * kDay, UNTIL_SPACE_NEEDED, kGigabyte,
                                  dir_.path() + "/Other");
  const int running = Recording(L"Running", 300 * kDay, UNTIL_SPACE_NEEDED, kGigabyte, "",
                                DVRSTATE_RECORDING);
  const int64_t before = 3000000;

  // One file is enough for an hour: the one past its two days.
  VolumeWithFree(before);
  EXPECT_TRUE(Clear(kHour));
  EXPECT_FALSE(Exists(old));
  EXPECT_FALSE(FileOf(L"Two days old"));
  EXPECT_EQ(RetypedMedia(), std::vector<std::wstring>{L"M-Two days old"});
  for (int id : {young, manual, elsewhere, running}) EXPECT_TRUE(Exists(id)) << id;

  // However full the disk, what is kept stays: nothing is deleted when all
  // that may go would not be enough.
  EXPECT_FALSE(Clear(10 * kHour));
  // Two hours on, the younger one may go too, but alone it is not enough.
  env_.Shift(2 * kHour);
  EXPECT_FALSE(Clear(10 * kHour));
  EXPECT_TRUE(Exists(young));
  EXPECT_TRUE(FileOf(L"Two days young"));
  // For a little more than an hour it is.
  EXPECT_TRUE(Clear(kHour + 600));
  EXPECT_FALSE(Exists(young));
  EXPECT_FALSE(FileOf(L"Two days young"));
  for (int id : {manual, elsewhere, running}) EXPECT_TRUE(Exists(id)) << id;
  EXPECT_TRUE(FileOf(L"Manual"));
  EXPECT_TRUE(fs::exists(dir_.path() + "/Other/Elsewhere.asf"));
  EXPECT_EQ(RetypedMedia(), (std::vector<std::wstring>{L"M-Two days old", L"M-Two days young"}));
}

TEST_F(DiskSpace, OldestFirstUntilTheVolumeHasRoom) {
  const int day = Recording(L"Day", 1 * kDay, UNTIL_SPACE_NEEDED);
  const int ten = Recording(L"Ten", 10 * kDay, UNTIL_SPACE_NEEDED);
  const int five = Recording(L"Five", 5 * kDay, AT_LEAST_3_DAYS);
  const int hour = Recording(L"Hour", kHour, UNTIL_SPACE_NEEDED);
  // Its file is gone already: it frees nothing and its row stays.
  const int gone = Recording(L"Gone", 20 * kDay, UNTIL_SPACE_NEEDED, 0);

  // 2,000,000 free: two of the 1 GB files make an hour fit.
  VolumeWithFree(2000000);
  EXPECT_TRUE(Clear(kHour));
  EXPECT_TRUE(log_->Has(LOG_ERROR, L"DeleteOldRecordings: Could not delete " + wvideo_ + L"/Gone.asf"));
  EXPECT_TRUE(Exists(gone));
  EXPECT_EQ(RetypedMedia(), (std::vector<std::wstring>{L"M-Ten", L"M-Five"}));
  EXPECT_FALSE(Exists(ten));
  EXPECT_FALSE(Exists(five));
  EXPECT_TRUE(Exists(day));
  EXPECT_TRUE(Exists(hour));
  EXPECT_TRUE(FileOf(L"Day"));
  EXPECT_TRUE(FileOf(L"Hour"));
  // Read once before and once after each attempt.
  EXPECT_EQ(Reads(), 4u);
}

TEST_F(DiskSpace, TheVolumeDecidesWhenToStop) {
  const int first = Recording(L"First", 9 * kDay, UNTIL_SPACE_NEEDED);
  const int second = Recording(L"Second", 8 * kDay, UNTIL_SPACE_NEEDED);
  // By the file sizes two must go, but once the first is deleted the
  // volume already has room.
  Script({2000000, 3900000});
  EXPECT_TRUE(Clear(kHour));
  EXPECT_FALSE(Exists(first));
  EXPECT_TRUE(Exists(second));
  EXPECT_TRUE(FileOf(L"Second"));

  // And when deleting does not bring the room the sizes promised, the
  // answer follows the volume.
  const int third = Recording(L"Third", 7 * kDay, UNTIL_SPACE_NEEDED);
  Script({2900000, 2900000});
  EXPECT_FALSE(Clear(kHour));
  EXPECT_FALSE(Exists(second));
  EXPECT_FALSE(Exists(third));
}

TEST_F(DiskSpace, ARowWithoutRoomBecomesDiskFull) {
  Script({100});
  const int64_t now = tev::Clock::Now();
  RowValues values = Values(L"Full", now + 10, 600);
  const int full = Row(values);
  Engine().StartStop().StartRecordingIfAppropriate(tev::Clock::Now());
  EXPECT_EQ(Status(full), "DVRSTATE_DISK_FULL");
  EXPECT_EQ(streamer_.CountOf(L"StartStream"), 0u);
  EXPECT_EQ(StatesOf(media_, Path(full)).back(), L"diskfull");
  // It is not tried again.
  Engine().StartStop().StartRecordingIfAppropriate(tev::Clock::Now());
  EXPECT_EQ(streamer_.CountOf(L"StartStream"), 0u);

  // An open-ended start needs no room.
  values.name = L"Open";
  values.duration = 0;
  const int open = Row(values);
  Engine().StartStop().StartRecordingIfAppropriate(tev::Clock::Now());
  EXPECT_EQ(Status(open), "DVRSTATE_RECORDING");
  EXPECT_EQ(streamer_.CountOf(L"StartStream"), 1u);
}

}  // namespace
