#include "tests/common/ScheduleTable.h"

#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>

#include "db/TimeUtils.h"
#include "platform/WideText.h"

namespace tev {
namespace test {

namespace {

constexpr int kPasses = 20;

int64_t DbTime(int64_t t) { return std::stoll(tev::ToStdUtf8(FormatTime3(t))); }

// Mostly complete, some partial, missed, failed or deleted.
const char* FinishedStatus(int i) {
  switch (i % 40) {
    case 0: case 1: return "DVRSTATE_COMPLETE_PARTIAL";
    case 2: case 3: return "DVRSTATE_MISSED";
    case 4: return "DVRSTATE_ERROR";
    case 5: return "DVRSTATE_DELETED";
    default: return "DVRSTATE_COMPLETE";
  }
}

const char* UpcomingStatus(int i) {
  return i % 100 == 0    ? "DVRSTATE_SKIP"
         : i % 100 == 50 ? "DVRSTATE_CONFLICT"
                         : "DVRSTATE_SCHEDULED";
}

}  // namespace

bool FillSchedules(sqlite3* db, const TableShape& shape, int64_t now, std::string* error) {
  // The module's own connection may hold the write lock for a moment.
  sqlite3_busy_timeout(db, 10000);
  const char* const kInsert =
      "INSERT INTO Schedules (TevMediumId, User, Type, Status, ChannelName, ChannelMimetype, "
      "Channel, Owner, StartTime, EndTime, Duration, Name, Category, EpisodeTitle, EpisodeUrl, "
      "Description, FilePath, Quality, Tuner, Subtitle, KeepUntil, PlayPosition) VALUES "
      "(?1, 'viewer', ?2, ?3, ?4, 'video/x-tv', ?5, ?6, ?7, ?8, ?9, ?10, 'Series', ?11, '', "
      "'An episode of a show that runs every week at about the same time.', ?12, 'high', '', "
      "?11, ?13, 0)";
  sqlite3_stmt* insert = nullptr;
  auto fail = [&]() {
    *error = sqlite3_errmsg(db);
    sqlite3_finalize(insert);
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
  };
  std::error_code ignored;
  if (shape.createFiles) std::filesystem::create_directories(shape.folder, ignored);
  if (sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK ||
      sqlite3_prepare_v2(db, kInsert, -1, &insert, nullptr) != SQLITE_OK) {
    return fail();
  }
  // The passes that own one row in five, ranked 1 to 20.
  for (int pass = 1; pass <= kPasses; ++pass) {
    const std::string sql =
        "INSERT OR IGNORE INTO SeasonPasses (ID, User, Priority, ProgramName, ChannelName, "
        "ChannelMimetype, ScheduleMode, KeepUntil) VALUES (" +
        std::to_string(pass) + ", 'viewer', " + std::to_string(pass) + ", 'Show " +
        std::to_string(pass) + "', 'Channel " + std::to_string(pass) + "', 'video/x-tv', 0, 1)";
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) return fail();
  }
  const int upcoming = static_cast<int>(std::lround(shape.rows * shape.upcomingShare));
  const int finished = shape.rows - upcoming;
  const int64_t historySpan = int64_t{shape.historyDays} * 86400;
  const int64_t upcomingFrom = int64_t{shape.upcomingFromHours} * 3600;
  const int64_t upcomingSpan = std::max<int64_t>(int64_t{shape.upcomingDays} * 86400 - upcomingFrom, 60);
  for (int i = 0; i < shape.rows; ++i) {
    const bool done = i < finished;
    // Evenly spread, on whole minutes, oldest first.
    const int64_t start =
        done ? (now - historySpan + historySpan * i / std::max(finished, 1) - 7200) / 60 * 60
             : (now + upcomingFrom + upcomingSpan * (i - finished) / std::max(upcoming, 1)) / 60 * 60 + 1;
    const int32_t duration = 1800 + (i % 4) * 900;
    const std::string show = "Show " + std::to_string(i % 500);
    const std::string channel = "Channel " + std::to_string(i % 40);
    const std::string episode = "Episode " + std::to_string(i);
    const std::string path = shape.folder + "/" + show + "_" + channel + "_" +
                             std::to_string(DbTime(start)) + " " + std::to_string(i) +
                             " Tev.asf";
    const std::string medium = "library-" + std::to_string(i + 1);
    const std::string owner = i % 5 == 0 ? std::to_string(1 + i % kPasses) : std::string();
    sqlite3_bind_text(insert, 1, medium.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 2, owner.empty() ? "Manual" : "Automatic", -1, SQLITE_STATIC);
    sqlite3_bind_text(insert, 3, done ? FinishedStatus(i) : UpcomingStatus(i), -1, SQLITE_STATIC);
    sqlite3_bind_text(insert, 4, channel.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 5, ("tv." + std::to_string(i % 40)).c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 6, owner.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(insert, 7, DbTime(start));
    sqlite3_bind_int64(insert, 8, DbTime(start + duration));
    sqlite3_bind_int(insert, 9, duration);
    sqlite3_bind_text(insert, 10, show.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 11, episode.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 12, path.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(insert, 13, 1 + i % 3);
    if (sqlite3_step(insert) != SQLITE_DONE) return fail();
    const bool recorded = done && std::string(FinishedStatus(i)).find("COMPLETE") != std::string::npos;
    if (recorded && shape.createFiles && !std::ofstream(path)) {
      fail();
      *error = "cannot create " + path;
      return false;
    }
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  insert = nullptr;
  if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) return fail();
  return true;
}

}  // namespace test
}  // namespace tev
