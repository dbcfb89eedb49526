#include "peers/Peers.h"

#include <sys/stat.h>

#include <cstdio>
#include <cwctype>

#include "platform/WideText.h"
#include "support/VUtil.h"

namespace tev {
namespace peers {

namespace {

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

// Whether `text` in lower case is `lower`, without a copy of it.
bool EqualsLower(const std::wstring& text, const std::wstring& lower) {
  if (text.size() != lower.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (static_cast<wchar_t>(std::towlower(text[i])) != lower[i]) return false;
  }
  return true;
}

bool FileExists(const std::wstring& path) {
  struct stat info;
  return ::stat(tev::ToStdUtf8(path).c_str(), &info) == 0;
}

}  // namespace

int32_t ReadInteger(const VARIANT& array, long index) {
  if (array.vt == (VT_ARRAY | VT_I4)) return VUtil::GetLongElement(array, index);
  AutoVariant element;
  VUtil::GetElement(array, index, &element);
  const VARIANT& v = element.get();
  switch (v.vt) {
    case VT_I4: return v.lVal;
    case VT_UI4: return static_cast<int32_t>(v.ulVal);
    case VT_I2: return v.iVal;
    case VT_UI2: return v.uiVal;
    case VT_BOOL: return v.boolVal != 0 ? 1 : 0;
    default: throw VelInvalidParameterException(L"Element is not an integer");
  }
}

// --- Media library ----------------------------------------------------------

const wchar_t MediaLibraryPeer::kName[] = L"TevMediaV2";

MediaLibraryPeer::MediaLibraryPeer()
    : ScriptedPeer(kName, {L"IsReady", L"SearchMedia", L"GetMediumFromId", L"AddMedium", L"AddMedia",
                           L"GetMediaFromSource", L"RemoveImportedMedia", L"SetMediaAttributes",
                           L"SetMediaAttributeList", L"SetMediumAttributes", L"ChangeMediaId",
                           L"SetThumbnailUrl", L"ProcessTranscodeUrl", L"VideoThumbnailCallback",
                           L"UserEditMedium", L"UserDeleteMedium"}) {}

std::wstring MediaLibraryPeer::NewMediumId() { return L"M" + std::to_wstring(nextId_++); }

int MediaLibraryPeer::DefaultReply(const std::wstring& method, const VARIANT& in, VARIANT* out) {
  auto idOf = [this](const VARIANT& list) {
    std::wstring id;
    if (!VUtil::FindPair(list, L"tevMediumId", &id) || id.empty()) id = NewMediumId();
    return id;
  };
  // The lists are read in place: a batch of media is large.
  auto element = VUtil::ElementInPlace;
  if (method == L"AddMedium") {
    AutoVariant copy;
    Value::Array({Value::Str(idOf(element(in, 1, &copy)))}).CopyTo(out);
  } else if (method == L"AddMedia") {
    AutoVariant listsCopy;
    const VARIANT& lists = element(in, 1, &listsCopy);
    std::vector<Value> ids;
    for (long i = 0; i < VUtil::GetArrayLength(lists); ++i) {
      AutoVariant copy;
      ids.push_back(Value::Str(idOf(element(lists, i, &copy))));
    }
    Value::Array({Value::Array(ids)}).CopyTo(out);
  } else if (method == L"ChangeMediaId") {
    AutoVariant keys;
    VUtil::GetElement(in, 0, &keys);
    std::vector<Value> ids;
    for (long i = 0; i < VUtil::GetArrayLength(keys); ++i) ids.push_back(Value::Str(NewMediumId()));
    Value::Array({Value::Array(ids)}).CopyTo(out);
  } else if (method == L"GetMediaFromSource") {
    Value::Array({Value::Array({})}).CopyTo(out);
  } else if (method == L"ProcessTranscodeUrl") {
    Value::Array({Value::Str(VUtil::GetStringElement(in, 0))}).CopyTo(out);
  }
  return 0;
}

// --- Streamer ---------------------------------------------------------------

const wchar_t StreamerPeer::kName[] = L"TevStreamer";
const wchar_t StreamerPeer::kModule[] = L"ZoVIZ";

StreamerPeer::StreamerPeer() : ScriptedPeer(kName, {L"StartStream", L"StopStream"}) {}

long StreamerPeer::NotifyStarted(const std::wstring& path, const std::wstring& kind,
                                 int32_t streamId) {
  AutoVariant out, retcodes;
  Value in = Value::Array({Value::Long(streamId), Value::Long(0), Value::Str(path)});
  return Request(kModule, L"Notify" + kind + L"RecordStarted", in.get(), &out, 0, &retcodes);
}

long StreamerPeer::NotifyFinished(const std::wstring& path, int32_t seconds,
                                  const std::wstring& kind, int32_t streamId,
                                  const std::wstring& message) {
  AutoVariant out, retcodes;
  std::vector<Value> elements{Value::Long(streamId), Value::Long(seconds), Value::Str(path)};
  if (!message.empty()) elements.push_back(Value::Str(message));
  Value in = Value::Array(elements);
  return Request(kModule, L"Notify" + kind + L"RecordFinished", in.get(), &out, 0, &retcodes);
}

std::map<int32_t, std::wstring> StreamerPeer::ActiveStreams() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return active_;
}

int StreamerPeer::DefaultReply(const std::wstring& method, const VARIANT& in, VARIANT* out) {
  if (method == L"StartStream") {
    const int32_t id = ReadInteger(in, 1);
    const std::wstring channel = VUtil::GetStringElement(in, 3);
    const int32_t duration = ReadInteger(in, 10);
    const std::wstring path = VUtil::GetStringElement(in, 11);
    AutoVariant requested;
    VUtil::GetElement(in, 6, &requested);
    std::vector<std::pair<std::wstring, Value>> specs;
    for (long i = 0; i < VUtil::GetArrayLengthEmpty(requested); ++i) {
      std::wstring name, value;
      VUtil::GetPair(requested, i, &name, &value);
      specs.emplace_back(name, Value::Str(value));
    }
    specs.emplace_back(L"destination", Value::Str(path));
    Value::Array({Value::Array({Value::Long(id), Value::Str(channel), Value::Str(path),
                                Value::Long(duration), Value(), Value::Pairs(specs)})})
        .CopyTo(out);
    std::lock_guard<std::mutex> hold(mutex_);
    active_[id] = path;
    return 0;
  }
  if (method == L"StopStream") {
    const int32_t id = ReadInteger(in, 0);
    std::lock_guard<std::mutex> hold(mutex_);
    return active_.erase(id) == 1 ? 0 : 1;
  }
  return 0;
}

// --- TV service -------------------------------------------------------------

const wchar_t TVServicePeer::kName[] = L"TevTVService";

TVServicePeer::TVServicePeer() : ScriptedPeer(kName, {L"GetTVInfo"}) {}

void TVServicePeer::SetTuners(const std::vector<Tuner>& tuners) {
  std::lock_guard<std::mutex> hold(mutex_);
  tuners_ = tuners;
}

int TVServicePeer::DefaultReply(const std::wstring& method, const VARIANT&, VARIANT* out) {
  std::vector<Tuner> tuners;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    tuners = tuners_;
  }
  std::vector<Value> list{Value::Long(static_cast<int32_t>(tuners.size()))};
  for (size_t i = 0; i < tuners.size(); ++i) {
    list.push_back(Value::Array({Value::Str(tuners[i].name), Value::Long(static_cast<int32_t>(i)),
                                 Value::Str(tuners[i].mimetype)}));
  }
  Value::Array({Value::Array(list)}).CopyTo(out);
  return 0;
}

// --- Guide ------------------------------------------------------------------

const wchar_t GuidePeer::kName[] = L"TevGuide";

GuidePeer::GuidePeer() : ScriptedPeer(kName, {L"SearchTVListings"}) {}

void GuidePeer::SetListings(std::vector<GuideChannel> channels) {
  auto index = std::make_shared<Index>();
  index->channels = std::move(channels);
  const std::vector<GuideChannel>& listed = index->channels;
  for (size_t c = 0; c < listed.size(); ++c) {
    for (size_t p = 0; p < listed[c].programs.size(); ++p) {
      index->byTitle[Lower(listed[c].programs[p].title)].emplace_back(c, p);
    }
  }
  std::lock_guard<std::mutex> hold(mutex_);
  index_ = index;
}

std::vector<GuideChannel> GuidePeer::Listings() const { return Snapshot()->channels; }

std::shared_ptr<const GuidePeer::Index> GuidePeer::Snapshot() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return index_;
}

Value GuidePeer::BuildListings(const std::vector<GuideChannel>& channels, const std::wstring& title,
                               int64_t from, int64_t to, int32_t max) {
  const std::wstring wanted = Lower(title);
  Matches matches;
  for (size_t c = 0; c < channels.size(); ++c) {
    for (size_t p = 0; p < channels[c].programs.size(); ++p) {
      if (wanted.empty() || EqualsLower(channels[c].programs[p].title, wanted)) {
        matches.emplace_back(c, p);
      }
    }
  }
  return Reply(channels, matches, from, to, max);
}

Value GuidePeer::Reply(const std::vector<GuideChannel>& channels, const Matches& matches,
                       int64_t from, int64_t to, int32_t max) {
  int32_t count = 0;
  std::vector<Value> channelList;
  for (size_t at = 0; at < matches.size();) {
    const GuideChannel& channel = channels[matches[at].first];
    std::vector<Value> programs;
    for (; at < matches.size() && &channels[matches[at].first] == &channel; ++at) {
      const GuideProgram& p = channel.programs[matches[at].second];
      if (count >= max) continue;
      if (p.start < from || p.start > to) continue;
      std::vector<Value> slots(15);
      slots[0] = Value::Str(p.title);
      slots[4] = Value::Long(p.duration);
      slots[5] = Value::Date(p.start);
      slots[6] = Value::Str(p.category);
      slots[7] = Value::Str(p.description);
      slots[10] = Value::Str(p.episodeTitle);
      if (!p.episodeNums.empty()) {
        std::vector<Value> numbers;
        for (const auto& [system, text] : p.episodeNums) {
          numbers.push_back(Value::Array({Value::Str(system), Value::Str(text)}));
        }
        slots[11] = Value::Array(numbers);
      }
      slots[14] = Value::Long((p.isNew ? 1 : 0) | (p.previouslyShown ? 2 : 0));
      programs.push_back(Value::Array(slots));
      ++count;
    }
    if (programs.empty()) continue;
    std::vector<Value> slots(8);
    slots[0] = Value::Str(channel.name);
    slots[2] = Value::Array(programs);
    slots[3] = Value::Str(channel.mimetype);
    slots[4] = Value::Str(channel.extra);
    slots[7] = Value::Str(channel.mediumId);
    channelList.push_back(Value::Array(slots));
  }
  return Value::Array({Value::Long(count), Value::Array(channelList)});
}

int GuidePeer::DefaultReply(const std::wstring&, const VARIANT& in, VARIANT* out) {
  const std::wstring title = VUtil::GetStringElement(in, 0);
  const int64_t from = VUtil::GetDateElement(in, 3);
  const int64_t to = VUtil::GetDateElement(in, 4);
  const int32_t max = ReadInteger(in, 5);
  std::shared_ptr<const Index> index = Snapshot();
  if (title.empty()) {
    Value::Array({BuildListings(index->channels, title, from, to, max)}).CopyTo(out);
  } else {
    auto found = index->byTitle.find(Lower(title));
    const Matches none;
    Value::Array({Reply(index->channels, found == index->byTitle.end() ? none : found->second,
                        from, to, max)})
        .CopyTo(out);
  }
  return 0;
}

// --- Thumbnails -------------------------------------------------------------

const wchar_t ThumbnailPeer::kName[] = L"TevThumbnailer";

ThumbnailPeer::ThumbnailPeer()
    : ScriptedPeer(kName, {L"Extract Image From Video", L"RemoveThumbDB", L"Is Thumbnail In DB",
                           L"Are Thumbnails In DB"}) {}

void ThumbnailPeer::SetExtractor(
    std::function<bool(const std::wstring& video, const std::wstring& jpg)> fn) {
  std::lock_guard<std::mutex> hold(mutex_);
  extractor_ = std::move(fn);
}

void ThumbnailPeer::SetFileMode(bool files) {
  std::lock_guard<std::mutex> hold(mutex_);
  files_ = files;
}

bool ThumbnailPeer::Has(const std::wstring& jpg) const {
  std::lock_guard<std::mutex> hold(mutex_);
  return files_ ? FileExists(jpg) : thumbnails_.count(jpg) != 0;
}

int ThumbnailPeer::DefaultReply(const std::wstring& method, const VARIANT& in, VARIANT* out) {
  if (method == L"Extract Image From Video") {
    const std::wstring video = VUtil::GetStringElement(in, 0);
    const std::wstring jpg = VUtil::GetStringElement(in, 1);
    std::function<bool(const std::wstring&, const std::wstring&)> extractor;
    {
      std::lock_guard<std::mutex> hold(mutex_);
      extractor = extractor_;
    }
    if (extractor && !extractor(video, jpg)) return 1;
    std::lock_guard<std::mutex> hold(mutex_);
    thumbnails_.insert(jpg);
    return 0;
  }
  if (method == L"RemoveThumbDB") {
    const std::wstring path = VUtil::GetStringElement(in, 0);
    std::lock_guard<std::mutex> hold(mutex_);
    for (const std::wstring& jpg : {path, path + L".jpg"}) {
      thumbnails_.erase(jpg);
      if (files_ && jpg.size() > 4 && jpg.compare(jpg.size() - 4, 4, L".jpg") == 0) {
        std::remove(tev::ToStdUtf8(jpg).c_str());
      }
    }
    return 0;
  }
  if (method == L"Is Thumbnail In DB") {
    Value::Array({Value::Long(Has(VUtil::GetStringElement(in, 0)) ? 1 : 0)}).CopyTo(out);
    return 0;
  }
  if (method == L"Are Thumbnails In DB") {
    AutoVariant paths;
    VUtil::GetElement(in, 0, &paths);
    std::vector<Value> flags;
    for (long i = 0; i < VUtil::GetArrayLength(paths); ++i) {
      flags.push_back(Value::Long(Has(VUtil::GetStringElement(paths, i)) ? 1 : 0));
    }
    Value::Array({Value::Array(flags)}).CopyTo(out);
    return 0;
  }
  return 0;
}

// --- Listener ---------------------------------------------------------------

const wchar_t ListenerPeer::kName[] = L"TevTray";

ListenerPeer::ListenerPeer()
    : ScriptedPeer(kName, {L"NotifyStartRecording", L"NotifyStopRecording",
                           L"NotifyPVRRecordingChange"}) {}

}  // namespace peers
}  // namespace tev
