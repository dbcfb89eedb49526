// Notifications to every listener ("ALL") that a recording started or
// stopped, and of the list of recordings in progress. Nobody answers a
// notification: results and return codes are not looked at.
#include <string>
#include <vector>

#include "db/LocalIds.h"
#include "outbound/PeerClient.h"
#include "support/Log.h"
#include "support/VUtil.h"

namespace {

// [name, medium id, channel name] sent to every listener of `method`.
void NotifyAll(PeerClient* vel, const wchar_t* method, int localId, const std::wstring& name,
               const std::wstring& channelName) {
  AutoVariant in, out, retcodes;
  VUtil::CreateArray(&in, VT_VARIANT, 3);
  VUtil::PutElement(&in, 0, name);
  VUtil::PutElement(&in, 1, LocalIds::GetScheduleMediumId(localId));
  VUtil::PutElement(&in, 2, channelName);
  vel->Request(L"ALL", method, in, &out, &retcodes);
}

}  // namespace

void PeerClient::NotifyStartRecording(int localId, const std::wstring& name,
                                      const std::wstring& channelName) {
  LogDebug(L"NotifyStartRecording %ls", name.c_str());
  try {
    NotifyAll(this, L"NotifyStartRecording", localId, name, channelName);
  } catch (const VelException& e) {
    LogError(L"NotifyStartRecording: %ls", e.getMessage().c_str());
  }
}

void PeerClient::NotifyStopRecording(int localId, const std::wstring& name,
                                     const std::wstring& channelName) {
  LogDebug(L"NotifyStopRecording %ls %ls", name.c_str(), channelName.c_str());
  try {
    NotifyAll(this, L"NotifyStopRecording", localId, name, channelName);
  } catch (const VelException& e) {
    LogError(L"NotifyStopRecording: %ls", e.getMessage().c_str());
  }
}

namespace {

// [[name, medium id, channel], ...]
void PutCurrentRecordings(const std::vector<CurrentRecording>& recordings, VARIANT* out) {
  VUtil::CreateArray(out, VT_VARIANT, static_cast<long>(recordings.size()));
  for (size_t i = 0; i < recordings.size(); ++i) {
    AutoVariant entry;
    VUtil::CreateArray(&entry, VT_VARIANT, 3);
    VUtil::PutElement(&entry, 0, recordings[i].name);
    VUtil::PutElement(&entry, 1, recordings[i].mediumId);
    VUtil::PutElement(&entry, 2, recordings[i].channelName);
    VUtil::PutElement(out, static_cast<long>(i), entry.get());
  }
}

}  // namespace

void PeerClient::NotifyPVRRecordingChange(const std::vector<CurrentRecording>& recordings) {
  try {
    AutoVariant in, out, retcodes;
    PutCurrentRecordings(recordings, &in.get());
    Request(L"ALL", L"NotifyPVRRecordingChange", in, &out, &retcodes);
  } catch (const VelException& e) {
    LogError(L"NotifyPVRRecordingChange: %ls", e.getMessage().c_str());
  }
}
