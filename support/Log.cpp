#include "support/Log.h"

#include <cstdarg>

#include <boost/weak_ptr.hpp>

#include "platform/NoDestructor.h"
#include "support/BBLog.h"
#include "support/PMutex.h"
#include "support/PMutexLock.h"

namespace {

// The module's log, process-wide because the level functions are called
// from everywhere without a handle. Never destroyed: threads may log during
// process exit.
struct GlobalLog {
  PMutex mutex{false};
  boost::weak_ptr<CBBLog> logger TEV_GUARDED_BY(mutex);
};

GlobalLog& TheLog() {
  static tev::NoDestructor<GlobalLog> log;
  return *log;
}

// The live logger when a line of `level` may be written by it.
boost::shared_ptr<CBBLog> LoggerFor(int level) {
  boost::shared_ptr<CBBLog> log = GetGlobalLogger();
  if (!log) return log;
  int configured = log->ConfiguredLevel();
  if (configured != -1 && configured < level) log.reset();
  return log;
}

}  // namespace

void SetGlobalLogger(const boost::shared_ptr<CBBLog>& log) {
  GlobalLog& global = TheLog();
  PMutexLock lock(global.mutex);
  global.logger = log;
}

boost::shared_ptr<CBBLog> GetGlobalLogger() {
  GlobalLog& global = TheLog();
  PMutexLock lock(global.mutex);
  return global.logger.lock();
}

#define TEV_LOG_LEVEL_FUNCTIONS(function, level)                    \
  void function(const wchar_t* format, ...) {                       \
    boost::shared_ptr<CBBLog> log = LoggerFor(level);               \
    if (!log) return;                                               \
    va_list args;                                                   \
    va_start(args, format);                                         \
    log->log(format, args, (level));                                \
    va_end(args);                                                   \
  }                                                                 \
  void function(const boost::wformat& message) {                    \
    boost::shared_ptr<CBBLog> log = LoggerFor(level);               \
    if (log) log->log(message, (level));                            \
  }

TEV_LOG_LEVEL_FUNCTIONS(LogDebug, LOG_DEBUG)
TEV_LOG_LEVEL_FUNCTIONS(LogInfo, LOG_INFO)
TEV_LOG_LEVEL_FUNCTIONS(LogWarn, LOG_WARN)
TEV_LOG_LEVEL_FUNCTIONS(LogError, LOG_ERROR)
TEV_LOG_LEVEL_FUNCTIONS(LogFatal, LOG_FATAL)

#undef TEV_LOG_LEVEL_FUNCTIONS
