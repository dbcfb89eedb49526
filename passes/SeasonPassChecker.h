// The season-pass checker: turns passes into schedules. A guide pass
// (GuideType 1) asks the programme guide for the next seven days of its
// programme and admits the matching airings; a pass without a guide makes
// one schedule per qualifying day of the coming week at the pass's local
// time of day. Every episode goes through the conflict check, is written
// with the pass ID as Owner and is published to the media library.
//
// The module's checker runs a thread: first check 10 s after Start, then
// every 24 hours, ended at once by Stop. Other checkers (a new pass, a
// refresh) are made on the spot and called directly, without a thread.
// Every check holds the module's pass-work lock (PassWork) for its whole
// run.
#ifndef TEV_PASSES_SEASONPASSCHECKER_H_
#define TEV_PASSES_SEASONPASSCHECKER_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "engine/BumpedSet.h"
#include "outbound/PeerClient.h"
#include "passes/PassRequest.h"
#include "support/PEvent.h"

class LibrarySync;
class PassWork;
class PThread;
class Schedules;
class SQLite;

// Result codes of a check besides 0 and the conflict check's own.
constexpr int32_t kPassConflicts = 101;
constexpr int32_t kPassGuideFailed = 102;

// The values of one pass row that the admission reads.
struct PassRow {
  int32_t id = 0;
  int32_t keepUntil = 0;
  std::wstring quality;
  std::wstring programName;
  std::wstring channelName;
  std::wstring channelMedium;
  std::wstring channelMimetype;
  std::wstring category;
  std::wstring user;
  std::wstring mediumId;
  bool restricted = false;
  int32_t priority = 0;
  int32_t scheduleMode = 1;
  int64_t startDate = 0;
  int32_t duration = 0;
  int32_t guideType = 0;
  // The pass medium's thumbnail, rating and tags, when the caller knows
  // them (else they are asked of the library when episodes are published).
  bool mediaKnown = false;
  std::wstring thumbnailId, rating, tags;
  // From the current row of a "SELECT * FROM SeasonPasses" query.
  static PassRow FromQuery(SQLite& query);
};

// How an episode search was started (from SeasonPasses::Add; the daily
// check uses priority given, not first, not last).
struct AdmissionFlags {
  bool priorityGiven = true;
  bool placedFirst = false;
  bool placedLast = false;
  // A new pass knows what its medium carries; see PassRow::mediaKnown.
  bool mediaKnown = false;
  std::wstring thumbnailId, rating, tags;
  // A new pass's own steps around publication (each may be empty).
  // `beforePublishing` runs once the episodes are admitted, before they are
  // published; `beforePublishingWaits` says whether it would wait for the
  // bus, and then it runs only after the episodes' commit, so that no
  // transaction stays open across a wait. `whilePublishing` runs when the
  // episodes are admitted without a refusal, while the library answers
  // them (see SeasonPasses::Add).
  std::function<void()> beforePublishing;
  std::function<bool()> beforePublishingWaits;
  std::function<void()>* whilePublishing = nullptr;
  // A survey, not an admission: nothing is written or published; the IDs
  // of the rows that stand for the airings the pass wants now are entered
  // here (whatever their name, state or owner).
  std::set<int32_t>* matched = nullptr;
};

class Transaction;

class SeasonPassChecker {
 public:
  // `engine`, `work` and `peers` outlive the checker.
  SeasonPassChecker(Schedules& engine, PassWork& work, PeerClient& peers);
  ~SeasonPassChecker();  // stops the thread when it runs

  Schedules& Engine() const { return engine_; }
  PassWork& Work() const { return work_; }
  PeerClient& Peers() const { return peers_; }

  // Starts the daily thread (called once by the module's start-up).
  void Start();
  // Ends the thread at once and joins it. Safe without Start.
  void Stop();

  // Every pass, in table order; a pass whose guide request fails is
  // skipped. Throws VelException when the passes cannot be read.
  void CheckForNewEpisodes();
  // One pass: 0, 101 conflicts (reported in *report when not null), 102
  // the guide request failed, or a code of the conflict check. Throws
  // VelException when the pass cannot be read or does not exist.
  // `search`, when given, is the pass's guide search already sent
  // (PeerClient::PostTVGuideSchedule with its programme name).
  int32_t CheckForNewEpisodes(int32_t passId, PassConflictReport* report,
                              const AdmissionFlags& flags,
                              std::unique_ptr<PeerClient::Pending> search = nullptr);

  // Whether an airing at `candidate` qualifies for a pass made at
  // `passStart` in `mode` (local times of day and weekdays).
  static bool AccordingToMode(int32_t mode, int64_t passStart, int64_t candidate, bool isNew);

  // --- Guide passes (passes/GuideEpisodes.cpp) ---
  int32_t AddProgramsForPass(const PassRow& pass, const GuideListings& listings,
                             PassConflictReport* report, const AdmissionFlags& flags, int64_t now);
  // One readable program of one channel. 0 (admitted or not wanted), 101,
  // 119 or a code of the conflict check.
  int32_t AddProgram(const PassRow& pass, const ListedChannel& channel, const ListedProgram& program,
                     EpisodeConflict* report, const AdmissionFlags& flags, int64_t now,
                     BumpedSet& bumped);
  // Whether the airing has a row already, in any state and under any name:
  // an airing is its channel and its start, so that an episode renamed,
  // or deleted by the user (its row stays while the airing is to come),
  // is not added again. `channelColumn` is the Schedules column compared
  // with `channel` ("ChannelName" for the guide's channels, "Channel" for
  // a pass's own medium); starts match within the minute (intake stores
  // starts one second past the minute), and a row's start is that of the
  // airing it was made for, wherever the user moved it (EpisodeMarks). A
  // failed statement counts as no. `rows`, when given, receives the IDs of
  // every row of the airing.
  static bool AiringExists(const wchar_t* channelColumn, const std::wstring& channel,
                           int64_t start, const wchar_t* caller,
                           std::set<int32_t>* rows = nullptr);
  // AiringExists on the channel name; `title` is for the log line only.
  static bool ProgramExists(const std::wstring& title, const std::wstring& channelName,
                            int64_t start);

  // --- Passes without a guide (passes/FixedTimeEpisodes.cpp) ---
  int32_t CheckNonGuidePass(const PassRow& pass, int64_t now,
                            const AdmissionFlags& flags = AdmissionFlags());
  // The new schedule's ID, or 0 (already there, or a step failed).
  int32_t AddNonGuideProgram(const PassRow& pass, int64_t start);

  // Publishes the rows of `bumped`; new episodes carry the pass medium's
  // thumbnail, rating and tags (asked of the library once unless known).
  // `meanwhile` as PublishSchedules'.
  static void PublishEpisodes(PeerClient& peers, LibrarySync& library, const PassRow& pass,
                              const BumpedSet& bumped, std::function<void()>* meanwhile = nullptr);
  // Ends the episodes' `transaction` and publishes `bumped`: the episodes
  // go to the library before the commit when nothing before them waits,
  // so that the disk and the library work at once; otherwise after it.
  // `admitted`: no refusal, so flags.whilePublishing may run.
  void CommitAndPublish(const PassRow& pass, const BumpedSet& bumped, Transaction& transaction,
                        const AdmissionFlags& flags, bool admitted);

 private:
  int32_t CheckOnePass(const PassRow& pass, PassConflictReport* report, const AdmissionFlags& flags,
                       bool daily, int64_t now,
                       std::unique_ptr<PeerClient::Pending> search = nullptr);
  int TimerThreadStart(void* argument);

  Schedules& engine_;
  PassWork& work_;
  PeerClient& peers_;
  std::unique_ptr<PThread> thread_;  // owned; null unless started
  PEvent stopEvent_;
  std::atomic<bool> running_{false};
};

#endif  // TEV_PASSES_SEASONPASSCHECKER_H_
