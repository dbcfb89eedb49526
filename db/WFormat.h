// printf-style building of wide texts (SQL statements, identifiers). glibc
// wide formats: %ls for a wide-string argument.
#ifndef TEV_DB_WFORMAT_H_
#define TEV_DB_WFORMAT_H_

#include <string>

namespace tev {

// The formatted text; any length. An invalid format gives an empty text.
std::wstring WFormat(const wchar_t* format, ...);

}  // namespace tev

#endif  // TEV_DB_WFORMAT_H_
