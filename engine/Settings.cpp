// The engine's side of the recording settings: its in-memory folders follow
// the stored ones.
#include "db/RecordingSettings.h"
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
  return RecordingSettings::SetVideoRecordingDirectory(
      folder, &m_videoDirectory, [this](const std::wstring&) { RepointFolderMonitor(L"video"); });
}

int Schedules::SetAudioRecordingDirectory(const std::wstring& folder) {
  return RecordingSettings::SetAudioRecordingDirectory(
      folder, &m_audioDirectory, [this](const std::wstring&) { RepointFolderMonitor(L"audio"); });
}

void Schedules::SetFreeSpaceRequired(int32_t count) { RecordingSettings::SetFreeSpaceRequired(count); }

void Schedules::SetRecordPadding(int32_t seconds) { RecordingSettings::SetRecordPadding(seconds); }
