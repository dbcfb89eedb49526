// libFuzzer target: recording file names. A name made from any programme and
// channel text is one component below 256 bytes in the recording folder, and
// parses back to its extension and date.
#include <cstdlib>
#include <string>

#include "db/Config.h"
#include "db/Database.h"
#include "db/RecordingSettings.h"
#include "db/SQLite.h"
#include "db/TimeUtils.h"
#include "dvr/DVR.h"
#include "platform/WideText.h"
#include "tests/common/FakePeers.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("TZ", "UTC", 1);
  setenv("TEV_APPDATA_DIR", fuzz::ScratchFolder().c_str(), 1);
  static Database* database = new Database(tev::FromStdUtf8(fuzz::ScratchFolder() + "/TevPVR"));
  if (!database->Open()) __builtin_trap();
  Config::SetString(kConfigVideoDirectory, tev::FromStdUtf8(fuzz::ScratchFolder() + "/Rec"));
  Config::SetString(kConfigAudioDirectory, tev::FromStdUtf8(fuzz::ScratchFolder() + "/Audio"));
  return 0;
}

namespace {
// Making names asks no peer.
testpeers::FakePeers g_peers;
DVR g_recorder(g_peers);
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string first, rest;
  fuzz::Split(data, size, '\n', &first, &rest);
  const std::wstring text = tev::FromStdUtf8(first);
  std::wstring extension, name, channel, date;
  if (DVR::ParseRecordingFileName(text, &extension, &name, &channel, &date)) {
    fuzz::Check(!name.empty());
  }

  const std::wstring channelText = tev::FromStdUtf8(rest);
  const int64_t start = 1230000000 + static_cast<int64_t>(size) * 86399;
  const std::wstring folder = tev::FromStdUtf8(fuzz::ScratchFolder() + "/Rec");
  const std::wstring made = g_recorder.MakeRecordingFileName(L"video/x-tv", channelText, text, start, 0);
  fuzz::Check(made.compare(0, folder.size() + 1, folder + L"/") == 0);
  const std::wstring component = made.substr(folder.size() + 1);
  fuzz::Check(component.find(L'/') == std::wstring::npos);
  fuzz::Check(component.find(L'\0') == std::wstring::npos);
  fuzz::Check(tev::ToStdUtf8(component).size() < 256);
  if (component.find(L"Tev.") + 4 + 3 == component.size()) {  // no "Tev." before the marker
    // The outputs are filled even when the name part comes out empty.
    DVR::ParseRecordingFileName(made, &extension, nullptr, nullptr, &date);
    fuzz::Check(extension == L"asf");
    std::wstring expected = FormatFilenameDate(start);
    expected[2] = L'/';
    expected[5] = L'/';
    for (wchar_t& c : expected)
      if (c == L'-') c = L':';
    fuzz::Check(date == expected);
  }
  return 0;
}
