#include "engine/Schedules.h"

#include "dvr/DVR.h"
#include "monitor/FileSystemMonitor.h"

Schedules::Schedules(DVR& recorder, EngineHost* host)
    : m_dvr(recorder), m_host(host), m_library(recorder.Peers(), recorder.Thumbnails()) {
  m_engineMutex.ForbidWaitingWhileHeld();
  for (auto& monitor : m_monitors) monitor.reset(new FileSystemMonitor(this, &m_folderOutages));
}

// The monitors join their threads before the engine they read goes.
Schedules::~Schedules() {
  for (auto& monitor : m_monitors) monitor.reset();
}
