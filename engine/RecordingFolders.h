// The engine's side of the recording settings: its in-memory folders follow
// the stored ones, and a folder that changes has its monitor re-pointed.
// Any thread.
#ifndef TEV_ENGINE_RECORDINGFOLDERS_H_
#define TEV_ENGINE_RECORDINGFOLDERS_H_

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include "support/PMutex.h"

class RecordingFolders {
 public:
  // `repoint` gets "video" or "audio" once that folder has changed.
  explicit RecordingFolders(std::function<void(const std::wstring& kind)> repoint)
      : m_repoint(std::move(repoint)) {}

  // The start-up step that reads the video and audio folders from the
  // settings (filling in missing ones).
  void LoadFolders() TEV_EXCLUDES(m_folderMutex);
  // 0, or 121/122/123 when the folder is refused (nothing changes then).
  int SetVideoRecordingDirectory(const std::wstring& folder) TEV_EXCLUDES(m_folderMutex);
  int SetAudioRecordingDirectory(const std::wstring& folder) TEV_EXCLUDES(m_folderMutex);
  void SetFreeSpaceRequired(int32_t count);
  void SetRecordPadding(int32_t seconds);

  // The folders as last taken from the settings (start-up and the setters
  // above write them); empty before they are loaded.
  std::wstring VideoDirectory() const TEV_EXCLUDES(m_folderMutex);
  std::wstring AudioDirectory() const TEV_EXCLUDES(m_folderMutex);

 private:
  const std::function<void(const std::wstring& kind)> m_repoint;
  // Held alone, for one read or write of the folder fields.
  mutable PMutex m_folderMutex;
  std::wstring m_videoDirectory TEV_GUARDED_BY(m_folderMutex);
  std::wstring m_audioDirectory TEV_GUARDED_BY(m_folderMutex);
};

#endif  // TEV_ENGINE_RECORDINGFOLDERS_H_
