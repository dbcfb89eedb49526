#include "web/GuideCache.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace web {

namespace {

// Enough for two weeks of buckets; beyond it the oldest asked go first.
const size_t kMaxBuckets = 400;
// Buckets asked of the guide at the same time: while it builds one answer,
// the last one is read here.
const size_t kAtOnce = 3;

int64_t FloorTo(int64_t value, int64_t step) {
  const int64_t q = value / step;
  return (q * step > value ? q - 1 : q) * step;
}

}  // namespace

GuideCache::GuideCache(BusLink& bus, Clock clock, int64_t keepMs)
    : bus_(bus), clock_(std::move(clock)), keepMs_(keepMs) {}

GuideCache::~GuideCache() {
  std::future<void> warming;
  {
    std::lock_guard<std::mutex> hold(mu_);
    warming = std::move(warming_);
  }
  if (warming.valid()) warming.wait();
}

void GuideCache::KeepLocked(int64_t start, Bucket bucket, int64_t now) {
  for (auto it = buckets_.begin(); it != buckets_.end();) {
    const bool stale = now - it->second.askedMs >= keepMs_ &&
                       it->second.fetched.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    it = stale ? buckets_.erase(it) : std::next(it);
  }
  while (buckets_.size() >= kMaxBuckets) {
    auto oldest = buckets_.begin();
    for (auto it = buckets_.begin(); it != buckets_.end(); ++it) {
      if (it->second.askedMs < oldest->second.askedMs) oldest = it;
    }
    buckets_.erase(oldest);
  }
  buckets_[start] = std::move(bucket);
}

bool GuideCache::Buckets(int64_t from, int64_t to, std::vector<std::shared_ptr<const GuideLines>>* held,
                         velctl::Answer* failed) {
  std::vector<std::shared_future<Fetched>> wanted;
  std::vector<std::pair<int64_t, std::promise<Fetched>>> mine;  // the buckets this call asks for
  {
    std::lock_guard<std::mutex> hold(mu_);
    const int64_t now = clock_();
    for (int64_t start = FloorTo(from - kLookbackSeconds, kBucketSeconds); start < to; start += kBucketSeconds) {
      auto found = buckets_.find(start);
      if (found != buckets_.end() && now - found->second.askedMs < keepMs_) {
        wanted.push_back(found->second.fetched);
        continue;
      }
      std::promise<Fetched> promise;
      Bucket bucket{now, promise.get_future().share()};
      wanted.push_back(bucket.fetched);
      KeepLocked(start, std::move(bucket), now);
      mine.emplace_back(start, std::move(promise));
    }
  }
  for (size_t first = 0; first < mine.size(); first += kAtOnce) {
    std::vector<std::future<void>> asking;
    for (size_t i = first; i < std::min(mine.size(), first + kAtOnce); ++i) {
      asking.push_back(std::async(std::launch::async, [this, &mine, i] {
        Fetched fetched;
        auto lines = std::make_shared<GuideLines>();
        fetched.answer = AskGuide(bus_, "", mine[i].first, mine[i].first + kBucketSeconds - 1, lines.get());
        if (fetched.answer.exit == velctl::kOk) {
          fetched.lines = lines;
        } else {
          // Not kept: the next request asks again.
          std::lock_guard<std::mutex> hold(mu_);
          buckets_.erase(mine[i].first);
        }
        mine[i].second.set_value(std::move(fetched));
      }));
    }
    for (std::future<void>& done : asking) done.wait();
  }
  held->clear();
  for (const std::shared_future<Fetched>& bucket : wanted) {
    const Fetched& fetched = bucket.get();
    if (fetched.answer.exit != velctl::kOk) {
      *failed = fetched.answer;
      return false;
    }
    held->push_back(fetched.lines);
  }
  return true;
}

velctl::Answer GuideCache::OnAir(int64_t from, int64_t to, std::string* json) {
  std::vector<std::shared_ptr<const GuideLines>> held;
  velctl::Answer answer;
  if (!Buckets(from, to, &held, &answer)) return answer;
  std::vector<const GuideLines*> parts;
  for (const auto& lines : held) parts.push_back(lines.get());
  *json = ListingsJson(from, to, parts, [from, to](const GuideShow& show) {
    if (show.start >= to) return false;
    return show.duration > 0 ? show.start + show.duration > from : show.start >= from;
  });
  return answer;
}

void GuideCache::Warm(int64_t from, int64_t to) {
  std::lock_guard<std::mutex> hold(mu_);
  if (warming_.valid() && warming_.wait_for(std::chrono::seconds(0)) != std::future_status::ready) return;
  warming_ = std::async(std::launch::async, [this, from, to] {
    std::vector<std::shared_ptr<const GuideLines>> held;
    velctl::Answer failed;
    Buckets(from, to, &held, &failed);
  });
}

}  // namespace web
