// The recording settings kept in the Config table: the free-space floor,
// the recording padding and the video and audio recording folders, with the
// defaults the engine fills in when it starts and the checked setters the
// settings services call.
//
// The engine (Schedules) holds its in-memory folders and its folder
// monitors; the operations here take those as arguments so that they can
// run with or without a live engine.
//
// The free-space floor and the padding cache are kept with the default
// database (Database::WithSettings): a database opened anew starts without
// them.
#ifndef TEV_DB_RECORDINGSETTINGS_H_
#define TEV_DB_RECORDINGSETTINGS_H_

#include <cstdint>
#include <functional>
#include <string>

// Config keys.
inline constexpr wchar_t kConfigFreeSpaceRequired[] = L"FreeSpaceRequired";
inline constexpr wchar_t kConfigRecordPadding[] = L"RecordPadding";
inline constexpr wchar_t kConfigVideoDirectory[] = L"Video Recording Directory";
inline constexpr wchar_t kConfigAudioDirectory[] = L"Audio Recording Directory";

class RecordingSettings {
 public:
  // Result codes of the folder setters.
  static constexpr int kSameAsOtherFolder = 121;
  static constexpr int kNotADirectory = 122;
  static constexpr int kNotWritable = 123;

  // --- Free-space floor ---
  // Reads "FreeSpaceRequired" (stores "200" when empty) and makes the floor
  // that value times 1000. Returns the floor.
  static int64_t InitializeFreeSpaceRequired();
  // Stores `count` and makes the floor count times 1000.
  static void SetFreeSpaceRequired(int32_t count);
  // The floor last initialised or set; 0 before either.
  static int64_t FreeSpaceRequired();

  // --- Padding ---
  // Stores "30" under "RecordPadding" when it is empty.
  static void InitializeRecordPadding();
  // Caches and stores the padding.
  static void SetRecordPadding(int32_t seconds);
  // The padding in seconds: the cache, filled from "RecordPadding" on first
  // use; 60 when there is no value.
  static int32_t GetPaddingTime();

  // --- Folders ---
  // <common documents>/Recorded TV and <common documents>/Recorded Audio,
  // each created (one level) when missing; empty when the documents folder
  // is unusable.
  static std::wstring DefaultVideoFolder();
  static std::wstring DefaultAudioFolder();
  // Windows Media Center's "RecordPath" value from the registry; empty when
  // the key or the value is missing.
  static std::wstring MediaCenterRecordPath();
  // The stored folder of `key`; when empty, the Media Center folder (video
  // key only) or `defaultFolder`, stored under the key first.
  static std::wstring FillFolderKey(const std::wstring& key, const std::wstring& defaultFolder);

  // Writable-directory probe (db/DirectoryProbe.cpp): 0 when a test file
  // can be created in `directory`, 122 when it is not an existing
  // directory, 123 when the test file cannot be created. Leaves no file.
  // On failure *why (when given) says so in words, naming the folder, the
  // module's user and the system's error text.
  static int CheckDirectoryWritable(const std::wstring& directory, std::wstring* why = nullptr);

  // Checks and stores a new video (audio) folder. `folder` is trimmed; a
  // relative path, a NUL or control character or a ".." component throws
  // VelInvalidParameterException before anything is touched; 121
  // when it equals (ignoring case) the stored folder of the other kind, 122
  // when it is not a directory, 123 when a test file cannot be made there.
  // On 0: the folder is stored, *engineFolder (when not null) is set,
  // pending schedules of that kind are moved into it, and `repointMonitor`
  // (when set) is called with it — for video after the move, for audio
  // before it. A refused change changes nothing.
  static int SetVideoRecordingDirectory(const std::wstring& folder, std::wstring* engineFolder,
                                        const std::function<void(const std::wstring&)>& repointMonitor);
  static int SetAudioRecordingDirectory(const std::wstring& folder, std::wstring* engineFolder,
                                        const std::function<void(const std::wstring&)>& repointMonitor);

  // Points the planned file of every scheduled, skipped or conflicting
  // schedule whose mimetype begins with `mediaType` into `folder`, keeping
  // its file name.
  static void ChangeDirectoryOfScheduledRecordings(const std::wstring& folder,
                                                   const std::wstring& mediaType);
};

// The padding in seconds (RecordingSettings::GetPaddingTime).
int32_t GetPaddingTime();

#endif  // TEV_DB_RECORDINGSETTINGS_H_
