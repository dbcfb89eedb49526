// Local ids and medium ids. A schedule or pass is known inside the module by
// its local id (the ID of its row; the two tables number independently) and
// in the media library by its medium id (TevMediumId). These lookups never
// throw and never return an error code: a failed query and a missing row
// both give 0 or an empty text.
#ifndef TEV_DB_LOCALIDS_H_
#define TEV_DB_LOCALIDS_H_

#include <cstdint>
#include <string>

namespace LocalIds {

// Local id of the pass, else the schedule, with that medium id; 0 when
// none. Passes are searched first. The logging form says at ERROR why it
// answers 0 (used by the cancel and retry services); the other is silent.
int32_t GetLocalIdFromTevMediumId(const std::wstring& mediumId);
int32_t GetLocalIdFromTevMediumId(const std::wstring& mediumId, bool logFailures);

// Kind of item holding the medium id.
enum MediumType : int32_t {
  kTypeUnknown = 0,   // id shorter than 2 characters, or a query failed
  kTypeSchedule = 1,
  kTypeNeither = 2,
  kTypePass = 3,
};
int32_t GetType(const std::wstring& mediumId);

// Stored TevMediumId of the schedule / pass with that local id; empty when
// the row is missing or the query fails.
std::wstring GetScheduleMediumId(int32_t localId);
std::wstring GetPassMediumId(int32_t localId);

// As GetLocalIdFromTevMediumId(.., true) on the FilePath column of the
// schedules (passes have no file).
int32_t GetLocalIdFromPath(const std::wstring& path);

// Text forms of a local id: "R42" (old-style schedule identifier), "RT42"
// (thumbnail identifier of a schedule), "RP42" (identifier of a pass).
std::wstring ScheduleKey(int32_t localId);
std::wstring ThumbnailKey(int32_t localId);
std::wstring PassKey(int32_t localId);

}  // namespace LocalIds

#endif  // TEV_DB_LOCALIDS_H_
