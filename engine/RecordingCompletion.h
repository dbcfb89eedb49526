// What happens to a recording once it is under way or done: the
// recorder's reports (started, failed, finished, thumbnail wanted), the
// user's cancel, retry and removal of a schedule, and the list of
// recordings in progress told to listeners. One per engine.
#ifndef TEV_ENGINE_RECORDINGCOMPLETION_H_
#define TEV_ENGINE_RECORDINGCOMPLETION_H_

#include <cstdint>
#include <string>
#include <vector>

#include "engine/DelayedThumbnails.h"
#include "outbound/PeerClient.h"

class LibrarySync;
class DVR;
class EngineHost;
class MetadataEditor;
class RecordingStartStop;
class Schedule;
class ScheduleConflicts;
class Schedules;

class RecordingCompletion {
 public:
  // `engine` (running flag, peers), `recorder`, `host` (may be null),
  // `metadata` and the sibling concerns outlive this object; the siblings
  // may still be under construction when it is built.
  RecordingCompletion(Schedules& engine, DVR& recorder, EngineHost* host, MetadataEditor& metadata,
                      RecordingStartStop& startStop, ScheduleConflicts& conflicts);

  void NotifyRecordStarted(const std::wstring& filePath);
  void NotifyRecordStartedAsync(const std::wstring& filePath);
  // The streamer's reports; `now` is when the report arrived. A failure
  // keeps `streamerMessage` (the streamer's own words, may be empty) in its
  // reason.
  void NotifyRecordFailedAsync(const std::wstring& filePath, int64_t now,
                               const std::wstring& streamerMessage = std::wstring());
  void NotifyRecordComplete(int32_t durationSeconds, const std::wstring& filePath, int64_t now,
                            const std::wstring& streamerMessage = std::wstring());
  void NotifyThumbnailNeeded(const std::wstring& filePath);
  // Ends the delayed thumbnail requests of start reports (shutdown).
  void StopThumbnailRequests() { m_thumbnails.Stop(); }
  // *out becomes one entry per row in DVRSTATE_RECORDING, with its medium
  // id when `withMediumIds` (else ""). 0 on success; 102 when the
  // statement fails (*out is then empty).
  int GetCurrentlyRecording(std::vector<CurrentRecording>* out, bool withMediumIds);
  // Tells every listener the list above, medium ids included
  // ("NotifyPVRRecordingChange").
  void NotifyRecordingChange(PeerClient& peers);
  // Tells every listener that the row's recording started / stopped, then
  // the list.
  void NotifyStarted(PeerClient& peers, const Schedule& row);
  void NotifyStopped(PeerClient& peers, const Schedule& row);
  // The user's cancel of one schedule (stops its recording when running).
  int CancelScheduledRecording(int32_t scheduleId, int64_t now);
  // Schedules the row again from `now`; 0. A row whose file is on disk
  // keeps it (and its state); a new row records the programme again into
  // a new file. A recording in progress is left alone.
  int RetrySchedule(int32_t scheduleId, int64_t now);
  // Inserts a copy of `earlier`, SCHEDULED from `now` for its duration,
  // with a new file name (the counter form of the earlier one), and
  // publishes it. False when no name or row could be made (logged).
  bool RecordAgainInNewRow(const Schedule& earlier, int64_t now);

  // Taking a schedule out of use (engine/RemoveRecording.cpp):
  // A running recording is stopped (COMPLETE_PARTIAL); a pending pass
  // episode becomes DELETED and stays; any other pending row is deleted;
  // a finished or failed one loses its file and thumbnail (the row stays
  // for the folder monitor). `notify`: also delete the medium in the
  // library. `stopOnly`: for a finished one only announce the stop.
  // 0; 108 the file could not be deleted; 102 the row could not be
  // written.
  int RemoveRecording(int32_t scheduleId, bool notify, bool stopOnly, int64_t now);

 private:
  PeerClient* Peers() const;

  // The engine's publisher to the media library.
  LibrarySync& Library() const;
  Schedules& m_engine;
  DVR& m_dvr;
  EngineHost* const m_host;
  MetadataEditor& m_metadata;
  RecordingStartStop& m_startStop;
  ScheduleConflicts& m_conflicts;
  DelayedThumbnails m_thumbnails{m_host, m_dvr};  // the delayed requests of start reports
};

#endif  // TEV_ENGINE_RECORDINGCOMPLETION_H_
