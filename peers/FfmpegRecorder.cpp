#include "peers/FfmpegRecorder.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "platform/WideText.h"
#include "support/VUtil.h"

namespace tev {
namespace peers {

namespace {

typedef std::chrono::steady_clock SteadyClock;

// What a streamer answers when it cannot reach the channel.
constexpr int kConnectFailed = 1111;
// What it answers when it is shutting down.
constexpr int kRefused = 1;
constexpr auto kPoll = std::chrono::milliseconds(50);

bool FileExists(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0;
}

std::string LowerExtension(const std::string& path) {
  size_t dot = path.rfind('.');
  std::string ext = dot == std::string::npos ? std::string() : path.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

// A file for one ffmpeg's messages; empty when none could be made.
std::string NewErrorLog() {
  const char* folder = std::getenv("TMPDIR");
  std::string pattern = std::string(folder != nullptr && folder[0] != '\0' ? folder : "/tmp") +
                        "/tev-ffmpeg-XXXXXX";
  const int fd = mkstemp(&pattern[0]);
  if (fd < 0) return std::string();
  close(fd);
  return pattern;
}

// What ffmpeg said: the lines that tell of a reconnection, and the last
// line (the reason when it gave up).
void ReadErrorLog(const std::string& path, std::vector<std::string>* gaps, std::string* last) {
  std::ifstream file(path);
  std::string line;
  while (std::getline(file, line)) {
    if (line.empty()) continue;
    std::string lower = line;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower.find("reconnect") != std::string::npos) gaps->push_back(line);
    *last = line;
  }
}

off_t FileSize(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 ? info.st_size : -1;
}

bool LooksLikeSource(const std::wstring& channel) {
  return channel.find(L':') != std::wstring::npos || channel.find(L'/') != std::wstring::npos;
}

// The answer to a "StartStream" that did not start: the stream record
// with the reason after the stream settings.
void Refusal(int32_t id, const std::wstring& channel, const std::wstring& path, int32_t duration,
             const std::wstring& why, VARIANT* out) {
  Value::Array({Value::Array({Value::Long(id), Value::Str(channel), Value::Str(path),
                              Value::Long(duration), Value(), Value::Pairs({}), Value::Str(why)})})
      .CopyTo(out);
}

}  // namespace

// The streams and their watchers, kept alive by the recorder, its handlers
// and the watchers themselves.
class FfmpegRecorder::Core : public std::enable_shared_from_this<Core> {
 public:
  Core(StreamerPeer& peer, ChannelResolver resolver, std::string ffmpeg, StreamReport report)
      : peer_(peer), resolver_(std::move(resolver)), ffmpeg_(std::move(ffmpeg)),
        report_(std::move(report)) {}

  int Start(const VARIANT& in, VARIANT* out);
  int Stop(const VARIANT& in);
  // Refuses new streams, interrupts the running ones and waits until every
  // watcher has finished.
  void Close();

 private:
  struct Stream {
    pid_t pid = -1;                 // -1 once reaped
    bool interrupted = false;       // SIGINT sent
    SteadyClock::time_point interruptedAt;
  };

  void Watch(int32_t id, pid_t pid, std::wstring path, std::wstring kind, int32_t duration,
             std::string errorLog);
  // Tells of the stream's gaps, or of why it could not be recorded; answers
  // ffmpeg's own last words when the stream failed (`failed`: ffmpeg ended
  // by itself with an error), else nothing.
  std::wstring Report(const std::wstring& path, const std::string& errorLog, int status, bool failed);
  // REQUIRES: mutex_ held.
  static void InterruptLocked(Stream* stream);

  // Constant after construction.
  StreamerPeer& peer_;
  const ChannelResolver resolver_;
  const std::string ffmpeg_;
  const StreamReport report_;

  std::mutex mutex_;
  std::condition_variable changed_;  // a stream ended or its watcher left
  // Guarded by mutex_. A stream stays here from its start until its watcher
  // has sent the finish notification.
  std::map<int32_t, Stream> streams_;
  bool closing_ = false;
};

void FfmpegRecorder::Core::InterruptLocked(Stream* stream) {
  if (stream->pid <= 0 || stream->interrupted) return;
  kill(stream->pid, SIGINT);
  stream->interrupted = true;
  stream->interruptedAt = SteadyClock::now();
}

int FfmpegRecorder::Core::Start(const VARIANT& in, VARIANT* out) {
  const int32_t id = ReadInteger(in, 1);
  const std::wstring channel = VUtil::GetStringElement(in, 3);
  const int32_t duration = ReadInteger(in, 10);
  const std::wstring path = VUtil::GetStringElement(in, 11);
  if (path.empty()) throw VelInvalidParameterException(L"StartStream: no file path");

  std::wstring source, kind = L"TV";
  if (!(resolver_ && resolver_(channel, &source, &kind))) {
    if (!LooksLikeSource(channel)) {
      Refusal(id, channel, path, duration, L"no channel " + channel + L" is known here", out);
      return kConnectFailed;
    }
    source = channel;
  }
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (closing_) {
      Refusal(id, channel, path, duration, L"the streamer is shutting down", out);
      return kRefused;
    }
    if (streams_.count(id) != 0) {
      throw VelInvalidParameterException(L"StartStream: stream " + std::to_wstring(id) +
                                         L" is already recording");
    }
    // Spawned under the lock so that Close either sees the stream or
    // prevents it.
    const std::string errorLog = NewErrorLog();
    const pid_t pid = SpawnQuiet(
        ffmpeg_, BuildArguments(tev::ToStdUtf8(source), tev::ToStdUtf8(path), duration), errorLog);
    if (pid < 0) {
      const int error = errno;
      if (!errorLog.empty()) std::remove(errorLog.c_str());
      Refusal(id, channel, path, duration,
              tev::FromStdUtf8("cannot run " + ffmpeg_ + ": " + std::strerror(error)), out);
      return kConnectFailed;
    }
    streams_[id].pid = pid;
    std::thread(&Core::Watch, shared_from_this(), id, pid, path, kind, duration, errorLog).detach();
  }

  std::vector<std::pair<std::wstring, Value>> specs{{L"destination", Value::Str(path)}};
  Value::Array({Value::Array({Value::Long(id), Value::Str(channel), Value::Str(path),
                              Value::Long(duration), Value(), Value::Pairs(specs)})})
      .CopyTo(out);
  return 0;
}

int FfmpegRecorder::Core::Stop(const VARIANT& in) {
  const int32_t id = ReadInteger(in, 0);
  std::unique_lock<std::mutex> hold(mutex_);
  auto found = streams_.find(id);
  if (found == streams_.end() || found->second.pid <= 0) return 1;
  InterruptLocked(&found->second);
  // The watcher kills it after the grace; answer when the file is closed.
  changed_.wait_for(hold, std::chrono::milliseconds(kStopGraceMs + 1000), [&] {
    auto again = streams_.find(id);
    return again == streams_.end() || again->second.pid <= 0;
  });
  return 0;
}

void FfmpegRecorder::Core::Close() {
  std::unique_lock<std::mutex> hold(mutex_);
  closing_ = true;
  for (auto& entry : streams_) InterruptLocked(&entry.second);
  changed_.wait(hold, [this] { return streams_.empty(); });
}

std::wstring FfmpegRecorder::Core::Report(const std::wstring& path, const std::string& errorLog,
                                          int status, bool failed) {
  std::vector<std::string> gaps;
  std::string last;
  ReadErrorLog(errorLog, &gaps, &last);
  if (!errorLog.empty()) std::remove(errorLog.c_str());
  while (!last.empty() && (last.back() == '\r' || last.back() == ' ')) last.pop_back();
  if (report_) {
    for (const std::string& gap : gaps) report_(path, "gap in the stream: " + gap, false);
  }
  const bool empty = FileSize(tev::ToStdUtf8(path)) <= 0;
  if (!failed && !empty) return std::wstring();
  const std::wstring words = tev::FromStdUtf8(last);
  if (!empty) return words;
  if (last.empty()) {
    last = WIFEXITED(status) ? "ffmpeg ended with code " + std::to_string(WEXITSTATUS(status))
                             : "ffmpeg was stopped before it wrote anything";
  }
  if (report_) report_(path, "the stream could not be recorded: " + last, true);
  return words;
}

void FfmpegRecorder::Core::Watch(int32_t id, pid_t pid, std::wstring path, std::wstring kind,
                                 int32_t duration, std::string errorLog) {
  const auto began = SteadyClock::now();
  const std::string file = tev::ToStdUtf8(path);
  bool notifiedStart = false;
  int endStatus = 0;
  bool failed = false;  // ffmpeg ended by itself with an error
  for (;;) {
    bool ended = false;
    {
      // Reaped under the lock, so that nobody signals a pid that is gone.
      std::lock_guard<std::mutex> hold(mutex_);
      Stream& stream = streams_[id];
      int status = 0;
      const auto now = SteadyClock::now();
      if (ReapIfEnded(pid, &status)) {
        stream.pid = -1;
        ended = true;
        endStatus = status;
        failed = !stream.interrupted && WIFEXITED(status) && WEXITSTATUS(status) != 0;
      } else if (!stream.interrupted && duration > 0 &&
                 now - began > std::chrono::seconds(duration + kOverrunSeconds)) {
        InterruptLocked(&stream);
      } else if (stream.interrupted &&
                 now - stream.interruptedAt > std::chrono::milliseconds(kStopGraceMs)) {
        kill(pid, SIGKILL);
      }
    }
    if (ended) changed_.notify_all();
    // Started means the file is there: the module looks the recording up by
    // it as soon as it hears.
    if (!notifiedStart && FileExists(file)) {
      notifiedStart = true;
      peer_.NotifyStarted(path, kind, id);
    }
    if (ended) break;
    std::this_thread::sleep_for(kPoll);
  }
  const auto ran = std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - began);
  // A stream that failed says why, in ffmpeg's words.
  const std::wstring message = Report(path, errorLog, endStatus, failed);
  peer_.NotifyFinished(path, static_cast<int32_t>((ran.count() + 500) / 1000), kind, id, message);
  std::lock_guard<std::mutex> hold(mutex_);
  streams_.erase(id);
  changed_.notify_all();
}

std::vector<std::string> FfmpegRecorder::BuildArguments(const std::string& source,
                                                        const std::string& output, int seconds) {
  // Warnings too: they tell of a dropped connection and its retries.
  std::vector<std::string> args{"-hide_banner", "-nostdin", "-loglevel", "warning", "-y"};
  const std::string lavfi = "lavfi:";
  std::string scheme = source.substr(0, source.find("://") == std::string::npos ? 0 : source.find("://"));
  for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (source.compare(0, lavfi.size(), lavfi) == 0) {
    args.insert(args.end(), {"-re", "-f", "lavfi", "-i", source.substr(lavfi.size())});
  } else if (scheme.empty()) {
    // A file plays in a loop for as long as the recording lasts.
    args.insert(args.end(), {"-re", "-stream_loop", "-1", "-i", source});
  } else if (scheme == "http" || scheme == "https") {
    // A live stream (MPEG-TS or HLS) comes at its own pace. A dropped
    // connection, also one closed as if the stream had ended, is opened
    // again, with waits that grow up to the recording's length.
    const int waitMax = std::max(5, std::min(seconds > 0 ? seconds : 3600, 4294));
    args.insert(args.end(), {"-reconnect", "1", "-reconnect_streamed", "1",
                             "-reconnect_on_network_error", "1", "-reconnect_at_eof", "1",
                             "-reconnect_delay_max", std::to_string(waitMax), "-i", source});
  } else {
    args.insert(args.end(), {"-i", source});
  }
  if (seconds > 0) args.insert(args.end(), {"-t", std::to_string(seconds)});
  const std::string ext = LowerExtension(output);
  if (ext == "asf" || ext == "wmv") {
    args.insert(args.end(), {"-f", "asf", "-c:v", "wmv2", "-b:v", "1500k", "-c:a", "wmav2"});
  } else if (ext == "wma") {
    args.insert(args.end(), {"-vn", "-f", "asf", "-c:a", "wmav2"});
  }
  // Written as it is recorded, as a recorder does: the file grows while
  // the stream runs (ffmpeg would otherwise hold whole seconds back).
  args.insert(args.end(), {"-flush_packets", "1"});
  args.push_back(output);
  return args;
}

FfmpegRecorder::FfmpegRecorder(StreamerPeer& peer, ChannelResolver resolver, std::string ffmpeg,
                               StreamReport report)
    : peer_(peer),
      core_(std::make_shared<Core>(peer, std::move(resolver), std::move(ffmpeg), std::move(report))) {
  std::shared_ptr<Core> core = core_;
  peer_.SetHandler(L"StartStream", [core](const VARIANT& in, VARIANT* out) {
    return core->Start(in, out);
  });
  peer_.SetHandler(L"StopStream", [core](const VARIANT& in, VARIANT*) { return core->Stop(in); });
}

FfmpegRecorder::~FfmpegRecorder() {
  // The handlers stay: from now on they refuse, rather than the peer's
  // default pretending to record.
  core_->Close();
}

bool ExtractThumbnail(const std::string& ffmpeg, const std::wstring& video, const std::wstring& jpg) {
  const std::string in = tev::ToStdUtf8(video), out = tev::ToStdUtf8(jpg);
  // One second in avoids a black first frame; a shorter file takes its first.
  for (const char* at : {"1", "0"}) {
    pid_t pid = SpawnQuiet(ffmpeg, {"-hide_banner", "-nostdin", "-loglevel", "error", "-y", "-ss",
                                    at, "-i", in, "-frames:v", "1", "-f", "image2", out});
    if (pid < 0) return false;
    int status = WaitOrKill(pid, kThumbnailTimeoutMs);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && FileExists(out)) return true;
  }
  return false;
}

}  // namespace peers
}  // namespace tev
