// The whole guide (every title) kept in hour-long buckets by start time for
// a short while: a page that scrolls through a day, switches days and comes
// back asks the guide for each bucket once. A bucket older than `keepMs` is
// asked again; failures are not kept. Requests that need a bucket being
// asked wait for that answer instead of asking again.
//
// Threads: OnAir and Warm from any thread, concurrently. The guide is asked
// for a few buckets at once, on threads of the cache's own.
#ifndef TEV_WEB_GUIDECACHE_H_
#define TEV_WEB_GUIDECACHE_H_

#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "web/BusLink.h"
#include "web/GuideListings.h"

namespace web {

class GuideCache {
 public:
  static const int64_t kBucketSeconds = 3600;
  // How long before a window a programme may start and still be seen in it.
  static const int64_t kLookbackSeconds = 3 * 3600;
  // Milliseconds of a clock that never goes back.
  typedef std::function<int64_t()> Clock;

  GuideCache(BusLink& bus, Clock clock, int64_t keepMs);
  // Waits for a Warm still running.
  ~GuideCache();
  GuideCache(const GuideCache&) = delete;
  GuideCache& operator=(const GuideCache&) = delete;

  // The listings (GuideListings.h) of the programmes on air at some time
  // within [from, to) (UTC s): starting before `to` and ending after `from`,
  // or, without a length, starting within it.
  velctl::Answer OnAir(int64_t from, int64_t to, std::string* json);
  // Starts asking for what OnAir(from, to) needs and returns at once (does
  // nothing while the last Warm still runs): for a page about to ask.
  void Warm(int64_t from, int64_t to);

 private:
  struct Fetched {
    velctl::Answer answer;
    std::shared_ptr<const GuideLines> lines;
  };
  struct Bucket {
    int64_t askedMs = 0;
    std::shared_future<Fetched> fetched;
  };
  // The buckets for [from, to) with the lookback, asked for where not kept;
  // false with *failed when one could not be had.
  bool Buckets(int64_t from, int64_t to, std::vector<std::shared_ptr<const GuideLines>>* held,
               velctl::Answer* failed);
  // Keeps `bucket` at `start`, first dropping the stale (REQUIRES mu_ held).
  void KeepLocked(int64_t start, Bucket bucket, int64_t now);

  BusLink& bus_;
  const Clock clock_;
  const int64_t keepMs_;

  std::mutex mu_;
  std::map<int64_t, Bucket> buckets_;  // guarded by mu_; by start (UTC s)
  std::future<void> warming_;          // guarded by mu_
};

}  // namespace web

#endif  // TEV_WEB_GUIDECACHE_H_
