// The module's requests to other satellites: the media library, the
// streamer, the programme guide and the TV service. The operations below
// build their parameter arrays, send them through the three bus calls a
// subclass provides and read the replies; a bus failure, a non-zero return
// code and a malformed reply are handled as each one says. None lets a bus
// exception escape unless it says so.
//
// VelPeerClient sends over the module's satellite; tests give the engine a
// recording fake instead.
#ifndef TEV_OUTBOUND_PEERCLIENT_H_
#define TEV_OUTBOUND_PEERCLIENT_H_

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "outbound/GuideListings.h"
#include "platform/Variant.h"
#include "support/MediumProperties.h"

// The media library could not be reached (the result of LookUpChannel and
// of the engine operations that depend on it).
constexpr int kResultBusFailure = 115;

// One recording in progress as listeners are told of it.
struct CurrentRecording {
  std::wstring name;
  std::wstring mediumId;  // "" without an endpoint
  std::wstring channelName;
};

class PeerClient {
 public:
  virtual ~PeerClient() = default;

  // --- The bus calls underneath (also for requests with no operation of
  // their own). Results are the bus library's: 0 = answered. ---
  virtual long Request(const std::wstring& addressee, const std::wstring& method, const VARIANT& in,
                       VARIANT* out, VARIANT* retcodes) = 0;
  // A request whose answer Collect reads later. Null when it could not be
  // sent (Collect then reports the failure).
  class Pending {
   public:
    virtual ~Pending() = default;
  };
  virtual std::unique_ptr<Pending> Post(const std::wstring& addressee, const std::wstring& method,
                                        const VARIANT& in) = 0;
  virtual long Collect(std::unique_ptr<Pending> posted, VARIANT* out, VARIANT* retcodes) = 0;
  // Whether Collect would return without waiting.
  virtual bool Answered(const Pending& posted) = 0;

  // --- Media library (0 = success where an int is returned) ---
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
  int GetMediumFromId(const std::wstring& user, const std::wstring& mediumId, std::wstring* text1,
                      std::wstring* text2);
  int GetMediumInfo(const std::wstring& user, const std::wstring& mediumId, std::wstring* mimetype,
                    std::wstring* path, std::wstring* thumbnailId, std::wstring* rating,
                    std::wstring* tags, std::wstring* mediaType);
  // The channel lookup of "ScheduleRecording" and "AddTevPass": the medium's
  // details, then its mimetype by id when the details name none. Returns 0,
  // kResultBusFailure when the media library could not be reached (a pass
  // or schedule made without the channel's mimetype would be of the wrong
  // kind), or the by-id request's result.
  int LookUpChannel(const wchar_t* service, const std::wstring& user,
                    const std::wstring& channelMedium, std::wstring* mimetype,
                    std::wstring* thumbnailId, std::wstring* rating, std::wstring* tags);
  int ProcessTranscodeUrl(const std::wstring& url, const std::wstring& mimetype,
                          const std::wstring& mediaType, std::wstring* outUrl);

  // --- Publishing to the media library (outbound/PublishRequests.cpp) ---
  // Each sends ["PVR", property list(s), -, flag] to "any". Throws
  // VelException when a property list cannot be built or an answer read.
  // "AddMedium": the request's result; *firstOut the answer's first
  // element.
  long AddMedium(const MediumProperties& list, bool flag, std::wstring* firstOut);
  // "AddMedium" in two halves: the answer is read after a failed retcode
  // check (thrown) into *mediumId, unless the request itself failed (its
  // result, nothing read).
  std::unique_ptr<Pending> PostAddMedium(const MediumProperties& list,
                                                             bool flag);
  long CollectAddMedium(std::unique_ptr<Pending> posted,
                        std::wstring* mediumId);
  // "AddMedia" in two halves; *ids gets the answered ids only when there
  // are exactly `expected` of them.
  std::unique_ptr<Pending> PostAddMedia(
      const std::vector<MediumProperties>& lists, bool flag);
  long CollectAddMedia(std::unique_ptr<Pending> posted, long expected,
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

  // --- Notices to every listener ("ALL"); nobody answers them ---
  void NotifyStartRecording(int localId, const std::wstring& name, const std::wstring& channelName);
  void NotifyStopRecording(int localId, const std::wstring& name, const std::wstring& channelName);
  // `recordings`: the list of recordings in progress as the engine makes it.
  void NotifyPVRRecordingChange(const std::vector<CurrentRecording>& recordings);

  // --- Programme guide ---
  // "SearchTVListings" for the week from now: false (and *out left as it
  // was) when the request or its retcode failed or the reply has no first
  // element; otherwise that element read into *out.
  bool GetTVGuideSchedule(const std::wstring& program, GuideListings* out);
  // GetTVGuideSchedule in two halves: the search is sent at once, its
  // answer read (and judged as above) later.
  std::unique_ptr<Pending> PostTVGuideSchedule(const std::wstring& program);
  bool ReadTVGuideSchedule(std::unique_ptr<Pending> posted, GuideListings* out);
};

// The guide's listings element read into values (outbound/GuideListings.h).
GuideListings ReadGuideListings(const VARIANT& listings);

#endif  // TEV_OUTBOUND_PEERCLIENT_H_
