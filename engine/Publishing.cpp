// Publishing schedules to the media library ("TevMediaV2"): the medium
// property list of a schedule and the "AddMedium"/"AddMedia" requests that
// send it, storing the identifiers the library assigns.
//
// Runs on the caller's thread with no lock beyond the database's.
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "db/GroupSync.h"
#include "db/PassStore.h"
#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/TextNumbers.h"
#include "db/TimeUtils.h"
#include "db/Transaction.h"
#include "db/WFormat.h"
#include "dvr/ThumbnailTable.h"
#include "engine/FailureReasons.h"
#include "engine/MediaBatch.h"
#include "engine/Schedules.h"
#include "outbound/PeerClient.h"
#include "support/Log.h"
#include "support/PMutex.h"
#include "support/Text.h"
#include "support/VelException.h"

namespace {

bool IsOneOf(const std::wstring& status, std::initializer_list<const wchar_t*> names) {
  for (const wchar_t* name : names) {
    if (status == name) return true;
  }
  return false;
}

int32_t OwnerValue(const std::wstring& owner) { return tev::Wtoi(owner); }

}  // namespace

// One table for the whole module: the schedule record's.
std::wstring Schedules::MediaTypeForMimetype(const std::wstring& mimetype) {
  return Schedule::MediaTypeForMimetype(mimetype);
}

std::wstring Schedules::GetMediumId(int32_t scheduleId) {
  SQLite query;
  if (query.RunQuery("SELECT * from Schedules WHERE ID = ?", {scheduleId}, L"GetMediumId") &&
      query.GetRowCount() == 1) {
    return query.GetString("TevMediumId");
  }
  return std::wstring();
}

void Schedule::AddMediumPrepare(const Schedule& schedule, MediumProperties* list,
                                std::map<int32_t, std::wstring>* passMediumIds, bool justLoaded) {
  if (schedule.m_id == 0) LogError(L"AddMediumPrepare will not addmedium id 0");

  const bool hasThumbnail =
      (tev::StartsWith(schedule.m_channelMimetype, L"video") && GetThumbnailEntry(schedule.m_id)) ||
      !schedule.m_thumbnailId.empty();
  const bool hasRating = !schedule.m_rating.empty();
  const bool hasTags = !schedule.m_tags.empty();
  const bool hasPass = !schedule.m_owner.empty();
  const bool pending = IsOneOf(schedule.m_status,
                               {L"DVRSTATE_SCHEDULED", L"DVRSTATE_CONFLICT", L"DVRSTATE_SKIP"});

  // Why a failed recording failed, in words (read only for failed rows).
  const std::wstring failure = FailureReasons::IsFailedState(schedule.m_status)
                                   ? FailureReasons::Get(schedule.m_id)
                                   : std::wstring();
  // Why the tuner plan leaves a pending episode out; empty when it does not.
  const std::wstring conflict =
      pending && hasPass ? ConflictReasons::Get(schedule.m_id) : std::wstring();
  const size_t count = 17 + (schedule.m_width != 0 ? 3 : 0) + (schedule.m_size != 0 ? 1 : 0) +
                     hasPass + hasThumbnail + hasRating + hasTags + (pending ? 0 : 1) +
                     (failure.empty() ? 0 : 1) + (pending && hasPass ? 1 : 0);
  *list = MediumProperties();
  list->Reserve(count);

  const bool endpoint = LivePeers() != nullptr;
  // One read of the row's medium id serves the log line and the record.
  const std::wstring mediumId =
      justLoaded ? schedule.m_tevMediumId : Schedules::GetMediumId(schedule.m_id);
  LogDebug(L"AddMedium %ls", (endpoint ? mediumId : std::wstring()).c_str());

  std::wstring mediaType = Schedules::MediaTypeForMimetype(schedule.m_channelMimetype);
  if (Schedule::IsScheduleMediaState(schedule.m_status)) mediaType = L"schedule." + mediaType;
  const int64_t end = schedule.m_startTime + static_cast<int64_t>(schedule.m_duration);
  const std::wstring pvrState = Schedule::ExternalStateName(schedule.m_status);

  list->Add(L"tevMediumId", mediumId);
  list->Add(L"path", schedule.m_filePath);
  list->Add(L"mimeType", schedule.m_channelMimetype);
  list->Add(L"mediaType", mediaType);
  list->Add(L"title", schedule.m_name + L" " + FormatTime4(schedule.m_startTime));
  list->Add(L"channel", schedule.m_channelName);
  list->Add(L"subTitle", schedule.m_subtitle);
  list->Add(L"genre", schedule.m_category);
  list->Add(L"description", schedule.m_description);
  list->Add(L"startTime", FormatTime2(schedule.m_startTime));
  list->Add(L"endTime", FormatTime2(end > 0 ? end : schedule.m_endTime));
  list->Add(L"duration",
                 SecondsToWireMs(schedule.m_duration >= 0 ? schedule.m_duration : 0));
  list->Add(L"sourceSatellite", L"ZoVIZ");
  list->Add(L"keepUntil", Schedule::KeepUntilName(schedule.m_keepUntil));
  list->Add(L"channelId", schedule.m_channel);
  list->Add(L"updateCallback", L"UpdateMedium");
  list->Add(L"pvrState", pvrState);
  LogDebug(L"AddMedium PVR State %ls", pvrState.c_str());

  if (schedule.m_width != 0) {
    list->Add(L"width", static_cast<int32_t>(schedule.m_width));
    list->Add(L"height", static_cast<int32_t>(schedule.m_height));
    list->Add(L"bitrate", static_cast<int32_t>(schedule.m_bitrate));
  }
  if (schedule.m_size != 0) {
    list->Add(L"size", tev::WFormat(L"%lld", static_cast<long long>(schedule.m_size)));
  }
  if (hasPass) {
    const int32_t pass = OwnerValue(schedule.m_owner);
    std::map<int32_t, std::wstring> single;
    std::map<int32_t, std::wstring>& known = passMediumIds != nullptr ? *passMediumIds : single;
    auto id = known.find(pass);
    if (id == known.end()) id = known.emplace(pass, PassStore::MediumId(pass)).first;
    list->Add(L"tevPassId", id->second);
  }
  if (hasThumbnail) {
    std::wstring thumbnailId = schedule.m_thumbnailId;
    if (thumbnailId.empty() && endpoint) thumbnailId = tev::WFormat(L"%c%c%d", L'R', L'T', schedule.m_id);
    list->Add(L"thumbnailId", thumbnailId);
  }
  if (!pending) list->Add(L"creationDate", FormatTime2(schedule.m_startTime));
  if (hasRating) list->Add(L"rating", schedule.m_rating);
  if (hasTags) list->Add(L"tags", schedule.m_tags);
  if (!failure.empty()) list->Add(L"failureReason", failure);
  if (pending && hasPass) list->Add(L"conflictReason", conflict);
}

void Schedule::AddMedium(const Schedule& schedule, bool flag) {
  // Not while the engine lock (or a transaction) is held: the library's
  // answer would hold up the timer and every service, and a library that
  // calls back would wait for this thread.
  if (PMutex::CallingThreadHoldsNoWaitLock()) {
    PMutex::AfterNoWaitLocksReleased([schedule, flag] { AddMedium(schedule, flag); });
    return;
  }
  try {
    PeerClient* vel = LivePeers();
    if (vel == nullptr) throw VelException(L"no bus endpoint");
    MediumProperties list;
    Schedule::AddMediumPrepare(schedule, &list);
    std::wstring mediumId;
    const long result = vel->AddMedium(list, flag, &mediumId);
    Schedules::AssignTevMediumId(schedule.m_id, mediumId);
    if (result != 0) LogError(L"AddMedium vel request error: %x", static_cast<unsigned>(result));
  } catch (const VelException& e) {
    LogError(L"Schedule::AddMedium: %ls", e.getMessage().c_str());
  }
}

void Schedule::AddMedia(const std::vector<MediumProperties>& lists, bool flag,
                        std::function<void()>* meanwhile) {
  std::vector<MediumProperties> copy = lists;
  AddMediaTaking(&copy, flag, meanwhile);
}

void Schedule::AddMediaTaking(std::vector<MediumProperties>* taken, bool flag,
                              std::function<void()>* meanwhile) {
  if (meanwhile == nullptr && PMutex::CallingThreadHoldsNoWaitLock()) {
    // As AddMedium: sent once the lock is released. The lists move over.
    auto kept = std::make_shared<std::vector<MediumProperties>>(std::move(*taken));
    taken->clear();
    PMutex::AfterNoWaitLocksReleased([kept, flag] { AddMediaTaking(kept.get(), flag, nullptr); });
    return;
  }
  std::vector<MediumProperties> lists = std::move(*taken);
  taken->clear();
  try {
    const long n = static_cast<long>(lists.size());
    if (n < 1) return;
    std::vector<std::wstring> paths(n);
    for (long i = 0; i < n; ++i) {
      // The second property of a schedule's list is its "path".
      if (lists[i].Size() < 2 || lists[i][1].isNumber) {
        throw VelException(L"AddMedia: a property list has no path");
      }
      paths[i] = lists[i][1].text;
    }
    PeerClient* vel = LivePeers();
    if (vel == nullptr) throw VelException(L"no bus endpoint");
    std::unique_ptr<PeerClient::Pending> sent = vel->PostAddMedia(lists, flag);
    lists.clear();
    RunPending(meanwhile);
    std::vector<std::wstring> ids;
    const long result = vel->CollectAddMedia(std::move(sent), n, &ids);
    if (!ids.empty()) {
      // One commit for the batch's ids rather than one per row. They are
      // the library's, which start-up's sync gives again when lost: an
      // answer does not wait for the disk on their account.
      GroupSync::Rebuildable rebuildable;
      Transaction group(L"Schedule::AddMedia");
      for (long i = 0; i < n; ++i) Schedules::AssignTevMediumId(paths[i], ids[i]);
      group.Commit();
    }
    if (result != 0) LogError(L"AddMedia vel request error: %x", static_cast<unsigned>(result));
  } catch (const VelException& e) {
    LogError(L"Schedule::AddMedia: %ls", e.getMessage().c_str());
  }
}
