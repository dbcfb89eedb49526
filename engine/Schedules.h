// The recording engine: turns requests to record into rows of the
// Schedules table and into running recordings. One object, owned by PVRVel.
//
// Lock order when several are held: engine lock (EngineMutex) -> the
// waitable timer's own mutex -> database lock.
#ifndef TEV_ENGINE_SCHEDULES_H_
#define TEV_ENGINE_SCHEDULES_H_

#include <cstdint>
#include <string>

#include "platform/Variant.h"

class Schedules {
 public:
  Schedules();
  ~Schedules();

  // --- Start-up and shutdown ---

  // --- Intake ---
  // Whether a row other than `scheduleId` already uses `filePath`.
  static bool HasDuplicate(const std::wstring& filePath, int scheduleId);

  // --- Media-library publishing ---
  static void AssignTevMediumId(int scheduleId, const std::wstring& mediumId);
  static void AssignTevMediumId(const std::wstring& filePath, const std::wstring& mediumId);
  // One-time medium-id migration of the version-5 database upgrade.
  // Returns true when the walk completed without a bus exception.
  static bool ChangeMediumIds();

  // Read directly by the settings services.
  std::wstring m_videoDirectory;
  std::wstring m_audioDirectory;
  std::wstring m_thirdDirectory;

 private:
  bool m_running = true;
  int32_t m_unused = 0;
};

#endif  // TEV_ENGINE_SCHEDULES_H_
