// The services about recorded files and thumbnails, and the media
// library's change callback. Each adapts the bus form of the request to one
// engine operation; a malformed request leaves as
// VelInvalidParameterException before anything has changed.
#include <string>

#include "bus/CVelAtl.h"
#include "bus/EngineOf.h"
#include "bus/OutText.h"
#include "engine/Schedules.h"
#include "platform/Clock.h"
#include "support/Log.h"
#include "support/VUtil.h"

// in = [user, medium id]; out = [path, mime type].
int CVelAtl::GetFileFromId(const std::wstring&, const VARIANT& in, VARIANT* out) {
  return Schedules::GetFilenameFromID(VUtil::GetStringElement(in, 1), out);
}

// in = [user, medium id]; out = PairArray of the description.
int CVelAtl::GetFileInfoFromId(const std::wstring&, const VARIANT& in, VARIANT* out) {
  return Schedules::GetFileInfoFromID(VUtil::GetStringElement(in, 1), out);
}

// in = array of medium ids; out = one PairArray per id.
int CVelAtl::GetFileListInfoFromId(const std::wstring&, const VARIANT& in, VARIANT* out) {
  return Schedules::GetFileListInfoFromID(in, out);
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
  if (engine != nullptr) engine->NotifyThumbnailNeeded(path);
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
  return Schedules::SetPlayPosition(mediumId, position);
}

// in = [action, medium id, PairArray of changes].
// A refusal (403) says in out which property was refused and why.
int CVelAtl::UpdateMedium(const std::wstring&, const VARIANT& in, VARIANT* out) {
  Schedules* engine = EngineOf(this, L"UpdateMedium");
  if (engine == nullptr) return -1;
  std::wstring refusal;
  const int result = engine->UpdateMedium(in, tev::Clock::Now(), &refusal);
  if (result == kResultChangeRefused && !refusal.empty() && out != nullptr) {
    PutText(out, refusal);
  }
  return result;
}
