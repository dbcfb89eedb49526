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
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/PassKeeper.h"
#include "outbound/PeerClient.h"
#include "passes/PassRequest.h"

class LibrarySync;
class PassWork;
class Schedules;
class SeasonPassChecker;

// What a new pass is made from: the program it records and the user's
// choices. Times in seconds (start: UTC seconds since 1970).
struct PassDescription {
  std::wstring user;
  int64_t start = 0;
  int32_t duration = 0;
  std::wstring channelName;
  std::wstring channelMedium;
  std::wstring thumbnailId;
  std::wstring rating;
  std::wstring tags;
  std::wstring programName;
  std::wstring category;
  std::wstring channelMimetype;
  bool restrictToOneChannel = false;
  int32_t scheduleMode = 1;
  std::wstring quality;
  int32_t keepUntil = 0;
  int32_t guideType = -1;  // -1: decide by the mimetype
  int32_t priority = 0;    // <= 0: last place; > 0: first place
};

class SeasonPasses : public PassKeeper {
 public:
  // Works over the module's engine and checker (both outlive this object).
  SeasonPasses(Schedules& engine, SeasonPassChecker& checker);

  // Result codes of Add and AddPassFromSchedule.
  static constexpr int32_t kEqualPassExists = -1;
  static constexpr int32_t kFailed = -2;        // database, or the first search failed
  static constexpr int32_t kConflictsFound = -3;

  // --- Creating and removing passes (passes/PassAdd.cpp, PassRemoval.cpp) ---
  // The pass made from an existing schedule (its programme, channel and
  // time); the schedule becomes the pass's own. Pass ID or a code above
  // (-2 also when there is no such schedule). `report` (may be null) gets
  // the conflict report when the first search finds conflicts.
  int32_t AddPassFromSchedule(int32_t scheduleId, const std::wstring& thumbnailId,
                              bool restrictToOneChannel, int32_t scheduleMode,
                              const std::wstring& quality, int32_t keepUntil, int32_t guideType,
                              int32_t priority, PassConflictReport* report);
  // Inserts and publishes the pass, then searches its episodes at once.
  // Pass ID (> 0) or a code above; on -2/-3 nothing of the pass remains.
  // `search`, when given, is the guide search for the programme that the
  // caller sent ahead (PeerClient::PostTVGuideSchedule); it is dropped unread
  // when the pass turns out not to use the guide or is refused.
  // `whilePublishing`, when set, runs once, on success only, while the
  // library answers the episodes' "AddMedia" (or after the episodes when
  // none is sent); it is cleared when it ran.
  int32_t Add(const PassDescription& pass, PassConflictReport* report, int32_t sourceScheduleId,
              std::unique_ptr<PeerClient::Pending> search = nullptr,
              std::function<void()>* whilePublishing = nullptr);
  // Whether a pass for the same programme, channel, mode and start exists
  // (guide passes compare channel name and restriction, others the channel
  // medium). A failed statement counts as no.
  static bool PassExists(const std::wstring& channelName, const std::wstring& channelMedium,
                         const std::wstring& programName, int64_t start, int32_t guideType,
                         bool restrictToOneChannel, int32_t scheduleMode);
  // Removes the pass, its pending schedules and its priority place; its
  // recordings stay and lose the owner. The database changes are one
  // transaction (all or nothing); the media library is told afterwards.
  // False when the pass is missing or a statement failed (nothing changed).
  bool RemoveSeasonPass(int32_t passId, bool deleteMedium);
  // Deletes the pass's pending schedules (in the library first, then in one
  // transaction in the table), releases what they blocked. The episodes the
  // user deleted keep their rows, so that the next search leaves them out;
  // so do the rows in `wanted` when it is given.
  void RemoveSchedulesForPass(int32_t passId, const std::set<int32_t>* wanted = nullptr);
  // The pass's recordings (complete, partial, recording) lose the owner,
  // in the table and as "tevPassId" in the library.
  void RemovePassInfoForRecordings(int32_t passId);
  // What an edit of a pass changed, beyond which airings it wants.
  enum class PassChange { kOther, kLength, kPriority };
  // Detached job after an edit of the pass: after 100 ms removes the pass's
  // pending schedules whose airings it no longer wants (none when its guide
  // cannot be read), republishes those that stay as they are, and searches
  // the episodes of every pass again. kLength: the episodes the pass
  // repeats without a guide take its new length; kPriority: whether its
  // episodes get their tuner is decided again (RedecideEpisodes).
  void RefreshPass(int32_t passId, PassChange change = PassChange::kOther);
  // After the pass's priority moved: its pending episodes are decided
  // again as new ones would be (a skip the user chose stays): they give way to the passes that now outrank it and displace
  // those it now outranks. The rows that changed are republished.
  void RedecideEpisodes(int32_t passId);

  // --- The media library's changes to a pass (passes/UpdatePassMedium.cpp) ---
  // The pass branch of "UpdateMedium" (PassKeeper).
  int UpdatePassMedium(int32_t action, int32_t passId, const std::vector<MediumChange>& changes,
                       std::wstring* refusal) override;
  // Moves the pass to place `value` (decimal) among the prioritised passes
  // and renumbers the others densely; a place past the end puts it last.
  // 403 for a value below 1, a pass without priority or a failed statement.
  int MovePassPriority(int32_t passId, const std::wstring& value);
  // AddPassToTevMedia without thumbnail, rating or tags (PassKeeper).
  void RepublishPass(int32_t passId) override;

  // --- Priorities (passes/PassPriorities.cpp) ---
  // Count of prioritised passes + 1 (1 on failure).
  static int32_t GetLowestPriority();
  // Moves every prioritised pass down one place (republishing each) and
  // returns 1, also on failure.
  int32_t GetHighestPriority();
  // Moves every prioritised pass down one place without republishing; the
  // moved IDs are added to *moved. False when a statement failed.
  static bool MakeRoomAtTop(std::vector<int32_t>* moved);
  // Renumbers the other prioritised passes densely after pass `passId`
  // moved from `oldPriority` to `newPriority` (0 = removed); each changed
  // pass is republished. False when the selection fails or `newPriority`
  // lies outside 0..count.
  bool UpdatePriorities(int32_t oldPriority, int32_t newPriority, int32_t passId);
  // The work of UpdatePriorities without the media library: the IDs whose
  // priority changed are added to *changed.
  static bool RenumberPriorities(int32_t oldPriority, int32_t newPriority, int32_t passId,
                                 std::vector<int32_t>* changed);
  // Republishes each pass (no thumbnail, rating or tags).
  void RepublishPasses(const std::vector<int32_t>& passIds);

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

  // --- Media library ---
  // Publishes the pass ("AddMedium") with its full property list and stores
  // the medium id the library answers. Empty texts leave the optional
  // thumbnailId/rating/tags properties out; tags are split at each space.
  void AddPassToTevMedia(int32_t passId, const std::wstring& thumbnailId,
                         const std::wstring& rating, const std::wstring& tags);
  // AddPassToTevMedia in two halves, so that another request can travel
  // while the library answers: the first sends "AddMedium" (null when it
  // could not, logged), the second reads the answer and stores the id.
  std::unique_ptr<PeerClient::Pending> PostPassToTevMedia(int32_t passId,
                                                          const std::wstring& thumbnailId,
                                                          const std::wstring& rating,
                                                          const std::wstring& tags);
  void StorePassMediumId(int32_t passId, std::unique_ptr<PeerClient::Pending> posted);
  // Hands a change of the pass to its schedules that have not run (not
  // complete, partial or recording). "keepUntil" and "genre" are written
  // into their rows (KeepUntil, Category) under the pass-work lock of
  // `work`, and the pending ones are republished; any other property is
  // set on their media only (SetEpisodesAttribute).
  static void UpdateSchedulesFromPass(PassWork& work, PeerClient& peers, LibrarySync& library,
                                      int32_t passId, const std::wstring& property,
                                      const std::wstring& value);
  // Sets the property on the media of the pass's schedules that have not run.
  static void SetEpisodesAttribute(LibrarySync& library, int32_t passId,
                                   const std::wstring& property, const std::wstring& value);
  // Publishes the pass's scheduled, conflicting and skipped episodes in one
  // request, with the pass medium's thumbnail, rating and tags.
  static void RepublishEpisodes(PeerClient& peers, LibrarySync& library, int32_t passId);
  // The pass's pending episodes take its Duration, when it repeats them
  // without a guide (a guide gives each airing its own length).
  static void ApplyPassLength(int32_t passId);

  // --- One-time migration of the version-5 database upgrade ---
  // Registers the thumbnail files of published media by schedule path.
  void UpgradeThumbnails();
  // UpgradeThumbnails, then asks the library to change every pass's medium
  // id ("ChangeMediaId"), stores the new one and hands it to the pass's
  // schedules as "tevPassId". False when the pass query failed or a bus
  // exception ended the walk (the upgrade then stops and repeats at the
  // next start).
  bool ChangeMediumIds();
  // The media-library half of the version-5 step (new medium ids for the
  // passes and schedules), when an upgrade left it to do. Needs the bus
  // joined and the media library ready; true when nothing is left to do.
  // Called by engine start-up through its host; resumes where a failed run
  // stopped.
  bool FinishMediumIdUpgrade();

 private:
  // The live endpoint; a VelException when there is none, so that callers
  // handle "no bus" like any other bus exception.
  PeerClient* Endpoint() const;

  Schedules& engine_;
  SeasonPassChecker& checker_;
};

#endif  // TEV_PASSES_SEASONPASSES_H_
