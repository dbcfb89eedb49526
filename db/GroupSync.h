// One disk sync for an operation that commits several times.
//
// The connection syncs the write-ahead log at every commit, so that what
// was acknowledged survives a power cut. An operation that commits a few
// times before it answers (a new season pass: its row, its medium id, its
// episodes) needs the sync only once, before the answer: while a thread
// holds a GroupSync, its commits append to the log without waiting for the
// disk, and the outermost scope's end syncs the log once when any of its
// statements changed something. A sync of the log makes every frame before
// it durable, so at the scope's end the disk holds exactly what it would
// have held with a sync per commit. Other threads' commits sync as always,
// also while a scope is open. Without a write-ahead log it does nothing.
//
// Any thread; scopes of one thread nest (the outermost one syncs). On the
// default database (db/Database.h).
#ifndef TEV_DB_GROUPSYNC_H_
#define TEV_DB_GROUPSYNC_H_

class GroupSync {
 public:
  GroupSync();
  // The outermost scope waits for the syncs begun by SyncInBackground,
  // then syncs the log when anything was committed after the last of them
  // began (or one of them failed).
  ~GroupSync();

  // Begins syncing the log as it stands now on another thread, so that the
  // disk works while this thread waits for something else (a bus answer,
  // more statements). Nothing when this thread holds no scope or nothing
  // changed since the scope (or the last background sync) began.
  static void SyncInBackground();

  // Commits made while this thread holds a Rebuildable scope inside a
  // GroupSync hold only what the module rebuilds when it is lost (the
  // media ids the library gave rows: start-up's sync with the library
  // publishes rows without one again). The outermost Rebuildable's end
  // begins syncing them on another thread, and the GroupSync's end does not
  // wait for that sync, so the answer does not wait for the disk on their
  // account. Outside a GroupSync it changes nothing.
  class Rebuildable {
   public:
    Rebuildable();
    ~Rebuildable();
    Rebuildable(const Rebuildable&) = delete;
    Rebuildable& operator=(const Rebuildable&) = delete;
  };
  // Waits for the syncs Rebuildable scopes began on the default database;
  // false when one failed (logged). The database's Close waits for them too.
  static bool WaitForRebuildableSyncs();

  GroupSync(const GroupSync&) = delete;
  GroupSync& operator=(const GroupSync&) = delete;
};

#endif  // TEV_DB_GROUPSYNC_H_
