// The engine's side of the media library ("TevMediaV2"): the medium
// property list of a schedule, the "AddMedium"/"AddMedia" requests that
// publish it, and the identifiers the library assigns. The engine owns one;
// everything that publishes a schedule goes through it.
//
// Any thread, with no lock beyond the database's. A request made while the
// calling thread holds the engine lock (or a transaction) is sent once that
// lock is released: the library's answer would hold up the timer and every
// service, and a library that calls back would wait for this thread.
#ifndef TEV_ENGINE_LIBRARYSYNC_H_
#define TEV_ENGINE_LIBRARYSYNC_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/BumpedSet.h"
#include "support/MediumProperties.h"

class PassKeeper;
class PeerClient;
class Schedule;
class ThumbnailTable;

class LibrarySync {
 public:
  // `peers` and `thumbnails` outlive it.
  LibrarySync(PeerClient& peers, ThumbnailTable& thumbnails);
  LibrarySync(const LibrarySync&) = delete;
  LibrarySync& operator=(const LibrarySync&) = delete;

  // The peers while the module is live; null once it has stopped being so
  // (nothing is sent then, and no medium ids are reported).
  PeerClient* Peers() const { return m_live.load() ? &m_peers : nullptr; }
  void SetLive(bool live) { m_live = live; }

  // The medium property list that publishes `schedule`.
  // Throws VelException when a time cannot be written. `passMediumIds`
  // (may be null) keeps the pass medium ids read for one batch of lists,
  // so that a pass's id is read once per batch rather than once per row.
  // `justLoaded`: the caller loaded `schedule` from the table a moment ago
  // in this operation, so its medium id is taken as loaded instead of
  // being read again.
  void AddMediumPrepare(const Schedule& schedule, MediumProperties* list,
                        std::map<int32_t, std::wstring>* passMediumIds = nullptr,
                        bool justLoaded = false);
  // Publishes one schedule ("AddMedium" to "any") and stores the medium id
  // the library answers. Failures are logged; nothing is stored then.
  void AddMedium(const Schedule& schedule, bool flag);
  // Publishes property lists in one "AddMedia" request and stores each
  // answered id by the list's "path" (only when the library answers one id
  // per list). `meanwhile`, when not null and set, runs once the request is
  // sent, before its answer is read, and is cleared.
  void AddMedia(const std::vector<MediumProperties>& lists, bool flag,
                std::function<void()>* meanwhile = nullptr);
  // AddMedia that takes the lists over instead of copying them into the
  // request; *lists is left empty.
  void AddMediaTaking(std::vector<MediumProperties>* lists, bool flag,
                      std::function<void()>* meanwhile = nullptr);
  // The rows in one "AddMedia". Nothing is sent for an empty list. Rows
  // whose property list cannot be built are left out (ERROR logged).
  // `meanwhile` (may be null) runs while the library answers, or at once
  // when nothing is sent. `justLoaded` as AddMediumPrepare's.
  void PublishSchedules(const std::vector<Schedule>& rows, bool flag,
                        std::function<void()>* meanwhile = nullptr, bool justLoaded = false);
  // Loads every schedule of the set that still exists and publishes them.
  void PublishBumped(const BumpedSet& bumped);
  // One-time medium-id migration of the version-5 database upgrade.
  // Returns true when the walk completed without a bus exception.
  bool ChangeMediumIds();
  // Start-up reconciliation with the library: media that match no row or
  // pass are deleted there, rows and passes the library lacks are
  // published again (all such rows in one "AddMedia"), and rows whose
  // state the library shows wrongly are republished. Bus failures are
  // logged and end the library side; the database is never changed here
  // beyond the identifiers the library assigns.
  // Passes are republished through `keeper` (null: none).
  void SyncWithTevMedia(PassKeeper* keeper);

  // The medium-id store of schedules (engine/MediumIds.cpp): what the
  // library answered, by row id or by file path (no row: nothing).
  static void AssignTevMediumId(int scheduleId, const std::wstring& mediumId);
  static void AssignTevMediumId(const std::wstring& filePath, const std::wstring& mediumId);
  // Medium id stored for the schedule, "" when the row is missing.
  static std::wstring GetMediumId(int32_t scheduleId);

 private:
  PeerClient& m_peers;
  ThumbnailTable& m_thumbnails;
  std::atomic<bool> m_live{true};
};

#endif  // TEV_ENGINE_LIBRARYSYNC_H_
