// CBBLog: the module's leveled, timestamped log.
//
// File mode writes lines to "<appdata>/TevNetworks/Logs/<log name>" through
// a background writer thread, rotating the file to "<name>.back" when it
// reaches 524288 bytes (at opening and while writing). FATAL lines also go,
// synchronously, to the errors log "TevErrors.log" that all modules share.
// Memory mode keeps lines in memory only, dropping the oldest beyond a byte
// limit; GetMemoryLog returns them.
//
// Line format: "YYYY/MM/DD hh:mm:ss.mmm [LEVEL] <pid> - <message>\n" (the
// pid only when asked for at construction); FATAL lines carry the module
// name after the level ("... [FATAL] - TevHost - message"). Time is local.
// One entry is one line: line breaks inside a message become " | ".
// Messages are cut to 2047 characters and written in UTF-8, each UTF-16
// unit on its own (tev::WideToUtf8).
//
// The level is the DWORD "LogLevel" under "Software\TEV Networks\Tev" in
// the registry, read on first use; 1 (ERROR) when it cannot be read. A line
// of level L is written when L <= that level.
//
// No failure is reported to callers: a missing folder or failing opens
// leave the log without a file and lines are dropped.
//
// Threads: any thread may log. Only the writer thread writes the main log;
// the errors log and the opening are guarded by errorsMutex_.
#ifndef TEV_SUPPORT_BBLOG_H_
#define TEV_SUPPORT_BBLOG_H_

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <atomic>
#include <deque>
#include <memory>
#include <string>

#include <boost/format.hpp>

#include "support/Log.h"
#include "support/PCondMutex.h"
#include "support/PMutex.h"
#include "support/PThread.h"

class CBBLog {
 public:
  // Bytes at which a log file is moved to "<path>.back".
  static constexpr uint64_t kRotateBytes = 524288;
  // Wide characters of the message buffer, terminator included.
  static constexpr size_t kMessageBuffer = 2048;

  // File mode. `logName` is the main log's file name; empty means the
  // executable's base name plus ".log". The two last values are accepted
  // for callers of the original form and ignored. Nothing is opened before
  // the first line.
  CBBLog(const std::wstring& logName, bool withProcessId, int32_t reserved1 = 0, int32_t reserved2 = 0);
  // Memory mode (a limit of 0 means file mode with the derived name).
  CBBLog(uint32_t memoryLimit, bool withProcessId);

  // Stops the writer after it has written what is queued, then closes the
  // files.
  virtual ~CBBLog();

  CBBLog(const CBBLog&) = delete;
  CBBLog& operator=(const CBBLog&) = delete;

  // Narrow printf format; the text is taken as UTF-8.
  virtual void log(int level, const char* format, ...);
  // Wide printf format at DEBUG (glibc: %ls for wide strings).
  virtual void log(const wchar_t* format, ...);
  virtual void log(const wchar_t* format, va_list args, int level);
  virtual void log(const boost::wformat& message, int level);
  // Appends one finished line to the errors log (when open), rotating it.
  virtual void writeToErrorsLog(const std::string& line);

  // Member level functions: skip at once when the level is known and below.
  void debug(const wchar_t* format, ...);
  void info(const wchar_t* format, ...);
  void warn(const wchar_t* format, ...);
  void error(const wchar_t* format, ...);
  void fatal(const wchar_t* format, ...);

  // The configured level, -1 while not read yet.
  int ConfiguredLevel() const { return level_.load(); }
  // True when a line of `level` would be written (reads the level if needed).
  bool IsEnabled(int level);

  // Memory mode: all queued lines joined, oldest first.
  std::string GetMemoryLog();

  // Blocks until every line queued so far is written to the main log (at
  // once in memory mode or without a writer). For tests and shutdown.
  void Flush();
  // Closes each open file and opens it again by its configured path (after
  // an outside rotation moved them away); a file that is not open (the main
  // log has no writer before opening or after shutdown) stays closed. Lines
  // queued before are written to the old file, later ones to the new. Any
  // thread.
  void ReopenFiles();

  bool IsMemoryMode() const { return memoryLimit_ > 0; }
  // The executable's base name without extension.
  const std::wstring& ModuleName() const { return moduleName_; }
  // Paths of the files actually open (empty before opening or without one).
  std::wstring MainLogPath();
  std::wstring ErrorsLogPath();

 private:
  void ReadLevelIfNeeded();
  void OpenIfNeeded();
  void Open() TEV_REQUIRES(errorsMutex_);
  void WriteMessage(int level, const std::string& utf8Message);
  void Enqueue(const std::string& line);
  int WriterThreadProc(void* unused);
  void WriteToMainLog(const std::string& line);

  // Constant after construction.
  std::wstring logName_;
  uint32_t memoryLimit_;
  bool withProcessId_;
  unsigned processId_;
  std::wstring moduleName_;

  std::atomic<int> level_{-1};
  std::atomic<bool> openAttempted_{false};
  std::atomic<bool> mainOpen_{false};
  std::atomic<bool> errorsOpen_{false};

  // Set by Open; afterwards only the writer thread touches them (it
  // changes mainOpenedPath_ under errorsMutex_ when rotating).
  FILE* mainFile_ = nullptr;
  uint64_t mainBytes_ = 0;
  std::wstring mainLogPath_;     // the path as configured
  std::wstring mainOpenedPath_;  // the path actually open (maybe numbered)

  // Guarded by errorsMutex_ (also guards the opening).
  PMutex errorsMutex_{false};
  FILE* errorsFile_ TEV_GUARDED_BY(errorsMutex_) = nullptr;
  uint64_t errorsBytes_ TEV_GUARDED_BY(errorsMutex_) = 0;
  std::wstring errorsLogPath_ TEV_GUARDED_BY(errorsMutex_);
  std::wstring errorsOpenedPath_ TEV_GUARDED_BY(errorsMutex_);

  // Guarded by queueMutex_ (with its condition variable).
  PCondMutex queueMutex_;
  std::deque<std::string> queue_ TEV_GUARDED_BY(queueMutex_);
  size_t queuedBytes_ TEV_GUARDED_BY(queueMutex_) = 0;
  bool stop_ TEV_GUARDED_BY(queueMutex_) = false;
  bool writing_ TEV_GUARDED_BY(queueMutex_) = false;        // a line taken, not yet written
  bool writerRunning_ TEV_GUARDED_BY(queueMutex_) = false;  // the writer drains the queue
  bool reopen_ TEV_GUARDED_BY(queueMutex_) = false;         // the writer reopens the main log
  std::unique_ptr<PThread> writer_;                          // set by Open, joined by the destructor
};

#endif  // TEV_SUPPORT_BBLOG_H_
