// A schedule's description read from and written into its recording file,
// through the metadata editor the caller owns.
#include <cstdint>
#include <string>
#include <vector>

#include "db/Schedule.h"
#include "monitor/FileMetadata.h"
#include "support/Log.h"

namespace {

// Longest text value taken from a file, in characters.
constexpr size_t kMaxTextValue = 4096;
// The row's keep-until name (UNTIL_SPACE_NEEDED...), for a row rebuilt
// from the file after its own was removed.
const wchar_t kKeepUntilAttribute[] = L"TevPVR/KeepUntil";

// Replaces *field with the text attribute when the file has it.
void ReadText(MetadataEditor& editor, const wchar_t* name, std::wstring* field) {
  std::vector<uint8_t> value;
  MetadataType type = WMT_TYPE_BINARY;
  if (SUCCEEDED(editor.GetAttribute(name, &value, &type)) && type == WMT_TYPE_STRING) {
    *field = MetadataEditor::TextOfValue(value, kMaxTextValue);
  }
}

}  // namespace

bool Schedule::PopulateFromFile(MetadataEditor* editor, const std::wstring& path,
                                const std::wstring& channelName,
                                const std::wstring& title, int64_t startTime,
                                const std::wstring& channelMimetype) {
  m_filePath = path;
  m_name = title;
  m_keepUntil = 1;  // UNTIL_SPACE_NEEDED
  m_owner.clear();
  m_channelName = channelName;
  m_channelMimetype = channelMimetype;
  m_startTime = startTime;
  m_status = L"DVRSTATE_COMPLETE";
  m_quality = channelMimetype == L"video/x-tv" ? L"3" : L"high";
  m_tuner = L"any";
  m_type = L"Recovered";

  MetadataFile file(editor, path, false);
  if (!file.ok()) {
    LogError(L"Schedule::PopulateFromFile couldn't open file %ls", path.c_str());
    return false;
  }
  std::vector<uint8_t> value;
  MetadataType type = WMT_TYPE_BINARY;
  if (SUCCEEDED(editor->GetAttribute(L"Duration", &value, &type)) && type == WMT_TYPE_QWORD &&
      value.size() == 8) {
    uint64_t units = 0;  // 100 ns
    for (int i = 7; i >= 0; --i) units = (units << 8) | value[i];
    m_duration = static_cast<int32_t>(units / 10000000);
    m_endTime = startTime + m_duration;
  } else {
    m_duration = -1;
    m_endTime = startTime;
  }
  ReadText(*editor, L"WM/SubTitle", &m_subtitle);
  ReadText(*editor, L"WM/Genre", &m_category);
  ReadText(*editor, L"WM/SubTitleDescription", &m_description);
  ReadText(*editor, L"WM/MediaOriginalChannel", &m_channel);
  ReadText(*editor, L"WM/MediaStationName", &m_channelName);
  std::wstring keepUntil;
  ReadText(*editor, kKeepUntilAttribute, &keepUntil);
  // Only a name of the table counts; anything else leaves the default.
  const int32_t code = KeepUntilCodeFromName(keepUntil);
  if (!keepUntil.empty() && KeepUntilName(code) == keepUntil) m_keepUntil = code;
  file.Close();
  return true;
}

bool Schedule::SetFileMetadata(MetadataEditor* editor) {
  // Opened for writing and saved on close, so the attributes reach the file.
  MetadataFile file(editor, m_filePath, true);
  if (!file.ok()) {
    LogError(L"Schedule::SetFileMetadata couldn't open file %ls", m_filePath.c_str());
    return false;
  }
  // A single attribute that cannot be set does not stop the others.
  editor->SetTextAttribute(L"Title", m_name);
  editor->SetTextAttribute(L"WM/SubTitle", m_subtitle);
  editor->SetTextAttribute(L"WM/Genre", m_category);
  editor->SetTextAttribute(L"WM/SubTitleDescription", m_description);
  editor->SetTextAttribute(L"WM/MediaStationName", m_channelName);
  editor->SetTextAttribute(L"WM/MediaStationCallSign", m_channelName);
  editor->SetTextAttribute(L"WM/MediaOriginalChannel", m_channel);
  editor->SetTextAttribute(kKeepUntilAttribute, KeepUntilName(m_keepUntil));
  if (FAILED(file.Close())) {
    LogError(L"Schedule::SetFileMetadata couldn't save file %ls", m_filePath.c_str());
    return false;
  }
  return true;
}

bool Schedule::SetFileKeepUntil(MetadataEditor* editor, const std::wstring& path,
                                int32_t keepUntil) {
  MetadataFile file(editor, path, true);
  if (!file.ok()) return false;
  editor->SetTextAttribute(kKeepUntilAttribute, KeepUntilName(keepUntil));
  return SUCCEEDED(file.Close());
}
