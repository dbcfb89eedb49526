// The stand-in peers of the PVR module: the media library, the streamer,
// the TV service, the programme guide, the thumbnail service and a listener
// of the module's notifications. Each is a ScriptedPeer whose default
// replies behave like a small, well-mannered peer; tests script them
// further and the tev-peers program attaches real behaviour (peers/Real*.h).
#ifndef TEV_PEERS_PEERS_H_
#define TEV_PEERS_PEERS_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "peers/ScriptedPeer.h"

namespace tev {
namespace peers {

// Reads element `index` of a VT_VARIANT (or typed) array as a 32-bit
// integer: VT_I4, VT_UI4, VT_I2, VT_UI2 or VT_BOOL. Throws
// VelInvalidParameterException otherwise.
int32_t ReadInteger(const VARIANT& array, long index);

// "TevMediaV2". Defaults: "IsReady" 0; "AddMedium" answers [id] (the
// list's "tevMediumId" when not empty, else a new "M<n>"); "AddMedia" an
// array of such ids; "ChangeMediaId" one new id per old key;
// "GetMediaFromSource" an empty list; everything else 0 with no out.
class MediaLibraryPeer : public ScriptedPeer {
 public:
  static const wchar_t kName[];
  MediaLibraryPeer();
  // A fresh medium id.
  std::wstring NewMediumId();

 protected:
  int DefaultReply(const std::wstring& method, const VARIANT& in, VARIANT* out) override;

 private:
  std::atomic<int> nextId_{1};
};

// "TevStreamer". Default "StartStream": 0 and [[stream id, channel, path,
// duration, empty, the request's stream settings plus ("destination",
// path)]], and the stream is remembered; "StopStream": 0 for a remembered
// stream id (it is forgotten), 1 for any other.
class StreamerPeer : public ScriptedPeer {
 public:
  static const wchar_t kName[];
  // Method family of the notifications: "TV", "Device" or "Web".
  StreamerPeer();

  // Calls the module ("ZoVIZ") back: "Notify<kind>RecordStarted" with
  // [stream id, 0, path] and "Notify<kind>RecordFinished" with [stream id,
  // seconds, path], followed by `message` (why the stream failed) when it
  // is not empty. The bus result.
  long NotifyStarted(const std::wstring& path, const std::wstring& kind = L"TV",
                     int32_t streamId = 0);
  long NotifyFinished(const std::wstring& path, int32_t seconds, const std::wstring& kind = L"TV",
                      int32_t streamId = 0, const std::wstring& message = std::wstring());
  // Streams started and not stopped (stream id -> path).
  std::map<int32_t, std::wstring> ActiveStreams() const;

  // The module's satellite name.
  static const wchar_t kModule[];

 protected:
  int DefaultReply(const std::wstring& method, const VARIANT& in, VARIANT* out) override;

 private:
  mutable std::mutex mutex_;
  std::map<int32_t, std::wstring> active_;  // guarded by mutex_
};

// A TV tuner as the TV service describes it.
struct Tuner {
  std::wstring name;
  std::wstring mimetype;
};

// "GetTVInfo" answers [[N, [name, index, mimetype] x N]] from SetTuners.
class TVServicePeer : public ScriptedPeer {
 public:
  static const wchar_t kName[];
  TVServicePeer();
  void SetTuners(const std::vector<Tuner>& tuners);

 protected:
  int DefaultReply(const std::wstring& method, const VARIANT& in, VARIANT* out) override;

 private:
  mutable std::mutex mutex_;
  std::vector<Tuner> tuners_;  // guarded by mutex_
};

// One programme of the guide; `start` is local time in seconds since 1970
// (the guide's clock), as the listings carry it.
struct GuideProgram {
  std::wstring title;
  int32_t duration = 0;  // seconds
  int64_t start = 0;
  std::wstring category;
  std::wstring description;
  std::wstring episodeTitle;
  bool isNew = false;
  bool previouslyShown = false;
  // Each XMLTV <episode-num>: (system, text), as the grabber wrote them.
  std::vector<std::pair<std::wstring, std::wstring>> episodeNums;
};

struct GuideChannel {
  std::wstring name;
  std::wstring mediumId;
  std::wstring mimetype = L"video/x-tv";
  std::wstring extra;
  std::vector<GuideProgram> programs;
  // The guide file's own names of the channel (XMLTV display-name), by
  // which a line-up channel without a guide id finds it; never answered.
  std::vector<std::wstring> displayNames;
};

// "SearchTVListings" with [title, -, -, from date, to date, max]: the
// programmes whose title equals the asked one (any case; every programme
// when it is empty) and that start within [from, to], at most max, as
// [[count, [channel...]]]. A channel is [name, -, [program...], mimetype,
// extra, -, -, medium id]; a program is [title, -, -, -, duration, start
// date, category, description, -, -, episode title, episode numbers, -, -,
// flags (bit 0: new, bit 1: shown before)]; the episode numbers are
// [[system, text]...] as the guide file has them, left empty when it has
// none. Channels without a match are left out.
class GuidePeer : public ScriptedPeer {
 public:
  static const wchar_t kName[];
  GuidePeer();
  void SetListings(std::vector<GuideChannel> channels);
  std::vector<GuideChannel> Listings() const;
  // The reply for one search (also used by tests to build expectations).
  static Value BuildListings(const std::vector<GuideChannel>& channels, const std::wstring& title,
                             int64_t from, int64_t to, int32_t max);

 protected:
  int DefaultReply(const std::wstring& method, const VARIANT& in, VARIANT* out) override;

 private:
  // (channel index, programme index) pairs, channel by channel in order.
  typedef std::vector<std::pair<size_t, size_t>> Matches;
  // The listings as set and their programmes by lower-case title; searches
  // share one without copying.
  struct Index {
    std::vector<GuideChannel> channels;
    std::unordered_map<std::wstring, Matches> byTitle;
  };
  std::shared_ptr<const Index> Snapshot() const;
  // The reply for the matching programmes that start within [from, to].
  static Value Reply(const std::vector<GuideChannel>& channels, const Matches& matches,
                     int64_t from, int64_t to, int32_t max);

  mutable std::mutex mutex_;
  // Guarded by mutex_; never null.
  std::shared_ptr<const Index> index_ = std::make_shared<const Index>();
};

// The thumbnail service. "Extract Image From Video" [video, jpg, flag]
// runs the extractor (default: none, the jpg is only noted) and notes the
// jpg; "RemoveThumbDB" [path] forgets path and path.jpg (and deletes the
// file in file mode); "Is Thumbnail In DB" [jpg] answers [0/1]; "Are
// Thumbnails In DB" [[jpg...]] answers [[0/1...]]. In file mode a
// thumbnail exists when its file does.
class ThumbnailPeer : public ScriptedPeer {
 public:
  static const wchar_t kName[];
  ThumbnailPeer();
  // True when the extraction worked; a failure answers 1.
  void SetExtractor(std::function<bool(const std::wstring& video, const std::wstring& jpg)> fn);
  void SetFileMode(bool files);
  bool Has(const std::wstring& jpg) const;

 protected:
  int DefaultReply(const std::wstring& method, const VARIANT& in, VARIANT* out) override;

 private:
  mutable std::mutex mutex_;
  // Guarded by mutex_.
  std::function<bool(const std::wstring&, const std::wstring&)> extractor_;
  bool files_ = false;
  std::set<std::wstring> thumbnails_;
};

// A listener of the module's "ALL" notifications ("TevTray").
class ListenerPeer : public ScriptedPeer {
 public:
  static const wchar_t kName[];
  ListenerPeer();
};

}  // namespace peers
}  // namespace tev

#endif  // TEV_PEERS_PEERS_H_
