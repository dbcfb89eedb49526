// mktime with a memory of its answers.
//
// glibc's mktime runs tzset on every call, and with TZ unset (how the
// module runs under systemd) tzset stats /etc/localtime each time: one
// system call per conversion, and a request that reads schedule rows
// converts a hundred or more stored local times. The memo gives exactly
// what mktime gives, without the stat, for as long as the zone is the one
// its answers were made under:
//   - TZ holds the same text (compared on every call, so a zone switched
//     with setenv + tzset counts at once; with TZ set glibc itself never
//     re-reads the zone file, so the text is all there is to compare);
//   - with TZ unset, the zone file shows the same device, inode, size and
//     modification time. It is looked at again once the second given by
//     the caller differs from the one of the last look, so a replaced
//     /etc/localtime counts within a second, as a plain mktime would see
//     it at its next call.
// On a change the memo forgets everything and runs tzset() before
// converting. The key is every field mktime reads: the six date and time
// fields as given (out of range or not) and tm_isdst (the database readers
// pass the present moment's flag, not -1, and mktime's answer depends on
// it). glibc's mktime is not a pure function of those: for a local time
// that occurs twice or not at all (near an offset change) it picks by the
// offset of its previous call, in any thread. So an answer is remembered
// only when the zone's offset is the same all through the days around it;
// the others, and -1, go to mktime every time, as before. Bounded: a fixed
// table where a new answer takes the slot of an older one.
#ifndef TEV_DB_MKTIMEMEMO_H_
#define TEV_DB_MKTIMEMEMO_H_

#include <time.h>

#include <cstdint>
#include <memory>
#include <string>

namespace tev {

// One memo. Not thread-safe: MemoisedMktime below shares one under a lock.
class MktimeMemo {
 public:
  // `zoneFile`: the file glibc reads with TZ unset ("/etc/localtime").
  explicit MktimeMemo(std::string zoneFile);
  ~MktimeMemo();
  MktimeMemo(const MktimeMemo&) = delete;
  MktimeMemo& operator=(const MktimeMemo&) = delete;

  // mktime(&copy of fields)'s result; `second` is any clock's whole
  // seconds, only compared with the previous call's.
  int64_t Convert(const struct tm& fields, int64_t second);

  // Times the memo was emptied because the zone changed (the first fill
  // included).
  int64_t ZoneChanges() const { return zoneChanges_; }

 private:
  struct Table;
  struct FileIdentity {
    bool exists = false;
    uint64_t device = 0, inode = 0, size = 0;
    int64_t mtimeSec = 0, mtimeNsec = 0;
    bool operator==(const FileIdentity& o) const;
  };

  bool ZoneUnchanged(int64_t second);
  void Restart();
  FileIdentity LookAtZoneFile() const;

  const std::string zoneFile_;
  std::unique_ptr<Table> table_;
  bool started_ = false;
  bool tzSet_ = false;
  std::string tz_;
  FileIdentity file_;
  int64_t lookedAt_ = 0;
  int64_t zoneChanges_ = 0;
};

// mktime(&copy of fields)'s result through the process's one memo.
// REQUIRES nothing; any thread (one mutex; a miss holds it through mktime,
// which takes the C library's own zone lock anyway). Re-checks
// /etc/localtime at most once per second of a monotonic clock.
int64_t MemoisedMktime(const struct tm& fields);

}  // namespace tev

#endif  // TEV_DB_MKTIMEMEMO_H_
