// The recording timer: computes the next moment something must happen and
// sleeps until then on the standby-waking timer.
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <exception>
#include <iterator>
#include <set>
#include <tuple>

#include "db/RecordingSettings.h"
#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/TimeUtils.h"
#include "db/WFormat.h"
#include "engine/RecordingStartStop.h"
#include "engine/Schedules.h"
#include "platform/Clock.h"
#include "support/Log.h"
#include "support/PMutexLock.h"
#include "support/PThread.h"
#include "support/StandByWaitableTimer.h"
#include "support/VelException.h"

namespace {

// Seconds from now to `at` moved by `offset`; 1 when that has passed.
int32_t WaitFor(int64_t at, int64_t now, int64_t offset) {
  int64_t wait = at - now + offset;
  if (wait < 0) {
    LogDebug(L"SetRecordingTimerInLock: wait was negative");
    wait = 1;
  }
  return static_cast<int32_t>(std::min<int64_t>(wait, INT32_MAX));
}

void WakeUpIn(StandByWaitableTimer& timer, int32_t seconds, bool resume, int64_t elapsedMs);

}  // namespace

void PastInstants::Prune(int64_t now) {
  for (auto it = armed_.begin(); it != armed_.end();) {
    it = std::get<2>(*it) < now - kForgetAfter ? armed_.erase(it) : std::next(it);
  }
}

bool PastInstants::FirstToWaitFor(SQLite& rows, MomentKind kind, int64_t now, int64_t offset,
                                  Schedule* row, int32_t* wait) {
  for (int32_t i = 0; i < rows.GetRowCount(); ++i, rows.Next()) {
    row->FillFromRow(rows);
    const int64_t at = (kind == kStartMoment ? row->m_startTime : row->m_endTime) + offset;
    const auto key = std::make_tuple(static_cast<int>(kind), row->m_id, at);
    if (at < now) {
      if (armed_.count(key) != 0) continue;
      armed_.insert(key);
    }
    *wait = WaitFor(at, now, 0);
    return true;
  }
  return false;
}

void RecordingStartStop::SetRecordingTimer() {
  PMutexLock lock(m_engineLock);
  SetRecordingTimerInLock();
}

void RecordingStartStop::SetRecordingTimerInLock() {
  try {
    const int64_t now = tev::Clock::Now();
    const std::wstring cutoff = FormatTime3(now - 120);
    const int32_t padding = GetPaddingTime();
    PastInstants& armed = m_armedPastInstants;
    armed.Prune(now);
    // Rows whose moment was already armed once while in the past come
    // first in either order; past them only the first row matters.
    SQLite starts;
    starts.LimitRows(armed.Count() + 1);
    if (!starts.RunQuery(
            "SELECT * FROM Schedules WHERE Status = ? AND StartTime > ? ORDER BY StartTime",
            {DVRSTATE_SCHEDULED, cutoff}, L"SetRecordingTimerInLock")) {
      return;
    }
    // AND binds tighter than OR: every scheduled row, plus the recordings
    // that end after the cut-off.
    SQLite stops;
    stops.LimitRows(armed.Count() + 1);
    if (!stops.RunQuery("SELECT * FROM Schedules WHERE Status = ? OR Status = ?  AND EndTime > ? "
                        "ORDER BY EndTime",
                        {DVRSTATE_SCHEDULED, DVRSTATE_RECORDING, cutoff},
                        L"SetRecordingTimerInLock")) {
      return;
    }
    const std::wstring nowText = FormatTime3(now);
    int32_t startWait = 0;
    int32_t stopWait = 0;
    Schedule row;
    if (armed.FirstToWaitFor(starts, kStartMoment, now, -static_cast<int64_t>(padding), &row,
                             &startWait)) {
      LogInfo(L"SetRecordingTimerInLock: Scheduling %ls for %ls, now: %ls wait: %d start: %d "
              L"now: %d ",
              row.m_name.c_str(), FormatTime3(row.m_startTime).c_str(), nowText.c_str(),
              startWait, static_cast<int32_t>(row.m_startTime), static_cast<int32_t>(now));
    }
    if (armed.FirstToWaitFor(stops, kStopMoment, now, padding, &row, &stopWait)) {
      LogInfo(L"SetStoppingTimerInLock: Stopping %ls for %ls, now: %ls wait: %d end: %d now: "
              L"%d ",
              row.m_name.c_str(), FormatTime3(row.m_endTime).c_str(), nowText.c_str(), stopWait,
              static_cast<int32_t>(row.m_endTime), static_cast<int32_t>(now));
    }
    if (startWait < 1 && stopWait < 1) {
      LogDebug(L"SetRecordingTimerInLock: Wake up in 4 hours");
      SetWakeUp(14400, false);
    } else {
      // The earlier of the two; on a tie the stop.
      const int32_t wait =
          stopWait != 0 && (startWait < 1 || startWait >= stopWait) ? stopWait : startWait;
      WakeUpIn(m_timer, wait, true, tev::Clock::NowMs() - now * 1000);
      LogInfo(L"Waiting for: %d", wait);
    }
    m_engine.Housekeeping().RemoveOldSchedules(now);
    // Rows whose end passed unrecorded are settled after every computation
    // (their past end was armed once above, at most).
    m_engine.Intake().ChangePastScheduledToMissed(now);
  } catch (...) {
    LogError(L"Error in SetRecordingTimer");
  }
}

namespace {

// Sleep request of `seconds` counted from an instant `elapsedMs` ago (the
// whole second the wait was computed from), so that a due start is met to
// the millisecond rather than up to a second late.
void WakeUpIn(StandByWaitableTimer& timer, int32_t seconds, bool resume, int64_t elapsedMs) {
  // Waits beyond the timer's 32-bit milliseconds (about 24.8 days) are cut
  // to the longest that fits; the thread then wakes and computes again.
  const int64_t ms = seconds < 0    ? 10
                     : seconds == 0 ? 2000
                                    : std::max<int64_t>(int64_t{seconds} * 1000 - elapsedMs, 1);
  timer.setTimer(static_cast<int32_t>(std::min<int64_t>(ms, INT32_MAX)), resume);
  if (seconds >= 0) {
    LogDebug(L"Sleep for %d hours %d minutes %d seconds", seconds / 3600, (seconds / 60) % 60,
             seconds % 60);
  }
}

}  // namespace

void RecordingStartStop::SetWakeUp(int32_t seconds, bool resume) {
  WakeUpIn(m_timer, seconds, resume, 0);
}

int RecordingStartStop::TimerThreadProc(void*) {
  {
    PMutexLock lock(m_engineLock);
    SetRecordingTimerInLock();
  }
  m_timerRunning = true;
  StandByWaitableTimer& timer = m_timer;
  while (m_engine.IsRunning() && m_timerRunning) {
    if (!timer.waitForAlarm()) LogDebug(L"TimerThreadProc : timer cancelled aborting");
    if (!m_engine.IsRunning()) {
      LogDebug(L"TimerThreadProc aborting");
      break;
    }
    LogDebug(L"TimerThreadProc: Rolling over at %ls", FormatTime3(tev::Clock::Now()).c_str());
    if (!m_timerRunning) break;
    // The recorder is asked outside the engine lock: a slow streamer would
    // otherwise hold up every thread that re-arms the timer. Only the next
    // moment is computed under it.
    try {
      const int64_t now = tev::Clock::Now();
      LogDebug(L"TimerThreadProc: Waking up at %ls", FormatTime3(now).c_str());
      StartRecordingIfAppropriate(now);
      StopCurrentRecordingsIfOver(now);
      PMutexLock lock(m_engineLock);
      SetRecordingTimerInLock();
    } catch (const VelException& e) {
      LogError(L"TimerThreadProc: Exception %ls", e.getMessage().c_str());
      SetWakeUp(1800, true);
    }
    if (m_engine.IsRunning() && m_timerRunning) usleep(10 * 1000);
  }
  LogDebug(L"TimerThread Finished");
  return 0;
}

void RecordingStartStop::StartTimerThread() {
  SetRecordingTimerInLock();
  m_timerThread = new PThread(this, &RecordingStartStop::TimerThreadProc, nullptr);
}

void RecordingStartStop::StopTimerThread() {
  PThread* timerThread;
  {
    PMutexLock lock(m_engineLock);
    timerThread = m_timerThread;
    m_timerThread = nullptr;
  }
  if (timerThread != nullptr) {
    m_timer.cancel();
    timerThread->join(nullptr);
    delete timerThread;
  }
}

void RecordingStartStop::EndTimerLoop() {
  m_timerRunning = false;
  SetWakeUp(-1, true);
}
