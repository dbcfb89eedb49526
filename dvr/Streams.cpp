// Starting and stopping streams at the streamer.
#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "outbound/PeerClient.h"
#include "vel/VelSatellite.h"
#include "db/Schedule.h"
#include "db/WFormat.h"
#include "dvr/DVR.h"
#include "dvr/StreamStore.h"
#include "support/Log.h"
#include "support/VUtil.h"

namespace {

const wchar_t kStreamer[] = L"TevStreamer";

// The stream settings sent with every start request, in order.
const wchar_t* const kStreamSettings[][2] = {
    {L"audioContainer", L"asf"}, {L"audioCodec", L"wma"},    {L"audioExtension", L"wma"},
    {L"videoContainer", L"asf"}, {L"videoCodec", L"wmv"},    {L"videoAudioCodec", L"wma"},
    {L"videoExtension", L"wmv"}, {L"bitrate", L"1500"},      {L"x", L"1920"},
    {L"y", L"1080"},             {L"scale", L"auto"},        {L"crop", L"no"},
};

}  // namespace

DVR::DVR(PeerClient& peers, FolderSource folders, StopSource stopping)
    : m_peers(peers), m_folders(std::move(folders)), m_stopping(std::move(stopping)) {}

// Two starts in the same millisecond still get different ids, and 0 (no
// stream) is never handed out.
uint32_t DVR::NextStreamId() {
  const auto ticks = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
  uint32_t id = static_cast<uint32_t>(ticks.count());
  uint32_t previous = m_lastStreamId.load();
  for (;;) {
    // Not later than the last id (same millisecond, or a busy burst): the
    // next one after it. The comparison survives the 49-day wrap.
    uint32_t candidate = static_cast<int32_t>(id - previous) > 0 ? id : previous + 1;
    if (candidate == 0) candidate = 1;
    if (m_lastStreamId.compare_exchange_weak(previous, candidate)) return candidate;
  }
}

void DVR::SetStreamId(const std::wstring& path, long id) {
  m_streams.with([&](std::map<std::wstring, long>& table) {
    table[path] = id;
    return 0;
  });
}

int DVR::PrepareWebChannel(const std::wstring& user, const std::wstring& episodeUrl,
                           const std::wstring& channelMimetype, const std::wstring& filePath,
                           const std::wstring& startTimeText, std::wstring* channel) {
  if (!episodeUrl.empty()) {
    return m_peers.ProcessTranscodeUrl(episodeUrl, channelMimetype, L"tv.web", channel);
  }
  std::wstring mimetype, url, thumbnailId, rating, tags, mediaType;
  int result = m_peers.GetMediumInfo(user, *channel, &mimetype, &url, &thumbnailId, &rating, &tags,
                                     &mediaType);
  if (result != 0) return result;
  const std::wstring expanded = ReplaceWildcardInUrl(url, startTimeText);
  if (expanded != url) {
    result = m_peers.ProcessTranscodeUrl(expanded, channelMimetype, mediaType, channel);
    if (result != 0) return result;
  }
  Schedule row(filePath, DVRSTATE_SCHEDULED);
  row.m_episodeUrl = expanded;
  LogInfo(L"Recording Url: %ls", expanded.c_str());
  if (row.m_id != 0) row.Update();
  return 0;
}

int DVR::StartRecording(const std::wstring& user, const std::wstring& episodeUrl,
                        const std::wstring& channelMimetype, std::wstring* filePath,
                        const std::wstring& channel, int32_t duration, const std::wstring& quality,
                        bool flag, const std::wstring& startTimeText,
                        std::wstring* streamerMessage) {
  return StartGeneralRecording(user, channel, episodeUrl, channelMimetype, filePath, duration,
                               startTimeText, streamerMessage);
}

int DVR::StartGeneralRecording(const std::wstring& user, const std::wstring& channelIn,
                               const std::wstring& episodeUrl, const std::wstring& channelMimetype,
                               std::wstring* filePath, int32_t duration,
                               const std::wstring& startTimeText, std::wstring* streamerMessage) {
  const uint32_t streamId = NextStreamId();
  if (streamerMessage != nullptr) streamerMessage->clear();
  std::wstring channel = channelIn;
  std::wstring path = filePath ? *filePath : std::wstring();
  try {
    if (IsWebMimetype(channelMimetype)) {
      int prepared =
          PrepareWebChannel(user, episodeUrl, channelMimetype, path, startTimeText, &channel);
      if (prepared != 0) return prepared;
    }

    AutoVariant in, out, retcodes, streamSettings;
    const long settingsCount = sizeof(kStreamSettings) / sizeof(kStreamSettings[0]);
    VUtil::CreateArray(&streamSettings, VT_VARIANT, settingsCount);
    for (long i = 0; i < settingsCount; ++i) {
      VUtil::PutPair(&streamSettings, i, kStreamSettings[i][0], kStreamSettings[i][1]);
    }
    VUtil::CreateArray(&in, VT_VARIANT, 13);
    VUtil::PutElement(&in, 0, user);
    VUtil::PutElement(&in, 1, static_cast<int32_t>(streamId));
    VUtil::PutElement(&in, 2, L"pvr");
    VUtil::PutElement(&in, 3, channel);
    VUtil::PutElement(&in, 6, streamSettings.get());
    VUtil::PutElement(&in, 10, duration);
    VUtil::PutElement(&in, 11, path);
    VUtil::PutElement(&in, 12, startTimeText);

    LogInfo(L"Requesting recording %ls Channel: %ls duration: %d", path.c_str(), channel.c_str(),
            duration);
    // Kept before asking, so that a crash while the streamer starts still
    // leaves the id to find the stream by.
    const std::wstring requested = path;
    StreamStore::Save(requested, static_cast<long>(streamId));
    long result = m_peers.Request(kStreamer, L"StartStream", in, &out, &retcodes);
    if (result == VEL_TIMEOUT) {
      // The streamer may have started it after all: no stream without a row.
      SetStreamId(requested, static_cast<long>(streamId));
      StopRecording(requested);
    }
    if (result != 0) {
      StreamStore::Remove(requested);
      throw VelException(tev::WFormat(L"StartStream vel request: %x", static_cast<unsigned>(result)));
    }
    const long code = VUtil::GetSingleRetcode(retcodes);
    LogDebug(L"StartGeneralRecording vel call returned %d", static_cast<int>(code));

    // The streamer may have chosen another file: it says so in the
    // "destination" of the stream settings it answers. A refusal may come
    // with its reason after them.
    try {
      AutoVariant reply, specs;
      VUtil::GetElement(out, 0, &reply);
      if (code != 0 && VUtil::GetArrayLength(reply) > 6) {
        const std::wstring message = VUtil::GetStringElement(reply, 6);
        if (!message.empty()) {
          LogWarn(L"StartGeneralRecording: the streamer said: %ls", message.c_str());
        }
        if (streamerMessage != nullptr) *streamerMessage = message;
      }
      VUtil::GetElement(reply, 5, &specs);
      std::wstring destination;
      if (VUtil::FindPair(specs, L"destination", &destination)) path = destination;
    } catch (const VelException&) {
      LogWarn(L"StartGeneralRecording cannot parse stream specs");
    }

    if (path != requested) {
      StreamStore::Remove(requested);
      StreamStore::Save(path, static_cast<long>(streamId));
    }
    SetStreamId(path, static_cast<long>(streamId));
    if (filePath) *filePath = path;
    if (code == kStreamerConnectFailed) {
      StopRecording(path);
      return kCouldNotConnect;
    }
    if (code != 0) {
      StopRecording(path);
      return kStreamerRefused;
    }
    return 0;
  } catch (const VelException& e) {
    LogError(L"DVR::StartGeneralRecording: %ls", e.getMessage().c_str());
    return kStreamerRefused;
  }
}

int DVR::StopRecording(const std::wstring& filePath) {
  const long streamId = GetStreamId(filePath);
  if (streamId == 0) return kNoStream;
  if (Stopping()) return kNoStream;
  try {
    AutoVariant in, out, retcodes;
    VUtil::CreateArray(&in, VT_VARIANT, 1);
    VUtil::PutElement(&in, 0, static_cast<int32_t>(streamId));
    long result = m_peers.Request(kStreamer, L"StopStream", in, &out, &retcodes);
    if (result != 0) {
      throw VelException(tev::WFormat(L"StopStream vel request: %x", static_cast<unsigned>(result)));
    }
    if (VUtil::GetSingleRetcode(retcodes) == kStreamerUnknownStream) {
      // Ended on its own (or with a streamer that restarted): nothing to
      // stop, and nothing wrong.
      LogInfo(L"DVR::StopRecording: the streamer no longer knows stream %ld of %ls", streamId,
              filePath.c_str());
      ForgetStream(filePath);
      return kNoStream;
    }
    VUtil::CheckSingleRetcode(retcodes, nullptr);
  } catch (const VelException& e) {
    LogError(L"DVR::StopRecording: %ls", e.getMessage().c_str());
    ForgetStream(filePath);
    return kNoStream;
  }
  ForgetStream(filePath);
  return 0;
}

void DVR::AdoptStream(const std::wstring& filePath, long streamId) {
  SetStreamId(filePath, streamId);
}

void DVR::ForgetStream(const std::wstring& filePath) {
  SetStreamId(filePath, 0);
  StreamStore::Remove(filePath);
}

int DVR::StopRecording(const std::wstring& user, const std::wstring& channel,
                       const std::wstring& channelMimetype, const std::wstring& filePath) {
  return StopRecording(filePath);
}

long DVR::GetStreamId(const std::wstring& filePath) {
  return m_streams.with([&](std::map<std::wstring, long>& table) -> long {
    auto found = table.find(filePath);
    return found == table.end() ? 0 : found->second;
  });
}
