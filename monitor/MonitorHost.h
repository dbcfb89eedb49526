// What a folder monitor needs of the engine that owns it. The engine
// implements it and hands itself to each monitor it makes; a monitor
// without a host (tests of the parsers) has no folders, adopts files
// without asking whether they are being recorded and publishes nothing.
#ifndef TEV_MONITOR_MONITORHOST_H_
#define TEV_MONITOR_MONITORHOST_H_

#include <cstdint>
#include <string>
#include <vector>

class DVR;
class MetadataEditor;
class PMutex;
class Schedule;

class MonitorHost {
 public:
  virtual ~MonitorHost() = default;
  // The recording folders; empty before they are loaded.
  virtual std::wstring VideoDirectory() const = 0;
  virtual std::wstring AudioDirectory() const = 0;
  // Settles the rows a crash left recording.
  virtual void ChangeRecordingToCompletePartial(int64_t now) = 0;
  // Whether intake or the streamer is writing the file right now: it is
  // not a found file to adopt.
  virtual bool IsFileBeingRecorded(const std::wstring& filePath) = 0;
  // Publishes the rows adopted from a folder to the media library.
  virtual void PublishAdopted(const std::vector<Schedule>& rows) = 0;
  // The recorder: thumbnails and the peers.
  virtual DVR& Recorder() = 0;
  // The editor that reads a found file's description.
  virtual MetadataEditor* Metadata() = 0;
  // The engine's lock, which a transaction holds for its scope.
  virtual PMutex& EngineLock() = 0;
};

#endif  // TEV_MONITOR_MONITORHOST_H_
