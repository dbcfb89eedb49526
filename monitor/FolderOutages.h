// The recording folders reported unavailable and not seen back since, so
// that an outage is warned of once, whichever of an engine's monitors meets
// it first. The engine owns one for its monitors. Any thread; the lock is
// held for one lookup or change, never while logging.
#ifndef TEV_MONITOR_FOLDEROUTAGES_H_
#define TEV_MONITOR_FOLDEROUTAGES_H_

#include <mutex>
#include <set>
#include <string>

class FolderOutages {
 public:
  // Warns that the folder's `rows` recordings not found are kept, unless
  // the outage was reported already.
  void Warn(const std::wstring& folder, const std::wstring& why, int rows);
  // The folder speaks for its files again: says so when it was reported.
  void NoteAvailable(const std::wstring& folder);

 private:
  std::mutex m_mutex;
  std::set<std::wstring> m_warned;
};

#endif  // TEV_MONITOR_FOLDEROUTAGES_H_
