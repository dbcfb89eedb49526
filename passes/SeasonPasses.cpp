#include "passes/SeasonPasses.h"

#include <vector>

#include "db/LocalIds.h"
#include "db/PassStore.h"
#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/TimeUtils.h"
#include "db/WFormat.h"
#include "engine/LibrarySync.h"
#include "engine/Schedules.h"
#include "outbound/PeerClient.h"
#include "passes/PassJobs.h"
#include "passes/SeasonPassChecker.h"
#include "support/Log.h"
#include "support/PMutexLock.h"
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

}  // namespace

PeerClient* SeasonPasses::Endpoint() const {
  PeerClient* vel = engine_.Peers();
  if (vel == nullptr) throw VelException(L"no bus endpoint");
  return vel;
}

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

void SeasonPasses::RepublishPass(int32_t passId) {
  AddPassToTevMedia(passId, L"", L"", L"");
}

void SeasonPasses::AddPassToTevMedia(int32_t passId, const std::wstring& thumbnailId,
                                     const std::wstring& rating, const std::wstring& tags) {
  StorePassMediumId(passId, PostPassToTevMedia(passId, thumbnailId, rating, tags));
}

std::unique_ptr<PeerClient::Pending> SeasonPasses::PostPassToTevMedia(
    int32_t passId, const std::wstring& thumbnailId, const std::wstring& rating,
    const std::wstring& tags) {
  SQLite pass;
  if (!PassStore::Read(pass, passId, L"AddPassToTevMedia")) {
    LogError(L"AddPassToTevMedia: pass %d is not in db", passId);
    return nullptr;
  }
  try {
    const std::vector<std::wstring> tagWords =
        tags.empty() ? std::vector<std::wstring>() : SplitAtSpaces(tags);
    const size_t count = 16 + (thumbnailId.empty() ? 0 : 1) + (rating.empty() ? 0 : 1) +
                         tagWords.size();
    const std::wstring path =
        engine_.Peers() != nullptr ? LocalIds::PassKey(passId) : std::wstring();

    MediumProperties list;
    list.Reserve(count);
    // PassStore::MediumId(passId) runs the statement that read `pass` a moment ago.
    list.Add(L"tevMediumId", pass.GetString("TevMediumId"));
    list.Add(L"mediaType", PassMediaType(pass.GetString("ChannelMimetype")));
    list.Add(L"channel", pass.GetString("ChannelName"));
    list.Add(L"channelId", pass.GetString("ChannelMedium"));
    list.Add(L"scheduleMode", ScheduleModeName(pass.GetInt("ScheduleMode")));
    list.Add(L"restrictOneChannel", pass.GetInt("RestrictToOneChannel"));
    list.Add(L"keepUntil", Schedule::KeepUntilName(pass.GetInt("KeepUntil")));
    list.Add(L"startTime", FormatTime2(pass.GetTime("StartDate")));
    list.Add(L"duration", SecondsToWireMs(pass.GetInt("Duration")));
    list.Add(L"title", pass.GetString("ProgramName"));
    list.Add(L"genre", pass.GetString("Category"));
    list.Add(L"path", path);
    list.Add(L"sourceSatellite", std::wstring(L"ZoVIZ"));
    list.Add(L"updateCallback", std::wstring(L"UpdateMedium"));
    list.Add(L"searchTVGuide", pass.GetInt("GuideType"));
    list.Add(L"priority", pass.GetInt("Priority"));
    if (!thumbnailId.empty()) list.Add(L"thumbnailId", thumbnailId);
    if (!rating.empty()) list.Add(L"rating", rating);
    for (const std::wstring& word : tagWords) list.Add(L"tags", word);

    return Endpoint()->PostAddMedium(list, true);
  } catch (const VelException& e) {
    LogError(L"Schedule::AddMedium: %ls", e.getMessage().c_str());
    return nullptr;
  }
}

void SeasonPasses::StorePassMediumId(int32_t passId,
                                     std::unique_ptr<PeerClient::Pending> posted) {
  if (!posted) return;  // not sent; logged
  try {
    std::wstring mediumId;
    const long result = Endpoint()->CollectAddMedium(std::move(posted), &mediumId);
    if (result != 0) {
      LogError(L"AddMedium vel request error: %x", static_cast<unsigned>(result));
      return;
    }
    PassStore::AssignMediumId(passId, mediumId);
    LogDebug(L"AddPassToTevMedia, tevMediumId %ls", mediumId.c_str());
  } catch (const VelException& e) {
    LogError(L"Schedule::AddMedium: %ls", e.getMessage().c_str());
  }
}

namespace {

const char kUnrun[] = "Owner = ? AND Status != ? AND Status != ?AND Status != ?";

std::vector<SqlValue> UnrunValues(int32_t passId) {
  return {std::to_wstring(passId), DVRSTATE_COMPLETE, DVRSTATE_COMPLETE_PARTIAL,
          DVRSTATE_RECORDING};
}

}  // namespace

void SeasonPasses::UpdateSchedulesFromPass(PassWork& work, PeerClient& peers, LibrarySync& library,
                                           int32_t passId, const std::wstring& property,
                                           const std::wstring& value) {
  std::vector<SqlValue> unrun = UnrunValues(passId);
  const char* assignment = nullptr;
  if (property == L"keepUntil") {
    assignment = "KeepUntil = ?";
    unrun.insert(unrun.begin(), Schedule::KeepUntilCodeFromName(value));
  } else if (property == L"genre") {
    assignment = "Category = ?";
    unrun.insert(unrun.begin(), value);
  }
  if (assignment != nullptr) {
    // A value the episodes keep as a column: the rows are what the timer and
    // the disk-space manager read, so they change, and the library gets them
    // as they now are. Serialised with the searches, which replace rows.
    PMutexLock hold(work.Mutex());
    SQLite update;
    if (!update.RunQuery(std::string("UPDATE Schedules SET ") + assignment + " WHERE " + kUnrun,
                         unrun, L"UpdateSchedulesFromPass")) {
      return;
    }
    RepublishEpisodes(peers, library, passId);
    return;
  }
  SetEpisodesAttribute(library, passId, property, value);
}

void SeasonPasses::SetEpisodesAttribute(LibrarySync& library, int32_t passId,
                                        const std::wstring& property, const std::wstring& value) {
  SQLite query;
  if (!query.RunQuery(std::string("SELECT * FROM Schedules WHERE ") + kUnrun, UnrunValues(passId),
                      L"UpdateSchedulesFromPass")) {
    return;
  }
  std::vector<std::wstring> mediumIds;
  for (int32_t i = 0; i < query.GetRowCount(); ++i) {
    mediumIds.push_back(query.GetString("TevMediumId"));
    query.Next();
  }
  try {
    PeerClient* vel = library.Peers();
    if (vel == nullptr) throw VelException(L"no bus endpoint");
    vel->SetMediaAttribute(mediumIds, property, value);
  } catch (const VelException& e) {
    LogError(L"Schedule::UpdateSchedulesFromPass: %ls", e.getMessage().c_str());
  }
}

void SeasonPasses::RepublishEpisodes(PeerClient& peers, LibrarySync& library, int32_t passId) {
  SQLite pass;
  if (!pass.RunQuery("SELECT * FROM SeasonPasses WHERE ID = ?", {passId},
                     L"UpdateSchedulesFromPass") ||
      pass.GetRowCount() != 1) {
    return;
  }
  // Deleted episodes are gone from the library and stay so.
  SQLite episodes;
  if (!episodes.RunQuery(
          "SELECT ID FROM Schedules WHERE Owner = ? AND (Status = ? OR Status = ? OR Status = ?)",
          {std::to_wstring(passId), DVRSTATE_SCHEDULED, DVRSTATE_CONFLICT, DVRSTATE_SKIP},
          L"UpdateSchedulesFromPass")) {
    return;
  }
  BumpedSet pending;
  for (int32_t i = 0; i < episodes.GetRowCount(); ++i) {
    pending[episodes.GetInt("ID")] = kBumpedNewEpisode;  // published as a new episode is
    episodes.Next();
  }
  SeasonPassChecker::PublishEpisodes(peers, library, PassRow::FromQuery(pass), pending);
}

void SeasonPasses::UpgradeThumbnails() {
  LogInfo(L"SeasonPasses::UpgradeThumbnails: starting");
  try {
    PeerClient* vel = Endpoint();
    std::vector<std::vector<std::wstring>> media;
    long result = vel->GetMediaFromSource(L"any", {L"thumbnailId"}, {3}, 4, true, &media);
    if (result != 0) {
      throw VelException(
          tev::WFormat(L"GetMediaFromSource vel request: %x", static_cast<unsigned>(result)));
    }
    for (const std::vector<std::wstring>& medium : media) {
      const std::wstring& thumbnailId = medium[0];
      // "RT" (or another two-character prefix) followed by the schedule ID.
      if (thumbnailId.size() <= 2) continue;
      const std::wstring path = Schedule::GetPathFromId(thumbnailId.substr(2));
      if (path.empty()) continue;
      const long urlResult = vel->SetThumbnailUrl(thumbnailId, path + L".jpg");
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
  const char statement[] = "SELECT * FROM SeasonPasses";
  SQLite passes;
  if (!passes.RunQuery(statement, L"ChangeMediumIds")) {
    LogError(L"SeasonPasses::ChangeMediumIds: SQL error for %ls", passes.FailedStatement().c_str());
    return false;
  }
  try {
    for (int32_t i = 0; i < passes.GetRowCount(); ++i) {
      const int32_t passId = passes.GetInt("ID");
      passes.Next();
      const std::wstring key =
          engine_.Peers() != nullptr ? LocalIds::GetPassMediumId(passId) : std::wstring();
      std::wstring mediumId;
      const long result = Endpoint()->ChangeMediaId(key, &mediumId);
      if (result != 0) {
        throw VelException(
            tev::WFormat(L"ChangeMediaId vel request error: %x", static_cast<unsigned>(result)));
      }
      PassStore::AssignMediumId(passId, mediumId);
      SetEpisodesAttribute(engine_.Library(), passId, L"tevPassId", mediumId);
    }
  } catch (const VelException& e) {
    LogError(L"SeasonPasses::ChangeMediumIds: %ls", e.getMessage().c_str());
    return false;
  }
  return true;
}

void SeasonPasses::ApplyPassLength(int32_t passId) {
  SQLite pass;
  if (!pass.RunQuery("SELECT Duration, GuideType FROM SeasonPasses WHERE ID = ?", {passId},
                     L"ApplyPassLength") ||
      pass.GetRowCount() != 1 || pass.GetInt("GuideType") == 1) {
    return;
  }
  const int32_t duration = pass.GetInt("Duration");
  if (duration <= 0) return;
  SQLite episodes;
  if (!episodes.RunQuery(
          "SELECT ID, StartTime FROM Schedules WHERE Owner = ? AND Duration != ? AND "
          "(Status = ? OR Status = ? OR Status = ?)",
          {std::to_wstring(passId), duration, DVRSTATE_SCHEDULED, DVRSTATE_CONFLICT, DVRSTATE_SKIP},
          L"ApplyPassLength")) {
    return;
  }
  for (int32_t i = 0; i < episodes.GetRowCount(); ++i, episodes.Next()) {
    try {
      SQLite update;
      update.RunQuery("UPDATE Schedules SET Duration = ?, EndTime = ? WHERE ID = ?",
                      {duration, SqlValue::TimeNumber(episodes.GetTime("StartTime") + duration),
                       episodes.GetInt("ID")},
                      L"ApplyPassLength");
    } catch (const VelException& e) {  // a time outside the writable range
      LogError(L"SeasonPasses::ApplyPassLength: %ls", e.getMessage().c_str());
    }
  }
}
