// Notifications to every listener ("ALL") that a recording started or
// stopped, and of the list of recordings in progress. Nobody answers a
// notification: results and return codes are not looked at.
#include <string>
#include <vector>

#include "bus/CVelAtl.h"
#include "bus/EngineAnswers.h"
#include "bus/LocalIds.h"
#include "engine/Schedules.h"
#include "support/Log.h"
#include "support/VUtil.h"

namespace {

// [name, medium id, channel name] sent to every listener of `method`.
void NotifyAll(CVelAtl* vel, const wchar_t* method, int localId, const std::wstring& name,
               const std::wstring& channelName) {
  AutoVariant in, out, retcodes;
  VUtil::CreateArray(&in, VT_VARIANT, 3);
  VUtil::PutElement(&in, 0, name);
  VUtil::PutElement(&in, 1, LocalIds::GetScheduleMediumId(localId));
  VUtil::PutElement(&in, 2, channelName);
  vel->Request(L"ALL", method, in, &out, 0, &retcodes);
}

}  // namespace

void CVelAtl::NotifyStartRecording(int localId, const std::wstring& name,
                                   const std::wstring& channelName) {
  LogDebug(L"NotifyStartRecording %ls", name.c_str());
  try {
    NotifyAll(this, L"NotifyStartRecording", localId, name, channelName);
  } catch (const VelException& e) {
    LogError(L"NotifyStartRecording: %ls", e.getMessage().c_str());
  }
  NotifyPVRRecordingChange();
}

void CVelAtl::NotifyStopRecording(int localId, const std::wstring& name,
                                  const std::wstring& channelName) {
  LogDebug(L"NotifyStopRecording %ls %ls", name.c_str(), channelName.c_str());
  try {
    NotifyAll(this, L"NotifyStopRecording", localId, name, channelName);
  } catch (const VelException& e) {
    LogError(L"NotifyStopRecording: %ls", e.getMessage().c_str());
  }
  NotifyPVRRecordingChange();
}

void CVelAtl::NotifyPVRRecordingChange() {
  try {
    std::vector<CurrentRecording> recordings;
    if (Schedules::GetCurrentlyRecording(&recordings) != 0) return;
    AutoVariant in, out, retcodes;
    PutCurrentRecordings(recordings, &in.get());
    Request(L"ALL", L"NotifyPVRRecordingChange", in, &out, 0, &retcodes);
  } catch (const VelException& e) {
    LogError(L"NotifyPVRRecordingChange: %ls", e.getMessage().c_str());
  }
}
