#include "passes/SeasonPasses.h"

#include <vector>

#include "db/LocalIds.h"
#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/TimeUtils.h"
#include "db/WFormat.h"
#include "outbound/PeerClient.h"
#include "passes/SeasonPassChecker.h"
#include "support/Log.h"
#include "support/PMutexLock.h"
#include "support/VUtil.h"
#include "support/VelException.h"

namespace {

struct ModeName {
  int32_t number;
  const wchar_t* name;
};

const ModeName kModeNames[] = {
    {SeasonPasses::ALL_EPISODES, L"ALL_EPISODES"},
    {SeasonPasses::ONLY_NEW_EPISODES, L"ONLY_NEW_EPISODES"},
    {SeasonPasses::DAILY_AT_SAME_TIME, L"DAILY_AT_SAME_TIME"},
    {SeasonPasses::WEEKLY_AT_SAME_TIME, L"WEEKLY_AT_SAME_TIME"},
    {SeasonPasses::WEEKDAYS_AT_SAME_TIME, L"WEEKDAYS_AT_SAME_TIME"},
    {SeasonPasses::WEEKENDS_AT_SAME_TIME, L"WEEKENDS_AT_SAME_TIME"},
};

bool StartsWith(const std::wstring& text, const wchar_t* prefix) {
  return text.compare(0, std::char_traits<wchar_t>::length(prefix), prefix) == 0;
}

// The live endpoint; a VelException when there is none, so that callers
// handle "no bus" like any other bus exception.
PeerClient* Endpoint() {
  PeerClient* vel = LivePeers();
  if (vel == nullptr) throw VelException(L"no bus endpoint");
  return vel;
}

std::vector<std::wstring> SplitAtSpaces(const std::wstring& text) {
  std::vector<std::wstring> words;
  size_t begin = 0;
  for (;;) {
    size_t space = text.find(L' ', begin);
    words.push_back(text.substr(begin, space == std::wstring::npos ? std::wstring::npos : space - begin));
    if (space == std::wstring::npos) break;
    begin = space + 1;
  }
  return words;
}

// A one-element text array holding `text`.
void OneTextArray(VARIANT* out, const std::wstring& text) {
  VUtil::CreateArray(out, VT_BSTR, 1);
  VUtil::PutElement(out, 0, text);
}

}  // namespace

std::wstring SeasonPasses::ScheduleModeName(int32_t mode) {
  for (const ModeName& entry : kModeNames) {
    if (entry.number == mode) return entry.name;
  }
  return L"ALL_EPISODES";
}

int32_t SeasonPasses::ScheduleModeNumber(const std::wstring& name) {
  for (const ModeName& entry : kModeNames) {
    if (name == entry.name) return entry.number;
  }
  return ALL_EPISODES;
}

std::wstring SeasonPasses::PassMediaType(const std::wstring& mimetype) {
  if (StartsWith(mimetype, L"video/x-web")) return L"schedulePass.tv.web";
  if (StartsWith(mimetype, L"audio/x-web")) return L"schedulePass.audio.file.recorded.web";
  if (StartsWith(mimetype, L"video/x-inputdevice")) return L"schedulePass.tv.webcam";
  if (StartsWith(mimetype, L"video/x-videomail")) return L"schedulePass.video";
  if (StartsWith(mimetype, L"audio/x-videomail")) return L"schedulePass.audio";
  if (StartsWith(mimetype, L"audio")) return L"schedulePass.audio";
  if (StartsWith(mimetype, L"video")) return L"schedulePass.tv.channel";
  return std::wstring();
}

std::wstring SeasonPasses::GetMediumId(int32_t passId) {
  SQLite query;
  if (!query.RunQuery(tev::WFormat(L"SELECT * from SeasonPasses WHERE %ls = %d", L"ID", passId),
                      L"GetMediumId") ||
      query.GetRowCount() != 1) {
    return std::wstring();
  }
  return query.GetString("TevMediumId");
}

int32_t SeasonPasses::GetPriority(int32_t passId) {
  SQLite query;
  if (!query.RunQuery(tev::WFormat(L"SELECT * from SeasonPasses WHERE %ls = %d", L"ID", passId),
                      L"GetPriority") ||
      query.GetRowCount() != 1) {
    return 0;
  }
  return query.GetInt("Priority");
}

void SeasonPasses::AssignTevMediumId(int32_t passId, const std::wstring& mediumId) {
  std::wstring statement = tev::WFormat(L"UPDATE SeasonPasses SET %ls = '%ls' WHERE %ls = %d",
                                        L"TevMediumId", SQLite::Escape(mediumId).c_str(), L"ID",
                                        passId);
  SQLite query;
  if (!query.RunQuery(statement, L"UpdateMedium")) {
    LogError(L"SeasonPasses::AssignTevMediumId: SQL error for %ls", statement.c_str());
  }
}

void SeasonPasses::AddPassToTevMedia(int32_t passId, const std::wstring& thumbnailId,
                                     const std::wstring& rating, const std::wstring& tags) {
  StorePassMediumId(passId, PostPassToTevMedia(passId, thumbnailId, rating, tags));
}

std::unique_ptr<PeerClient::Pending> SeasonPasses::PostPassToTevMedia(
    int32_t passId, const std::wstring& thumbnailId, const std::wstring& rating,
    const std::wstring& tags) {
  SQLite pass;
  if (!pass.RunQuery(tev::WFormat(L"SELECT * from SeasonPasses WHERE %ls = %d", L"ID", passId),
                     L"AddPassToTevMedia") ||
      pass.GetRowCount() != 1) {
    LogError(L"AddPassToTevMedia: pass %d is not in db", passId);
    return nullptr;
  }
  try {
    const std::vector<std::wstring> tagWords =
        tags.empty() ? std::vector<std::wstring>() : SplitAtSpaces(tags);
    const long count = 16 + (thumbnailId.empty() ? 0 : 1) + (rating.empty() ? 0 : 1) +
                       static_cast<long>(tagWords.size());
    const std::wstring path = LivePeers() != nullptr ? LocalIds::PassKey(passId) : std::wstring();

    AutoVariant list;
    VUtil::CreateArray(&list, VT_VARIANT, count);
    // GetMediumId(passId) runs the statement that read `pass` a moment ago.
    VUtil::PutPair(&list, 0, L"tevMediumId", pass.GetString("TevMediumId"));
    VUtil::PutPair(&list, 1, L"mediaType", PassMediaType(pass.GetString("ChannelMimetype")));
    VUtil::PutPair(&list, 2, L"channel", pass.GetString("ChannelName"));
    VUtil::PutPair(&list, 3, L"channelId", pass.GetString("ChannelMedium"));
    VUtil::PutPair(&list, 4, L"scheduleMode", ScheduleModeName(pass.GetInt("ScheduleMode")));
    VUtil::PutPair(&list, 5, L"restrictOneChannel", pass.GetInt("RestrictToOneChannel"));
    VUtil::PutPair(&list, 6, L"keepUntil", Schedule::KeepUntilName(pass.GetInt("KeepUntil")));
    VUtil::PutPair(&list, 7, L"startTime", FormatTime2(pass.GetTime("StartDate")));
    VUtil::PutPair(&list, 8, L"duration", SecondsToWireMs(pass.GetInt("Duration")));
    VUtil::PutPair(&list, 9, L"title", pass.GetString("ProgramName"));
    VUtil::PutPair(&list, 10, L"genre", pass.GetString("Category"));
    VUtil::PutPair(&list, 11, L"path", path);
    VUtil::PutPair(&list, 12, L"sourceSatellite", std::wstring(L"ZoVIZ"));
    VUtil::PutPair(&list, 13, L"updateCallback", std::wstring(L"UpdateMedium"));
    VUtil::PutPair(&list, 14, L"searchTVGuide", pass.GetInt("GuideType"));
    VUtil::PutPair(&list, 15, L"priority", pass.GetInt("Priority"));
    long slot = 16;
    if (!thumbnailId.empty()) VUtil::PutPair(&list, slot++, L"thumbnailId", thumbnailId);
    if (!rating.empty()) VUtil::PutPair(&list, slot++, L"rating", rating);
    for (const std::wstring& word : tagWords) VUtil::PutPair(&list, slot++, L"tags", word);

    AutoVariant in;
    VUtil::CreateArray(&in, VT_VARIANT, 4);
    VUtil::PutElement(&in, 0, L"PVR");
    VUtil::MoveElement(&in, 1, &list.get());
    VUtil::PutElement(&in, 3, true);
    return Endpoint()->Post(L"any", L"AddMedium", in);
  } catch (const VelException& e) {
    LogError(L"Schedule::AddMedium: %ls", e.getMessage().c_str());
    return nullptr;
  }
}

void SeasonPasses::StorePassMediumId(int32_t passId,
                                     std::unique_ptr<PeerClient::Pending> posted) {
  if (!posted) return;  // not sent; logged
  try {
    AutoVariant out, retcodes;
    long result = Endpoint()->Collect(std::move(posted), &out, &retcodes);
    if (result != 0) {
      LogError(L"AddMedium vel request error: %x", static_cast<unsigned>(result));
      return;
    }
    VUtil::CheckSingleRetcode(retcodes, L"AddMedium");
    const std::wstring mediumId = VUtil::GetSingleOutParamString(out);
    AssignTevMediumId(passId, mediumId);
    LogDebug(L"AddPassToTevMedia, tevMediumId %ls", mediumId.c_str());
  } catch (const VelException& e) {
    LogError(L"Schedule::AddMedium: %ls", e.getMessage().c_str());
  }
}

void SeasonPasses::UpdateSchedulesFromPass(int32_t passId, const std::wstring& property,
                                           const std::wstring& value) {
  const std::wstring unrun = tev::WFormat(
      L"%ls = '%d' AND Status != '%ls' AND Status != '%ls'AND Status != '%ls'", L"Owner", passId,
      DVRSTATE_COMPLETE, DVRSTATE_COMPLETE_PARTIAL, DVRSTATE_RECORDING);
  std::wstring assignment;
  if (property == L"keepUntil") {
    assignment = tev::WFormat(L"%ls = %d", L"KeepUntil", Schedule::KeepUntilCodeFromName(value));
  } else if (property == L"genre") {
    assignment = tev::WFormat(L"%ls = '%ls'", L"Category", SQLite::Escape(value).c_str());
  }
  if (!assignment.empty()) {
    // A value the episodes keep as a column: the rows are what the timer and
    // the disk-space manager read, so they change, and the library gets them
    // as they now are. Serialised with the searches, which replace rows.
    PMutexLock hold(PassWorkMutex());
    SQLite update;
    if (!update.RunQuery(L"UPDATE Schedules SET " + assignment + L" WHERE " + unrun,
                         L"UpdateSchedulesFromPass")) {
      return;
    }
    RepublishEpisodes(passId);
    return;
  }
  SQLite query;
  if (!query.RunQuery(L"SELECT * FROM Schedules WHERE " + unrun, L"UpdateSchedulesFromPass")) {
    return;
  }
  std::vector<std::wstring> mediumIds;
  for (int32_t i = 0; i < query.GetRowCount(); ++i) {
    mediumIds.push_back(query.GetString("TevMediumId"));
    query.Next();
  }
  try {
    Endpoint()->SetMediaAttribute(mediumIds, property, value);
  } catch (const VelException& e) {
    LogError(L"Schedule::UpdateSchedulesFromPass: %ls", e.getMessage().c_str());
  }
}

void SeasonPasses::RepublishEpisodes(int32_t passId) {
  SQLite pass;
  if (!pass.RunQuery(tev::WFormat(L"SELECT * FROM SeasonPasses WHERE %ls = %d", L"ID", passId),
                     L"UpdateSchedulesFromPass") ||
      pass.GetRowCount() != 1) {
    return;
  }
  // Deleted episodes are gone from the library and stay so.
  SQLite episodes;
  if (!episodes.RunQuery(
          tev::WFormat(L"SELECT ID FROM Schedules WHERE %ls = '%d' AND (%ls = '%ls' OR %ls = '%ls' "
                       L"OR %ls = '%ls')",
                       L"Owner", passId, L"Status", DVRSTATE_SCHEDULED, L"Status",
                       DVRSTATE_CONFLICT, L"Status", DVRSTATE_SKIP),
          L"UpdateSchedulesFromPass")) {
    return;
  }
  BumpedSet pending;
  for (int32_t i = 0; i < episodes.GetRowCount(); ++i) {
    pending[episodes.GetInt("ID")] = kBumpedNewEpisode;  // published as a new episode is
    episodes.Next();
  }
  SeasonPassChecker::PublishEpisodes(PassRow::FromQuery(pass), pending);
}

void SeasonPasses::UpgradeThumbnails() {
  LogInfo(L"SeasonPasses::UpgradeThumbnails: starting");
  try {
    AutoVariant in, out, retcodes, names;
    OneTextArray(&names, L"thumbnailId");
    VUtil::CreateArray(&in, VT_VARIANT, 4);
    VUtil::PutElement(&in, 0, L"PVR");
    VUtil::PutElement(&in, 3, names.get());
    PeerClient* vel = Endpoint();
    long result = vel->Request(L"any", L"GetMediaFromSource", in, &out, &retcodes);
    if (result != 0) {
      throw VelException(
          tev::WFormat(L"GetMediaFromSource vel request: %x", static_cast<unsigned>(result)));
    }
    VUtil::CheckSingleRetcode(retcodes, L"GetMediaFromSource");
    AutoVariant media;
    VUtil::GetElement(out.get(), 0, &media);
    const long count = (media.get().vt & VT_ARRAY) ? VUtil::GetArrayLength(media.get()) : 0;
    for (long i = 0; i < count; ++i) {
      AutoVariant medium;
      VUtil::GetElement(media.get(), i, &medium);
      if (!(medium.get().vt & VT_ARRAY) || VUtil::GetArrayLength(medium.get()) < 4) continue;
      const std::wstring thumbnailId = VUtil::GetStringElement(medium.get(), 3);
      // "RT" (or another two-character prefix) followed by the schedule ID.
      if (thumbnailId.size() <= 2) continue;
      const std::wstring path = Schedule::GetPathFromId(thumbnailId.substr(2));
      if (path.empty()) continue;
      AutoVariant urlIn, urlOut, urlRetcodes;
      VUtil::CreateArray(&urlIn, VT_VARIANT, 3);
      VUtil::PutElement(&urlIn, 0, thumbnailId);
      VUtil::PutElement(&urlIn, 1, path + L".jpg");
      VUtil::PutElement(&urlIn, 2, false);
      long urlResult = vel->Request(L"any", L"SetThumbnailUrl", urlIn, &urlOut, &urlRetcodes);
      if (urlResult != 0) {
        LogError(L"SetThumbnailUrl vel request error: %x", static_cast<unsigned>(urlResult));
      }
    }
    LogInfo(L"SeasonPasses::UpgradeThumbnails: done");
  } catch (const VelException& e) {
    LogError(L"SeasonPasses::UpgradeThumbnails: %ls", e.getMessage().c_str());
  }
}

bool SeasonPasses::ChangeMediumIds() {
  UpgradeThumbnails();
  const std::wstring statement = L"SELECT * FROM SeasonPasses";
  SQLite passes;
  if (!passes.RunQuery(statement, L"ChangeMediumIds")) {
    LogError(L"SeasonPasses::ChangeMediumIds: SQL error for %ls", statement.c_str());
    return false;
  }
  try {
    for (int32_t i = 0; i < passes.GetRowCount(); ++i) {
      const int32_t passId = passes.GetInt("ID");
      passes.Next();
      const std::wstring key =
          LivePeers() != nullptr ? LocalIds::GetPassMediumId(passId) : std::wstring();
      AutoVariant in, out, retcodes, keys;
      OneTextArray(&keys, key);
      VUtil::CreateArray(&in, VT_VARIANT, 1);
      VUtil::PutElement(&in, 0, keys.get());
      long result = Endpoint()->Request(L"any", L"ChangeMediaId", in, &out, &retcodes);
      if (result != 0) {
        throw VelException(
            tev::WFormat(L"ChangeMediaId vel request error: %x", static_cast<unsigned>(result)));
      }
      VUtil::CheckSingleRetcode(retcodes, L"ChangeMediaId");
      AutoVariant newIds;
      VUtil::GetElement(out.get(), 0, &newIds);
      const std::wstring mediumId = VUtil::GetStringElement(newIds.get(), 0);
      AssignTevMediumId(passId, mediumId);
      UpdateSchedulesFromPass(passId, L"tevPassId", mediumId);
    }
  } catch (const VelException& e) {
    LogError(L"SeasonPasses::ChangeMediumIds: %ls", e.getMessage().c_str());
    return false;
  }
  return true;
}

void SeasonPasses::ApplyPassLength(int32_t passId) {
  SQLite pass;
  if (!pass.RunQuery(tev::WFormat(L"SELECT %ls, %ls FROM SeasonPasses WHERE %ls = %d", L"Duration",
                                  L"GuideType", L"ID", passId),
                     L"ApplyPassLength") ||
      pass.GetRowCount() != 1 || pass.GetInt("GuideType") == 1) {
    return;
  }
  const int32_t duration = pass.GetInt("Duration");
  if (duration <= 0) return;
  SQLite episodes;
  if (!episodes.RunQuery(
          tev::WFormat(L"SELECT ID, StartTime FROM Schedules WHERE %ls = '%d' AND %ls != %d AND "
                       L"(%ls = '%ls' OR %ls = '%ls' OR %ls = '%ls')",
                       L"Owner", passId, L"Duration", duration, L"Status", DVRSTATE_SCHEDULED,
                       L"Status", DVRSTATE_CONFLICT, L"Status", DVRSTATE_SKIP),
          L"ApplyPassLength")) {
    return;
  }
  for (int32_t i = 0; i < episodes.GetRowCount(); ++i, episodes.Next()) {
    try {
      SQLite update;
      update.RunQuery(
          tev::WFormat(L"UPDATE Schedules SET %ls = %d, %ls = %ls WHERE %ls = %d", L"Duration",
                       duration, L"EndTime",
                       FormatTime3(episodes.GetTime("StartTime") + duration).c_str(), L"ID",
                       episodes.GetInt("ID")),
          L"ApplyPassLength");
    } catch (const VelException& e) {  // a time outside the writable range
      LogError(L"SeasonPasses::ApplyPassLength: %ls", e.getMessage().c_str());
    }
  }
}
