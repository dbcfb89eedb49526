// Guide passes: admitting the airings that the programme guide lists.
//
// A listing is [count, [channel...]]; a channel [name, -, [program...],
// mimetype, extra, -, -, medium id]; a program [title, -, -, -, duration,
// start (local date), category, description, -, -, episode title, -, -,
// -, flags (bit 0: new)]. Anything else in the answer is logged and left
// out, one element at a time.
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
#include "passes/EpisodeRow.h"
#include "passes/SeasonPassChecker.h"
#include "support/GlobalLocks.h"
#include "support/Log.h"
#include "support/VUtil.h"
#include "platform/WideText.h"
#include "support/VelException.h"

namespace {

bool IsArray(const VARIANT& value) { return (value.vt & VT_ARRAY) != 0; }

// An integer slot of any integer type (the guide's flags); 0 otherwise.
int32_t IntegerOrZero(const VARIANT& array, long index) {
  AutoVariant value;
  VUtil::GetElement(array, index, &value);
  switch (value.get().vt) {
    case VT_I4: return value.get().lVal;
    case VT_UI4: return static_cast<int32_t>(value.get().ulVal);
    case VT_I2: return value.get().iVal;
    case VT_UI2: return value.get().uiVal;
    case VT_BOOL: return value.get().boolVal != 0 ? 1 : 0;
    default: return 0;
  }
}

bool SameNoCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (towlower(a[i]) != towlower(b[i])) return false;
  }
  return true;
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

int32_t SeasonPassChecker::AddProgramsForPass(const PassRow& pass, const VARIANT& listings,
                                              PassConflictReport* report,
                                              const AdmissionFlags& flags,
                                              int64_t now) {
  BumpedSet bumped;
  const long slots = IsArray(listings) ? VUtil::GetArrayLength(listings) : 0;
  LogDebug(L"SeasonPassChecker::AddProgramsForPass: %ls %d", pass.programName.c_str(),
           static_cast<int32_t>(slots));
  PassConflictReport kept;
  // The conflict checks inside the transaction use tuner counts read
  // before it: the TV service is not asked inside.
  engine_.GetTunerCount(L"video/x-tv");
  Transaction transaction(L"AddProgramsForPass");
  try {
    // Read in place: a week of listings is large.
    AutoVariant channelsCopy;
    const VARIANT& channels =
        slots == 2 ? VUtil::ElementInPlace(listings, 1, &channelsCopy.get()) : channelsCopy.get();
    if (slots != 2 || !IsArray(channels)) {
      LogError(L"SeasonPassChecker::AddProgramsForPass: listings for %ls are not readable",
               pass.programName.c_str());
    } else {
      const long count = VUtil::GetArrayLength(channels);
      LogDebug(L"SeasonPassChecker::AddProgramsForPass: Num of channels: %d",
               static_cast<int32_t>(count));
      for (long c = 0; c < count; ++c) {
        AutoVariant channelCopy, programsCopy;
        const VARIANT& channel = VUtil::ElementInPlace(channels, c, &channelCopy.get());
        if (!IsArray(channel) || VUtil::GetArrayLength(channel) < 8) {
          LogError(L"SeasonPassChecker::AddProgramsForPass: channel %d is not readable",
                   static_cast<int32_t>(c));
          continue;
        }
        const std::wstring name = VUtil::GetStringElement(channel, 0);
        LogDebug(L"SeasonPassChecker::AddProgramsForPass: channel name: %d %ls %ls",
                 static_cast<int32_t>(c), name.c_str(), pass.channelName.c_str());
        if (pass.restricted && !SameNoCase(name, pass.channelName)) continue;
        const VARIANT& programs = VUtil::ElementInPlace(channel, 2, &programsCopy.get());
        if (!IsArray(programs)) continue;
        LogDebug(L"SeasonPassChecker::AddProgramsForChannel: Enter");
        LogDebug(L"SeasonPassChecker::AddProgramsForChannel: %ls", name.c_str());
        for (long p = 0; p < VUtil::GetArrayLength(programs); ++p) {
          AutoVariant programCopy;
          const VARIANT& program = VUtil::ElementInPlace(programs, p, &programCopy.get());
          EpisodeConflict one;
          int32_t result = 0;
          try {
            result = AddProgram(pass, channel, program, &one, flags, now, bumped);
          } catch (const VelException& e) {
            LogError(L"SeasonPassChecker::AddProgram: %ls", e.getMessage().c_str());
            continue;
          }
          if (result == kPassConflicts) kept.push_back(std::move(one));
        }
      }
    }
  } catch (const VelException& e) {
    LogError(L"SeasonPassChecker::AddProgramsForPass: %ls", e.getMessage().c_str());
  }
  CommitAndPublish(pass, bumped, transaction, flags, kept.empty());
  if (kept.empty()) return 0;
  const int32_t conflicted = static_cast<int32_t>(kept.size());
  if (report != nullptr) *report = std::move(kept);
  LogWarn(L"AddProgramsForPass: %d conflicts detected", conflicted);
  return kPassConflicts;
}

int32_t SeasonPassChecker::AddProgram(const PassRow& pass, const VARIANT& channel,
                                      const VARIANT& program, EpisodeConflict* report,
                                      const AdmissionFlags& flags, int64_t now,
                                      BumpedSet& bumped) {
  if (!IsArray(program) || VUtil::GetArrayLength(program) < 15) {
    throw VelException(L"a program element is not a 15-slot array");
  }
  EpisodeRow row;
  const bool isNew = (IntegerOrZero(program, 14) & 1) != 0;
  row.start = LocalWallClockToUtc(VUtil::GetDateElement(program, 5));
  row.duration = VUtil::GetLongElement(program, 4);
  row.name = VUtil::GetStringElement(program, 0);
  row.category = VUtil::GetStringElement(program, 6);
  row.description = VUtil::GetStringElement(program, 7);
  row.subtitle = VUtil::GetStringElement(program, 10);
  row.channelName = VUtil::GetStringElement(channel, 0);
  row.channelMimetype = VUtil::GetStringElement(channel, 3);
  row.channel = VUtil::GetStringElement(channel, 7);
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
  if (!AccordingToMode(pass.scheduleMode, pass.startDate, row.start, isNew)) return 0;
  if (flags.matched != nullptr) {
    AiringExists(L"ChannelName", row.channelName, row.start, L"SeasonPassChecker::AddProgram",
                 flags.matched);
    return 0;
  }
  if (ProgramExists(row.name, row.channelName, row.start)) return 0;

  ScheduleAnswer conflicts;
  const int32_t checked = engine_.CheckForScheduleConflicts(
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
    EngineMutex().AfterRelease([&engine, rest, owner, airing] {
      ScheduleAnswer added;
      engine.Add(rest, &added);
      if (added.kind == ScheduleAnswer::Kind::kMediumId) {
        const int32_t id = LocalIds::GetLocalIdFromTevMediumId(added.mediumId);
        if (id > 0) {
          Schedules::SetScheduleOwner(id, owner);
          // Taken from now: the row still stands for the airing.
          EpisodeMarks::SetAiring(id, airing);
        }
      }
    });
    return 0;
  }

  try {
    row.filePath = DVR::ConstructUniqueFileName(row.channelMimetype, row.channelName, row.name,
                                                row.start, 0);
  } catch (const VelException& e) {
    LogError(L"SeasonPassChecker::AddProgram: %ls", e.getMessage().c_str());
  }
  if (row.filePath.empty()) return kResultNoUniqueFileName;
  const int32_t id = row.Insert(L"SeasonPassChecker::AddProgram");
  if (id > 0) bumped[id] = kBumpedNewEpisode;
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
    PublishEpisodes(pass, bumped, whilePublishing);
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
  PublishEpisodes(pass, bumped, &meanwhile);
  RunPending(&meanwhile);  // when nothing was sent
}

void SeasonPassChecker::PublishEpisodes(const PassRow& pass, const BumpedSet& bumped,
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
      if (!asked && !pass.mediumId.empty() && LivePeers() != nullptr) {
        // The rows are committed first: the library is not waited for
        // inside the transaction.
        RunPending(meanwhile);
        std::wstring mimetype, path, mediaType;
        LivePeers()->GetMediumInfo(pass.user, pass.mediumId, &mimetype, &path, &thumbnailId, &rating,
                                &tags, &mediaType);
      }
      asked = true;
      row.m_thumbnailId = thumbnailId;
      row.m_rating = rating;
      row.m_tags = tags;
    }
  }
  PublishSchedules(rows, true, meanwhile, true);
}
