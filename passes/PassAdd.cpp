// Creating a pass: from a description or from an existing schedule.
//
// The pass row and its priority place are written in one transaction, so a
// refused or failed insert leaves the priorities as they were; the library
// is told and the episodes are searched only after the commit.
#include <memory>
#include <vector>

#include "db/GroupSync.h"
#include "db/LocalIds.h"
#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/TimeUtils.h"
#include "db/Transaction.h"
#include "dvr/DVR.h"
#include "dvr/ThumbnailTable.h"
#include "engine/Schedules.h"
#include "outbound/PeerClient.h"
#include "passes/PassJobs.h"
#include "passes/SeasonPassChecker.h"
#include "passes/SeasonPasses.h"
#include "platform/Clock.h"
#include "support/Log.h"
#include "support/PMutexLock.h"
#include "support/VelException.h"

namespace {

const int64_t kWeekSeconds = 604800;

}  // namespace

SeasonPasses::SeasonPasses(Schedules& engine, SeasonPassChecker& checker)
    : engine_(engine), checker_(checker) {}

int32_t SeasonPasses::AddPassFromSchedule(int32_t scheduleId, const std::wstring& thumbnailId,
                                          bool restrictToOneChannel, int32_t scheduleMode,
                                          const std::wstring& quality, int32_t keepUntil,
                                          int32_t guideType, int32_t priority,
                                          PassConflictReport* report) {
  Schedule schedule(scheduleId);
  if (schedule.m_id == 0) return kFailed;
  PassDescription pass;
  // Publishing a schedule reads the table, which leaves an entry saying
  // "no thumbnail"; only a thumbnail that exists stands in for the
  // library's own description.
  ThumbnailTable& thumbnails = engine_.Recorder().Thumbnails();
  if (thumbnails.Has(scheduleId) && thumbnails.Get(scheduleId)) {
    pass.thumbnailId = LocalIds::ThumbnailKey(scheduleId);
  } else {
    pass.thumbnailId = thumbnailId;
    std::wstring mimetype, path, thumbnail, mediaType;
    checker_.Peers().GetMediumInfo(schedule.m_user, schedule.m_tevMediumId, &mimetype, &path,
                                   &thumbnail, &pass.rating, &pass.tags, &mediaType);
  }
  pass.user = schedule.m_user;
  pass.start = schedule.m_startTime;
  pass.duration = schedule.m_duration;
  pass.channelName = schedule.m_channelName;
  pass.channelMedium = schedule.m_channel;
  pass.programName = schedule.m_name;
  pass.category = schedule.m_category;
  pass.channelMimetype = schedule.m_channelMimetype;
  pass.restrictToOneChannel = restrictToOneChannel;
  pass.scheduleMode = scheduleMode;
  pass.quality = quality;
  pass.keepUntil = keepUntil;
  pass.guideType = guideType;
  pass.priority = priority;
  return Add(pass, report, scheduleId);
}

bool SeasonPasses::PassExists(const std::wstring& channelName, const std::wstring& channelMedium,
                              const std::wstring& programName, int64_t start, int32_t guideType,
                              bool restrictToOneChannel, int32_t scheduleMode) {
  SQLite query;
  bool ran;
  if (guideType == 1) {
    ran = query.RunQuery(
        "SELECT * FROM SeasonPasses WHERE ProgramName = ? AND ChannelName = ? AND "
        "RestrictToOneChannel = ? AND ScheduleMode = ? AND StartDate = ?",
        {programName, channelName, restrictToOneChannel ? 1 : 0, scheduleMode,
         SqlValue::TimeNumber(start)},
        L"SeasonPasses::PassExists");
  } else {
    ran = query.RunQuery(
        "SELECT * FROM SeasonPasses WHERE ProgramName = ? AND ChannelMedium = ?AND "
        "ScheduleMode = ? AND StartDate = ?",
        {programName, channelMedium, scheduleMode, SqlValue::TimeNumber(start)},
        L"SeasonPasses::PassExists");
  }
  return ran && query.GetRowCount() > 0;
}

int32_t SeasonPasses::Add(const PassDescription& pass, PassConflictReport* report,
                          int32_t sourceScheduleId,
                          std::unique_ptr<PeerClient::Pending> search,
                          std::function<void()>* whilePublishing) {
  // The pass row, its medium id and its episodes are committed apart (the
  // bus requests between them run outside any transaction); the disk is
  // synced once, before the answer.
  GroupSync durableAtEnd;
  PMutexLock hold(checker_.Work().Mutex());
  const bool television = DVR::IsTVMimetype(pass.channelMimetype);
  int32_t guideType = pass.guideType == -1 ? (television ? 1 : 0) : pass.guideType;
  if (!television) guideType = 0;
  if (guideType != 1) search.reset();  // sent ahead for nothing
  LogDebug(L"Trying to add season pass for program %ls at %d for %ds, guideType %d",
           pass.programName.c_str(), static_cast<int32_t>(pass.start), pass.duration, guideType);
  if (PassExists(pass.channelName, pass.channelMedium, pass.programName, pass.start, guideType,
                 pass.restrictToOneChannel, pass.scheduleMode)) {
    return kEqualPassExists;
  }

  std::wstring startText, lastSearched;
  try {
    startText = FormatTime3(pass.start);
    lastSearched = FormatTime3(tev::Clock::Now() - kWeekSeconds);
  } catch (const VelException& e) {
    LogError(L"SeasonPasses::Add: %ls", e.getMessage().c_str());
    return kFailed;
  }

  const bool prioritised = pass.channelMimetype.find(L"tv") != std::wstring::npos;
  bool placedFirst = false, placedLast = !prioritised;
  std::vector<int32_t> moved;
  Transaction transaction(engine_.EngineLock(), L"SeasonPasses::Add");
  if (!transaction.Active()) return kFailed;
  bool ok = true;
  int32_t priority = 0;
  if (prioritised && pass.priority <= 0) {
    priority = GetLowestPriority();
    placedLast = true;
  } else if (prioritised) {
    ok = MakeRoomAtTop(&moved);
    priority = 1;
    placedFirst = true;
  }
  SQLite insert;
  ok = ok && insert.RunQuery(
                 "INSERT INTO 'SeasonPasses' ('User', 'Category', 'ProgramName', "
                 "'RestrictToOneChannel', 'ChannelName', 'ChannelMimetype', 'ChannelMedium', "
                 "'Quality', 'ScheduleMode', 'StartDate', 'LastSearched', 'KeepUntil', "
                 "'Duration', 'GuideType', 'Priority') VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                 "?, ?, ?)",
                 {pass.user, pass.category, pass.programName, pass.restrictToOneChannel ? 1 : 0,
                  pass.channelName, pass.channelMimetype, pass.channelMedium, pass.quality,
                  pass.scheduleMode, startText, lastSearched,
                  pass.keepUntil, pass.duration, guideType, priority},
                 L"SeasonPasses::Add");
  int32_t id = -1;
  SQLite find;
  if (ok && find.RunQuery("SELECT * FROM SeasonPasses WHERE ChannelMimetype = ? AND StartDate = ? "
                          "ORDER BY ID DESC",
                          {pass.channelMimetype, startText},
                          L"SeasonPasses::Add") &&
      find.GetRowCount() > 0) {
    id = find.GetInt("ID");
  }
  if (!ok || id <= 0 || !transaction.Commit()) return kFailed;  // rolled back
  RepublishPasses(moved);

  // Neither the guide search nor the episodes wait for the library's
  // answer: the pass's medium id is stored once the episodes are written,
  // before they are published. The library still hears of the pass first.
  std::unique_ptr<PeerClient::Pending> published =
      PostPassToTevMedia(id, pass.thumbnailId, pass.rating, pass.tags);
  if (guideType == 1 && !search) search = checker_.Peers().PostTVGuideSchedule(pass.programName);
  auto storeMediumId = [this, &published, id] {
    if (published) StorePassMediumId(id, std::move(published));
  };
  if (sourceScheduleId > 0) {
    // The schedule becomes the pass's before any episode is weighed against
    // it, and after the pass has its medium id, so that its "tevPassId"
    // names it.
    storeMediumId();
    engine_.Intake().SetScheduleOwner(sourceScheduleId, id);
  }

  AdmissionFlags flags;
  flags.priorityGiven = pass.priority != 0;
  flags.placedFirst = placedFirst;
  flags.placedLast = placedLast;
  flags.mediaKnown = true;  // what AddPassToTevMedia just sent
  flags.thumbnailId = pass.thumbnailId;
  flags.rating = pass.rating;
  flags.tags = pass.tags;
  flags.beforePublishing = storeMediumId;
  flags.beforePublishingWaits = [&published, &peers = checker_.Peers()] {
    return published && !peers.Answered(*published);
  };
  flags.whilePublishing = whilePublishing;
  int32_t searched = kPassGuideFailed;
  try {
    searched = checker_.CheckForNewEpisodes(id, report, flags, std::move(search));
  } catch (const VelException& ex) {
    LogError(L"SeasonPasses::Add: %ls", ex.getMessage().c_str());
  }
  storeMediumId();  // when the episodes ended before publishing; removal needs it
  if (searched == kPassGuideFailed || searched == kPassConflicts) {
    if (sourceScheduleId > 0) engine_.Intake().SetScheduleOwner(sourceScheduleId, std::wstring());
    RemoveSeasonPass(id, true);
    return searched == kPassGuideFailed ? kFailed : kConflictsFound;
  }
  return id;
}
