// The module's one satellite on the bus ("ZoVIZ"): it offers the PVR
// services; the module's requests to other satellites leave through it
// (Peers()).
//
// Handlers run on the bus library's threads, possibly before the engine has
// finished starting; CVelAtl holds no lock of its own. Handlers catch
// nothing: a parameter error leaves as VelInvalidParameterException.
#ifndef TEV_BUS_CVELATL_H_
#define TEV_BUS_CVELATL_H_

#include <string>
#include <vector>

#include "outbound/VelPeerClient.h"
#include "platform/Variant.h"
#include "vel/VelSatellite.h"

class Schedules;
class SeasonPassChecker;

class CVelAtl : public VelSatellite {
 public:
  typedef int (CVelAtl::*Handler)(const std::wstring& method, const VARIANT& in, VARIANT* out);

  // `engine` and `checker` (null in tests of the bare endpoint) outlive the
  // endpoint.
  explicit CVelAtl(Schedules* engine, SeasonPassChecker* checker = nullptr);
  ~CVelAtl() override;

  // 0 = joined, 1 = not. Reads "velDirectory.host", default "127.0.0.1".
  int RegisterWithBus();
  void UnregisterFromBus();
  void DefineServices() override;

  Schedules* Engine() const { return engine_; }

  // The requests the module sends over this endpoint.
  PeerClient& Peers() { return peers_; }

  // --- Service handlers (the method name is never read) ---
  int ScheduleRecording(const std::wstring& method, const VARIANT& in, VARIANT* out);
  int CancelScheduledRecording(const std::wstring& method, const VARIANT& in, VARIANT* out);
  int RetrySchedule(const std::wstring& method, const VARIANT& in, VARIANT* out);
  int NotifyRecordFinished(const std::wstring& method, const VARIANT& in, VARIANT* out);
  int NotifyRecordStarted(const std::wstring& method, const VARIANT& in, VARIANT* out);
  int NotifyWebRecordStartedAsync(const std::wstring& method, const VARIANT& in, VARIANT* out);
  int NotifyWebRecordFailedAsync(const std::wstring& method, const VARIANT& in, VARIANT* out);
  int AddTevPass(const std::wstring& method, const VARIANT& in, VARIANT* out);
  int GetConflicts(const std::wstring& method, const VARIANT& in, VARIANT* out);
  int SetPVRConfig(const std::wstring& method, const VARIANT& in, VARIANT* out);
  int GetPVRConfig(const std::wstring& method, const VARIANT& in, VARIANT* out);
  int GetFileFromId(const std::wstring& method, const VARIANT& in, VARIANT* out);
  int GetFileInfoFromId(const std::wstring& method, const VARIANT& in, VARIANT* out);
  int GetFileListInfoFromId(const std::wstring& method, const VARIANT& in, VARIANT* out);
  int SetPVRVideoRecordingDirectory(const std::wstring& method, const VARIANT& in, VARIANT* out);
  int SetPVRAudioRecordingDirectory(const std::wstring& method, const VARIANT& in, VARIANT* out);
  int GetPVRVideoRecordingDirectory(const std::wstring& method, const VARIANT& in, VARIANT* out);
  int GetPVRAudioRecordingDirectory(const std::wstring& method, const VARIANT& in, VARIANT* out);
  int GetPVRDiskFreeSpaceRequired(const std::wstring& method, const VARIANT& in, VARIANT* out);
  int SetPVRDiskFreeSpaceRequired(const std::wstring& method, const VARIANT& in, VARIANT* out);
  int VideoThumbnailCallback(const std::wstring& method, const VARIANT& in, VARIANT* out);
  int NotifyThumbnailNeeded(const std::wstring& method, const VARIANT& in, VARIANT* out);
  int SetFilePlayPosition(const std::wstring& method, const VARIANT& in, VARIANT* out);
  int UpdateMedium(const std::wstring& method, const VARIANT& in, VARIANT* out);
  int GetPVRRecordPadding(const std::wstring& method, const VARIANT& in, VARIANT* out);
  int SetPVRRecordPadding(const std::wstring& method, const VARIANT& in, VARIANT* out);

 private:
  Schedules* const engine_;
  SeasonPassChecker* const checker_;
  VelPeerClient peers_{*this};
};

// Binds one service name to a CVelAtl handler.
template <class T>
class VelSatelliteDelegateMember : public VelSatelliteDelegateGeneric {
 public:
  typedef int (T::*Member)(const std::wstring& method, const VARIANT& in, VARIANT* out);
  VelSatelliteDelegateMember(T* object, Member member) : object_(object), member_(member) {}
  ~VelSatelliteDelegateMember() override = default;
  int invoke(const std::wstring& method, const VARIANT& in, VARIANT* out) override {
    return (object_->*member_)(method, in, out);
  }

 private:
  T* object_;
  Member member_;
};

// The services in the order they are added, each with its handler. Services
// whose handlers are not built yet are absent.
struct CVelAtlService {
  const wchar_t* name;
  CVelAtl::Handler handler;
};
const std::vector<CVelAtlService>& CVelAtlServiceTable();

#endif  // TEV_BUS_CVELATL_H_
