// The checker's thread and the walk over the passes.
#include "passes/SeasonPassChecker.h"

#include <ctime>

#include "db/GroupSync.h"
#include "db/SQLite.h"
#include "engine/Schedules.h"
#include "outbound/PeerClient.h"
#include "passes/PassJobs.h"
#include "passes/SeasonPasses.h"
#include "platform/Clock.h"
#include "platform/Env.h"
#include "support/Log.h"
#include "support/PMutexLock.h"
#include "support/PThread.h"
#include "support/VelException.h"

namespace {

const int64_t kDayMs = 86400000;
// The first check waits for start-up to settle.
const int64_t kFirstDelayMs = 10000;

}  // namespace

PassRow PassRow::FromQuery(SQLite& query) {
  PassRow pass;
  pass.id = query.GetInt("ID");
  pass.keepUntil = query.GetInt("KeepUntil");
  pass.quality = query.GetString("Quality");
  pass.programName = query.GetString("ProgramName");
  pass.channelName = query.GetString("ChannelName");
  pass.channelMedium = query.GetString("ChannelMedium");
  pass.channelMimetype = query.GetString("ChannelMimetype");
  pass.category = query.GetString("Category");
  pass.user = query.GetString("User");
  pass.mediumId = query.GetString("TevMediumId");
  pass.restricted = query.GetInt("RestrictToOneChannel") == 1;
  pass.priority = query.GetInt("Priority");
  pass.scheduleMode = query.GetInt("ScheduleMode");
  pass.startDate = query.GetTime("StartDate");
  pass.duration = query.GetInt("Duration");
  pass.guideType = query.GetInt("GuideType");
  return pass;
}

SeasonPassChecker::SeasonPassChecker(Schedules& engine, PassWork& work, PeerClient& peers)
    : engine_(engine), work_(work), peers_(peers), stopEvent_(false) {}

SeasonPassChecker::~SeasonPassChecker() { Stop(); }

void SeasonPassChecker::Start() {
  LogDebug(L"SeasonPassChecker::Start");
  if (thread_) return;
  stopEvent_.Reset();
  running_ = true;
  thread_.reset(new PThread(this, &SeasonPassChecker::TimerThreadStart, nullptr));
}

void SeasonPassChecker::Stop() {
  if (!thread_) return;
  LogDebug(L"SeasonPassChecker::Stop");
  running_ = false;
  stopEvent_.Set();
  thread_->join(nullptr);
  thread_.reset();
  LogDebug(L"SeasonPassChecker::Stopped");
}

int SeasonPassChecker::TimerThreadStart(void*) {
  if (tev::Env::Current().WaitForEvent(stopEvent_, kFirstDelayMs)) return 0;
  EngineHost* host = engine_.Host();
  if (host != nullptr && !host->WaitForTevMedia()) {
    LogError(L"Schedules::Initialize : TevMedia is not ready !!!");
    return -1;
  }
  while (running_.load()) {
    LogDebug(L"PassCheckerThread: Checking for new Passes");
    try {
      CheckForNewEpisodes();
    } catch (const VelException& e) {
      LogError(L"SeasonPassChecker::TimerThreadStart: Exception %ls", e.getMessage().c_str());
    }
    if (tev::Env::Current().WaitForEvent(stopEvent_, kDayMs)) break;
  }
  return 0;
}

void SeasonPassChecker::CheckForNewEpisodes() {
  GroupSync durableAtEnd;  // one disk sync for the passes' commits
  PMutexLock hold(work_.Mutex());
  LogDebug(L"SeasonPassChecker::CheckForNewEpisodes Start");
  SQLite query;
  if (!query.RunQuery("SELECT * FROM SeasonPasses", L"SeasonPassChecker::CheckForNewEpisodes")) {
    throw VelException(L"SeasonPassChecker::CheckForNewEpisodes problem with sql");
  }
  LogDebug(L"SeasonPassChecker::CheckForNewEpisodes %d passes found", query.GetRowCount());
  const int64_t now = tev::Clock::Now();
  for (int32_t i = 0; i < query.GetRowCount(); ++i, query.Next()) {
    CheckOnePass(PassRow::FromQuery(query), nullptr, AdmissionFlags(), true, now);
  }
  // A new episode may start before the timer's next wake-up.
  engine_.StartStop().SetRecordingTimer();
}

int32_t SeasonPassChecker::CheckForNewEpisodes(
    int32_t passId, PassConflictReport* report, const AdmissionFlags& flags,
    std::unique_ptr<PeerClient::Pending> search) {
  PMutexLock hold(work_.Mutex());
  SQLite query;
  if (!query.RunQuery("SELECT * FROM SeasonPasses WHERE ID = ?", {passId},
                      L"SeasonPassChecker::CheckForNewEpisodes")) {
    throw VelException(L"SeasonPassChecker::CheckForNewEpisodes problem with sql");
  }
  if (query.GetRowCount() < 1) {
    throw VelException(L"SeasonPassChecker::CheckForNewEpisodes seasonpass not found");
  }
  PassRow pass = PassRow::FromQuery(query);
  pass.mediaKnown = flags.mediaKnown;
  pass.thumbnailId = flags.thumbnailId;
  pass.rating = flags.rating;
  pass.tags = flags.tags;
  return CheckOnePass(pass, report, flags, false, tev::Clock::Now(), std::move(search));
}

int32_t SeasonPassChecker::CheckOnePass(const PassRow& pass, PassConflictReport* report,
                                        const AdmissionFlags& flags, bool daily, int64_t now,
                                        std::unique_ptr<PeerClient::Pending> search) {
  if (pass.guideType != 1) return CheckNonGuidePass(pass, now, flags);
  GuideListings listings;
  if (!search) search = peers_.PostTVGuideSchedule(pass.programName);
  if (!peers_.ReadTVGuideSchedule(std::move(search), &listings)) {
    LogError(L"SeasonPassChecker::CheckForNewEpisodes: no listings for pass %d %ls", pass.id,
             pass.programName.c_str());
    return daily ? 0 : kPassGuideFailed;
  }
  return AddProgramsForPass(pass, listings, report, flags, now);
}

bool SeasonPassChecker::AccordingToMode(int32_t mode, int64_t passStart, int64_t candidate,
                                        bool isNew) {
  if (passStart < 0) passStart = 0;
  if (candidate < passStart) return false;
  const time_t p = static_cast<time_t>(passStart), k = static_cast<time_t>(candidate);
  struct tm orig {}, can {};
  if (localtime_r(&p, &orig) == nullptr) throw VelException(L"AccordingToMode: error in localtime_s");
  if (localtime_r(&k, &can) == nullptr) LogError(L"Error in AccordingToMode - localtime_s");
  const bool sameTime = orig.tm_hour == can.tm_hour && orig.tm_min == can.tm_min;
  switch (mode) {
    case 1:
      return true;
    case 2:
      return isNew;
    case 3:
      if (sameTime) return true;
      LogDebug(L"AccordingToMode: not the same hour, orig: %d %d can: %d %d", orig.tm_hour,
               orig.tm_min, can.tm_hour, can.tm_min);
      return false;
    case 4:
      if (sameTime && orig.tm_wday == can.tm_wday) return true;
      LogDebug(L"AccordingToMode: not the same day, hour and min, orig: %d %d %d can: %d %d %d",
               orig.tm_wday, orig.tm_hour, orig.tm_min, can.tm_wday, can.tm_hour, can.tm_min);
      return false;
    case 5:
      if (sameTime && can.tm_wday >= 1 && can.tm_wday <= 5) return true;
      LogDebug(L"AccordingToMode: not a weekday candidate: %d %d %d", can.tm_wday, can.tm_hour,
               can.tm_min);
      return false;
    case 6:
      if (sameTime && (can.tm_wday == 0 || can.tm_wday == 6)) return true;
      LogDebug(L"AccordingToMode: not a weekend candidate: %d %d %d", can.tm_wday, can.tm_hour,
               can.tm_min);
      return false;
    default:
      return true;
  }
}
