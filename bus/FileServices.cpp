// The services about recorded files and thumbnails, and the media
// library's change callback. Each adapts the bus form of the request to one
// engine operation; a malformed request leaves as
// VelInvalidParameterException before anything has changed.
#include <string>
#include <vector>

#include "bus/CVelAtl.h"
#include "bus/EngineAnswers.h"
#include "bus/EngineOf.h"
#include "bus/OutText.h"
#include "db/WFormat.h"
#include "engine/FileQueries.h"
#include "engine/Schedules.h"
#include "platform/Clock.h"
#include "support/Log.h"
#include "support/VUtil.h"
#include "support/VelException.h"

// in = [user, medium id]; out = [path, mime type].
int CVelAtl::GetFileFromId(const std::wstring&, const VARIANT& in, VARIANT* out) {
  FileLocation file;
  const int result = FileQueries::GetFilenameFromID(VUtil::GetStringElement(in, 1), &file);
  if (result == 0) {
    VUtil::CreateArray(out, VT_VARIANT, 2);
    VUtil::PutElement(out, 0, file.path);
    VUtil::PutElement(out, 1, file.mimetype);
  }
  return result;
}

// in = [user, medium id]; out = PairArray of the description.
int CVelAtl::GetFileInfoFromId(const std::wstring&, const VARIANT& in, VARIANT* out) {
  FileDescription description;
  const int result = FileQueries::GetFileInfoFromID(VUtil::GetStringElement(in, 1), &description);
  PutFileDescription(description, out);
  return result;
}

// in = array of medium ids; out = one PairArray per id. A list that is not
// one of texts, or longer than one bus message's answer can hold, is
// refused before any statement runs.
int CVelAtl::GetFileListInfoFromId(const std::wstring&, const VARIANT& in, VARIANT* out) {
  const long count = VUtil::GetArrayLengthEmpty(in);
  if (count > FileQueries::kMaxFileListIds) {
    throw VelInvalidParameterException(
        tev::WFormat(L"GetFileListInfoFromId: %ld ids, at most %ld are taken", count,
                     FileQueries::kMaxFileListIds));
  }
  std::vector<std::wstring> ids(count);
  for (long i = 0; i < count; ++i) ids[i] = VUtil::GetStringElement(in, i);
  std::vector<FileDescription> descriptions;
  const int result = FileQueries::GetFileListInfoFromID(ids, &descriptions);
  if (result != 0) return result;
  try {
    VUtil::CreateArray(out, VT_VARIANT, count);
    for (long i = 0; i < count; ++i) {
      AutoVariant one;
      PutFileDescription(descriptions[i], &one.get());
      VUtil::PutElement(out, i, one.get());
    }
  } catch (const VelException& e) {
    LogError(L"GetFileListInfoFromId error: %ls", e.getMessage().c_str());
    return -1;
  }
  return 0;
}

// Handed on to the media library unchanged.
int CVelAtl::VideoThumbnailCallback(const std::wstring&, const VARIANT& in, VARIANT* out) {
  AutoVariant retcodes;
  const long result = Request(L"TevMediaV2", L"VideoThumbnailCallback", in, out, 0, &retcodes);
  if (result != 0) {
    LogError(L"VideoThumbnailCallback vel request error: %x", static_cast<unsigned>(result));
    return -1;
  }
  return 0;
}

// in = [recording file path].
int CVelAtl::NotifyThumbnailNeeded(const std::wstring&, const VARIANT& in, VARIANT*) {
  const std::wstring path = VUtil::GetStringElement(in, 0);
  Schedules* engine = EngineOf(this, L"NotifyThumbnailNeeded");
  if (engine != nullptr) engine->Completion().NotifyThumbnailNeeded(path);
  return 0;
}

// in = [user (unused), medium id, position].
int CVelAtl::SetFilePlayPosition(const std::wstring&, const VARIANT& in, VARIANT*) {
  const std::wstring user = VUtil::GetStringElement(in, 0);
  const std::wstring mediumId = VUtil::GetStringElement(in, 1);
  const int32_t position = VUtil::GetLongElement(in, 2);
  if (position < 0) {
    throw VelInvalidParameterException(L"SetFilePlayPosition: the position must not be negative");
  }
  LogDebug(L"PVRVel::SetFilePlayPosition, %ls, %d", mediumId.c_str(), position);
  return FileQueries::SetPlayPosition(mediumId, position);
}

// in = [action, medium id, PairArray of changes].
// A refusal (403) says in out which property was refused and why.
int CVelAtl::UpdateMedium(const std::wstring&, const VARIANT& in, VARIANT* out) {
  Schedules* engine = EngineOf(this, L"UpdateMedium");
  if (engine == nullptr) return -1;
  std::wstring refusal;
  const int result =
      engine->Updates().UpdateMedium(ReadMediumUpdate(in), tev::Clock::Now(), &refusal);
  if (result == kResultChangeRefused && !refusal.empty() && out != nullptr) {
    PutText(out, refusal);
  }
  return result;
}
