// Publishing schedules to the media library ("TevMediaV2"): the medium
// property list of a schedule and the "AddMedium"/"AddMedia" requests that
// send it, storing the identifiers the library assigns.
//
// Runs on the caller's thread with no lock beyond the database's.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bus/CVelAtl.h"
#include "db/GroupSync.h"
#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/TextNumbers.h"
#include "db/TimeUtils.h"
#include "db/Transaction.h"
#include "db/WFormat.h"
#include "engine/MediaBatch.h"
#include "engine/FailureReasons.h"
#include "engine/Schedules.h"
#include "monitor/ThumbnailTable.h"
#include "passes/SeasonPasses.h"
#include "support/GlobalLocks.h"
#include "support/Log.h"
#include "support/Text.h"
#include "support/VUtil.h"

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

void Schedule::AddMediumPrepare(const Schedule& schedule, VARIANT* list,
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
  const long count = 17 + (schedule.m_width != 0 ? 3 : 0) + (schedule.m_size != 0 ? 1 : 0) +
                     hasPass + hasThumbnail + hasRating + hasTags + (pending ? 0 : 1) +
                     (failure.empty() ? 0 : 1);
  VUtil::CreateArray(list, VT_VARIANT, count);

  const bool endpoint = TheVel() != nullptr;
  // One read of the row's medium id serves the log line and the record.
  const std::wstring mediumId =
      justLoaded ? schedule.m_tevMediumId : Schedules::GetMediumId(schedule.m_id);
  LogDebug(L"AddMedium %ls", (endpoint ? mediumId : std::wstring()).c_str());

  std::wstring mediaType = Schedules::MediaTypeForMimetype(schedule.m_channelMimetype);
  if (Schedule::IsScheduleMediaState(schedule.m_status)) mediaType = L"schedule." + mediaType;
  const int64_t end = schedule.m_startTime + static_cast<int64_t>(schedule.m_duration);
  const std::wstring pvrState = Schedule::ExternalStateName(schedule.m_status);

  VUtil::PutPair(list, 0, L"tevMediumId", mediumId);
  VUtil::PutPair(list, 1, L"path", schedule.m_filePath);
  VUtil::PutPair(list, 2, L"mimeType", schedule.m_channelMimetype);
  VUtil::PutPair(list, 3, L"mediaType", mediaType);
  VUtil::PutPair(list, 4, L"title", schedule.m_name + L" " + FormatTime4(schedule.m_startTime));
  VUtil::PutPair(list, 5, L"channel", schedule.m_channelName);
  VUtil::PutPair(list, 6, L"subTitle", schedule.m_subtitle);
  VUtil::PutPair(list, 7, L"genre", schedule.m_category);
  VUtil::PutPair(list, 8, L"description", schedule.m_description);
  VUtil::PutPair(list, 9, L"startTime", FormatTime2(schedule.m_startTime));
  VUtil::PutPair(list, 10, L"endTime", FormatTime2(end > 0 ? end : schedule.m_endTime));
  VUtil::PutPair(list, 11, L"duration",
                 SecondsToWireMs(schedule.m_duration >= 0 ? schedule.m_duration : 0));
  VUtil::PutPair(list, 12, L"sourceSatellite", L"ZoVIZ");
  VUtil::PutPair(list, 13, L"keepUntil", Schedule::KeepUntilName(schedule.m_keepUntil));
  VUtil::PutPair(list, 14, L"channelId", schedule.m_channel);
  VUtil::PutPair(list, 15, L"updateCallback", L"UpdateMedium");
  VUtil::PutPair(list, 16, L"pvrState", pvrState);
  LogDebug(L"AddMedium PVR State %ls", pvrState.c_str());

  long slot = 17;
  if (schedule.m_width != 0) {
    VUtil::PutPair(list, slot++, L"width", static_cast<int32_t>(schedule.m_width));
    VUtil::PutPair(list, slot++, L"height", static_cast<int32_t>(schedule.m_height));
    VUtil::PutPair(list, slot++, L"bitrate", static_cast<int32_t>(schedule.m_bitrate));
  }
  if (schedule.m_size != 0) {
    VUtil::PutPair(list, slot++, L"size", tev::WFormat(L"%lld", static_cast<long long>(schedule.m_size)));
  }
  if (hasPass) {
    const int32_t pass = OwnerValue(schedule.m_owner);
    std::map<int32_t, std::wstring> single;
    std::map<int32_t, std::wstring>& known = passMediumIds != nullptr ? *passMediumIds : single;
    auto id = known.find(pass);
    if (id == known.end()) id = known.emplace(pass, SeasonPasses::GetMediumId(pass)).first;
    VUtil::PutPair(list, slot++, L"tevPassId", id->second);
  }
  if (hasThumbnail) {
    std::wstring thumbnailId = schedule.m_thumbnailId;
    if (thumbnailId.empty() && endpoint) thumbnailId = tev::WFormat(L"%c%c%d", L'R', L'T', schedule.m_id);
    VUtil::PutPair(list, slot++, L"thumbnailId", thumbnailId);
  }
  if (!pending) VUtil::PutPair(list, slot++, L"creationDate", FormatTime2(schedule.m_startTime));
  if (hasRating) VUtil::PutPair(list, slot++, L"rating", schedule.m_rating);
  if (hasTags) VUtil::PutPair(list, slot++, L"tags", schedule.m_tags);
  if (!failure.empty()) VUtil::PutPair(list, slot++, L"failureReason", failure);
}

void Schedule::AddMedium(const Schedule& schedule, bool flag) {
  // Not while the engine lock (or a transaction) is held: the library's
  // answer would hold up the timer and every service, and a library that
  // calls back would wait for this thread.
  if (EngineMutex().HeldByCallingThread()) {
    EngineMutex().AfterRelease([schedule, flag] { AddMedium(schedule, flag); });
    return;
  }
  try {
    CVelAtl* vel = TheVel();
    if (vel == nullptr) throw VelException(L"no bus endpoint");
    AutoVariant in, out, retcodes, list;
    Schedule::AddMediumPrepare(schedule, &list);
    VUtil::CreateArray(&in, VT_VARIANT, 4);
    VUtil::PutElement(&in, 0, L"PVR");
    VUtil::PutElement(&in, 1, list.get());
    VUtil::PutElement(&in, 3, flag);
    long result = vel->Request(L"any", L"AddMedium", in, &out, 0, &retcodes);
    Schedules::AssignTevMediumId(schedule.m_id, VUtil::GetStringElement(out, 0));
    if (result != 0) LogError(L"AddMedium vel request error: %x", static_cast<unsigned>(result));
  } catch (const VelException& e) {
    LogError(L"Schedule::AddMedium: %ls", e.getMessage().c_str());
  }
}

void Schedule::AddMedia(const VARIANT& lists, bool flag, std::function<void()>* meanwhile) {
  AutoVariant copy;
  VariantCopy(&copy.get(), &lists);  // a failed copy is empty: refused below, logged
  AddMediaTaking(&copy.get(), flag, meanwhile);
}

void Schedule::AddMediaTaking(VARIANT* taken, bool flag, std::function<void()>* meanwhile) {
  if (meanwhile == nullptr && EngineMutex().HeldByCallingThread()) {
    // As AddMedium: sent once the lock is released. The lists move over.
    auto kept = std::make_shared<AutoVariant>();
    kept->get() = *taken;
    taken->vt = VT_EMPTY;
    EngineMutex().AfterRelease([kept, flag] { AddMediaTaking(&kept->get(), flag, nullptr); });
    return;
  }
  const VARIANT& lists = *taken;
  try {
    const long n = VUtil::GetArrayLength(lists);
    if (n < 1) return;
    std::vector<std::wstring> paths(n);
    for (long i = 0; i < n; ++i) {
      AutoVariant copy;
      std::wstring name;
      VUtil::GetPair(VUtil::ElementInPlace(lists, i, &copy.get()), 1, &name, &paths[i]);
    }
    CVelAtl* vel = TheVel();
    if (vel == nullptr) throw VelException(L"no bus endpoint");
    AutoVariant in, out, retcodes, ids;
    VUtil::CreateArray(&in, VT_VARIANT, 4);
    VUtil::PutElement(&in, 0, L"PVR");
    VUtil::MoveElement(&in, 1, taken);
    VUtil::PutElement(&in, 3, flag);
    std::unique_ptr<VelSatellite::PostedRequest> sent = vel->Post(L"any", L"AddMedia", in);
    RunPending(meanwhile);
    long result = vel->Collect(std::move(sent), &out, &retcodes);
    VUtil::GetElement(out, 0, &ids);
    if (VUtil::GetArrayLength(ids.get()) == n) {
      // One commit for the batch's ids rather than one per row. They are
      // the library's, which start-up's sync gives again when lost: an
      // answer does not wait for the disk on their account.
      GroupSync::Rebuildable rebuildable;
      Transaction group(L"Schedule::AddMedia");
      for (long i = 0; i < n; ++i) {
        Schedules::AssignTevMediumId(paths[i], VUtil::GetStringElement(ids.get(), i));
      }
      group.Commit();
    }
    if (result != 0) LogError(L"AddMedia vel request error: %x", static_cast<unsigned>(result));
  } catch (const VelException& e) {
    LogError(L"Schedule::AddMedia: %ls", e.getMessage().c_str());
  }
}
