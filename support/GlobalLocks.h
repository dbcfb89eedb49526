// The process-wide locks. They exist from the moment the library is loaded
// (before the module's start-up code runs) until the process ends; they are
// never destroyed, so threads still running at exit may use them.
//
// Lock order when several are held: the engine's lock, then its waitable
// timer, then DatabaseMutex. The others are held alone, for one lookup or
// change.
#ifndef TEV_SUPPORT_GLOBALLOCKS_H_
#define TEV_SUPPORT_GLOBALLOCKS_H_

#include <map>
#include <string>

#include "support/Locker.h"
#include "support/PMutex.h"

// The thumbnail entries.
PMutex& ThumbnailMutex();
// Serialises every SQL statement.
PMutex& DatabaseMutex();

// The recorder control's stream table: recording file path -> stream id.
locker<std::map<std::wstring, long>>& StreamTable();

#endif  // TEV_SUPPORT_GLOBALLOCKS_H_
