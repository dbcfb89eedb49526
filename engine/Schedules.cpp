#include "engine/Schedules.h"

#include "dvr/DVR.h"

Schedules::Schedules(DVR& recorder, EngineHost* host)
    : m_dvr(recorder), m_host(host), m_library(recorder.Peers(), recorder.Thumbnails()) {
  m_engineMutex.ForbidWaitingWhileHeld();
}

Schedules::~Schedules() = default;
