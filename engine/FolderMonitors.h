// The engine's three folder monitors (video, audio, Media Center) and what
// they ask of the engine: started at the end of start-up, re-pointed by
// the folder setters, stopped by shutdown.
#ifndef TEV_ENGINE_FOLDERMONITORS_H_
#define TEV_ENGINE_FOLDERMONITORS_H_

#include <memory>
#include <string>
#include <vector>

#include "monitor/FolderOutages.h"
#include "monitor/MonitorHost.h"

class FileSystemMonitor;
class Schedules;

class FolderMonitors : public MonitorHost {
 public:
  explicit FolderMonitors(Schedules& engine);
  // The monitors join their threads before the engine they read goes.
  ~FolderMonitors() override;

  // Starts the "video" and "audio" monitors (not after Shutdown began).
  void Start();
  // Starts the "MediaCenter" monitor.
  void StartMediaCenter();
  // Stops the monitors and waits for their threads. REQUIRES: the engine's
  // running flag is clear (Shutdown), so none can start again.
  void Stop();
  // Points the monitor of `kind` ("video", "audio") at the engine's folder
  // of that kind, which has just changed, and asks it for a pass.
  void Repoint(const std::wstring& kind);
  // The monitor of "video", "audio" or "MediaCenter"; null for others.
  FileSystemMonitor* Monitor(const std::wstring& kind);

  // What the monitors ask of the engine.
  std::wstring VideoDirectory() const override;
  std::wstring AudioDirectory() const override;
  void ChangeRecordingToCompletePartial(int64_t now) override;
  bool IsFileBeingRecorded(const std::wstring& filePath) override;
  // The adopted rows go to the library a hundred per "AddMedia".
  void PublishAdopted(const std::vector<Schedule>& rows) override;
  DVR& Recorder() override;
  MetadataEditor* Metadata() override;
  PMutex& EngineLock() override;

  FolderMonitors(const FolderMonitors&) = delete;
  FolderMonitors& operator=(const FolderMonitors&) = delete;

 private:
  Schedules& m_engine;
  // What the monitors reported unavailable; outlives them.
  FolderOutages m_outages;
  // Constant after construction (each monitor guards its own state).
  std::unique_ptr<FileSystemMonitor> m_monitors[3];
};

#endif  // TEV_ENGINE_FOLDERMONITORS_H_
