// The engine's side of the recording settings: its in-memory folders follow
// the stored ones.
#include "db/RecordingSettings.h"
#include "dvr/DVR.h"
#include "engine/Schedules.h"
#include "support/Log.h"

void Schedules::InitializeSettings() {
  RecordingSettings::InitializeFreeSpaceRequired();
  m_videoDirectory = RecordingSettings::FillFolderKey(kConfigVideoDirectory,
                                                      RecordingSettings::DefaultVideoFolder());
  m_audioDirectory = RecordingSettings::FillFolderKey(kConfigAudioDirectory,
                                                      RecordingSettings::DefaultAudioFolder());
  m_thirdDirectory = RecordingSettings::MediaCenterRecordPath();
  if (!m_thirdDirectory.empty()) {
    LogInfo(L"Monitoring mediacenter recorded tv folder");
  }
  RecordingSettings::InitializeRecordPadding();
}

int Schedules::SetVideoRecordingDirectory(const std::wstring& folder) {
  const int result =
      RecordingSettings::SetVideoRecordingDirectory(folder, &m_videoDirectory, nullptr);
  // New recordings go to the new folder from now on.
  if (result == 0) DVR::ResetRecordingDirectoryCache();
  return result;
}

int Schedules::SetAudioRecordingDirectory(const std::wstring& folder) {
  const int result =
      RecordingSettings::SetAudioRecordingDirectory(folder, &m_audioDirectory, nullptr);
  if (result == 0) DVR::ResetRecordingDirectoryCache();
  return result;
}

void Schedules::SetFreeSpaceRequired(int32_t count) { RecordingSettings::SetFreeSpaceRequired(count); }

void Schedules::SetRecordPadding(int32_t seconds) { RecordingSettings::SetRecordPadding(seconds); }
