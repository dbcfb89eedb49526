// The engine's side of the recording settings: its in-memory folders follow
// the stored ones.
#include "db/RecordingSettings.h"
#include "engine/RecordingFolders.h"
#include "support/Log.h"
#include "support/PMutexLock.h"

void RecordingFolders::LoadFolders() {
  // The settings are read without the folder lock (they take the database
  // lock); only the assignment holds it.
  const std::wstring video = RecordingSettings::FillFolderKey(
      kConfigVideoDirectory, RecordingSettings::DefaultVideoFolder());
  const std::wstring audio = RecordingSettings::FillFolderKey(
      kConfigAudioDirectory, RecordingSettings::DefaultAudioFolder());
  PMutexLock lock(m_folderMutex);
  m_videoDirectory = video;
  m_audioDirectory = audio;
}

std::wstring RecordingFolders::VideoDirectory() const {
  PMutexLock lock(m_folderMutex);
  return m_videoDirectory;
}

std::wstring RecordingFolders::AudioDirectory() const {
  PMutexLock lock(m_folderMutex);
  return m_audioDirectory;
}

namespace {

// A folder change refused because nothing can be recorded there says why.
void ReportFolderChange(const std::wstring& folder, int result) {
  if (result != 122 && result != 123) return;
  std::wstring why;
  if (RecordingSettings::CheckDirectoryWritable(folder, &why) != 0) {
    LogError(L"Schedules: the recording folder was not changed: %ls", why.c_str());
  }
}

}  // namespace

// The engine takes the folder and re-points its monitor where the setter
// says: for video after the pending schedules moved, for audio before.
int RecordingFolders::SetVideoRecordingDirectory(const std::wstring& folder) {
  const int result = RecordingSettings::SetVideoRecordingDirectory(folder, nullptr, [this](const std::wstring& taken) {
    {
      PMutexLock lock(m_folderMutex);
      m_videoDirectory = taken;
    }
    m_repoint(L"video");
  });
  ReportFolderChange(folder, result);
  return result;
}

int RecordingFolders::SetAudioRecordingDirectory(const std::wstring& folder) {
  const int result = RecordingSettings::SetAudioRecordingDirectory(folder, nullptr, [this](const std::wstring& taken) {
    {
      PMutexLock lock(m_folderMutex);
      m_audioDirectory = taken;
    }
    m_repoint(L"audio");
  });
  ReportFolderChange(folder, result);
  return result;
}

void RecordingFolders::SetFreeSpaceRequired(int32_t count) { RecordingSettings::SetFreeSpaceRequired(count); }

void RecordingFolders::SetRecordPadding(int32_t seconds) { RecordingSettings::SetRecordPadding(seconds); }
