// Recording files on disk, the thumbnail service and the TV service's
// tuner list.

#include <map>
#include <string>
#include <vector>

#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/WFormat.h"
#include "dvr/DVR.h"
#include "dvr/ThumbnailTable.h"
#include "outbound/PeerClient.h"
#include "platform/Env.h"
#include "support/Log.h"
#include "support/VUtil.h"

namespace {

std::wstring ThumbnailPath(const std::wstring& filePath) { return filePath + L".jpg"; }

}  // namespace

void DVR::Ask(const wchar_t* method, const VARIANT& in, VARIANT* out) {
  AutoVariant retcodes;
  long result = m_peers.Request(L"any", method, in, out, &retcodes);
  if (result != 0) {
    throw VelException(
        tev::WFormat(L"%ls vel request: %x", method, static_cast<unsigned>(result)));
  }
  VUtil::CheckSingleRetcode(retcodes, method);
}

bool DVR::IsRecordingOnDisk(const std::wstring& filePath) {
  if (tev::Env::Current().FileExists(filePath)) return true;
  LogWarn(L"IsRecordingOnDisk: Could not find %ls", filePath.c_str());
  return false;
}

bool DVR::DeleteFile(const std::wstring& filePath) {
  LogDebug(L"Deleting file : %ls", filePath.c_str());
  if (!tev::Env::Current().RemoveFile(filePath)) return false;
  LogInfo(L"Deleted %ls", filePath.c_str());
  return true;
}

void DVR::CreateThumbnail(const std::wstring& filePath) {
  SetThumbnailAlreadyBeenRequested(filePath);
  LogDebug(L"CreateThumbnail: Requesting a thumbnail for %ls", filePath.c_str());
  try {
    AutoVariant in, out;
    VUtil::CreateArray(&in, VT_VARIANT, 3);
    VUtil::PutElement(&in, 0, filePath);
    VUtil::PutElement(&in, 1, ThumbnailPath(filePath));
    VUtil::PutElement(&in, 2, false);
    LogDebug(L"%ls", VUtil::DumpVariant(in, L"Extract Image From Video InParams").c_str());
    Ask(L"Extract Image From Video", in, &out);
    // Made: the recording is not asked for again (completion, later passes).
    const int32_t id = Schedule::GetIdFromPath(filePath);
    if (id > 0) m_thumbnails.Set(id, true);
  } catch (const VelException& e) {
    LogError(L"Schedules::CreateThumbnail: %ls", e.getMessage().c_str());
  }
}

void DVR::DeleteThumbnail(const std::wstring& filePath) {
  LogDebug(L"DeleteThumbnail: Delete the thumbnail for %ls", filePath.c_str());
  try {
    AutoVariant in, out;
    VUtil::CreateArray(&in, VT_VARIANT, 1);
    VUtil::PutElement(&in, 0, filePath);
    Ask(L"RemoveThumbDB", in, &out);
  } catch (const VelException& e) {
    LogError(L"DVR::DeleteThumbnail: %ls", e.getMessage().c_str());
  }
}

bool DVR::DoesThumbnailExist(const std::wstring& filePath) {
  try {
    AutoVariant in, out;
    VUtil::CreateArray(&in, VT_VARIANT, 1);
    VUtil::PutElement(&in, 0, ThumbnailPath(filePath));
    Ask(L"Is Thumbnail In DB", in, &out);
    const int32_t found = VUtil::GetLongElement(out, 0);
    LogDebug(L"Is Thumbnail In DB returned %d for %ls", found, filePath.c_str());
    return found != 0;
  } catch (const VelException& e) {
    LogError(L"Schedules::DoesThumbnailExist: %ls", e.getMessage().c_str());
    return false;
  }
}

std::vector<bool> DVR::DoThumbnailsExistInDB(const std::vector<std::wstring>& filePaths) {
  if (filePaths.empty()) return {};
  try {
    AutoVariant in, out, paths, answers;
    VUtil::CreateArray(&paths, VT_VARIANT, static_cast<long>(filePaths.size()));
    for (size_t i = 0; i < filePaths.size(); ++i) {
      VUtil::PutElement(&paths, static_cast<long>(i), ThumbnailPath(filePaths[i]));
    }
    VUtil::CreateArray(&in, VT_VARIANT, 1);
    VUtil::PutElement(&in, 0, paths.get());
    Ask(L"Are Thumbnails In DB", in, &out);
    VUtil::GetElement(out, 0, &answers);
    const long count = VUtil::GetArrayLength(answers);
    std::vector<bool> flags(filePaths.size(), false);
    for (long i = 0; i < count && i < static_cast<long>(flags.size()); ++i) {
      flags[i] = VUtil::GetLongElement(answers, i) != 0;
    }
    return flags;
  } catch (const VelException& e) {
    LogError(L"Schedules::DoThumbnailsExistInDB: %ls", e.getMessage().c_str());
    return {};
  }
}

void DVR::GetNumberOfTuners(std::map<std::wstring, int32_t>* tuners) {
  try {
    AutoVariant in, out, list;
    Ask(L"GetTVInfo", in, &out);
    VUtil::GetElement(out, 0, &list);
    const int32_t count = VUtil::GetLongElement(list, 0);
    std::map<std::wstring, int32_t> counted;
    for (int32_t i = 1; i <= count; ++i) {
      AutoVariant tuner;
      VUtil::GetElement(list, i, &tuner);
      ++counted[VUtil::GetStringElement(tuner, 2)];
    }
    if (tuners) tuners->swap(counted);
  } catch (const VelException& e) {
    LogError(L"Schedules::GetNumberOfTuners: %ls", e.getMessage().c_str());
  }
}

void DVR::SetThumbnailAlreadyBeenRequested(const std::wstring& filePath) {
  SQLite query;
  if (!query.RunQuery("UPDATE Schedules SET ThumbnailState = 'requested' WHERE FilePath = ?",
                      {filePath}, L"Schedules::SetThumbnailAlreadyBeenRequested")) {
    LogDebug(L" Schedules::SetThumbnailAlreadyBeenRequested error in RunQuery for : %ls (%ls)",
             filePath.c_str(), query.FailedStatement().c_str());
  }
}
