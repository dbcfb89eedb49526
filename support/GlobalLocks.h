// The process-wide locks. They exist from the moment the library is loaded
// (before the module's start-up code runs) until the process ends; they are
// never destroyed, so threads still running at exit may use them.
//
// Lock order when several are held: the engine's lock, then its waitable
// timer, then the database's lock. The others are held alone, for one
// lookup or change.
#ifndef TEV_SUPPORT_GLOBALLOCKS_H_
#define TEV_SUPPORT_GLOBALLOCKS_H_

#include <map>
#include <string>

#include "support/Locker.h"
#include "support/PMutex.h"

// The thumbnail entries.
PMutex& ThumbnailMutex();

#endif  // TEV_SUPPORT_GLOBALLOCKS_H_
