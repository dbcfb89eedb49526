// The global level functions through which everything logs. They reach the
// one live CBBLog published by the module base; nothing happens when there
// is none. Formats are wide printf formats (glibc: %ls for wide strings,
// %s for narrow ones).
#ifndef TEV_SUPPORT_LOG_H_
#define TEV_SUPPORT_LOG_H_

#include <boost/format.hpp>
#include <boost/shared_ptr.hpp>

class CBBLog;

enum LogLevel { LOG_FATAL = 0, LOG_ERROR = 1, LOG_WARN = 2, LOG_INFO = 3, LOG_DEBUG = 4 };

void LogDebug(const wchar_t* format, ...);
void LogInfo(const wchar_t* format, ...);
void LogWarn(const wchar_t* format, ...);
void LogError(const wchar_t* format, ...);
void LogFatal(const wchar_t* format, ...);

void LogDebug(const boost::wformat& message);
void LogInfo(const boost::wformat& message);
void LogWarn(const boost::wformat& message);
void LogError(const boost::wformat& message);
void LogFatal(const boost::wformat& message);

// The global logger is held weakly; the module base owns it.
void SetGlobalLogger(const boost::shared_ptr<CBBLog>& log);
boost::shared_ptr<CBBLog> GetGlobalLogger();

#endif  // TEV_SUPPORT_LOG_H_
