// Outbound look-ups: a medium by id, a medium's details with the channel
// mimetype its media type implies, transcoding of a stream address, and the
// programme guide. Replies are read defensively: any element missing or of
// the wrong type ends the operation with its failure result.
#include <string>

#include "db/TimeUtils.h"
#include "outbound/PeerClient.h"
#include "platform/Clock.h"
#include "support/Log.h"
#include "support/Text.h"
#include "support/VUtil.h"

namespace {

constexpr int64_t kGuideWindowSeconds = 604800;  // seven days
constexpr int32_t kGuideMaxResults = 1000;

bool Contains(const std::wstring& text, const wchar_t* part) {
  return text.find(part) != std::wstring::npos;
}

// The channel mimetype a medium's media type stands for; empty when none.
// The first matching rule wins, so the order is significant.
std::wstring MimetypeForMediaType(const std::wstring& mediaType, const std::wstring& streamFormat) {
  bool real = Contains(streamFormat, L"r");
  if (tev::StartsWith(mediaType, L"video.file.recorded.webcam") ||
      tev::StartsWith(mediaType, L"tv.webcam")) {
    return L"video/x-inputdevice";
  }
  if (tev::StartsWith(mediaType, L"video.file.recorded.web")) {
    return real ? L"video/x-webreal" : L"video/x-webwin";
  }
  if (tev::StartsWith(mediaType, L"audio.file.recorded.web")) {
    return real ? L"audio/x-real" : L"audio/x-win";
  }
  if (tev::StartsWith(mediaType, L"video.file.uploaded.videomail")) return L"video/x-videomail";
  if (tev::StartsWith(mediaType, L"audio.file.uploaded.videomail")) return L"audio/x-videomail";
  if (tev::StartsWith(mediaType, L"audio.file")) return L"audio/x-videomail";
  if (tev::StartsWith(mediaType, L"video.file.recorded.tv")) return L"video/x-tv";
  if (mediaType == L"tv.web" || tev::StartsWith(mediaType, L"tv.web.")) {
    return real ? L"video/x-webreal" : L"video/x-webwin";
  }
  if (mediaType == L"audio.web" || tev::StartsWith(mediaType, L"audio.web.")) {
    return real ? L"audio/x-real" : L"audio/x-win";
  }
  if (Contains(mediaType, L"tv.channel")) return L"video/x-tv";
  return std::wstring();
}

// Tags come either as one text or as a list of texts joined by blanks.
std::wstring ReadTags(const VARIANT& record, long index) {
  if (record.vt != (VT_ARRAY | VT_VARIANT)) return VUtil::GetStringElement(record, index);
  AutoVariant tags;
  VUtil::GetElement(record, index, &tags);
  if ((tags.get().vt & VT_ARRAY) == 0) return VUtil::GetStringElement(record, index);
  std::wstring joined;
  long count = VUtil::GetArrayLength(tags);
  for (long i = 0; i < count; ++i) {
    joined += VUtil::GetStringElement(tags, i);
    joined += L' ';
  }
  return tev::Trim(joined);
}

}  // namespace

int PeerClient::GetMediumFromId(const std::wstring& user, const std::wstring& mediumId,
                                std::wstring* text1, std::wstring* text2) {
  AutoVariant in, out, retcodes;
  try {
    VUtil::CreateArray(&in, VT_VARIANT, 2);
    VUtil::PutElement(&in, 0, user);
    VUtil::PutElement(&in, 1, mediumId);
    long result = Request(L"Any", L"GetMediumFromId", in, &out, &retcodes);
    if (result != 0) return static_cast<int>(result);
    VUtil::CheckSingleRetcode(retcodes, L"CVelAtl::GetMediumFromId");
    AutoVariant medium;
    VUtil::GetElement(out, 0, &medium);
    std::wstring first = VUtil::GetStringElement(medium, 0);
    std::wstring second = VUtil::GetStringElement(medium, 1);
    if (text1) *text1 = first;
    if (text2) *text2 = second;
    return 0;
  } catch (const VelException& e) {
    LogError(L"Exception in CVelAtl::GetMediumFromId %ls", e.getMessage().c_str());
    return 1;
  }
}

int PeerClient::GetMediumInfo(const std::wstring& user, const std::wstring& mediumId,
                              std::wstring* mimetype, std::wstring* path, std::wstring* thumbnailId,
                              std::wstring* rating, std::wstring* tags, std::wstring* mediaType) {
  AutoVariant in, out, retcodes;
  try {
    VUtil::CreateArray(&in, VT_VARIANT, 7);
    VUtil::PutElement(&in, 0, user);
    VUtil::PutElement(&in, 1, L"tevMediumId=\"" + mediumId + L"\"");
    VUtil::PutElement(&in, 2,
                      L"path, mediaType, streamFormat, thumbnailId, rating, tags, mimeType");
    VUtil::PutElement(&in, 3, std::wstring());
    VUtil::PutElement(&in, 4, std::wstring());
    VUtil::PutElement(&in, 5, int32_t{0});
    VUtil::PutElement(&in, 6, int32_t{1});
    long result = Request(L"Any", L"SearchMedia", in, &out, &retcodes);
    if (result != 0) return static_cast<int>(result);
    VUtil::CheckSingleRetcode(retcodes, L"GetMediumInfo");

    AutoVariant found, records, record;
    VUtil::GetElement(out, 0, &found);
    if (VUtil::GetLongElement(found, 0) < 1) return -1;
    VUtil::GetElement(found, 4, &records);
    VUtil::GetElement(records, 0, &record);
    std::wstring filePath = VUtil::GetStringElement(record, 1);
    std::wstring type = VUtil::GetStringElement(record, 2);
    std::wstring streamFormat = VUtil::GetStringElement(record, 3);
    std::wstring thumbnail = VUtil::GetStringElement(record, 4);
    std::wstring stars = VUtil::GetStringElement(record, 5);
    std::wstring tagText = ReadTags(record, 6);

    std::wstring derived = MimetypeForMediaType(type, streamFormat);
    if (mimetype) *mimetype = derived;
    if (path) *path = filePath;
    if (thumbnailId) *thumbnailId = thumbnail;
    if (rating) *rating = stars;
    if (tags) *tags = tagText;
    if (mediaType) *mediaType = type;
    return derived.empty() ? -1 : 0;
  } catch (const VelException& e) {
    LogError(L"GetMediumInfo: %ls", e.getMessage().c_str());
    return -1;
  }
}

int PeerClient::LookUpChannel(const wchar_t* service, const std::wstring& user,
                              const std::wstring& channelMedium, std::wstring* mimetype,
                              std::wstring* thumbnailId, std::wstring* rating, std::wstring* tags) {
  std::wstring path, mediaType;
  const int found =
      GetMediumInfo(user, channelMedium, mimetype, &path, thumbnailId, rating, tags, &mediaType);
  // A positive answer is the bus library's: the media library was not
  // reached, and asking it again by id would not reach it either.
  if (found > 0) {
    LogError(L"%ls: the media library could not be asked for channel %ls (bus failure %d)", service,
             channelMedium.c_str(), found);
    return kResultBusFailure;
  }
  if (found == 0 && !mimetype->empty()) return 0;
  std::wstring unused;
  return GetMediumFromId(user, channelMedium, mimetype, &unused);
}

int PeerClient::ProcessTranscodeUrl(const std::wstring& url, const std::wstring& mimetype,
                                    const std::wstring& mediaType, std::wstring* outUrl) {
  AutoVariant in, out, retcodes;
  try {
    AutoVariant pairs;
    VUtil::CreateArray(&pairs, VT_VARIANT, 2);
    VUtil::PutPair(&pairs, 0, L"mimeType", mimetype);
    VUtil::PutPair(&pairs, 1, L"mediaType", mediaType);
    VUtil::CreateArray(&in, VT_VARIANT, 4);
    VUtil::PutElement(&in, 0, url);
    VUtil::PutElement(&in, 1, pairs.get());
    VUtil::PutElement(&in, 3, false);
    long result = Request(L"Any", L"ProcessTranscodeUrl", in, &out, &retcodes);
    if (result != 0) return static_cast<int>(result);
    VUtil::CheckSingleRetcode(retcodes, L"ProcessTranscodeUrl");
    std::wstring processed = VUtil::GetStringElement(out, 0);
    if (outUrl) *outUrl = processed;
    return 0;
  } catch (const VelException& e) {
    LogError(L"ProcessTranscodeUrl: %ls", e.getMessage().c_str());
    return -1;
  }
}

bool PeerClient::GetTVGuideSchedule(const std::wstring& program, GuideListings* out) {
  return ReadTVGuideSchedule(PostTVGuideSchedule(program), out);
}

std::unique_ptr<PeerClient::Pending> PeerClient::PostTVGuideSchedule(const std::wstring& program) {
  LogDebug(L"CVelAtl::GetTVGuideSchedule %ls", program.c_str());
  AutoVariant in;
  try {
    // The guide keeps its listings in local time.
    int64_t localNow = tev::Clock::Now() - GetTimeZoneOffset();
    VUtil::CreateArray(&in, VT_VARIANT, 6);
    VUtil::PutElement(&in, 0, program);
    VUtil::PutElement(&in, 1, std::wstring());
    VUtil::PutElement(&in, 2, std::wstring());
    VUtil::PutDateElement(&in, 3, localNow);
    VUtil::PutDateElement(&in, 4, localNow + kGuideWindowSeconds);
    VUtil::PutElement(&in, 5, kGuideMaxResults);
  } catch (const VelException& e) {
    LogError(L"SeasonPassChecker::AddProgramEpisodes: %ls", e.getMessage().c_str());
    return nullptr;  // read as a failed request
  }
  return Post(L"any", L"SearchTVListings", in);
}

bool PeerClient::ReadTVGuideSchedule(std::unique_ptr<PeerClient::Pending> posted,
                                     GuideListings* out) {
  AutoVariant reply, retcodes;
  try {
    long result = Collect(std::move(posted), &reply, &retcodes);
    if (result != 0) {
      LogError(L"CVelAtl::GetTVGuideSchedule vel request: %x", static_cast<unsigned>(result));
      return false;
    }
    VUtil::CheckSingleRetcode(retcodes, L"SearchTVListings");
    AutoVariant listingsCopy;
    const VARIANT& listings = VUtil::ElementInPlace(reply, 0, &listingsCopy.get());
    if (out) *out = ReadGuideListings(listings);
    return true;
  } catch (const VelException& e) {
    LogError(L"SeasonPassChecker::AddProgramEpisodes: %ls", e.getMessage().c_str());
    return false;
  }
}
