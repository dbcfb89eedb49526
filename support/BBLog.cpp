#include "support/BBLog.h"

#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <cwchar>
#include <filesystem>
#include <system_error>

#include "platform/Clock.h"
#include "platform/Folders.h"
#include "platform/WideText.h"
#include "support/PMutexLock.h"
#include "support/Registry.h"

namespace {

const char* const kLevelNames[] = {"FATAL", "ERROR", "WARN", "INFO", "DEBUG"};
const char kDroppedMarker[] = "[...]\n";
constexpr int kOpenAttempts = 10;
constexpr size_t kMaxBackPathLength = 255;

const char* LevelName(int level) {
  if (level < LOG_FATAL) level = LOG_FATAL;
  if (level > LOG_DEBUG) level = LOG_DEBUG;
  return kLevelNames[level];
}

std::string Narrow(const std::wstring& path) { return tev::ToStdUtf8(path); }

// The executable's file name without folder and extension.
std::wstring ExecutableBaseName() {
  char buffer[4096];
  ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return L"unknown";
  std::string path(buffer, static_cast<size_t>(length));
  std::string name = path.substr(path.find_last_of('/') + 1);
  size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return tev::FromStdUtf8(name);
}

bool MakeFolder(const std::wstring& path) {
  std::error_code error;
  std::filesystem::create_directory(Narrow(path), error);
  return std::filesystem::is_directory(Narrow(path), error);
}

// An existing log above the limit is copied to "<path>.back" (replacing an
// older copy) and deleted. One of exactly the limit stays.
void RotateAtOpening(const std::wstring& path) {
  std::error_code error;
  const std::string narrow = Narrow(path);
  if (!std::filesystem::is_regular_file(narrow, error)) return;
  uintmax_t size = std::filesystem::file_size(narrow, error);
  if (error || size <= CBBLog::kRotateBytes) return;
  std::filesystem::copy_file(narrow, Narrow(path + L".back"),
                             std::filesystem::copy_options::overwrite_existing, error);
  if (!error) std::filesystem::remove(narrow, error);
}

// Opens `path` for appending, else "<path>1" ... "<path>9". Returns the
// stream (null when all failed) and the path opened.
FILE* OpenNumbered(const std::wstring& path, std::wstring* opened) {
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    std::wstring candidate = attempt == 0 ? path : path + std::to_wstring(attempt);
    FILE* file = std::fopen(Narrow(candidate).c_str(), "ae");
    if (file != nullptr) {
      *opened = candidate;
      return file;
    }
  }
  opened->clear();
  return nullptr;
}

uint64_t OpenedSize(FILE* file) {
  if (file == nullptr || std::fseek(file, 0, SEEK_END) != 0) return 0;
  long position = std::ftell(file);
  return position < 0 ? 0 : static_cast<uint64_t>(position);
}

// Like MoveFileEx with replace-existing and copy-allowed.
void MoveReplacing(const std::wstring& from, const std::wstring& to) {
  if (std::rename(Narrow(from).c_str(), Narrow(to).c_str()) == 0 || errno != EXDEV) return;
  std::error_code error;
  std::filesystem::copy_file(Narrow(from), Narrow(to), std::filesystem::copy_options::overwrite_existing,
                             error);
  if (!error) std::filesystem::remove(Narrow(from), error);
}

// Closes a full log, moves it to "<path>.back" and opens a fresh one.
// *file is null afterwards when no new file could be opened.
void RotateWhileWriting(FILE** file, std::wstring* openedPath, const std::wstring& configuredPath,
                        uint64_t* bytes) {
  std::fclose(*file);
  MoveReplacing(*openedPath, openedPath->substr(0, kMaxBackPathLength) + L".back");
  *file = OpenNumbered(configuredPath, openedPath);
  *bytes = 0;
}

}  // namespace

CBBLog::CBBLog(const std::wstring& logName, bool withProcessId, int32_t /*reserved1*/, int32_t /*reserved2*/)
    : logName_(logName),
      memoryLimit_(0),
      withProcessId_(withProcessId),
      processId_(static_cast<unsigned>(getpid())),
      moduleName_(ExecutableBaseName()) {}

CBBLog::CBBLog(uint32_t memoryLimit, bool withProcessId)
    : memoryLimit_(memoryLimit),
      withProcessId_(withProcessId),
      processId_(static_cast<unsigned>(getpid())),
      moduleName_(ExecutableBaseName()) {}

CBBLog::~CBBLog() {
  {
    PMutexLock lock(queueMutex_);
    stop_ = true;
    queueMutex_.broadcast();
  }
  if (writer_) {
    writer_->join();
    writer_.reset();
  }
  if (mainFile_ != nullptr) std::fclose(mainFile_);
  PMutexLock lock(errorsMutex_);
  if (errorsFile_ != nullptr) std::fclose(errorsFile_);
}

void CBBLog::ReadLevelIfNeeded() {
  if (level_.load() != -1) return;
  uint32_t value = 0;
  boost::shared_ptr<CRegistry> registry = CRegistry::Instance();
  if (registry && registry->GetDWORD(L"Software\\TEV Networks\\Tev", L"LogLevel", &value)) {
    level_.store(static_cast<int32_t>(value));
  } else {
    level_.store(LOG_ERROR);
  }
}

bool CBBLog::IsEnabled(int level) {
  ReadLevelIfNeeded();
  return level <= level_.load();
}

void CBBLog::OpenIfNeeded() {
  if (openAttempted_.load()) return;
  PMutexLock lock(errorsMutex_);
  if (!openAttempted_.load()) Open();
}

void CBBLog::Open() {
  std::wstring appData;
  if (IsMemoryMode() || !tev::CommonAppDataFolder(&appData)) {
    openAttempted_.store(true);
    return;
  }
  std::wstring logs = appData + L"/TevNetworks/";
  MakeFolder(logs);
  logs += L"Logs/";
  MakeFolder(logs);

  mainLogPath_ = logs + (logName_.empty() ? moduleName_ + L".log" : logName_);
  RotateAtOpening(mainLogPath_);
  mainFile_ = OpenNumbered(mainLogPath_, &mainOpenedPath_);
  mainBytes_ = OpenedSize(mainFile_);

  errorsLogPath_ = appData + L"/TevNetworks/Logs/TevErrors.log";
  RotateAtOpening(errorsLogPath_);
  errorsFile_ = OpenNumbered(errorsLogPath_, &errorsOpenedPath_);
  errorsBytes_ = OpenedSize(errorsFile_);
  errorsOpen_.store(errorsFile_ != nullptr);

  if (mainFile_ != nullptr) {
    try {
      {
        PMutexLock lock(queueMutex_);
        writerRunning_ = true;
      }
      writer_.reset(new PThread(this, &CBBLog::WriterThreadProc));
      mainOpen_.store(true);
    } catch (const std::exception&) {
      // No writer, no main log: lines would only pile up in the queue.
      PMutexLock lock(queueMutex_);
      writerRunning_ = false;
      std::fclose(mainFile_);
      mainFile_ = nullptr;
    }
  }
  openAttempted_.store(true);
}

void CBBLog::log(int level, const char* format, ...) {
  ReadLevelIfNeeded();
  if (level > level_.load()) return;
  OpenIfNeeded();
  if (!mainOpen_.load() && !errorsOpen_.load() && !IsMemoryMode()) return;
  char buffer[kMessageBuffer];
  buffer[0] = '\0';
  if (format != nullptr) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
  }
  buffer[kMessageBuffer - 1] = '\0';
  WriteMessage(level, buffer);
}

void CBBLog::log(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  log(format, args, LOG_DEBUG);
  va_end(args);
}

void CBBLog::log(const wchar_t* format, va_list args, int level) {
  ReadLevelIfNeeded();
  if (level > level_.load()) return;
  OpenIfNeeded();
  if (!mainOpen_.load() && !errorsOpen_.load() && !IsMemoryMode()) return;
  wchar_t buffer[kMessageBuffer];
  buffer[0] = L'\0';
  // On overflow glibc keeps the first 2047 characters and returns -1; on a
  // bad argument it keeps what was formatted up to it.
  if (format != nullptr) std::vswprintf(buffer, kMessageBuffer, format, args);
  buffer[kMessageBuffer - 1] = L'\0';
  WriteMessage(level, tev::WideToUtf8(buffer));
}

void CBBLog::log(const boost::wformat& message, int level) {
  ReadLevelIfNeeded();
  if (level > level_.load()) return;
  OpenIfNeeded();
  if (!mainOpen_.load() && !errorsOpen_.load() && !IsMemoryMode()) return;
  std::wstring text;
  try {
    text = message.str();
  } catch (const std::exception& e) {
    text = L"boost::format error: " + tev::FromStdUtf8(e.what());
  }
  if (text.size() > kMessageBuffer - 1) text.resize(kMessageBuffer - 1);
  WriteMessage(level, tev::WideToUtf8(text));
}

#define TEV_BBLOG_LEVEL_FUNCTION(function, level)          \
  void CBBLog::function(const wchar_t* format, ...) {      \
    int configured = level_.load();                        \
    if (configured != -1 && configured < (level)) return;  \
    va_list args;                                          \
    va_start(args, format);                                \
    log(format, args, (level));                            \
    va_end(args);                                          \
  }

TEV_BBLOG_LEVEL_FUNCTION(debug, LOG_DEBUG)
TEV_BBLOG_LEVEL_FUNCTION(info, LOG_INFO)
TEV_BBLOG_LEVEL_FUNCTION(warn, LOG_WARN)
TEV_BBLOG_LEVEL_FUNCTION(error, LOG_ERROR)
TEV_BBLOG_LEVEL_FUNCTION(fatal, LOG_FATAL)

#undef TEV_BBLOG_LEVEL_FUNCTION

void CBBLog::WriteMessage(int level, const std::string& utf8Message) {
  const int64_t nowMs = tev::Clock::NowMs();
  const int64_t seconds = nowMs >= 0 ? nowMs / 1000 : -((-nowMs + 999) / 1000);
  const int milliseconds = static_cast<int>(nowMs - seconds * 1000);
  const time_t when = static_cast<time_t>(seconds);
  struct tm local = {};
  localtime_r(&when, &local);

  char prefix[128];
  if (withProcessId_) {
    std::snprintf(prefix, sizeof prefix, "%04d/%02d/%02d %02d:%02d:%02d.%03d [%-5.5s] %u - ",
                  local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                  local.tm_sec, milliseconds, LevelName(level), processId_);
  } else {
    std::snprintf(prefix, sizeof prefix, "%04d/%02d/%02d %02d:%02d:%02d.%03d [%-5.5s] - ",
                  local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                  local.tm_sec, milliseconds, LevelName(level));
  }
  std::string line(prefix);
  if (level <= LOG_FATAL) line += tev::WideToUtf8(moduleName_) + " - ";
  // A reader splits the log at line ends: breaks inside a message (error
  // stacks of the bus library) must not start what looks like a new entry.
  for (size_t i = 0; i < utf8Message.size(); ++i) {
    const char c = utf8Message[i];
    if (c != '\n' && c != '\r') {
      line += c;
      continue;
    }
    if (c == '\r' && i + 1 < utf8Message.size() && utf8Message[i + 1] == '\n') ++i;
    if (i + 1 < utf8Message.size()) line += " | ";
  }
  line += '\n';

  if (mainOpen_.load() || IsMemoryMode()) Enqueue(line);
  if (level <= LOG_FATAL) writeToErrorsLog(line);
}

void CBBLog::Enqueue(const std::string& line) {
  PMutexLock lock(queueMutex_);
  queue_.push_back(line);
  queuedBytes_ += line.size();
  if (IsMemoryMode() && queuedBytes_ > memoryLimit_) {
    while (!queue_.empty() && queuedBytes_ > memoryLimit_) {
      queuedBytes_ -= queue_.front().size();
      queue_.pop_front();
    }
    // The marker counts like a line, so it goes first when more must drop.
    queue_.push_front(kDroppedMarker);
    queuedBytes_ += sizeof kDroppedMarker - 1;
  }
  queueMutex_.broadcast();
}

std::string CBBLog::GetMemoryLog() {
  PMutexLock lock(queueMutex_);
  std::string joined;
  joined.reserve(queuedBytes_);
  for (const std::string& line : queue_) joined += line;
  return joined;
}

void CBBLog::Flush() {
  PMutexLock lock(queueMutex_);
  while (writerRunning_ && (!queue_.empty() || writing_)) queueMutex_.wait();
}

std::wstring CBBLog::MainLogPath() {
  PMutexLock lock(errorsMutex_);
  return mainOpen_.load() ? mainOpenedPath_ : std::wstring();
}

std::wstring CBBLog::ErrorsLogPath() {
  PMutexLock lock(errorsMutex_);
  return errorsFile_ != nullptr ? errorsOpenedPath_ : std::wstring();
}

void CBBLog::ReopenFiles() {
  {
    PMutexLock lock(errorsMutex_);
    if (errorsFile_ != nullptr) {
      std::fclose(errorsFile_);
      errorsFile_ = OpenNumbered(errorsLogPath_, &errorsOpenedPath_);
      errorsBytes_ = OpenedSize(errorsFile_);
      errorsOpen_.store(errorsFile_ != nullptr);
    }
  }
  PMutexLock lock(queueMutex_);
  if (!writerRunning_) return;
  reopen_ = true;
  queueMutex_.broadcast();
}

int CBBLog::WriterThreadProc(void* /*unused*/) {
  queueMutex_.lock();
  for (;;) {
    while (queue_.empty() && !stop_ && !reopen_) queueMutex_.wait();
    if (reopen_) {
      // Only this thread touches the main file. Lines still queued go to the
      // new file, so does everything logged after the request.
      reopen_ = false;
      writing_ = true;
      queueMutex_.unlock();
      {
        PMutexLock lock(errorsMutex_);
        if (mainFile_ != nullptr) std::fclose(mainFile_);
        mainFile_ = OpenNumbered(mainLogPath_, &mainOpenedPath_);
        mainBytes_ = OpenedSize(mainFile_);
        mainOpen_.store(mainFile_ != nullptr);
      }
      queueMutex_.lock();
      writing_ = false;
    }
    while (!queue_.empty()) {
      std::string line = std::move(queue_.front());
      queue_.pop_front();
      queuedBytes_ -= line.size();
      writing_ = true;
      queueMutex_.unlock();
      WriteToMainLog(line);
      queueMutex_.lock();
      writing_ = false;
    }
    queueMutex_.broadcast();  // wakes Flush
    if (stop_) break;
  }
  writerRunning_ = false;
  queueMutex_.broadcast();
  queueMutex_.unlock();
  return 0;
}

void CBBLog::WriteToMainLog(const std::string& line) {
  if (mainFile_ == nullptr) return;
  std::fwrite(line.data(), 1, line.size(), mainFile_);
  std::fflush(mainFile_);
  mainBytes_ += line.size();
  if (mainBytes_ >= kRotateBytes) {
    // Under errorsMutex_ only so that MainLogPath reads a whole path.
    PMutexLock lock(errorsMutex_);
    RotateWhileWriting(&mainFile_, &mainOpenedPath_, mainLogPath_, &mainBytes_);
    if (mainFile_ == nullptr) mainOpen_.store(false);
  }
}

void CBBLog::writeToErrorsLog(const std::string& line) {
  PMutexLock lock(errorsMutex_);
  if (!errorsOpen_.load() || errorsFile_ == nullptr) return;
  std::fwrite(line.data(), 1, line.size(), errorsFile_);
  std::fflush(errorsFile_);
  errorsBytes_ += line.size();
  if (errorsBytes_ >= kRotateBytes) {
    RotateWhileWriting(&errorsFile_, &errorsOpenedPath_, errorsLogPath_, &errorsBytes_);
    if (errorsFile_ == nullptr) errorsOpen_.store(false);
  }
}
