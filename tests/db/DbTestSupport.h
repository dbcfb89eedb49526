// Raw SQLite access behind the layer's back, and older schemas.
#ifndef TEV_TESTS_DB_DBTESTSUPPORT_H_
#define TEV_TESTS_DB_DBTESTSUPPORT_H_

#include <sqlite3.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <set>
#include <cstdlib>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "db/Database.h"
#include "db/SQLite.h"
#include "platform/Clock.h"
#include "platform/WideText.h"
#include "support/BBLog.h"
#include "support/Log.h"
#include "tests/common/FakeEnv.h"
#include "tests/common/ScopedEnv.h"
#include "tests/common/TempRoot.h"

namespace dbtest {

using TempDir = tev::test::TempDir;

using ScopedEnv = tev::test::ScopedEnv;

class CapturingLog : public CBBLog {
 public:
  CapturingLog() : CBBLog(1u << 20, false) {}
  void log(const wchar_t* format, va_list args, int level) override {
    std::vector<wchar_t> buffer(8192);
    va_list copy;
    va_copy(copy, args);
    int n = std::vswprintf(buffer.data(), buffer.size(), format, copy);
    va_end(copy);
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back({level, n < 0 ? std::wstring(format) : std::wstring(buffer.data(), n)});
  }
  struct Line {
    int level;
    std::wstring text;
  };
  std::vector<Line> Lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.clear();
  }
  int Count(int level, const std::wstring& text) {
    int n = 0;
    for (const Line& line : Lines()) n += (line.level == level && line.text == text) ? 1 : 0;
    return n;
  }
  bool Has(int level, const std::wstring& text) { return Count(level, text) > 0; }
  bool HasPart(int level, const std::wstring& part) {
    for (const Line& line : Lines()) {
      if (line.level == level && line.text.find(part) != std::wstring::npos) return true;
    }
    return false;
  }
  std::wstring Dump() {
    std::wstring all;
    for (const Line& line : Lines()) all += std::to_wstring(line.level) + L" " + line.text + L"\n";
    return all;
  }

 private:
  std::mutex mutex_;
  std::vector<Line> lines_;
};

class LogCapture {
 public:
  LogCapture() : log_(boost::make_shared<CapturingLog>()) { SetGlobalLogger(log_); }
  ~LogCapture() { SetGlobalLogger(boost::shared_ptr<CBBLog>()); }
  CapturingLog* operator->() { return log_.get(); }

 private:
  boost::shared_ptr<CapturingLog> log_;
};

class RawDb {
 public:
  explicit RawDb(const std::string& path) {
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) {
      ADD_FAILURE() << "cannot open " << path;
    }
    // The layer under test may hold the write lock for a moment.
    sqlite3_busy_timeout(db_, 10000);
  }
  ~RawDb() { sqlite3_close_v2(db_); }
  bool Exec(const std::string& sql) {
    char* error = nullptr;
    int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error);
    if (rc != SQLITE_OK) ADD_FAILURE() << sql << ": " << (error ? error : "?");
    sqlite3_free(error);
    return rc == SQLITE_OK;
  }
  // All rows of a query, each column as text ("<NULL>" for NULL).
  std::vector<std::vector<std::string>> Rows(const std::string& sql) {
    std::vector<std::vector<std::string>> rows;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
      ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db_);
      return rows;
    }
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      std::vector<std::string> row;
      for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
        const unsigned char* text = sqlite3_column_text(stmt, i);
        row.push_back(text ? reinterpret_cast<const char*>(text) : "<NULL>");
      }
      rows.push_back(row);
    }
    sqlite3_finalize(stmt);
    return rows;
  }
  std::string Value(const std::string& sql) {
    auto rows = Rows(sql);
    return rows.empty() || rows[0].empty() ? "<none>" : rows[0][0];
  }
  std::vector<std::string> Columns(const std::string& table) {
    std::vector<std::string> names;
    for (auto& row : Rows("PRAGMA table_info('" + table + "')")) names.push_back(row[1]);
    return names;
  }

 private:
  sqlite3* db_ = nullptr;
};

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// The version-7 columns in table order; addedIn 0: present from the start.
struct ColumnDef {
  const char* name;
  const char* type;
  int addedIn;
};

inline const std::vector<ColumnDef>& SchedulesColumns() {
  static const std::vector<ColumnDef> columns = {
      {"TevMediumId", "varchar", 5}, {"User", "varchar", 0},
      {"Type", "varchar", 0},        {"Status", "varchar", 0},
      {"ChannelName", "varchar", 0}, {"ChannelMimetype", "varchar", 0},
      {"Channel", "varchar", 0},     {"Owner", "varchar", 0},
      {"StartTime", "integer", 0},   {"EndTime", "integer", 0},
      {"Duration", "integer", 0},    {"Name", "varchar", 0},
      {"Category", "varchar", 0},    {"EpisodeTitle", "varchar", 0},
      {"EpisodeUrl", "varchar", 6},  {"Description", "varchar", 0},
      {"FilePath", "varchar", 0},    {"Quality", "varchar", 0},
      {"Tuner", "varchar", 0},       {"Subtitle", "varchar", 0},
      {"KeepUntil", "integer", 0},   {"StartPadding", "integer", 4},
      {"EndPadding", "integer", 4},  {"PlayPosition", "integer", 3},
      {"ThumbnailState", "varchar", 7},
  };
  return columns;
}

inline const std::vector<ColumnDef>& SeasonPassesColumns() {
  static const std::vector<ColumnDef> columns = {
      {"TevMediumId", "varchar", 5},       {"User", "varchar", 4},
      {"Priority", "integer", 4},          {"Category", "varchar", 0},
      {"ProgramName", "varchar", 0},       {"RestrictToOneChannel", "integer", 0},
      {"ChannelName", "varchar", 0},       {"ChannelMimetype", "varchar", 0},
      {"ChannelMedium", "varchar", 0},     {"Quality", "varchar", 0},
      {"ScheduleMode", "integer", 0},      {"StartDate", "integer", 0},
      {"PauseStart", "integer", 6},        {"PauseEnd", "integer", 6},
      {"LastSearched", "integer", 0},      {"KeepUntil", "integer", 0},
      {"Duration", "integer", 0},          {"GuideType", "integer", 0},
      {"EndPadding", "integer", 4},        {"StartPadding", "integer", 4},
  };
  return columns;
}

inline std::vector<std::string> ColumnNames(const std::vector<ColumnDef>& columns) {
  std::vector<std::string> names = {"ID"};
  for (const ColumnDef& c : columns) names.push_back(c.name);
  return names;
}

// "<folder>/TevPVR.db" as a file of `version` (2..7) was written.
inline void MakeDatabase(const std::string& folder, int version) {
  std::filesystem::create_directories(folder);
  RawDb db(folder + "/TevPVR.db");
  auto create = [&](const char* table, const std::vector<ColumnDef>& columns) {
    std::string sql = std::string("CREATE TABLE ") + table +
                      " ('ID' integer PRIMARY KEY AUTOINCREMENT";
    for (const ColumnDef& c : columns) {
      if (c.addedIn <= version) sql += std::string(", '") + c.name + "' " + c.type;
    }
    db.Exec(sql + ")");
  };
  create("Schedules", SchedulesColumns());
  create("SeasonPasses", SeasonPassesColumns());
  db.Exec("CREATE TABLE 'Config' ('Key' varchar, 'Value' varchar )");
  db.Exec("INSERT INTO Config VALUES ('FreeSpaceRequired', '200')");
  db.Exec("INSERT INTO Config VALUES ('Version', '" + std::to_string(version) + "')");
  if (version >= 4) {
    db.Exec("INSERT INTO Config VALUES ('StartPadding', '30')");
    db.Exec("INSERT INTO Config VALUES ('EndPadding', '0')");
  }
}

class DbFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    // Stored times are local: UTC unless the run names a zone.
    const char* zone = std::getenv("TZ");
    zone_.reset(new ScopedEnv("TZ", zone != nullptr && zone[0] != '\0' ? zone : "UTC"));
    tzset();
    appData_.reset(new ScopedEnv("TEV_APPDATA_DIR", dir_.path() + "/appdata"));
    folder_ = dir_.path() + "/appdata/TevNetworks/TevPVR";
    dbPath_ = folder_ + "/TevPVR.db";
  }
  void TearDown() override {
    database_.reset();
    zone_.reset();
    tzset();
  }
  bool OpenDatabase() {
    database_.reset();
    database_.reset(new Database(WFolder()));
    return database_->Open();
  }
  void OpenNew() {
    std::filesystem::create_directories(dir_.path() + "/appdata/TevNetworks");
    ASSERT_TRUE(OpenDatabase()) << tev::ToStdUtf8(log_->Dump());
  }
  std::wstring WFolder() const { return tev::FromStdUtf8(folder_); }

  tev::test::FakeEnv env_;
  TempDir dir_;
  std::unique_ptr<ScopedEnv> zone_;
  std::unique_ptr<ScopedEnv> appData_;
  LogCapture log_;
  std::string folder_;
  std::string dbPath_;
  std::unique_ptr<Database> database_;  // the default database while it lives
};

class OpenDbFixture : public DbFixture {
 protected:
  void SetUp() override {
    DbFixture::SetUp();
    if (!HasFatalFailure()) OpenNew();
  }
};

// One time zone for the scope; the old one is back, and re-read, at its end.
class ScopedZone {
 public:
  explicit ScopedZone(const char* zone) : zone_("TZ", zone) { tzset(); }
  tev::test::FakeEnv env;

 private:
  struct Reread {
    ~Reread() { tzset(); }
  } reread_;  // destroyed after zone_ has put the old zone back
  ScopedEnv zone_;
};

}  // namespace dbtest

#endif  // TEV_TESTS_DB_DBTESTSUPPORT_H_
