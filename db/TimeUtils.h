// The one owner of every time text in the module. A time value is a signed
// 64-bit count of seconds since 1970-01-01 00:00 UTC; every text form is
// local time under the C library's zone rules (TZ respected), zero-padded:
//
//   database time        "20090315203000"        FormatTime3 / GetTime3
//   media-library time   "2009-03-15 20:30:00"   FormatTime2 / GetTime2
//   without seconds      "2009-03-15 20:30"      FormatTime4
//   display time         "2009/03/15 20:30:00"   FormatTime
//   file-name date       "03-15-2009 20-30-00"   FormatFilenameDate / GetTime
//
// Writers throw VelException ("<writer>: Localtime failed") for a value
// outside the convertible range (before 1970 or after the year 3000).
// Readers never fail on bad text: they read fixed positions, missing or
// non-digit fields count as 0, the other fields of the broken-down time
// (daylight-saving flag included) come from the present moment, and a text
// that gives no valid time yields -1 with an ERROR line. Readers throw only
// when the present moment itself cannot be converted.
//
// Any thread. The readers share a memo of their conversions
// (db/MktimeMemo.h) that answers as the C library would.
#ifndef TEV_DB_TIMEUTILS_H_
#define TEV_DB_TIMEUTILS_H_

#include <cstdint>
#include <string>

std::wstring FormatTime3(int64_t t);
std::wstring FormatTime2(int64_t t);
std::wstring FormatTime4(int64_t t);
std::wstring FormatTime(int64_t t);
std::wstring FormatFilenameDate(int64_t t);

// Database time; logs "******* Invalid DB time length: %s" when the text is
// not 14 characters and "******* Invalid DB time: %s" for -1.
int64_t GetTime3(const std::wstring& text);
// Media-library time (any separator between date and time, e.g. 'T');
// logs "******* Invalid TevMedia time: %s" for -1.
int64_t GetTime2(const std::wstring& text);
// File-name date; logs nothing.
int64_t GetTime(const std::wstring& text);

// `seconds` as milliseconds for a 32-bit field on the wire, computed in 64
// bits and clamped to the 32-bit range (durations over about 24.8 days
// would wrap otherwise).
int32_t SecondsToWireMs(int64_t seconds);

// Seconds that, added to a local time, give UTC at the present moment: the
// zone's standard bias, less one hour while daylight-saving time is in
// effect (always one hour, whatever the zone's own shift is).
int64_t GetTimeZoneOffset();

#endif  // TEV_DB_TIMEUTILS_H_
