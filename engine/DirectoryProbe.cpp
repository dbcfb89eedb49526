// The start-up check of the recording folders.
#include <string>

#include "db/RecordingSettings.h"
#include "engine/Schedules.h"
#include "support/Log.h"

void Schedules::CheckRecordingFolders() {
  for (const std::wstring& folder : {VideoDirectory(), AudioDirectory()}) {
    std::wstring why;
    if (RecordingSettings::CheckDirectoryWritable(folder, &why) != 0) {
      LogError(L"Schedules: recordings will fail: %ls", why.c_str());
    }
  }
}
