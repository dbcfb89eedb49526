#include "db/MktimeMemo.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

namespace tev {

namespace {

constexpr size_t kSlots = 4096;  // a power of two

struct Key {
  int fields[7];  // year, month, day, hour, minute, second, isdst
  bool operator==(const Key& o) const { return std::memcmp(fields, o.fields, sizeof fields) == 0; }
};

Key KeyOf(const struct tm& t) {
  return Key{{t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, t.tm_isdst}};
}

size_t SlotOf(const Key& key) {
  uint64_t h = 0x9E3779B97F4A7C15ULL;
  for (int field : key.fields) {
    h ^= static_cast<uint32_t>(field);
    h *= 0xFF51AFD7ED558CCDULL;
    h ^= h >> 29;
  }
  return static_cast<size_t>(h) & (kSlots - 1);
}

}  // namespace

// Direct-mapped tables: each key has one slot, which holds the last value
// put there in the current generation. Emptying is a new generation.
struct MktimeMemo::Table {
  struct Slot {
    Key key;
    uint32_t generation = 0;  // 0: never filled
    int64_t answer = 0;
  };
  // The zone's UTC offset at step * kStep seconds.
  struct Offset {
    int64_t step = 0;
    uint32_t generation = 0;
    long offset = 0;
  };
  static constexpr int64_t kStep = 6 * 3600;
  static constexpr int64_t kSteps = 10;
  static constexpr size_t kOffsets = 1024;  // a power of two

  Slot slots[kSlots];
  Offset offsets[kOffsets];
  uint32_t generation = 1;

  void Clear() {
    if (++generation == 0) {  // wrapped: old slots could look current
      for (Slot& slot : slots) slot.generation = 0;
      for (Offset& offset : offsets) offset.generation = 0;
      generation = 1;
    }
  }

  bool OffsetAtStep(int64_t step, long* offset) {
    Offset& slot = offsets[static_cast<uint64_t>(step) & (kOffsets - 1)];
    if (slot.generation != generation || slot.step != step) {
      const time_t at = static_cast<time_t>(step * kStep);
      struct tm local {};
      if (localtime_r(&at, &local) == nullptr) return false;
      slot = Offset{step, generation, local.tm_gmtoff};
    }
    *offset = slot.offset;
    return true;
  }

  // Whether the zone's UTC offset is the same at every multiple of 6 hours
  // from 60 hours before `t` to 54 after. mktime's answer `t` is then the
  // same whatever its previous call was: the instants that show the
  // requested fields differ from each other by a difference of offsets (26
  // hours at most) and lie within hours of the answer, so inside that
  // stretch there is only one. Close to an offset change (a repeated or
  // skipped hour) glibc picks by the offset of its previous call. No zone
  // changes its offset twice within 6 hours (the closest two changes in the
  // zone data are about a week apart).
  bool FarFromOffsetChanges(int64_t t) {
    const int64_t middle = t / kStep - (t % kStep < 0 ? 1 : 0);
    long first = 0;
    if (!OffsetAtStep(middle - kSteps, &first)) return false;
    for (int64_t step = middle - kSteps + 1; step <= middle + kSteps; ++step) {
      long offset = 0;
      if (!OffsetAtStep(step, &offset) || offset != first) return false;
    }
    return true;
  }
};

bool MktimeMemo::FileIdentity::operator==(const FileIdentity& o) const {
  return exists == o.exists && device == o.device && inode == o.inode && size == o.size &&
         mtimeSec == o.mtimeSec && mtimeNsec == o.mtimeNsec;
}

MktimeMemo::MktimeMemo(std::string zoneFile) : zoneFile_(std::move(zoneFile)), table_(new Table) {}

MktimeMemo::~MktimeMemo() = default;

MktimeMemo::FileIdentity MktimeMemo::LookAtZoneFile() const {
  FileIdentity identity;
  struct stat st {};
  // stat, not lstat: glibc follows the link too, and compares what it finds.
  if (stat(zoneFile_.c_str(), &st) != 0) return identity;
  identity.exists = true;
  identity.device = static_cast<uint64_t>(st.st_dev);
  identity.inode = static_cast<uint64_t>(st.st_ino);
  identity.size = static_cast<uint64_t>(st.st_size);
  identity.mtimeSec = static_cast<int64_t>(st.st_mtim.tv_sec);
  identity.mtimeNsec = static_cast<int64_t>(st.st_mtim.tv_nsec);
  return identity;
}

void MktimeMemo::Restart() {
  const char* tz = std::getenv("TZ");
  tzSet_ = tz != nullptr;
  tz_ = tzSet_ ? tz : "";
  if (!tzSet_) file_ = LookAtZoneFile();
  started_ = true;
  ++zoneChanges_;
  table_->Clear();
  tzset();
}

bool MktimeMemo::ZoneUnchanged(int64_t second) {
  if (!started_) return false;
  const char* tz = std::getenv("TZ");
  if ((tz != nullptr) != tzSet_ || (tz != nullptr && tz_ != tz)) return false;
  if (tzSet_ || second == lookedAt_) return true;
  lookedAt_ = second;
  return LookAtZoneFile() == file_;
}

int64_t MktimeMemo::Convert(const struct tm& fields, int64_t second) {
  if (!ZoneUnchanged(second)) {
    Restart();
    lookedAt_ = second;
  }
  const Key key = KeyOf(fields);
  Table::Slot& slot = table_->slots[SlotOf(key)];
  if (slot.generation == table_->generation && slot.key == key) return slot.answer;
  struct tm copy = fields;
  const int64_t answer = static_cast<int64_t>(mktime(&copy));
  // -1 is also a failure, whose cause may be the previous call's offset.
  if (answer == -1 || !table_->FarFromOffsetChanges(answer)) return answer;
  slot.key = key;
  slot.generation = table_->generation;
  slot.answer = answer;
  return answer;
}

int64_t MemoisedMktime(const struct tm& fields) {
  // Process-wide like the zone mktime reads: the readers of stored times
  // are static helpers. Its figure is bench/engine's conflict check, which
  // converts every overlapping row's times (bench/db_queries reads none).
  struct Shared {
    std::mutex lock;
    MktimeMemo memo{"/etc/localtime"};
  };
  static Shared shared;
  struct timespec now {};
  clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  std::lock_guard<std::mutex> hold(shared.lock);
  return shared.memo.Convert(fields, static_cast<int64_t>(now.tv_sec));
}

}  // namespace tev
