// Guide passes: admitting the airings that the programme guide lists
// (outbound/GuideListings.h). What the guide answered unreadably is logged
// and left out, one element at a time.
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "db/EpisodeMarks.h"
#include "db/GroupSync.h"
#include "db/LocalIds.h"
#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/TimeUtils.h"
#include "db/Transaction.h"
#include "dvr/DVR.h"
#include "engine/MediaBatch.h"
#include "engine/Schedules.h"
#include "outbound/PeerClient.h"
#include "passes/EpisodeIdentity.h"
#include "passes/EpisodeRow.h"
#include "passes/SeasonPassChecker.h"
#include "passes/SeasonPasses.h"
#include "support/Log.h"
#include "platform/WideText.h"
#include "support/VelException.h"

namespace {

bool SameNoCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (towlower(a[i]) != towlower(b[i])) return false;
  }
  return true;
}

// The episode an airing is, as far as the listing tells: its episode key,
// else its episode title; empty when the listing tells neither.
std::wstring EpisodeOf(const ListedProgram& program) {
  tev::ListingMarks marks;
  marks.title = program.title;
  marks.subTitle = program.episodeTitle;
  if (program.episodeNumbers) marks.episodeNums = *program.episodeNumbers;
  const std::wstring key = tev::IdentifyEpisode(marks).key;
  return key.empty() ? program.episodeTitle : key;
}

// Whether the pass already records, or has recorded, that episode (on any
// channel, on any day).
bool PassHasEpisode(int32_t passId, const std::wstring& episode) {
  SQLite query;
  query.LimitRows(1);
  return query.RunQuery(
             "SELECT ID FROM EpisodeKeys JOIN Schedules ON Schedules.ID = EpisodeKeys.ScheduleId "
             "WHERE EpisodeKeys.PassId = ? AND EpisodeKeys.Episode = ? AND (Status = ? OR "
             "Status = ? OR Status = ?)",
             {passId, episode, DVRSTATE_SCHEDULED, DVRSTATE_RECORDING, DVRSTATE_COMPLETE},
             L"SeasonPassChecker::AddProgram") &&
         query.GetRowCount() > 0;
}

// For "new episodes only": an airing marked new (or a premiere) is new, one
// marked previously shown never is; one marked neither is new unless the
// pass already has its episode. A known episode is recorded once.
bool NewToThePass(int32_t passId, const ListedProgram& program, const std::wstring& episode) {
  if (!program.isNew && program.shownBefore.value_or(false)) return false;
  return episode.empty() || !PassHasEpisode(passId, episode);
}

}  // namespace

bool SeasonPassChecker::AiringExists(const wchar_t* channelColumn, const std::wstring& channel,
                                     int64_t start, const wchar_t* caller,
                                     std::set<int32_t>* rows) {
  const int64_t minute = start / 60 * 60;
  SQLite query;
  if (rows == nullptr) query.LimitRows(1);
  // The airing start is an expression without affinity: the times are
  // bound as the numbers they read.
  const std::string statement = "SELECT ID FROM Schedules WHERE " + tev::WideToUtf8(channelColumn) +
                                " = ? AND " + EpisodeMarks::kAiringStart + " >= ? AND " +
                                EpisodeMarks::kAiringStart + " <= ?";
  if (!query.RunQuery(statement,
                      {channel, SqlValue::TimeNumber(minute), SqlValue::TimeNumber(minute + 59)},
                      caller)) {
    return false;
  }
  for (int32_t i = 0; rows != nullptr && i < query.GetRowCount(); ++i, query.Next()) {
    rows->insert(query.GetInt("ID"));
  }
  return query.GetRowCount() > 0;
}

bool SeasonPassChecker::ProgramExists(const std::wstring& title, const std::wstring& channelName,
                                      int64_t start) {
  if (!AiringExists(L"ChannelName", channelName, start, L"SeasonPassChecker::ProgramExists")) {
    return false;
  }
  LogDebug(L"ProgramExists: %ls, %ls, %ls", title.c_str(), channelName.c_str(),
           FormatTime3(start).c_str());
  return true;
}

int32_t SeasonPassChecker::AddProgramsForPass(const PassRow& pass, const GuideListings& listings,
                                              PassConflictReport* report,
                                              const AdmissionFlags& flags,
                                              int64_t now) {
  BumpedSet bumped;
  LogDebug(L"SeasonPassChecker::AddProgramsForPass: %ls %d", pass.programName.c_str(),
           listings.slots);
  PassConflictReport kept;
  // The conflict checks inside the transaction use tuner counts read
  // before it: the TV service is not asked inside.
  engine_.StartStop().GetTunerCount(L"video/x-tv");
  Transaction transaction(engine_.EngineLock(), L"AddProgramsForPass");
  if (!listings.readable && listings.brokenOff.empty()) {
    LogError(L"SeasonPassChecker::AddProgramsForPass: listings for %ls are not readable",
             pass.programName.c_str());
  } else if (listings.readable) {
    LogDebug(L"SeasonPassChecker::AddProgramsForPass: Num of channels: %d", listings.channelSlots);
    for (size_t c = 0; c < listings.channels.size(); ++c) {
      const ListedChannel& channel = listings.channels[c];
      if (!channel.readable) {
        LogError(L"SeasonPassChecker::AddProgramsForPass: channel %d is not readable",
                 static_cast<int32_t>(c));
        continue;
      }
      LogDebug(L"SeasonPassChecker::AddProgramsForPass: channel name: %d %ls %ls",
               static_cast<int32_t>(c), channel.name.c_str(), pass.channelName.c_str());
      if (pass.restricted && !SameNoCase(channel.name, pass.channelName)) continue;
      if (!channel.listsPrograms) continue;
      LogDebug(L"SeasonPassChecker::AddProgramsForChannel: Enter");
      LogDebug(L"SeasonPassChecker::AddProgramsForChannel: %ls", channel.name.c_str());
      for (const ListedProgram& program : channel.programs) {
        EpisodeConflict one;
        int32_t result = 0;
        try {
          if (!program.unreadable.empty()) throw VelException(program.unreadable);
          result = AddProgram(pass, channel, program, &one, flags, now, bumped);
        } catch (const VelException& e) {
          LogError(L"SeasonPassChecker::AddProgram: %ls", e.getMessage().c_str());
          continue;
        }
        if (result == kPassConflicts) kept.push_back(std::move(one));
      }
    }
  }
  if (!listings.brokenOff.empty()) {
    LogError(L"SeasonPassChecker::AddProgramsForPass: %ls", listings.brokenOff.c_str());
  }
  CommitAndPublish(pass, bumped, transaction, flags, kept.empty());
  if (kept.empty()) return 0;
  const int32_t conflicted = static_cast<int32_t>(kept.size());
  if (report != nullptr) *report = std::move(kept);
  LogWarn(L"AddProgramsForPass: %d conflicts detected", conflicted);
  return kPassConflicts;
}

int32_t SeasonPassChecker::AddProgram(const PassRow& pass, const ListedChannel& channel,
                                      const ListedProgram& program, EpisodeConflict* report,
                                      const AdmissionFlags& flags, int64_t now,
                                      BumpedSet& bumped) {
  EpisodeRow row;
  const bool isNew = program.isNew;
  row.start = LocalWallClockToUtc(program.start);
  row.duration = program.duration;
  row.name = program.title;
  row.category = program.category;
  row.description = program.description;
  row.subtitle = program.episodeTitle;
  row.channelName = channel.name;
  row.channelMimetype = channel.mimetype;
  row.channel = channel.mediumId;
  row.user = pass.user;
  row.quality = pass.quality;
  row.keepUntil = pass.keepUntil;
  row.owner = std::to_wstring(pass.id);
  row.status = DVRSTATE_SCHEDULED;
  LogDebug(L"SeasonPassChecker::AddProgram: %ls", row.name.c_str());

  if (row.name != pass.programName) {
    LogDebug(L"SeasonPassChecker::AddProgram: Not the same program %ls %ls", row.name.c_str(),
             pass.programName.c_str());
    return 0;
  }
  if (row.duration <= 0 || row.start + row.duration < now) return 0;
  // New episodes only: an episode the pass has (an indexed lookup) ends
  // here, before the existence test of the airing reads the table.
  const bool newOnly = pass.scheduleMode == SeasonPasses::ONLY_NEW_EPISODES;
  const std::wstring episode = newOnly ? EpisodeOf(program) : std::wstring();
  const bool wanted = newOnly ? NewToThePass(pass.id, program, episode) : isNew;
  if (!AccordingToMode(pass.scheduleMode, pass.startDate, row.start, wanted)) return 0;
  if (flags.matched != nullptr) {
    AiringExists(L"ChannelName", row.channelName, row.start, L"SeasonPassChecker::AddProgram",
                 flags.matched);
    return 0;
  }
  if (ProgramExists(row.name, row.channelName, row.start)) return 0;

  ScheduleAnswer conflicts;
  const int32_t checked = engine_.Conflicts().CheckForScheduleConflicts(
      std::wstring(), std::wstring(), row.channelMimetype, row.start, row.duration, &conflicts, 0,
      pass.priority, flags.priorityGiven, row.channelName == pass.channelName, pass.channelName,
      flags.placedFirst, false, bumped, now);
  if (checked == kPassConflicts) {
    LogDebug(L"Conflict found for %ls, %ls, %ls, %d", row.name.c_str(), row.channelName.c_str(),
             FormatTime3(row.start).c_str(), row.duration);
    if (report != nullptr) {
      *report = {row.name, row.channelName, row.start, row.duration, row.subtitle,
                 std::move(conflicts)};
    }
    row.status = flags.placedLast ? DVRSTATE_SKIP : DVRSTATE_CONFLICT;
    if (!flags.priorityGiven) return kPassConflicts;
  } else if (checked == 125) {
    row.status = DVRSTATE_SKIP;
  } else if (checked != 0) {
    return checked;
  }

  if (row.start < now) {
    // Already on air: record the rest at once, as the pass's own.
    RecordingRequest rest;
    rest.user = pass.user;
    rest.channelName = row.channelName;
    rest.channelMimetype = row.channelMimetype;
    rest.channel = row.channel;
    rest.start = row.start;
    rest.duration = row.duration;
    rest.name = row.name;
    rest.category = row.category;
    rest.description = row.description;
    rest.quality = pass.quality;
    rest.tuner = L"Any";
    rest.subtitle = row.subtitle;
    rest.keepUntil = pass.keepUntil;
    rest.recordNow = 1;
    // Started once the pass's rows are committed: intake asks the library
    // and the streamer, which is not done inside the transaction.
    Schedules& engine = engine_;
    const std::wstring owner = row.owner;
    const int64_t airing = row.start;
    engine.EngineLock().AfterRelease([&engine, rest, owner, airing] {
      ScheduleAnswer added;
      engine.Intake().Add(rest, &added);
      if (added.kind == ScheduleAnswer::Kind::kMediumId) {
        const int32_t id = LocalIds::GetLocalIdFromTevMediumId(added.mediumId);
        if (id > 0) {
          engine.Intake().SetScheduleOwner(id, owner);
          // Taken from now: the row still stands for the airing.
          EpisodeMarks::SetAiring(id, airing);
        }
      }
    });
    return 0;
  }

  try {
    row.filePath = engine_.Recorder().ConstructUniqueFileName(row.channelMimetype, row.channelName,
                                                             row.name, row.start, 0);
  } catch (const VelException& e) {
    LogError(L"SeasonPassChecker::AddProgram: %ls", e.getMessage().c_str());
  }
  if (row.filePath.empty()) return kResultNoUniqueFileName;
  const int32_t id = row.Insert(L"SeasonPassChecker::AddProgram");
  if (id > 0) bumped[id] = kBumpedNewEpisode;
  if (id > 0 && !conflicts.windowSettled) {  // what it displaces, or why it waits
    engine_.Conflicts().ReplanWindow(row.channelMimetype, row.channel, row.start,
                                     row.start + row.duration, now, bumped, nullptr);
  }
  if (id > 0 && !episode.empty()) {
    SQLite keys;
    keys.RunQuery("INSERT OR REPLACE INTO EpisodeKeys (ScheduleId, PassId, Episode) VALUES (?, ?, ?)",
                  {id, pass.id, episode}, L"SeasonPassChecker::AddProgram");
  }
  LogDebug(L"SeasonPassChecker::AddProgram added %ls, %ls %ls", row.name.c_str(),
           row.channelName.c_str(), FormatTime3(row.start).c_str());
  return 0;
}

void SeasonPassChecker::CommitAndPublish(const PassRow& pass, const BumpedSet& bumped,
                                         Transaction& transaction, const AdmissionFlags& flags,
                                         bool admitted) {
  std::function<void()>* whilePublishing = admitted ? flags.whilePublishing : nullptr;
  if (flags.beforePublishingWaits && flags.beforePublishingWaits()) {
    // The rows first, then what waits; the disk takes both while the
    // library answers.
    transaction.Commit();
    if (flags.beforePublishing) flags.beforePublishing();
    GroupSync::SyncInBackground();
    PublishEpisodes(peers_, engine_.Library(), pass, bumped, whilePublishing);
    return;
  }
  // The library is told first and the rows are committed while it answers
  // (it sees them once committed); the ids it gives follow in a commit of
  // their own.
  if (flags.beforePublishing) flags.beforePublishing();
  std::function<void()> meanwhile = [&transaction, whilePublishing] {
    transaction.Commit();
    GroupSync::SyncInBackground();
    RunPending(whilePublishing);
  };
  PublishEpisodes(peers_, engine_.Library(), pass, bumped, &meanwhile);
  RunPending(&meanwhile);  // when nothing was sent
}

void SeasonPassChecker::PublishEpisodes(PeerClient& peers, LibrarySync& library,
                                        const PassRow& pass, const BumpedSet& bumped,
                                        std::function<void()>* meanwhile) {
  if (bumped.empty()) {
    RunPending(meanwhile);
    return;
  }
  bool asked = pass.mediaKnown;
  std::wstring thumbnailId = pass.thumbnailId, rating = pass.rating, tags = pass.tags;
  std::vector<Schedule> rows = LoadBumped(bumped, L"SeasonPassChecker::PublishEpisodes");
  for (Schedule& row : rows) {
    if (bumped.at(row.m_id) == kBumpedNewEpisode) {
      if (!asked && !pass.mediumId.empty()) {
        // The rows are committed first: the library is not waited for
        // inside the transaction.
        RunPending(meanwhile);
        std::wstring mimetype, path, mediaType;
        peers.GetMediumInfo(pass.user, pass.mediumId, &mimetype, &path, &thumbnailId, &rating, &tags,
                            &mediaType);
      }
      asked = true;
      row.m_thumbnailId = thumbnailId;
      row.m_rating = rating;
      row.m_tags = tags;
    }
  }
  library.PublishSchedules(rows, true, meanwhile, true);
}
