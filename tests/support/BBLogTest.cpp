#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "platform/WideText.h"
#include "support/BBLog.h"
#include "support/Log.h"
#include "support/PThread.h"
#include "tests/common/ScopedEnv.h"
#include "tests/common/Shell.h"
#include "tests/common/TempRoot.h"

namespace fs = std::filesystem;

namespace {

using tev::test::ReadFile;

void WriteAll(const std::string& path, const std::string& content) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

size_t CountOf(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

}  // namespace

// Every test logs into its own application-data folder and registry file.
class CBBLogTest : public ::testing::Test {
 protected:
  void TearDown() override { SetGlobalLogger(boost::shared_ptr<CBBLog>()); }
  std::string Logs() const { return appData_ + "/TevNetworks/Logs/"; }
  void SetLogLevel(int level) {
    WriteAll(registry_, "[HKEY_LOCAL_MACHINE\\Software\\TEV Networks\\Tev]\nLogLevel=" + std::to_string(level) + "\n");
  }

  tev::test::TempDir dir_{"bblog-test."};
  const std::string root_ = dir_.path();
  const std::string appData_ = root_ + "/appdata", registry_ = root_ + "/registry.ini";
  tev::test::ScopedEnv appDataEnv_{"TEV_APPDATA_DIR", appData_};
  tev::test::ScopedEnv registryEnv_{"TEV_REGISTRY_FILE", registry_};
};

TEST_F(CBBLogTest, RotatesAtOpeningOnlyAboveTheLimitAndWhileWriting) {
  struct Case {
    uint64_t existing;
    bool movedAtOpening;
  } cases[] = {{524288, false}, {524289, true}};
  for (const Case& c : cases) {
    const std::string name = "Start" + std::to_string(c.existing) + ".log";
    const std::string old(c.existing, 'o');
    WriteAll(Logs() + name, old);
    {
      CBBLog log(tev::FromStdUtf8(name), false);
      log.error(L"first after start");
      log.Flush();
    }
    std::string main = ReadFile(Logs() + name);
    std::string back = ReadFile(Logs() + name + ".back");
    if (c.movedAtOpening) {
      EXPECT_EQ(back, old);  // copied away before anything was written
      EXPECT_EQ(CountOf(main, "first after start"), 1u);
      EXPECT_EQ(main.find('o'), std::string::npos);
    } else {
      // Appended to in place; that line brought it to the limit, so the
      // writer rotated it right after.
      EXPECT_EQ(back.substr(0, old.size()), old);
      EXPECT_EQ(CountOf(back, "first after start"), 1u);
      EXPECT_EQ(main, "");
    }
  }

  // And while writing.
  const std::string almostFull(CBBLog::kRotateBytes - 10, 'o');
  WriteAll(Logs() + "Grow.log", almostFull);
  WriteAll(Logs() + "TevErrors.log", almostFull);
  CBBLog log(L"Grow.log", false);
  log.fatal(L"crosses the limit");
  log.Flush();
  EXPECT_EQ(ReadFile(Logs() + "Grow.log"), "");
  EXPECT_EQ(ReadFile(Logs() + "TevErrors.log"), "");
  std::string back = ReadFile(Logs() + "Grow.log.back");
  EXPECT_EQ(back.substr(0, almostFull.size()), almostFull);
  EXPECT_EQ(CountOf(back, "crosses the limit"), 1u);
  EXPECT_EQ(CountOf(ReadFile(Logs() + "TevErrors.log.back"), "crosses the limit"), 1u);

  log.error(L"into the fresh file");
  log.Flush();
  EXPECT_EQ(CountOf(ReadFile(Logs() + "Grow.log"), "into the fresh file"), 1u);
  EXPECT_EQ(log.MainLogPath(), tev::FromStdUtf8(Logs() + "Grow.log"));
}

TEST_F(CBBLogTest, LevelComesFromTheRegistry) {
  struct Case {
    int registryLevel;  // -1: value absent
    const char* written;
  } cases[] = {{-1, "FE"}, {0, "F"}, {2, "FEW"}, {4, "FEWID"}};
  for (const Case& c : cases) {
    if (c.registryLevel < 0) {
      unlink(registry_.c_str());
    } else {
      SetLogLevel(c.registryLevel);
    }
    auto log = boost::make_shared<CBBLog>(100000u, false);
    SetGlobalLogger(log);
    LogFatal(L"F-line");
    LogError(L"E-line");
    LogWarn(L"W-line");
    LogInfo(boost::wformat(L"%1%-line") % L"I");
    LogDebug(L"%ls-line", L"D");
    const std::string text = log->GetMemoryLog();
    EXPECT_EQ(log->ConfiguredLevel(), c.registryLevel < 0 ? 1 : c.registryLevel);
    for (char level : std::string("FEWID")) {
      bool expected = std::string(c.written).find(level) != std::string::npos;
      EXPECT_EQ(CountOf(text, std::string(1, level) + "-line\n"), expected ? 1u : 0u)
          << "level " << c.registryLevel << " line " << level;
    }
    log->debug(L"member-debug");
    log->error(L"member-error");
    EXPECT_EQ(CountOf(log->GetMemoryLog(), "member-debug"), c.registryLevel >= 4 ? 1u : 0u);
    EXPECT_EQ(CountOf(log->GetMemoryLog(), "member-error"), c.registryLevel != 0 ? 1u : 0u);
  }
}

TEST_F(CBBLogTest, FatalGoesToBothLogsWithTheModuleName) {
  CBBLog log(L"", false);  // name derived from the executable
  EXPECT_EQ(log.ModuleName(), L"test_support");
  log.fatal(L"disk %ls gone", L"D:");
  log.error(L"only in the module log");
  log.Flush();
  const std::string main = ReadFile(Logs() + "test_support.log");
  const std::string errors = ReadFile(Logs() + "TevErrors.log");
  const std::regex fatal(R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d\.\d{3} \[FATAL\] - test_support - disk D: gone\n)");
  const std::regex error(R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d\.\d{3} \[ERROR\] - only in the module log\n)");
  std::smatch match;
  EXPECT_TRUE(std::regex_search(main, match, fatal)) << main;
  EXPECT_TRUE(std::regex_search(main, match, error)) << main;
  EXPECT_TRUE(std::regex_match(errors, fatal)) << errors;
}

TEST_F(CBBLogTest, MemoryModeKeepsTheNewestLinesBehindAMarker) {
  CBBLog log(100u, false);
  // "YYYY/MM/DD hh:mm:ss.mmm [ERROR] - " is 34 bytes; + 25 + "\n" = 60.
  auto message = [](const wchar_t* start) {
    std::wstring text(start);
    text.resize(25, L'.');
    return text;
  };
  log.error(L"%ls", message(L"first").c_str());
  ASSERT_EQ(log.GetMemoryLog().size(), 60u);
  log.error(L"%ls", message(L"second").c_str());
  log.error(L"%ls", message(L"third").c_str());
  const std::string text = log.GetMemoryLog();
  ASSERT_EQ(text.size(), 66u) << text;
  EXPECT_EQ(text.substr(0, 6), "[...]\n");
  EXPECT_EQ(text.substr(text.size() - 26), tev::ToStdUtf8(message(L"third")) + "\n");
  EXPECT_EQ(text.find("second"), std::string::npos);
}

TEST_F(CBBLogTest, MessageTextConversionOneEntryPerLine) {
  SetLogLevel(LOG_DEBUG);
  CBBLog log(1000000u, true);
  log.warn(L"smile %ls \u00e9", L"\U0001F600");
  const std::string text = log.GetMemoryLog();
  // Each UTF-16 unit of the emoji on its own: two three-byte sequences.
  EXPECT_NE(text.find("smile \xED\xA0\xBD\xED\xB8\x80 \xC3\xA9\n"), std::string::npos) << text;
  // The process id follows the padded level name.
  EXPECT_NE(text.find(" [WARN ] " + std::to_string(getpid()) + " - smile"), std::string::npos) << text;

  CBBLog cut(1000000u, false);
  cut.error(L"%ls", std::wstring(3000, L'x').c_str());
  EXPECT_EQ(CountOf(cut.GetMemoryLog(), "x"), CBBLog::kMessageBuffer - 1);

  CBBLog formatted(1000000u, false);
  formatted.log(boost::wformat(L"%1% and %2%") % 1 % L"two", LOG_ERROR);
  formatted.log(boost::wformat(L"%1% and %2%") % 1, LOG_ERROR);  // too few arguments
  formatted.log(LOG_ERROR, "narrow %d", 5);
  formatted.log(LOG_ERROR, nullptr);
  const std::string all = formatted.GetMemoryLog();
  EXPECT_NE(all.find("] - 1 and two\n"), std::string::npos) << all;
  EXPECT_NE(all.find("boost::format error"), std::string::npos) << all;
  EXPECT_NE(all.find("] - narrow 5\n"), std::string::npos) << all;

  // One entry is one line.
  CBBLog lines(1000000u, false);
  lines.error(L"Vel: request failed: Timeout (natsConnection_Request\n  _request\r\n  end)\n");
  lines.error(L"next\rentry");
  const std::string two = lines.GetMemoryLog();
  EXPECT_EQ(two.find("] - Vel: request failed: Timeout (natsConnection_Request | "
                     "  _request |   end)\n"),
            two.find("] - Vel"));
  EXPECT_EQ(CountOf(two, "\n"), 2u) << two;
  EXPECT_NE(two.find("] - next | entry\n"), std::string::npos) << two;
}

TEST_F(CBBLogTest, ReopenFollowsAnOutsideRotation) {
  CBBLog log(L"Moved.log", false);
  log.fatal(L"before the move");
  log.Flush();
  fs::rename(Logs() + "Moved.log", Logs() + "Moved.log.1");
  fs::rename(Logs() + "TevErrors.log", Logs() + "TevErrors.log.1");
  log.error(L"queued before the reopen");
  log.ReopenFiles();
  log.fatal(L"after the reopen");
  log.Flush();
  const std::string old = ReadFile(Logs() + "Moved.log.1");
  const std::string fresh = ReadFile(Logs() + "Moved.log");
  EXPECT_EQ(CountOf(old, "before the move"), 1u);
  EXPECT_EQ(CountOf(old + fresh, "queued before the reopen"), 1u);
  EXPECT_EQ(CountOf(fresh, "after the reopen"), 1u) << fresh;
  EXPECT_EQ(CountOf(fresh, "before the move"), 0u);
  EXPECT_EQ(CountOf(ReadFile(Logs() + "TevErrors.log"), "after the reopen"), 1u);
  EXPECT_EQ(CountOf(ReadFile(Logs() + "TevErrors.log.1"), "after the reopen"), 0u);
}

TEST_F(CBBLogTest, FallsBackToNumberedNamesOrDropsLinesWithoutAFolder) {
  fs::create_directories(Logs() + "Busy.log");  // a folder where the file should be
  CBBLog log(L"Busy.log", false);
  log.error(L"went elsewhere");
  log.Flush();
  EXPECT_EQ(log.MainLogPath(), tev::FromStdUtf8(Logs() + "Busy.log1"));
  EXPECT_EQ(CountOf(ReadFile(Logs() + "Busy.log1"), "went elsewhere"), 1u);

  WriteAll(root_ + "/plainfile", "x");
  setenv("TEV_APPDATA_DIR", (root_ + "/plainfile/appdata").c_str(), 1);
  CBBLog nowhere(L"Nowhere.log", false);
  nowhere.fatal(L"nobody hears this");
  nowhere.Flush();
  EXPECT_EQ(nowhere.MainLogPath() + nowhere.ErrorsLogPath(), L"");
}

TEST_F(CBBLogTest, ManyThreadsLogWholeLines) {
  auto log = boost::make_shared<CBBLog>(L"Busy.log", false);
  SetGlobalLogger(log);
  auto work = [](void* argument) -> int {
    for (int i = 0; i < 300; ++i) LogError(L"worker %d line %d end", static_cast<int>(reinterpret_cast<intptr_t>(argument)), i);
    return 0;
  };
  {
    PThread a(+work, reinterpret_cast<void*>(intptr_t{1}));
    PThread b(+work, reinterpret_cast<void*>(intptr_t{2}));
    PThread c(+work, reinterpret_cast<void*>(intptr_t{3}));
    a.join();
    b.join();
    c.join();
  }
  log->Flush();
  const std::string text = ReadFile(Logs() + "Busy.log");
  EXPECT_EQ(CountOf(text, "\n"), 900u);
  EXPECT_EQ(CountOf(text, " end\n"), 900u);
  EXPECT_EQ(CountOf(text, "worker 2 line 299 end\n"), 1u);

  // The global functions hold the log weakly.
  log.reset();
  EXPECT_FALSE(GetGlobalLogger());
  LogError(L"goes nowhere");
}
