// The mimetype tables of the whole system and the recording folders.
#include <string>

#include "db/Config.h"
#include "db/RecordingSettings.h"
#include "dvr/DVR.h"
#include "support/Log.h"
#include "support/Text.h"
#include "support/VelException.h"

namespace {

struct ChannelKind {
  const wchar_t* mimetype;
  const wchar_t* extension;           // null: not known
  const wchar_t* recordingMimetype;   // null: not known
  bool web;
};

const wchar_t kTelevision[] = L"video/x-tv";
const wchar_t kInputDevice[] = L"video/x-inputdevice";

// Television is matched by prefix before this table is consulted.
const ChannelKind kChannelKinds[] = {
    {L"video/x-inputdevice", L"asf", L"video/x-ms-asf", false},
    {L"video/x-webwin", L"asf", L"video/x-ms-asf", true},
    {L"video/x-webreal", L"asf", L"video/vnd.rn-realvideo", true},
    {L"audio/x-webreal", L"asf", nullptr, true},
    {L"audio/x-real", L"asf", L"audio/x-pn-realaudio", true},
    {L"audio/x-win", L"wma", L"audio/x-ms-asx", true},
    {L"audio/x-webwin", L"wma", nullptr, true},
    {L"audio/x-ms-asf", L"wma", nullptr, true},
    {L"video/x-videomail", L"wmv", L"video/x-ms-wmv", false},
    {L"audio/x-videomail", nullptr, L"video/x-ms-wma", false},
};

const ChannelKind* FindKind(const std::wstring& mimetype) {
  for (const ChannelKind& kind : kChannelKinds) {
    if (mimetype == kind.mimetype) return &kind;
  }
  return nullptr;
}

const wchar_t* const kRecordingExtensions[] = {L"tivo", L"mp4", L"asf", L"rm",     L"ram",
                                               L"rv",   L"wma", L"wmv", L"dvr-ms", L"mpeg"};

// Text after the last '.', or empty without one.
std::wstring ExtensionOf(const std::wstring& path) {
  size_t dot = path.rfind(L'.');
  return dot == std::wstring::npos ? std::wstring() : path.substr(dot + 1);
}

}  // namespace

bool DVR::IsTVMimetype(const std::wstring& channelMimetype) {
  return channelMimetype.compare(0, std::wstring(kTelevision).size(), kTelevision) == 0;
}

bool DVR::IsWebMimetype(const std::wstring& channelMimetype) {
  const ChannelKind* kind = FindKind(channelMimetype);
  return kind != nullptr && kind->web;
}

bool DVR::IsInputDeviceMimetype(const std::wstring& channelMimetype) {
  return channelMimetype == kInputDevice;
}

std::wstring DVR::GetFileExtention(const std::wstring& channelMimetype) {
  if (IsTVMimetype(channelMimetype)) return L"asf";
  const ChannelKind* kind = FindKind(channelMimetype);
  if (kind == nullptr || kind->extension == nullptr) {
    LogError(L"Don't know the file extension for %ls", channelMimetype.c_str());
    throw VelException(L"DVR::GetFileExtention; Don't know the file extension");
  }
  return kind->extension;
}

std::wstring DVR::GetRecordingMimetype(const std::wstring& channelMimetype) {
  if (IsTVMimetype(channelMimetype)) return L"video/x-ms-dvr";
  const ChannelKind* kind = FindKind(channelMimetype);
  if (kind == nullptr || kind->recordingMimetype == nullptr) {
    LogError(L"Don't know the file mimetype for channelMimetype %ls", channelMimetype.c_str());
    throw VelException(L"DVR::GetRecordingMimetype; Don't know the file extension");
  }
  return kind->recordingMimetype;
}

std::wstring DVR::GetTevMimetype(const std::wstring& filePath, bool video) {
  const std::wstring extension = tev::Lower(ExtensionOf(filePath));
  if (extension == L"asf" || extension == L"tivo" || extension == L"mp4" || extension == L"mpeg") {
    return L"video/x-webwin";
  }
  if (extension == L"rv") return L"video/x-webreal";
  if (extension == L"rm") return video ? L"video/x-webreal" : L"audio/x-real";
  if (extension == L"ram") return L"audio/x-real";
  if (extension == L"dvr-ms") return L"video/x-tv";
  if (extension == L"asx" || extension == L"wma") return L"audio/x-win";
  if (extension == L"wmv") return L"video/x-videomail";
  LogWarn(L"GetTevMimetype Doesn't know the mimetype for %ls", filePath.c_str());
  return std::wstring();
}

bool DVR::IsRecordingExtension(const std::wstring& filePath) {
  size_t dot = filePath.rfind(L'.');
  if (dot == std::wstring::npos) return false;
  std::wstring extension = filePath.substr(dot + 1);
  for (const wchar_t* known : kRecordingExtensions) {
    if (extension == known) return true;
  }
  return false;
}

std::wstring DVR::GetRecordingDirectory(const std::wstring& channelMimetype) {
  const bool video = channelMimetype.compare(0, 5, L"video") == 0;
  // The engine owns the folders (start-up loads them, the setters change
  // them); the settings stand in while there is no engine or it has not
  // loaded them yet.
  if (m_folders) {
    std::wstring folder = m_folders(video);
    if (!folder.empty()) return folder;
  }
  std::wstring stored = Config::GetString(video ? kConfigVideoDirectory : kConfigAudioDirectory);
  if (stored.empty()) {
    // Before start-up has filled the setting: the folder start-up will
    // store, not the root of the file system.
    return video ? RecordingSettings::DefaultVideoFolder() : RecordingSettings::DefaultAudioFolder();
  }
  return stored;
}
