#include "engine/LibrarySync.h"

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "db/GroupSync.h"
#include "db/LocalIds.h"
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

LibrarySync::LibrarySync(PeerClient& peers, ThumbnailTable& thumbnails)
    : m_peers(peers), m_thumbnails(thumbnails) {}

void LibrarySync::AddMediumPrepare(const Schedule& schedule, MediumProperties* list,
                                   std::map<int32_t, std::wstring>* passMediumIds,
                                   bool justLoaded) {
  if (schedule.m_id == 0) LogError(L"AddMediumPrepare will not addmedium id 0");

  const bool hasThumbnail =
      (tev::StartsWith(schedule.m_channelMimetype, L"video") && m_thumbnails.Get(schedule.m_id)) ||
      !schedule.m_thumbnailId.empty();
  const bool hasRating = !schedule.m_rating.empty();
  const bool hasTags = !schedule.m_tags.empty();
  const bool hasPass = !schedule.m_owner.empty();
  const bool pending =
      IsOneOf(schedule.m_status, {L"DVRSTATE_SCHEDULED", L"DVRSTATE_CONFLICT", L"DVRSTATE_SKIP"});

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

  const bool endpoint = Peers() != nullptr;
  // One read of the row's medium id serves the log line and the record.
  const std::wstring mediumId = justLoaded ? schedule.m_tevMediumId : GetMediumId(schedule.m_id);
  LogDebug(L"AddMedium %ls", (endpoint ? mediumId : std::wstring()).c_str());

  std::wstring mediaType = Schedule::MediaTypeForMimetype(schedule.m_channelMimetype);
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
  list->Add(L"duration", SecondsToWireMs(schedule.m_duration >= 0 ? schedule.m_duration : 0));
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
    if (thumbnailId.empty() && endpoint)
      thumbnailId = tev::WFormat(L"%c%c%d", L'R', L'T', schedule.m_id);
    list->Add(L"thumbnailId", thumbnailId);
  }
  if (!pending) list->Add(L"creationDate", FormatTime2(schedule.m_startTime));
  if (hasRating) list->Add(L"rating", schedule.m_rating);
  if (hasTags) list->Add(L"tags", schedule.m_tags);
  if (!failure.empty()) list->Add(L"failureReason", failure);
  if (pending && hasPass) list->Add(L"conflictReason", conflict);
}

void LibrarySync::AddMedium(const Schedule& schedule, bool flag) {
  // Not while the engine lock (or a transaction) is held: the library's
  // answer would hold up the timer and every service, and a library that
  // calls back would wait for this thread.
  if (PMutex::CallingThreadHoldsNoWaitLock()) {
    PMutex::AfterNoWaitLocksReleased([this, schedule, flag] { AddMedium(schedule, flag); });
    return;
  }
  try {
    PeerClient* vel = Peers();
    if (vel == nullptr) throw VelException(L"no bus endpoint");
    MediumProperties list;
    AddMediumPrepare(schedule, &list);
    std::wstring mediumId;
    const long result = vel->AddMedium(list, flag, &mediumId);
    AssignTevMediumId(schedule.m_id, mediumId);
    if (result != 0) LogError(L"AddMedium vel request error: %x", static_cast<unsigned>(result));
  } catch (const VelException& e) {
    LogError(L"Schedule::AddMedium: %ls", e.getMessage().c_str());
  }
}

void LibrarySync::AddMedia(const std::vector<MediumProperties>& lists, bool flag,
                           std::function<void()>* meanwhile) {
  std::vector<MediumProperties> copy = lists;
  AddMediaTaking(&copy, flag, meanwhile);
}

void LibrarySync::AddMediaTaking(std::vector<MediumProperties>* taken, bool flag,
                                 std::function<void()>* meanwhile) {
  if (meanwhile == nullptr && PMutex::CallingThreadHoldsNoWaitLock()) {
    // As AddMedium: sent once the lock is released. The lists move over.
    auto kept = std::make_shared<std::vector<MediumProperties>>(std::move(*taken));
    taken->clear();
    PMutex::AfterNoWaitLocksReleased(
        [this, kept, flag] { AddMediaTaking(kept.get(), flag, nullptr); });
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
    PeerClient* vel = Peers();
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
      for (long i = 0; i < n; ++i) AssignTevMediumId(paths[i], ids[i]);
      group.Commit();
    }
    if (result != 0) LogError(L"AddMedia vel request error: %x", static_cast<unsigned>(result));
  } catch (const VelException& e) {
    LogError(L"Schedule::AddMedia: %ls", e.getMessage().c_str());
  }
}

void LibrarySync::PublishSchedules(const std::vector<Schedule>& rows, bool flag,
                                   std::function<void()>* meanwhile, bool justLoaded) {
  std::vector<MediumProperties> lists;
  lists.reserve(rows.size());
  std::map<int32_t, std::wstring> passMediumIds;  // the batch's passes, each read once
  for (const Schedule& row : rows) {
    MediumProperties list;
    try {
      AddMediumPrepare(row, &list, &passMediumIds, justLoaded);
    } catch (const VelException& e) {
      LogError(L"PublishSchedules: %ls", e.getMessage().c_str());
      continue;
    }
    lists.push_back(std::move(list));
  }
  if (lists.empty()) {
    RunPending(meanwhile);
    return;
  }
  AddMediaTaking(&lists, flag, meanwhile);
}

void LibrarySync::PublishBumped(const BumpedSet& bumped) {
  PublishSchedules(LoadBumped(bumped, L"PublishBumped"), true, nullptr, true);
}

bool LibrarySync::ChangeMediumIds() {
  SQLite rows;
  if (!rows.RunQuery("SELECT * FROM Schedules", L"ChangeMediumIds")) {
    LogError(L"Schedules::ChangeMediumIds: SQL error for %ls", rows.FailedStatement().c_str());
    return false;
  }
  try {
    for (int32_t i = 0; i < rows.GetRowCount(); ++i) {
      const int32_t id = rows.GetInt("ID");
      const std::wstring status = rows.GetString("Status");
      const std::wstring mimetype = rows.GetString("ChannelMimetype");
      const std::wstring thumbnailFile = rows.GetString("FilePath") + L".jpg";
      rows.Next();

      PeerClient* vel = Peers();
      if (vel == nullptr) throw VelException(L"no bus endpoint");
      const std::wstring oldKey = LocalIds::ScheduleKey(id);

      if ((status == DVRSTATE_COMPLETE || status == DVRSTATE_COMPLETE_PARTIAL) &&
          mimetype.compare(0, 5, L"video") == 0) {
        const long result = vel->SetThumbnailUrl(oldKey, thumbnailFile);
        // A thumbnail the library cannot take is not worth stopping the
        // migration for; the identifier change below still runs.
        if (result != 0) {
          LogError(L"SetThumbnailUrl vel request error: %x", static_cast<unsigned>(result));
        }
      }

      std::wstring newId;
      const long result = vel->ChangeMediaId(oldKey, &newId);
      if (result != 0) {
        throw VelException(
            tev::WFormat(L"ChangeMediaId vel request error: %x", static_cast<unsigned>(result)));
      }
      AssignTevMediumId(id, newId);
    }
  } catch (const VelException& e) {
    LogError(L"Schedules::ChangeMediumIds: %ls", e.getMessage().c_str());
    return false;
  }
  return true;
}
