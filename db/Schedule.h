// One row of the Schedules table in memory: a planned, running or finished
// recording. A value: built, loaded, changed and written by one operation
// and then dropped; the row is the only lasting copy.
//
// Also the vocabulary every other part uses with it: the state names kept
// in `Status` with their external names, and the keep-until codes.
//
// A schedule's life, its changes of Status: db/StatusTransitions.h.
#ifndef TEV_DB_SCHEDULE_H_
#define TEV_DB_SCHEDULE_H_

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/MediumProperties.h"

class MetadataEditor;
class SQLite;
class SqlValue;

// State names, stored exactly as written; comparisons are exact.
inline constexpr wchar_t DVRSTATE_SCHEDULED[] = L"DVRSTATE_SCHEDULED";
inline constexpr wchar_t DVRSTATE_RECORDING[] = L"DVRSTATE_RECORDING";
inline constexpr wchar_t DVRSTATE_COMPLETE[] = L"DVRSTATE_COMPLETE";
inline constexpr wchar_t DVRSTATE_COMPLETE_PARTIAL[] = L"DVRSTATE_COMPLETE_PARTIAL";
inline constexpr wchar_t DVRSTATE_CONFLICT[] = L"DVRSTATE_CONFLICT";
inline constexpr wchar_t DVRSTATE_SKIP[] = L"DVRSTATE_SKIP";
inline constexpr wchar_t DVRSTATE_ERROR[] = L"DVRSTATE_ERROR";
inline constexpr wchar_t DVRSTATE_COULD_NOT_CONNECT[] = L"DVRSTATE_COULD_NOT_CONNECT";
inline constexpr wchar_t DVRSTATE_TUNER_BUSY[] = L"DVRSTATE_TUNER_BUSY";
inline constexpr wchar_t DVRSTATE_MCE_RUNNING[] = L"DVRSTATE_MCE_RUNNING";
inline constexpr wchar_t DVRSTATE_MISSED[] = L"DVRSTATE_MISSED";
inline constexpr wchar_t DVRSTATE_DISK_FULL[] = L"DVRSTATE_DISK_FULL";
inline constexpr wchar_t DVRSTATE_RETRY[] = L"DVRSTATE_RETRY";
inline constexpr wchar_t DVRSTATE_DELETED[] = L"DVRSTATE_DELETED";

// Keep-until codes (KeepUntil column). 1N keeps a finished recording for at
// least N days.
enum KeepUntilCode : int32_t {
  UNTIL_SPACE_NEEDED = 1,
  UNTIL_MANUALLY_DELETED = 2,
  AT_LEAST_1_DAY = 11,
  AT_LEAST_2_DAYS = 12,
  AT_LEAST_3_DAYS = 13,
  AT_LEAST_4_DAYS = 14,
  AT_LEAST_5_DAYS = 15,
  AT_LEAST_6_DAYS = 16,
  AT_LEAST_7_DAYS = 17,
};

class Schedule {
 public:
  // All fields empty or zero.
  Schedule();
  // Then Populate(id).
  explicit Schedule(int32_t id);
  // Then Populate(filename, status).
  Schedule(const std::wstring& filename, const std::wstring& status);

  // Load the row by id / by FilePath (`status` only names it in the log).
  // On failure m_id and m_duration are 0 and an ERROR line says why (SQL
  // failed, no such id/file, file not unique); callers test m_id.
  void Populate(int32_t id);
  void Populate(const std::wstring& filename, const std::wstring& status);
  // Fills the record from the current row of a query that selected all
  // columns of Schedules. Text fields other than the medium id and the
  // quality are trimmed of white space.
  void FillFromRow(SQLite& query);
  // Every row of such a query, from its current row on, in order.
  static std::vector<Schedule> FromRows(SQLite& query);
  // The rows of `ids` that exist, in ID order, read in one statement
  // (none when it fails; logged with `caller`).
  static std::vector<Schedule> LoadMany(const std::vector<int32_t>& ids, const wchar_t* caller);

  // Adds the record as a new row (a duplicate FilePath is only a WARN
  // line). m_id is not updated. The medium id, PlayPosition and
  // ThumbnailState are left NULL.
  bool Insert();
  // Runs on `query` the one statement that adds a new row (every writer of
  // a new row uses it): the record's fields, the times as the given
  // database texts.
  bool RunInsert(SQLite& query, const std::wstring& startText, const std::wstring& endText,
                 const std::wstring& caller) const;
  // Writes every stored field except the medium id and the Status to the
  // row m_id: a state changes only through engine/StatusChange.h, so a
  // copy loaded earlier never writes back a state that has moved on.
  bool Update();

  // Database time texts; throw VelException for a time that cannot be
  // converted (Insert and Update log it and return false instead).
  std::wstring StartTimeText() const;
  std::wstring EndTimeText() const;

  // --- Single-row operations; true when the statement succeeded ---
  static bool Update(int32_t id, const std::wstring& field, const std::wstring& value);
  static bool Update(int32_t id, const std::wstring& field, int32_t value);
  static bool Delete(int32_t id);
  static bool Delete(const std::wstring& filePath);
  // Deletes DELETED and CONFLICT rows that ended more than a minute before
  // `now`.
  static bool Delete(int64_t now);
  // FilePath of the row whose ID is the decimal `id`; empty when none.
  static std::wstring GetPathFromId(const std::wstring& id);
  // ID of the first row with that FilePath, or -1.
  static int32_t GetIdFromPath(const std::wstring& path);
  // The media-library type of the schedule with that medium id:
  // "video.recorded" when none has it, else the type of its mimetype,
  // with "schedule." in front while it has not run.
  static std::wstring GetMediaTypeFromMediumId(const std::wstring& mediumId);

  // --- Recording file metadata (monitor/ScheduleMetadata.cpp) ---
  // Each goes through `editor` (monitor/FileMetadata.h); without one
  // (null) the file counts as one that cannot be opened.
  // Fills the record as a recovered, complete recording from the arguments,
  // then from the file's attributes ("Duration" gives m_duration, -1 when
  // absent; a stored keep-until name gives m_keepUntil). False (ERROR
  // logged) when the file cannot be opened; the argument fields are set
  // anyway.
  bool PopulateFromFile(MetadataEditor* editor, const std::wstring& path,
                        const std::wstring& channelName, const std::wstring& title,
                        int64_t startTime, const std::wstring& channelMimetype);
  // Writes name, subtitle, category, description, channel name, channel
  // and keep-until into the file at m_filePath and saves it. False (ERROR
  // logged) when the file cannot be opened for writing or the save fails.
  bool SetFileMetadata(MetadataEditor* editor);
  // Writes the keep-until into a finished recording's file, so that a row
  // rebuilt from the file keeps it. False when the file could not be
  // written.
  static bool SetFileKeepUntil(MetadataEditor* editor, const std::wstring& path,
                               int32_t keepUntil);

  // --- Vocabulary ---
  // Unknown names give 1; unknown codes give "UNTIL_SPACE_NEEDED".
  static int32_t KeepUntilCodeFromName(const std::wstring& name);
  static std::wstring KeepUntilName(int32_t code);
  // "schedule", "recording", ...; empty for any other text.
  static std::wstring ExternalStateName(const std::wstring& status);
  // Statuses whose medium is still a plan ("schedule." media types).
  static bool IsScheduleMediaState(const std::wstring& status);
  // Media-library type of a channel mimetype, by its leading characters.
  static std::wstring MediaTypeForMimetype(const std::wstring& mimetype);

  // --- Columns of the row ---
  int32_t m_id = 0;             // 0: not loaded
  int64_t m_startTime = 0;      // seconds since 1970 (UTC)
  int64_t m_endTime = 0;
  std::wstring m_tevMediumId;   // empty until published
  std::wstring m_user;
  std::wstring m_type;          // "Automatic", "Manual" or "Recovered"
  std::wstring m_status;        // a DVRSTATE_ name
  std::wstring m_channelName;
  std::wstring m_channelMimetype;
  std::wstring m_channel;
  std::wstring m_owner;         // owning pass id as decimal text, or empty
  int32_t m_duration = 0;       // seconds
  std::wstring m_name;
  std::wstring m_category;
  std::wstring m_episodeTitle;
  std::wstring m_episodeUrl;
  std::wstring m_description;
  std::wstring m_filePath;
  std::wstring m_quality;
  std::wstring m_tuner;
  std::wstring m_subtitle;
  int32_t m_keepUntil = 0;

  // --- Not stored; filled only by the recording-file metadata reader ---
  std::wstring m_thumbnailId;
  std::wstring m_rating;
  std::wstring m_tags;
  int32_t m_width = 0;
  int32_t m_height = 0;
  int32_t m_bitrate = 0;
  int64_t m_size = 0;

 private:
  bool TimeTexts(const wchar_t* caller, std::wstring* start, std::wstring* end) const;
  // The values of the stored columns, Status only when `withStatus`.
  std::vector<SqlValue> StoredValues(const std::wstring& startText, const std::wstring& endText,
                                     bool withStatus) const;
};

#endif  // TEV_DB_SCHEDULE_H_
