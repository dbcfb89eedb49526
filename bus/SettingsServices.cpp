// The services that read and change the recording settings.
#include <string>

#include "bus/CVelAtl.h"
#include "bus/OutText.h"
#include "db/Config.h"
#include "db/RecordingSettings.h"
#include "db/TextNumbers.h"
#include "engine/Schedules.h"
#include "platform/PathCheck.h"
#include "support/Text.h"
#include "support/VUtil.h"
#include "support/VelException.h"

namespace {

void PutLong(VARIANT* out, int32_t number) {
  VariantClear(out);
  out->vt = VT_I4;
  out->lVal = number;
}

}  // namespace

int CVelAtl::SetPVRConfig(const std::wstring&, const VARIANT& in, VARIANT*) {
  std::wstring key = VUtil::GetStringElement(in, 0);
  std::wstring value = VUtil::GetStringElement(in, 1);
  // The folder keys have services of their own that check the folder; a raw
  // change here may not store a path those would refuse.
  std::wstring reason;
  if ((tev::EqualsNoCase(key, kConfigVideoDirectory) ||
       tev::EqualsNoCase(key, kConfigAudioDirectory)) &&
      !tev::IsAcceptableFolder(value, &reason)) {
    throw VelInvalidParameterException(L"SetPVRConfig: " + reason);
  }
  int result = Config::Set(key, value);
  if (result == 0 && tev::EqualsNoCase(key, kConfigFreeSpaceRequired)) {
    RecordingSettings::InitializeFreeSpaceRequired();
  }
  return result;
}

int CVelAtl::GetPVRConfig(const std::wstring&, const VARIANT& in, VARIANT* out) {
  std::wstring key = VUtil::GetStringElement(in, 0);
  std::wstring value;
  int result = Config::Get(key, &value);
  if (result == 0) PutText(out, value);
  return result;
}

int CVelAtl::SetPVRVideoRecordingDirectory(const std::wstring&, const VARIANT& in, VARIANT*) {
  return engine_->Folders().SetVideoRecordingDirectory(VUtil::GetScalarString(in));
}

int CVelAtl::SetPVRAudioRecordingDirectory(const std::wstring&, const VARIANT& in, VARIANT*) {
  return engine_->Folders().SetAudioRecordingDirectory(VUtil::GetScalarString(in));
}

int CVelAtl::GetPVRVideoRecordingDirectory(const std::wstring&, const VARIANT&, VARIANT* out) {
  PutText(out, engine_->VideoDirectory());
  return 0;
}

int CVelAtl::GetPVRAudioRecordingDirectory(const std::wstring&, const VARIANT&, VARIANT* out) {
  PutText(out, engine_->AudioDirectory());
  return 0;
}

int CVelAtl::GetPVRDiskFreeSpaceRequired(const std::wstring&, const VARIANT&, VARIANT* out) {
  PutLong(out, tev::Wtoi(Config::GetString(kConfigFreeSpaceRequired)));
  return 0;
}

int CVelAtl::SetPVRDiskFreeSpaceRequired(const std::wstring&, const VARIANT& in, VARIANT*) {
  engine_->Folders().SetFreeSpaceRequired(VUtil::GetScalarLong(in));
  return 0;
}

int CVelAtl::GetPVRRecordPadding(const std::wstring&, const VARIANT&, VARIANT* out) {
  PutLong(out, tev::Wtoi(Config::GetString(kConfigRecordPadding)));
  return 0;
}

int CVelAtl::SetPVRRecordPadding(const std::wstring&, const VARIANT& in, VARIANT*) {
  engine_->Folders().SetRecordPadding(VUtil::GetScalarLong(in));
  return 0;
}
