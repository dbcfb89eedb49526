// The media library of tev-peers: media kept in a SQLite file of its own,
// each a set of properties (text or integer) under a medium id ("M<n>")
// that the store assigns. Attach() makes a MediaLibraryPeer answer from it.
//
// Searches go through an index of (property, value) terms and of sources,
// so a lookup reads the matching media only.
//
// A person's edits ("UserEditMedium", "UserDeleteMedium") are requests of
// the library's own: the store changes, then the medium's "updateCallback"
// on its "sourceSatellite" hears the changed pairs, as the real library
// calls its sources back. Changes that a source itself sends never call it
// back.
//
// Threads: every operation holds the store's mutex for its statements; no
// lock is held across a callback.
#ifndef TEV_PEERS_MEDIASTORE_H_
#define TEV_PEERS_MEDIASTORE_H_

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "peers/Peers.h"

struct sqlite3;

namespace tev {
namespace peers {

class MediaStore {
 public:
  MediaStore();
  ~MediaStore();
  MediaStore(const MediaStore&) = delete;
  MediaStore& operator=(const MediaStore&) = delete;

  // Opens or creates the file. False with *error on failure.
  bool Open(const std::string& path, std::string* error);
  // Adds or updates the channels of a line-up (peers/ChannelLineup.h: a
  // JSON channel list, an M3U playlist or a tuner line-up, a file or a
  // loopback URL). False with *error when the source is none of them; the
  // entries left out are named in *problems. Source "channels".
  bool ImportChannels(const std::string& source, std::string* error,
                      std::vector<std::string>* problems = nullptr);
  // Channel objects with "id", "name", "path" and optional "mimeType"
  // (default "video/x-tv"), "mediaType" (default "tv.channel"),
  // "streamFormat", "xmltvId", "guideNames", "number", "logo".
  void ImportChannelList(const std::vector<nlohmann::json>& channels);

  // Stores `props` as a medium of `source`: an existing medium when props
  // has a known "tevMediumId", else a new one. Returns the id.
  std::wstring Add(const std::wstring& source, const nlohmann::json& props);
  bool Get(const std::wstring& id, nlohmann::json* props);
  bool Remove(const std::wstring& id);
  // Replaces the medium's properties as they stand (no merge).
  void Put(const std::wstring& id, const std::wstring& source, const nlohmann::json& props);
  bool SetProperty(const std::wstring& id, const std::wstring& name, const nlohmann::json& value);
  // Media whose properties equal every (name, text) of `filter`, by id.
  std::vector<std::pair<std::wstring, nlohmann::json>> Find(
      const std::map<std::string, std::string>& filter);
  // Renames `oldId` (when it exists) to a new id; the new id either way.
  std::wstring ChangeId(const std::wstring& oldId);

  // Answers every media-library method from this store.
  void Attach(MediaLibraryPeer& peer);

  // A person's edit: in = [medium id, PairArray of changes]. The changes
  // are stored and handed to the medium's source ([0, id, pairs]); when
  // the source refuses them (its non-zero return code is answered) or
  // cannot be reached (VelException), the medium goes back to what it
  // was; the source's out value (why it refused) becomes *out. Throws
  // VelInvalidParameterException for an unknown id.
  int UserEditMedium(VelSatellite& library, const VARIANT& in, VARIANT* out = nullptr);
  // A person's deletion: in = [medium id]. The medium is removed and its
  // source hears [1, id]; restored as above when the source refuses.
  int UserDeleteMedium(VelSatellite& library, const VARIANT& in);

  // `name="value"` terms of a SearchMedia filter, joined by anything.
  static std::map<std::string, std::string> ParseFilter(const std::wstring& filter);
  // The names in a SearchMedia field list, in order.
  static std::vector<std::string> ParseFieldNames(const std::wstring& fields);

 private:
  // REQUIRES: mutex_ held (all but Exec, which Open calls with it held too).
  bool Exec(const std::string& sql);
  std::wstring NewIdLocked();
  std::wstring AddLocked(const std::wstring& source, const nlohmann::json& props);
  bool GetLocked(const std::wstring& id, nlohmann::json* props);
  bool RemoveLocked(const std::wstring& id);
  void PutLocked(const std::wstring& id, const std::wstring& source, const nlohmann::json& props);
  std::wstring SourceLocked(const std::wstring& id);
  // Rewrites the medium's terms (none for empty props).
  void IndexLocked(const std::string& key, const nlohmann::json& props);
  int64_t Count(const char* sql);
  // Hands a person's change to the medium's source. 0 accepted, else the
  // source's code, its out value copied to *reply (when given); throws
  // VelException when it cannot be asked.
  static int CallBack(VelSatellite& library, const nlohmann::json& props, const Value& in,
                      VARIANT* reply = nullptr);

  std::mutex mutex_;
  sqlite3* db_ = nullptr;  // guarded by mutex_
};

// A property value as the bus carries it: integers as VT_I4, the rest as
// text.
Value JsonToValue(const nlohmann::json& value);
// A PairArray's pairs as JSON (VT_I4 values stay numbers).
nlohmann::json PairsToJson(const VARIANT& pairs);

}  // namespace peers
}  // namespace tev

#endif  // TEV_PEERS_MEDIASTORE_H_
