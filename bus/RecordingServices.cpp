// The services that schedule, cancel and retry recordings and receive the
// streamer's reports. Each adapts the bus form of the request to one engine
// operation; a malformed request leaves as VelInvalidParameterException
// before anything has changed.
#include <string>

#include "bus/CVelAtl.h"
#include "bus/EngineAnswers.h"
#include "bus/EngineOf.h"
#include "db/LocalIds.h"
#include "db/TimeUtils.h"
#include "engine/Schedules.h"
#include "platform/Clock.h"
#include "support/Log.h"
#include "support/VUtil.h"

int CVelAtl::ScheduleRecording(const std::wstring&, const VARIANT& in, VARIANT* out) {
  RecordingRequest request;
  request.user = VUtil::GetStringElement(in, 0);
  request.channelName = VUtil::GetStringElement(in, 1);
  request.channel = VUtil::GetStringElement(in, 2);
  request.start = VUtil::GetDateElement(in, 3) + GetTimeZoneOffset();
  request.duration = VUtil::GetLongElement(in, 4) / 1000;
  request.name = VUtil::GetStringElement(in, 5);
  request.category = VUtil::GetStringElement(in, 6);
  request.description = VUtil::GetStringElement(in, 7);
  request.quality = VUtil::GetStringElement(in, 8);
  request.tuner = VUtil::GetStringElement(in, 9);
  request.subtitle = VUtil::GetStringElement(in, 10);
  request.keepUntil = VUtil::GetLongElement(in, 11);
  const long length = VUtil::GetArrayLength(in);
  request.recordNow = length > 12 ? VUtil::GetLongOrEmptyElement(in, 12) : 0;
  request.episodeUrl = length > 13 ? VUtil::GetStringElement(in, 13) : std::wstring();
  request.allow = length > 14 ? VUtil::GetLongOrEmptyElement(in, 14) != 0 : false;

  const int64_t now = tev::Clock::Now();
  // The start of a record-now request is not used: an empty date (1970) in
  // a zone east of UTC is before the first writable time and only the log
  // line cannot show it.
  std::wstring startText;
  try {
    startText = FormatTime(request.start);
  } catch (const VelException&) {
    startText = L"-";
  }
  LogDebug(L"Times Start %ls %d, Duration %d, Now %ls %d", startText.c_str(),
           static_cast<int32_t>(request.start), request.duration, FormatTime(now).c_str(),
           static_cast<int32_t>(now));

  Schedules* engine = EngineOf(this, L"ScheduleRecording");
  if (engine == nullptr) return -1;
  const int found = peers_.LookUpChannel(L"ScheduleRecording", request.user, request.channel,
                                  &request.channelMimetype, &request.thumbnailId,
                                  &request.rating, &request.tags);
  if (found != 0) return found;
  ScheduleAnswer answer;
  const int result = engine->Intake().Add(request, &answer);
  if (out != nullptr) PutScheduleAnswer(answer, out);
  return result;
}

namespace {

// Local id of the schedule with that medium id (0 when none, the lookup
// logs which); -1 (logged) when the id names a season pass, whose local id
// would be some other schedule's number.
int32_t ScheduleIdOf(const std::wstring& mediumId, const wchar_t* service) {
  if (LocalIds::GetType(mediumId) == LocalIds::kTypePass) {
    LogError(L"%ls: %ls is a season pass, not a schedule", service, mediumId.c_str());
    return -1;
  }
  return LocalIds::GetLocalIdFromTevMediumId(mediumId, true);
}

// The streamer's own words about a failure: an optional text after the
// file path of its reports (empty when it sent none).
std::wstring StreamerMessage(const VARIANT& in) {
  return VUtil::GetArrayLength(in) > 3 ? VUtil::GetStringElement(in, 3) : std::wstring();
}

}  // namespace

int CVelAtl::CancelScheduledRecording(const std::wstring&, const VARIANT& in, VARIANT*) {
  const std::wstring mediumId = VUtil::GetScalarString(in);
  Schedules* engine = EngineOf(this, L"CancelScheduledRecording");
  if (engine == nullptr) return -1;
  const int32_t id = ScheduleIdOf(mediumId, L"CancelScheduledRecording");
  if (id < 0) return kResultNoSuchSchedule;
  return engine->Completion().CancelScheduledRecording(id, tev::Clock::Now());
}

int CVelAtl::RetrySchedule(const std::wstring&, const VARIANT& in, VARIANT*) {
  const std::wstring mediumId = VUtil::GetScalarString(in);
  Schedules* engine = EngineOf(this, L"RetrySchedule");
  if (engine == nullptr) return -1;
  const int32_t id = ScheduleIdOf(mediumId, L"RetrySchedule");
  if (id < 0) return kResultNoSuchSchedule;
  return engine->Completion().RetrySchedule(id, tev::Clock::Now());
}

int CVelAtl::NotifyRecordFinished(const std::wstring&, const VARIANT& in, VARIANT*) {
  const int32_t seconds = VUtil::GetLongElement(in, 1);
  const std::wstring path = VUtil::GetStringElement(in, 2);
  LogDebug(L"NotifyRecordComplete: durationSec %d, filepath %ls", seconds, path.c_str());
  if (Schedules* engine = EngineOf(this, L"NotifyRecordFinished")) {
    engine->Completion().NotifyRecordComplete(seconds, path, tev::Clock::Now(),
                                              StreamerMessage(in));
    engine->StartStop().SetRecordingTimer();
    engine->Completion().NotifyRecordingChange(peers_);
  }
  return 0;
}

int CVelAtl::NotifyRecordStarted(const std::wstring&, const VARIANT& in, VARIANT*) {
  const std::wstring path = VUtil::GetStringElement(in, 2);
  LogDebug(L"NotifyRecordStarted: filepath %ls", path.c_str());
  if (Schedules* engine = EngineOf(this, L"NotifyRecordStarted")) {
    engine->Completion().NotifyRecordStarted(path);
    engine->Completion().NotifyRecordingChange(peers_);
  }
  return 0;
}

int CVelAtl::NotifyWebRecordStartedAsync(const std::wstring&, const VARIANT& in, VARIANT*) {
  const std::wstring path = VUtil::GetStringElement(in, 2);
  LogDebug(L"NotifyRecordStartedAsync: filepath %ls", path.c_str());
  if (Schedules* engine = EngineOf(this, L"NotifyWebRecordStartedAsync")) {
    engine->Completion().NotifyRecordStartedAsync(path);
    engine->Completion().NotifyRecordingChange(peers_);
  }
  return 0;
}

int CVelAtl::NotifyWebRecordFailedAsync(const std::wstring&, const VARIANT& in, VARIANT*) {
  const std::wstring path = VUtil::GetStringElement(in, 2);
  LogDebug(L"NotifyRecordFailedAsync: filepath %ls", path.c_str());
  if (Schedules* engine = EngineOf(this, L"NotifyWebRecordFailedAsync")) {
    engine->Completion().NotifyRecordFailedAsync(path, tev::Clock::Now(), StreamerMessage(in));
    engine->Completion().NotifyRecordingChange(peers_);
  }
  return 0;
}
