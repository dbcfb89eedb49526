// The services of "ZoVIZ" in the order they are added to the bus.
#include "bus/CVelAtl.h"

const std::vector<CVelAtlService>& CVelAtlServiceTable() {
  static const std::vector<CVelAtlService> table = {
      {L"ScheduleRecording", &CVelAtl::ScheduleRecording},
      {L"CancelScheduledRecording", &CVelAtl::CancelScheduledRecording},
      {L"RetrySchedule", &CVelAtl::RetrySchedule},
      {L"NotifyTVRecordFinished", &CVelAtl::NotifyRecordFinished},
      {L"NotifyDeviceRecordFinished", &CVelAtl::NotifyRecordFinished},
      {L"NotifyWebRecordFinished", &CVelAtl::NotifyRecordFinished},
      {L"NotifyTVRecordStarted", &CVelAtl::NotifyRecordStarted},
      {L"NotifyDeviceRecordStarted", &CVelAtl::NotifyRecordStarted},
      {L"NotifyWebRecordStarted", &CVelAtl::NotifyRecordStarted},
      {L"NotifyWebRecordStartedAsync", &CVelAtl::NotifyWebRecordStartedAsync},
      {L"NotifyWebRecordFailedAsync", &CVelAtl::NotifyWebRecordFailedAsync},
      {L"AddTevPass", &CVelAtl::AddTevPass},
      {L"GetConflicts", &CVelAtl::GetConflicts},
      {L"SetPVRConfig", &CVelAtl::SetPVRConfig},
      {L"GetPVRConfig", &CVelAtl::GetPVRConfig},
      {L"GetFileFromId", &CVelAtl::GetFileFromId},
      {L"GetFileInfoFromId", &CVelAtl::GetFileInfoFromId},
      {L"GetFileListInfoFromId", &CVelAtl::GetFileListInfoFromId},
      {L"SetPVRVideoRecordingDirectory", &CVelAtl::SetPVRVideoRecordingDirectory},
      {L"SetPVRAudioRecordingDirectory", &CVelAtl::SetPVRAudioRecordingDirectory},
      {L"GetPVRVideoRecordingDirectory", &CVelAtl::GetPVRVideoRecordingDirectory},
      {L"GetPVRAudioRecordingDirectory", &CVelAtl::GetPVRAudioRecordingDirectory},
      {L"GetPVRDiskFreeSpaceRequired", &CVelAtl::GetPVRDiskFreeSpaceRequired},
      {L"SetPVRDiskFreeSpaceRequired", &CVelAtl::SetPVRDiskFreeSpaceRequired},
      {L"VideoThumbnailCallback", &CVelAtl::VideoThumbnailCallback},
      {L"NotifyThumbnailNeeded", &CVelAtl::NotifyThumbnailNeeded},
      {L"SetFilePlayPosition", &CVelAtl::SetFilePlayPosition},
      {L"UpdateMedium", &CVelAtl::UpdateMedium},
      {L"GetPVRRecordPadding", &CVelAtl::GetPVRRecordPadding},
      {L"SetPVRRecordPadding", &CVelAtl::SetPVRRecordPadding},
  };
  return table;
}
