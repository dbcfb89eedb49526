#include "db/RecordingSettings.h"

#include <algorithm>
#include <cwctype>
#include <vector>

#include "db/Config.h"
#include "db/Database.h"
#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/TextNumbers.h"
#include "db/WFormat.h"
#include "platform/Env.h"
#include "platform/Folders.h"
#include "platform/PathCheck.h"
#include "platform/WideText.h"
#include "support/Log.h"
#include "support/Registry.h"
#include "support/Text.h"
#include "support/VelException.h"

namespace {

const wchar_t kMediaCenterKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Media Center\\Service\\Recording";
const wchar_t kMediaCenterValue[] = L"RecordPath";
const wchar_t kSeparator = L'/';

std::wstring DefaultFolder(const wchar_t* name) {
  std::wstring documents;
  if (!tev::CommonDocumentsFolder(&documents) || documents.empty()) return std::wstring();
  std::wstring folder = tev::WFormat(L"%ls%lc%ls", documents.c_str(), static_cast<wint_t>(kSeparator), name);
  tev::Env::Current().CreateDirectories(folder);
  return folder;
}

int SetFolder(const std::wstring& requested, const wchar_t* ownKey, const wchar_t* otherKey,
              const wchar_t* mediaType, bool moveBeforeRepoint, std::wstring* engineFolder,
              const std::function<void(const std::wstring&)>& repointMonitor) {
  const std::wstring folder = tev::Trim(requested);
  std::wstring reason;
  if (!tev::IsAcceptableFolder(folder, &reason)) {
    LogError(L"RecordingSettings::SetFolder refused %ls: %ls", ownKey, reason.c_str());
    throw VelInvalidParameterException(reason);
  }
  if (tev::EqualsNoCase(folder, Config::GetString(otherKey))) {
    return RecordingSettings::kSameAsOtherFolder;
  }
  int probe = RecordingSettings::CheckDirectoryWritable(folder);
  if (probe != 0) return probe;
  Config::SetString(ownKey, folder);
  if (engineFolder != nullptr) *engineFolder = folder;
  if (moveBeforeRepoint) {
    RecordingSettings::ChangeDirectoryOfScheduledRecordings(folder, mediaType);
    if (repointMonitor) repointMonitor(folder);
  } else {
    if (repointMonitor) repointMonitor(folder);
    RecordingSettings::ChangeDirectoryOfScheduledRecordings(folder, mediaType);
  }
  return 0;
}

}  // namespace

int64_t RecordingSettings::InitializeFreeSpaceRequired() {
  std::wstring value = Config::GetString(kConfigFreeSpaceRequired);
  if (value.empty()) {
    value = L"200";
    Config::SetString(kConfigFreeSpaceRequired, value);
  }
  // Any stored text is held to +-10^12 before scaling (already far beyond
  // any volume), so neither the product nor the sums of the disk-space
  // check can overflow.
  const int64_t kLimit = 1000000000000LL;
  const int64_t floor = std::max(-kLimit, std::min(kLimit, tev::Wtoi64(value))) * 1000;
  Database::WithSettings(
      [floor](Database::SettingsCache& cache) { cache.freeSpaceRequired = floor; });
  return floor;
}

void RecordingSettings::SetFreeSpaceRequired(int32_t count) {
  Config::SetString(kConfigFreeSpaceRequired, tev::WFormat(L"%d", count));
  Database::WithSettings([count](Database::SettingsCache& cache) {
    cache.freeSpaceRequired = static_cast<int64_t>(count) * 1000;
  });
}

int64_t RecordingSettings::FreeSpaceRequired() {
  int64_t floor = 0;
  Database::WithSettings(
      [&floor](Database::SettingsCache& cache) { floor = cache.freeSpaceRequired; });
  return floor;
}

void RecordingSettings::InitializeRecordPadding() {
  if (Config::GetString(kConfigRecordPadding).empty()) {
    Config::SetString(kConfigRecordPadding, L"30");
  }
}

void RecordingSettings::SetRecordPadding(int32_t seconds) {
  const std::wstring text = tev::WFormat(L"%d", seconds);
  Database::WithSettings([&text](Database::SettingsCache& cache) { cache.padding = text; });
  Config::SetString(kConfigRecordPadding, text);
}

int32_t RecordingSettings::GetPaddingTime() {
  std::wstring padding;
  Database::WithSettings([&padding](Database::SettingsCache& cache) { padding = cache.padding; });
  if (padding.empty()) {
    padding = Config::GetString(kConfigRecordPadding);
    Database::WithSettings([&padding](Database::SettingsCache& cache) {
      // A setter may have run meanwhile; its value wins.
      if (cache.padding.empty()) {
        cache.padding = padding;
      } else {
        padding = cache.padding;
      }
    });
  }
  if (padding.empty()) return 60;
  return tev::Wtoi(padding);
}

std::wstring RecordingSettings::DefaultVideoFolder() { return DefaultFolder(L"Recorded TV"); }

std::wstring RecordingSettings::DefaultAudioFolder() { return DefaultFolder(L"Recorded Audio"); }

std::wstring RecordingSettings::MediaCenterRecordPath() {
  boost::shared_ptr<CRegistry> registry = CRegistry::Instance();
  std::wstring path;
  if (!registry || !registry->GetString(kMediaCenterKey, kMediaCenterValue, &path)) {
    return std::wstring();
  }
  return path;
}

std::wstring RecordingSettings::FillFolderKey(const std::wstring& key,
                                              const std::wstring& defaultFolder) {
  std::wstring folder = Config::GetString(key);
  if (!folder.empty()) return folder;
  if (key == kConfigVideoDirectory) {
    std::wstring mediaCenter = MediaCenterRecordPath();
    if (!mediaCenter.empty()) {
      folder = mediaCenter;
      LogDebug(L"No Video Directory in DB, initialize it to media center path: %ls", folder.c_str());
    } else {
      folder = defaultFolder;
      LogDebug(L"No Video Directory in DB, initialize it to: %ls", folder.c_str());
    }
  } else {
    folder = defaultFolder;
  }
  Config::SetString(key, folder);
  return folder;
}

int RecordingSettings::SetVideoRecordingDirectory(
    const std::wstring& folder, std::wstring* engineFolder,
    const std::function<void(const std::wstring&)>& repointMonitor) {
  return SetFolder(folder, kConfigVideoDirectory, kConfigAudioDirectory, L"video", true,
                   engineFolder, repointMonitor);
}

int RecordingSettings::SetAudioRecordingDirectory(
    const std::wstring& folder, std::wstring* engineFolder,
    const std::function<void(const std::wstring&)>& repointMonitor) {
  return SetFolder(folder, kConfigAudioDirectory, kConfigVideoDirectory, L"audio", false,
                   engineFolder, repointMonitor);
}

void RecordingSettings::ChangeDirectoryOfScheduledRecordings(const std::wstring& folder,
                                                             const std::wstring& mediaType) {
  // LIKE treats '%' and '_' in the media type as wildcards; the callers
  // pass "video" or "audio" only.
  SQLite query;
  if (!query.RunQuery("SELECT * FROM Schedules WHERE (Status = ? OR Status = ? OR Status = ?) AND "
                      "ChannelMimetype LIKE ?",
                      {DVRSTATE_SCHEDULED, DVRSTATE_SKIP, DVRSTATE_CONFLICT, mediaType + L"%"},
                      L"ChangeDirectoryOfScheduledRecordings")) {
    return;
  }
  for (int32_t i = 0; i < query.GetRowCount(); ++i) {
    const int32_t id = query.GetInt("ID");
    const std::wstring path = query.GetString("FilePath");
    const size_t slash = path.rfind(kSeparator);
    // A path without a folder keeps its whole text as the file name.
    const std::wstring name = slash == std::wstring::npos ? kSeparator + path : path.substr(slash);
    Schedule::Update(id, L"FilePath", folder + name);
    query.Next();
  }
}

int32_t GetPaddingTime() { return RecordingSettings::GetPaddingTime(); }
