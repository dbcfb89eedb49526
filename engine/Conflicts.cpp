// Conflict detection: which schedules can record, given the tuner count of
// their mimetype and the season-pass priorities.
//
// Only television ("video/x-tv...") and capture-device
// ("video/x-inputdevice") schedules take part. A capture device records one
// program at a time; only schedules on the same device overlap.
//
// The transitions made here:
//   SCHEDULED/RECORDING -> SKIP      bumped by a check that outranks or
//                                    forces (a recording is cancelled
//                                    instead), or by ForceSchedule
//   SCHEDULED           -> CONFLICT  displaced by a higher-priority pass
//   CONFLICT/SKIP       -> SCHEDULED UpdateConflicts (nothing blocks it; not
//                                    a skip the user chose) and
//                                    ForceSchedule (nothing overlaps it)
//
// Stateless: rows are read at each call and written back at once; no lock
// beyond the database's, except the engine lock around the timer re-arm.
#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <limits>
#include <set>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "db/EpisodeMarks.h"
#include "db/LocalIds.h"
#include "db/PassStore.h"
#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/TextNumbers.h"
#include "db/TimeUtils.h"
#include "engine/FailureReasons.h"
#include "engine/Planner.h"
#include "engine/Schedules.h"
#include "engine/StatusChange.h"
#include "outbound/PeerClient.h"
#include "platform/Clock.h"
#include "support/Log.h"
#include "support/VelException.h"

namespace {

const wchar_t kScheduled[] = L"DVRSTATE_SCHEDULED";
const wchar_t kRecording[] = L"DVRSTATE_RECORDING";
const wchar_t kSkip[] = L"DVRSTATE_SKIP";
const wchar_t kConflict[] = L"DVRSTATE_CONFLICT";
const wchar_t kInputDevice[] = L"video/x-inputdevice";
const wchar_t kCaller[] = L"CheckForScheduleConflicts";

// Seconds between samples and the offset of the first one.
constexpr int64_t kFirstSample = 60;
constexpr int64_t kSampleStep = 300;

bool IsTelevision(const std::wstring& mimetype) { return mimetype.compare(0, 10, L"video/x-tv") == 0; }
bool IsInputDevice(const std::wstring& mimetype) { return mimetype == kInputDevice; }

// The decimal value of an Owner text; false for empty or non-numeric text.
bool OwnerNumber(const std::wstring& owner, int32_t* number) {
  if (owner.empty()) return false;
  size_t i = (owner[0] == L'-' || owner[0] == L'+') ? 1 : 0;
  if (i == owner.size()) return false;
  for (size_t k = i; k < owner.size(); ++k) {
    if (!iswdigit(owner[k])) return false;
  }
  *number = static_cast<int32_t>(wcstol(owner.c_str(), nullptr, 10));
  return true;
}

// The decimal value of an Owner text, read as the C runtime reads it.
int32_t OwnerValue(const std::wstring& owner) { return tev::Wtoi(owner); }

// Priorities of passes, read once per operation: pass id -> Priority.
typedef std::map<int32_t, int32_t> PriorityCache;

// Priority of a schedule: its pass's Priority, or that of pass 0 (which is
// 0) for an Owner that is not a pass id.
int32_t PriorityOf(const Schedule& row, PriorityCache& cache) {
  int32_t owner = 0;
  if (!OwnerNumber(row.m_owner, &owner)) owner = 0;
  auto it = cache.find(owner);
  if (it != cache.end()) return it->second;
  return cache[owner] = PassStore::Priority(owner);
}

int64_t EndOf(const Schedule& row) { return row.m_startTime + row.m_duration; }

bool ActiveAt(const Schedule& row, int64_t sample) {
  return row.m_startTime < sample && sample < EndOf(row);
}

// The rows that hold or want a tuner of `mimetype` (of the device `channel`
// for a capture device) at some moment of [lo, hi): scheduled, recording or
// left out by the plan. The range grows until no row reaches out of it, so
// the rows are a whole contention window. False when a statement failed.
bool ContentionRows(const std::wstring& mimetype, const std::wstring& channel, int64_t lo,
                    int64_t hi, int32_t leaveOutId, std::vector<Schedule>* rows) {
  for (;;) {
    std::string text =
        "SELECT * FROM Schedules WHERE StartTime < ? AND EndTime > ? AND (Status = ? OR "
        "Status = ? OR Status = ?) AND ChannelMimetype = ? AND ID != ?";
    std::vector<SqlValue> values = {FormatTime3(hi), FormatTime3(lo), kRecording,
                                    kScheduled,      kConflict,       mimetype,
                                    leaveOutId};
    if (IsInputDevice(mimetype)) {
      text += " AND Channel = ?";
      values.emplace_back(channel);
    }
    SQLite query;
    if (!query.RunQuery(text, values, kCaller)) return false;
    *rows = Schedule::FromRows(query);
    int64_t grownLo = lo, grownHi = hi;
    for (const Schedule& row : *rows) {
      grownLo = std::min(grownLo, row.m_startTime);
      grownHi = std::max(grownHi, EndOf(row));
    }
    if (grownLo == lo && grownHi == hi) return true;
    lo = grownLo;
    hi = grownHi;
  }
}

// A row as the planner sees it. A recording keeps its tuner whatever its
// pass: it ranks with the one-offs.
tev::planner::Candidate CandidateOf(const Schedule& row, PriorityCache& priorities) {
  tev::planner::Candidate c;
  c.id = row.m_id;
  c.name = row.m_name;
  c.start = row.m_startTime;
  c.end = EndOf(row);
  c.priority = row.m_status == kRecording ? 0 : PriorityOf(row, priorities);
  c.made = row.m_id;
  return c;
}

std::vector<tev::planner::Candidate> CandidatesOf(const std::vector<Schedule>& rows,
                                                  PriorityCache& priorities) {
  std::vector<tev::planner::Candidate> candidates;
  candidates.reserve(rows.size());
  for (const Schedule& row : rows) candidates.push_back(CandidateOf(row, priorities));
  return candidates;
}

const Schedule* FindRow(const std::vector<Schedule>& rows, int32_t id) {
  for (const Schedule& row : rows) {
    if (row.m_id == id) return &row;
  }
  return nullptr;
}

// A statement's text with the values of its placeholders.
struct Bound {
  std::string text;
  std::vector<SqlValue> values;
};

// The overlap selection shared by every operation here. `statuses` is one
// of the three status forms.
Bound OverlapStatement(const std::wstring& s, const std::wstring& e, Bound statuses,
                       const std::wstring& mimetype, int32_t leaveOutId,
                       const std::wstring& channel) {
  Bound statement{
      "SELECT * FROM Schedules WHERE ((StartTime >= ? AND StartTime < ?) OR  (EndTime > ? "
      "AND EndTime <= ?) OR  (StartTime <= ? AND EndTime > ?)) AND " + statuses.text +
          " AND (ChannelMimetype = ?) AND (ID != ?)",
      {s, e, s, e, s, e}};
  for (SqlValue& value : statuses.values) statement.values.push_back(std::move(value));
  statement.values.emplace_back(mimetype);
  statement.values.emplace_back(leaveOutId);
  if (IsInputDevice(mimetype)) {
    statement.text += " AND Channel = ?";
    statement.values.emplace_back(channel);
  }
  return statement;
}

Bound TwoStatuses() { return {"(Status = ? OR Status = ?)", {kRecording, kScheduled}}; }

Bound FourStatuses() {
  return {"(Status = ? OR Status = ? OR Status = ? OR Status = ?)",
          {kRecording, kScheduled, kSkip, kConflict}};
}

Bound PassStatuses(int32_t owner) {
  return {"(Status = ? OR Status = ? OR Owner = ?)", {kRecording, kScheduled, owner}};
}

bool Run(SQLite& query, const Bound& statement, const wchar_t* caller) {
  return query.RunQuery(statement.text, statement.values, caller);
}

// The conflict list; a schedule's medium id is "" without an endpoint
// (`endpoint` clear). The row was read by the overlap selection a moment
// ago, so its medium id is taken from there rather than read again row by
// row.
std::vector<ScheduleConflict> ConflictList(const std::vector<const Schedule*>& active,
                                           bool endpoint) {
  std::vector<ScheduleConflict> list;
  list.reserve(active.size());
  for (const Schedule* row : active) {
    ScheduleConflict entry;
    entry.name = row->m_name;
    entry.mediumId = endpoint ? row->m_tevMediumId : std::wstring();
    entry.channelName = row->m_channelName;
    entry.start = row->m_startTime;
    entry.end = row->m_endTime;
    entry.subtitle = row->m_subtitle;
    entry.duration = row->m_duration;
    entry.state = Schedule::ExternalStateName(row->m_status);
    list.push_back(std::move(entry));
  }
  return list;
}

// Whether a pass episode gets a tuner when planned with its contention
// window (the program as candidate `leaveOutId`, or 0 when new; it loses
// ties, being the newest). 101 with the rows in its way when the plan
// leaves it out; 101 with the rows it would displace when it may not
// displace (`displace` clear); else 0. Writes nothing: the caller writes
// the episode and then plans its window (ScheduleConflicts::ReplanAround).
int PlanEpisode(const std::wstring& mimetype, const std::wstring& channel, int64_t start,
                int32_t duration, int32_t tuners, int32_t priority, int32_t leaveOutId,
                bool displace, std::vector<const Schedule*>* inTheWay,
                std::vector<Schedule>* rows, bool* settled) {
  try {
    if (!ContentionRows(mimetype, channel, start, start + duration, leaveOutId, rows)) return 102;
  } catch (const VelException&) {  // a stored time outside the writable range
    return 102;
  }
  PriorityCache priorities;
  std::vector<tev::planner::Candidate> candidates = CandidatesOf(*rows, priorities);
  tev::planner::Candidate program;
  program.id = leaveOutId;
  program.start = start;
  program.end = start + duration;
  program.priority = priority;
  program.made = std::numeric_limits<int64_t>::max();
  candidates.push_back(program);
  const tev::planner::Plan plan = tev::planner::PlanWindow(candidates, tuners);
  for (const tev::planner::Skipped& skipped : plan.skipped) {
    if (skipped.id != program.id) continue;
    for (int32_t taker : skipped.takers) {
      if (const Schedule* row = FindRow(*rows, taker)) inTheWay->push_back(row);
    }
    return 101;
  }
  *settled = plan.skipped.empty() &&
             std::none_of(rows->begin(), rows->end(),
                          [](const Schedule& row) { return row.m_status == kConflict; });
  if (displace) return 0;
  for (const tev::planner::Skipped& skipped : plan.skipped) {
    const Schedule* row = FindRow(*rows, skipped.id);
    if (row != nullptr && row->m_status == kScheduled) inTheWay->push_back(row);
  }
  return inTheWay->empty() ? 0 : 101;
}

}  // namespace

PeerClient* ScheduleConflicts::Peers() const { return m_engine.Peers(); }

LibrarySync& ScheduleConflicts::Library() const { return m_engine.Library(); }

int ScheduleConflicts::CheckForScheduleConflicts(
    const std::wstring& name, const std::wstring& channel, const std::wstring& channelMimetype,
    int64_t start, int32_t duration, ScheduleAnswer* conflicts, int32_t leaveOutId,
    int32_t priority, bool displace, bool ownChannel, const std::wstring& channelName, bool force,
    bool includeSkipped, BumpedSet& bumped, int64_t now, bool queryOnly) {
  std::wstring s, e;
  try {
    s = FormatTime3(start);
    e = FormatTime3(start + duration);
  } catch (const VelException& ex) {  // a time outside the writable range
    LogError(L"CheckForScheduleConflicts: %ls", ex.getMessage().c_str());
    return -1;
  }

  // The same program already planned (in any pending state)?
  {
    SQLite query;
    if (!query.RunQuery("SELECT * FROM Schedules WHERE Name = ? AND Channel = ? AND StartTime = ? "
                        "AND Duration = ? AND (Status = ? OR Status = ? OR Status = ?) AND ID != ?",
                        {name, channel, s, duration, kScheduled, kConflict, kSkip, leaveOutId},
                        kCaller)) {
      return 102;
    }
    if (query.GetRowCount() > 0) {
      if (conflicts != nullptr)
        conflicts->SetMediumId(LibrarySync::GetMediumId(query.GetInt("ID")));
      return 119;
    }
  }

  const bool device = IsInputDevice(channelMimetype);
  if (!device && !IsTelevision(channelMimetype)) return 0;
  const int32_t tuners = device ? 1 : m_startStop.GetTunerCount(channelMimetype);
  if (tuners < 1) {
    LogDebug(L"No tuner for %ls, skipping program", channelMimetype.c_str());
    return 105;
  }

  SQLite query;
  if (!Run(query,
           OverlapStatement(s, e, includeSkipped ? FourStatuses() : TwoStatuses(), channelMimetype,
                            leaveOutId, channel),
           kCaller)) {
    return 102;
  }
  if (query.GetRowCount() == 0) return 0;
  std::vector<Schedule> rows = Schedule::FromRows(query);

  PriorityCache priorities;
  int result = 101;
  std::vector<const Schedule*> active;  // distinct by ID, in order of entry
  auto addActive = [&active](const Schedule& row) {
    for (const Schedule* held : active) {
      if (held->m_id == row.m_id) return;
    }
    active.push_back(&row);
  };
  auto bump = [this, &bumped, &addActive, queryOnly, now](Schedule& row) {
    if (row.m_status == kSkip) return;
    if (queryOnly) {
      addActive(row);
      return;
    }
    BumpSchedule(row, now);
    bumped[row.m_id] = kBumpedChanged;
  };
  // A row that wins against the program: counted, or bumped when forced.
  auto standsInTheWay = [&](Schedule& row) {
    if (!force) {
      addActive(row);
    } else {
      bump(row);
    }
  };

  if (priority >= 1) {
    // A pass episode: the same pass on another channel is settled first as
    // before, and a pass placed first (`force`) takes the tuner from a
    // one-off; the tuners then go by the plan of the whole window.
    for (int64_t t = kFirstSample; t < duration; t += kSampleStep) {
      for (Schedule& row : rows) {
        if (!ActiveAt(row, start + t)) continue;
        if (force && row.m_owner.empty()) {
          bump(row);
          continue;
        }
        if (PriorityOf(row, priorities) != priority) continue;
        if (!ownChannel && row.m_channelName == channelName) {
          result = 125;  // the same pass already records this on its own channel
        } else {
          bump(row);
        }
      }
    }
    if (result == 125) return 125;
    std::vector<Schedule> window;
    std::vector<const Schedule*> inTheWay;
    bool settled = false;
    const int planned = PlanEpisode(channelMimetype, channel, start, duration, tuners, priority,
                                    leaveOutId, displace, &inTheWay, &window, &settled);
    if (conflicts != nullptr) conflicts->windowSettled = settled;
    if (planned == 101 && conflicts != nullptr) conflicts->SetConflicts(ConflictList(inTheWay, Peers() != nullptr));
    return planned;
  }

  for (int64_t t = kFirstSample; t < duration; t += kSampleStep) {
    const int64_t sample = start + t;
    for (Schedule& row : rows) {
      if (!ActiveAt(row, sample)) continue;
      if (row.m_owner.empty()) {
        standsInTheWay(row);
        continue;
      }
      const int32_t p = PriorityOf(row, priorities);
      if (p == priority) {
        if (!ownChannel && row.m_channelName == channelName) {
          // The same pass already records this on its own channel.
          result = 125;
          continue;
        }
        bump(row);
      } else if (priority < 1 || p < priority) {
        standsInTheWay(row);
      } else if (displace) {
        if (force) {
          bump(row);
        } else if (row.m_status != kConflict && SetScheduleStatus(Library(), row, kConflict, now,
                                                                  StatusReason::kConflictCheck)) {
          bumped[row.m_id] = kBumpedChanged;
        }
      }
    }
    if (static_cast<int32_t>(active.size()) < tuners) active.clear();
  }

  if (active.empty()) return result == 125 ? 125 : 0;
  if (conflicts != nullptr) conflicts->SetConflicts(ConflictList(active, Peers() != nullptr));
  return 101;
}

void ScheduleConflicts::BumpSchedule(Schedule& row, int64_t now) {
  if (row.m_status != kRecording) {
    // A failed write is logged and keeps the row's state; the bumped set
    // republishes the row as stored either way.
    static_cast<void>(SetScheduleStatus(Library(), row, kSkip, now, StatusReason::kBumped));
  } else {
    m_completion.CancelScheduledRecording(row.m_id, now);
  }
}

void ScheduleConflicts::UpdateConflicts(int32_t scheduleId, int64_t now) {
  LogDebug(L"Update Conflicts %d", scheduleId);
  BumpedSet bumped;
  std::set<int32_t> planned;
  // Skipped rows come back by the blocking rules below (each freed one
  // then planned with its window), rows the plan left out by planning
  // their windows again.
  SQLite query;
  std::vector<Schedule> waiting;
  if (query.RunQuery(std::string("SELECT * FROM Schedules WHERE Status = ? AND ID != ? AND ") +
                         EpisodeMarks::kNotSkippedByUser + " ORDER BY ID DESC",
                     {kSkip, scheduleId}, L"UpdateConflicts")) {
    waiting = Schedule::FromRows(query);
  }

  PriorityCache priorities;
  bool changed = false;
  for (const Schedule& r : waiting) {
    const bool device = IsInputDevice(r.m_channelMimetype);
    if (!device && !IsTelevision(r.m_channelMimetype)) continue;
    std::wstring s, e;
    try {
      s = FormatTime3(r.m_startTime);
      e = FormatTime3(EndOf(r));
    } catch (const VelException&) {
      continue;  // a stored time outside the writable range: leave the row
    }
    const int32_t p = PriorityOf(r, priorities);
    const int32_t owner = OwnerValue(r.m_owner);

    SQLite overlap;
    if (!Run(overlap,
             OverlapStatement(s, e, owner < 1 ? TwoStatuses() : PassStatuses(owner),
                              r.m_channelMimetype, r.m_id, r.m_channel),
             kCaller)) {
      continue;
    }
    bool blocked = false;
    if (overlap.GetRowCount() > 0) {
      const int32_t tuners = device ? 1 : m_startStop.GetTunerCount(r.m_channelMimetype);
      if (tuners < 1) continue;
      std::vector<Schedule> rows = Schedule::FromRows(overlap);
      // Channel name of each blocking candidate's own pass, read once.
      std::map<int32_t, std::wstring> passChannel;
      auto ownPassChannel = [&passChannel](int32_t pass) -> const std::wstring& {
        auto it = passChannel.find(pass);
        if (it != passChannel.end()) return it->second;
        std::wstring channelName;
        SQLite passQuery;
        if (passQuery.RunQuery("SELECT * FROM SeasonPasses WHERE ID = ?", {pass},
                               L"UpdateConflicts") &&
            passQuery.GetRowCount() > 0) {
          channelName = passQuery.GetString("ChannelName");
        }
        return passChannel.emplace(pass, channelName).first->second;
      };
      for (int64_t t = kFirstSample; t < r.m_duration && !blocked; t += kSampleStep) {
        const int64_t sample = r.m_startTime + t;
        for (const Schedule& x : rows) {
          if (!ActiveAt(x, sample)) continue;
          if (x.m_owner.empty()) {
            blocked = true;
          } else {
            const int32_t px = PriorityOf(x, priorities);
            if (px == p && x.m_status == kScheduled) {
              blocked = true;
            } else if (px == p && (x.m_status == kSkip || x.m_status == kConflict) &&
                       x.m_channelName == ownPassChannel(OwnerValue(x.m_owner))) {
              blocked = true;
            } else if (px < p) {
              blocked = true;
            }
          }
          if (blocked) break;
        }
      }
    }
    if (blocked) continue;

    Schedule freed = r;
    if (SetScheduleStatus(Library(), freed, kScheduled, now, StatusReason::kConflictUpdate)) {
      changed = true;
      ReplanWindow(r.m_channelMimetype, r.m_channel, r.m_startTime, EndOf(r), now, bumped,
                   &planned);
    }
  }

  // A change to one schedule frees tuners in its own window only; without
  // one (a pass removed, priorities moved) every waiting row's window.
  Schedule freedRow;
  SQLite left;
  if (scheduleId > 0 &&
      left.RunQuery("SELECT * FROM Schedules WHERE ID = ?", {scheduleId}, L"UpdateConflicts") &&
      left.GetRowCount() > 0) {
    freedRow.FillFromRow(left);
  }
  if (freedRow.m_id != 0) {
    ReplanWindow(freedRow.m_channelMimetype, freedRow.m_channel, freedRow.m_startTime,
                 EndOf(freedRow), now, bumped, &planned);
  } else if (left.RunQuery("SELECT * FROM Schedules WHERE Status = ? AND ID != ? ORDER BY ID DESC",
                           {kConflict, scheduleId}, L"UpdateConflicts")) {
    for (const Schedule& r : Schedule::FromRows(left)) {
      if (planned.count(r.m_id) == 0) {
        ReplanWindow(r.m_channelMimetype, r.m_channel, r.m_startTime, EndOf(r), now, bumped,
                     &planned);
      }
    }
  }
  for (const auto& entry : bumped) {
    // One medium at a time, as a freed row has always been published.
    Schedule row(entry.first);
    if (row.m_id != 0) Library().AddMedium(row, true);
    changed = true;
  }

  if (changed) {
    m_startStop.SetRecordingTimer();
  }
}

void ScheduleConflicts::ReplanAround(int32_t scheduleId, int64_t now, BumpedSet& bumped) {
  Schedule row(scheduleId);
  if (row.m_id == 0) return;
  ReplanWindow(row.m_channelMimetype, row.m_channel, row.m_startTime, EndOf(row), now, bumped,
               nullptr);
}

void ScheduleConflicts::ReplanWindow(const std::wstring& mimetype, const std::wstring& channel,
                                     int64_t lo, int64_t hi, int64_t now, BumpedSet& bumped,
                                     std::set<int32_t>* planned) {
  const bool device = IsInputDevice(mimetype);
  if (!device && !IsTelevision(mimetype)) return;
  const int32_t tuners = device ? 1 : m_startStop.GetTunerCount(mimetype);
  if (tuners < 1) return;
  std::vector<Schedule> rows;
  try {
    if (!ContentionRows(mimetype, channel, lo, hi, 0, &rows)) return;
  } catch (const VelException&) {  // a stored time outside the writable range
    return;
  }
  PriorityCache priorities;
  const tev::planner::Plan plan = tev::planner::PlanWindow(CandidatesOf(rows, priorities), tuners);
  auto rowOf = [&rows](int32_t id) -> Schedule* {
    for (Schedule& row : rows) {
      if (row.m_id == id) return &row;
    }
    return nullptr;
  };
  for (int32_t id : plan.record) {
    Schedule* row = rowOf(id);
    if (planned != nullptr) planned->insert(id);
    if (row == nullptr || row->m_status != kConflict) continue;
    if (SetScheduleStatus(Library(), *row, kScheduled, now, StatusReason::kReplanned)) {
      bumped.emplace(id, kBumpedChanged);
    }
  }
  for (const tev::planner::Skipped& skipped : plan.skipped) {
    Schedule* row = rowOf(skipped.id);
    if (planned != nullptr) planned->insert(skipped.id);
    // Only pass episodes wait in conflict: a one-off or a running
    // recording is never set aside by a plan.
    if (row == nullptr || row->m_owner.empty() || row->m_status == kRecording) continue;
    if (ConflictReasons::Get(skipped.id) != skipped.reason) {
      ConflictReasons::Set(skipped.id, skipped.reason);
      bumped.emplace(skipped.id, kBumpedChanged);
    }
    if (row->m_status != kConflict &&
        SetScheduleStatus(Library(), *row, kConflict, now, StatusReason::kConflictCheck)) {
      bumped.emplace(skipped.id, kBumpedChanged);
    }
  }
}

void ScheduleConflicts::ForceSchedule(int32_t scheduleId, int64_t now) {
  SQLite query;
  if (!query.RunQuery("SELECT * FROM Schedules WHERE ID = ?", {scheduleId}, L"UpdateConflicts") ||
      query.GetRowCount() == 0) {
    return;
  }
  Schedule forced;
  forced.FillFromRow(query);
  const bool device = IsInputDevice(forced.m_channelMimetype);
  if (!device && !IsTelevision(forced.m_channelMimetype)) return;

  SQLite overlap;
  std::wstring startText, endText;
  try {
    startText = FormatTime3(forced.m_startTime);
    endText = FormatTime3(EndOf(forced));
  } catch (const VelException&) {
    return;  // a stored time outside the writable range
  }
  if (!Run(overlap,
           OverlapStatement(startText, endText, TwoStatuses(), forced.m_channelMimetype, scheduleId,
                            forced.m_channel),
           kCaller)) {
    return;
  }
  if (overlap.GetRowCount() == 0) {
    static_cast<void>(SetScheduleStatus(Library(), forced, kScheduled, now, StatusReason::kForced));
    return;
  }
  const int32_t tuners = device ? 1 : m_startStop.GetTunerCount(forced.m_channelMimetype);
  if (tuners < 1) return;
  std::vector<Schedule> rows = Schedule::FromRows(overlap);
  for (int64_t t = kFirstSample; t < forced.m_duration; t += kSampleStep) {
    const int64_t sample = forced.m_startTime + t;
    for (Schedule& x : rows) {
      if (!ActiveAt(x, sample) || x.m_status == kSkip) continue;
      // A recording is only marked; it goes on until its own end.
      static_cast<void>(SetScheduleStatus(Library(), x, kSkip, now, StatusReason::kForcedAside));
    }
  }
  m_startStop.SetRecordingTimer();
}

int ScheduleConflicts::GetConflicts(const std::wstring& mediumId, ScheduleAnswer* out) {
  try {
    const int32_t localId = Peers() != nullptr ? LocalIds::GetLocalIdFromTevMediumId(mediumId) : 0;
    if (localId == 0) return 103;
    Schedule schedule(localId);
    if (schedule.m_id == 0) return 103;
    BumpedSet bumped;
    return CheckForScheduleConflicts(schedule.m_name, schedule.m_channel,
                                     schedule.m_channelMimetype, schedule.m_startTime,
                                     schedule.m_duration, out, schedule.m_id, 0, false, false,
                                     std::wstring(), false, true, bumped, tev::Clock::Now(), true);
  } catch (const VelException& ex) {
    LogError(L"GetConflicts %ls", ex.getMessage().c_str());
    return -1;
  }
}
