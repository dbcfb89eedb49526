// The season-pass store ("Tev Pass"): standing orders to record every
// episode of a program, kept in the SeasonPasses table, published to the
// media library as media of their own, and carried by their schedules as
// Owner (the pass ID in decimal).
//
// Priorities: 0 for a pass whose mimetype does not contain "tv"; the
// television passes have 1, 2, 3, ... without gaps, 1 the highest.
//
// No lock of this class: each statement runs on its own query object under
// the database lock, and no lock is held across a bus request. Bus
// failures are logged and ignored (the database stays authoritative and
// the start-up sync republishes what the library lacks).
#ifndef TEV_PASSES_SEASONPASSES_H_
#define TEV_PASSES_SEASONPASSES_H_

#include <cstdint>
#include <string>

class SeasonPasses {
 public:
  // --- ScheduleMode and GuideType vocabulary ---
  enum ScheduleMode : int32_t {
    ALL_EPISODES = 1,
    ONLY_NEW_EPISODES = 2,
    DAILY_AT_SAME_TIME = 3,
    WEEKLY_AT_SAME_TIME = 4,
    WEEKDAYS_AT_SAME_TIME = 5,
    WEEKENDS_AT_SAME_TIME = 6,
  };
  // Any other number gives "ALL_EPISODES"; any other name gives 1.
  static std::wstring ScheduleModeName(int32_t mode);
  static int32_t ScheduleModeNumber(const std::wstring& name);
  // Media-library type of a pass by its channel mimetype
  // ("schedulePass.tv.channel", ...); empty for an unknown mimetype.
  static std::wstring PassMediaType(const std::wstring& mimetype);

  // --- Identifiers and priorities ---
  // TevMediumId of the pass; empty unless exactly one row has that ID.
  static std::wstring GetMediumId(int32_t passId);
  // Priority of the pass; 0 unless exactly one row has that ID.
  static int32_t GetPriority(int32_t passId);
  // Stores the pass's medium id (ERROR line on failure).
  static void AssignTevMediumId(int32_t passId, const std::wstring& mediumId);

  // --- Media library ---
  // Publishes the pass ("AddMedium") with its full property list and stores
  // the medium id the library answers. Empty texts leave the optional
  // thumbnailId/rating/tags properties out; tags are split at each space.
  static void AddPassToTevMedia(int32_t passId, const std::wstring& thumbnailId,
                                const std::wstring& rating, const std::wstring& tags);
  // Sets `property` = `value` on the media of the pass's schedules that are
  // not complete, partial or recording.
  static void UpdateSchedulesFromPass(int32_t passId, const std::wstring& property,
                                      const std::wstring& value);

  // --- One-time migration of the version-5 database upgrade ---
  // Registers the thumbnail files of published media by schedule path.
  static void UpgradeThumbnails();
  // UpgradeThumbnails, then asks the library to change every pass's medium
  // id ("ChangeMediaId"), stores the new one and hands it to the pass's
  // schedules as "tevPassId". False when the pass query failed or a bus
  // exception ended the walk (the upgrade then stops and repeats at the
  // next start).
  static bool ChangeMediumIds();
};

#endif  // TEV_PASSES_SEASONPASSES_H_
