// The module's one satellite on the bus ("ZoVIZ"): it offers the PVR
// services and is the object through which every part of the module sends
// requests to other satellites.
//
// Handlers run on the bus library's threads, possibly before the engine has
// finished starting; CVelAtl holds no lock of its own. Handlers catch
// nothing: a parameter error leaves as VelInvalidParameterException.
#ifndef TEV_BUS_CVELATL_H_
#define TEV_BUS_CVELATL_H_

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/Variant.h"
#include "support/MediumProperties.h"
#include "vel/VelSatellite.h"

class PVRVel;

class CVelAtl : public VelSatellite {
 public:
  typedef int (CVelAtl::*Handler)(const std::wstring& method, const VARIANT& in, VARIANT* out);

  explicit CVelAtl(PVRVel* owner);
  ~CVelAtl() override;

  // 0 = joined, 1 = not. Reads "velDirectory.host", default "127.0.0.1".
  int RegisterWithBus();
  void UnregisterFromBus();
  void DefineServices() override;

  PVRVel* Owner() const { return owner_; }

  // --- Outbound requests to peers (0 = success where an int is returned) ---
  int IsTevMediaReady();
  void DeleteMedium(int localId, bool isPass, bool remove);
  void DeleteMedium(const std::wstring& mediumId, bool remove, bool isPass);
  void DeleteMedia(const std::set<std::wstring>& mediumIds, bool remove, bool isPass);
  void DeleteMedia(const std::vector<std::wstring>& mediumIds, bool remove, bool isPass);
  void SetMediaAttribute(const std::vector<std::wstring>& mediumIds, const std::wstring& name,
                         const std::wstring& value);
  void SetMediaAttributes(const std::vector<std::wstring>& mediumIds,
                          const std::vector<std::wstring>& names,
                          const std::vector<std::wstring>& values);
  void NotifyStartRecording(int localId, const std::wstring& name, const std::wstring& channelName);
  void NotifyStopRecording(int localId, const std::wstring& name, const std::wstring& channelName);
  void NotifyPVRRecordingChange();
  int GetMediumFromId(const std::wstring& user, const std::wstring& mediumId, std::wstring* text1,
                      std::wstring* text2);
  int GetMediumInfo(const std::wstring& user, const std::wstring& mediumId, std::wstring* mimetype,
                    std::wstring* path, std::wstring* thumbnailId, std::wstring* rating,
                    std::wstring* tags, std::wstring* mediaType);
  // The channel lookup of "ScheduleRecording" and "AddTevPass": the medium's
  // details, then its mimetype by id when the details name none. Returns 0,
  // 115 when the media library could not be reached (a pass or schedule
  // made without the channel's mimetype would be of the wrong kind), or the
  // by-id request's result.
  int LookUpChannel(const wchar_t* service, const std::wstring& user,
                    const std::wstring& channelMedium, std::wstring* mimetype,
                    std::wstring* thumbnailId, std::wstring* rating, std::wstring* tags);
  int ProcessTranscodeUrl(const std::wstring& url, const std::wstring& mimetype,
                          const std::wstring& mediaType, std::wstring* outUrl);
  // --- Publishing to the media library (bus/LibraryRequests.cpp) ---
  // Each sends ["PVR", property list(s), -, flag] to "any". Throws
  // VelException when a property list cannot be built or an answer read.
  // "AddMedium": the request's result; *firstOut the answer's first
  // element.
  long AddMedium(const MediumProperties& list, bool flag, std::wstring* firstOut);
  // "AddMedium" in two halves: the answer is read after a failed retcode
  // check (thrown) into *mediumId, unless the request itself failed (its
  // result, nothing read).
  std::unique_ptr<VelSatellite::PostedRequest> PostAddMedium(const MediumProperties& list,
                                                             bool flag);
  long CollectAddMedium(std::unique_ptr<VelSatellite::PostedRequest> posted,
                        std::wstring* mediumId);
  // "AddMedia" in two halves; *ids gets the answered ids only when there
  // are exactly `expected` of them.
  std::unique_ptr<VelSatellite::PostedRequest> PostAddMedia(
      const std::vector<MediumProperties>& lists, bool flag);
  long CollectAddMedia(std::unique_ptr<VelSatellite::PostedRequest> posted, long expected,
                       std::vector<std::wstring>* ids);

  // "GetMediaFromSource" of the source "PVR" with the property `names`:
  // the request's result (nothing read unless 0; a failed retcode is
  // thrown). *media gets one entry per medium, the texts of its `slots`; a
  // medium that is not an array of at least `minimumSlots` is thrown
  // (skipUnreadable false) or left out. An answer without a list gives no
  // media.
  long GetMediaFromSource(const wchar_t* addressee, const std::vector<std::wstring>& names,
                          const std::vector<long>& slots, long minimumSlots, bool skipUnreadable,
                          std::vector<std::vector<std::wstring>>* media);
  // "SetThumbnailUrl" to "any": the thumbnail of `mediumId` is `file`.
  long SetThumbnailUrl(const std::wstring& mediumId, const std::wstring& file);
  // "ChangeMediaId" to "any" for one key: the request's result; on 0 the
  // new id in *newId (a failed retcode or a malformed answer is thrown).
  long ChangeMediaId(const std::wstring& key, std::wstring* newId);

  bool GetTVGuideSchedule(const std::wstring& program, VARIANT* out);
  // GetTVGuideSchedule in two halves: the search is sent at once, its
  // answer read (and judged as above) later.
  std::unique_ptr<VelSatellite::PostedRequest> PostTVGuideSchedule(const std::wstring& program);
  bool ReadTVGuideSchedule(std::unique_ptr<VelSatellite::PostedRequest> posted, VARIANT* out);

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
  PVRVel* const owner_;
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

// The live module's endpoint, or null when no PVRVel exists. Code without
// another path to the endpoint sends its requests through this.
CVelAtl* TheVel();
// Set by the module together with the live PVRVel pointer.
void SetLiveVel(CVelAtl* vel);
// Test seam: makes TheVel() answer `vel` (null restores the live module's).
void SetTheVelForTest(CVelAtl* vel);

#endif  // TEV_BUS_CVELATL_H_
