#include "peers/FfmpegRecorder.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>

#include "support/VUtil.h"
#include "support/WideText.h"

extern char** environ;

namespace tev {
namespace peers {

namespace {

// What a streamer answers when it cannot reach the channel.
constexpr int kConnectFailed = 1111;

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

bool LooksLikeSource(const std::wstring& channel) {
  return channel.find(L':') != std::wstring::npos || channel.find(L'/') != std::wstring::npos;
}

int WaitExit(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

}  // namespace

pid_t SpawnQuiet(const std::string& program, const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int fd = 0; fd <= 2; ++fd) {
    posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  }
  pid_t pid = -1;
  int failed = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return failed == 0 ? pid : -1;
}

std::vector<std::string> FfmpegRecorder::BuildArguments(const std::string& source,
                                                        const std::string& output, int seconds) {
  std::vector<std::string> args{"-hide_banner", "-nostdin", "-loglevel", "error", "-y", "-re"};
  const std::string lavfi = "lavfi:";
  if (source.compare(0, lavfi.size(), lavfi) == 0) {
    args.insert(args.end(), {"-f", "lavfi", "-i", source.substr(lavfi.size())});
  } else if (source.find("://") == std::string::npos) {
    // A file plays in a loop for as long as the recording lasts.
    args.insert(args.end(), {"-stream_loop", "-1", "-i", source});
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
  args.push_back(output);
  return args;
}

FfmpegRecorder::FfmpegRecorder(StreamerPeer& peer, ChannelResolver resolver, std::string ffmpeg)
    : peer_(peer), resolver_(std::move(resolver)), ffmpeg_(std::move(ffmpeg)) {
  peer_.SetHandler(L"StartStream", [this](const VARIANT& in, VARIANT* out) { return Start(in, out); });
  peer_.SetHandler(L"StopStream", [this](const VARIANT& in, VARIANT*) { return Stop(in); });
}

FfmpegRecorder::~FfmpegRecorder() {
  peer_.ResetReply(L"StartStream");
  peer_.ResetReply(L"StopStream");
  closing_ = true;
  std::map<int32_t, Stream> streams;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    for (auto& entry : streams_) {
      if (entry.second.pid > 0) kill(entry.second.pid, SIGINT);
    }
    streams.swap(streams_);
  }
  for (auto& entry : streams) {
    if (entry.second.watcher.joinable()) entry.second.watcher.join();
  }
}

int FfmpegRecorder::Start(const VARIANT& in, VARIANT* out) {
  const int32_t id = ReadInteger(in, 1);
  const std::wstring channel = VUtil::GetStringElement(in, 3);
  const int32_t duration = ReadInteger(in, 10);
  const std::wstring path = VUtil::GetStringElement(in, 11);
  if (path.empty()) throw VelInvalidParameterException(L"StartStream: no file path");

  std::wstring source, kind = L"TV";
  if (!(resolver_ && resolver_(channel, &source, &kind))) {
    if (!LooksLikeSource(channel)) return kConnectFailed;
    source = channel;
  }
  const pid_t pid =
      SpawnQuiet(ffmpeg_, BuildArguments(tev::WideToUtf8(source), tev::WideToUtf8(path), duration));
  if (pid < 0) return kConnectFailed;

  std::vector<std::pair<std::wstring, Value>> specs{{L"destination", Value::Str(path)}};
  Value::Array({Value::Array({Value::Long(id), Value::Str(channel), Value::Str(path),
                              Value::Long(duration), Value(), Value::Pairs(specs)})})
      .CopyTo(out);

  std::lock_guard<std::mutex> hold(mutex_);
  Stream& stream = streams_[id];
  if (stream.watcher.joinable()) stream.watcher.join();  // an old stream of the same id
  stream.pid = pid;
  stream.path = path;
  stream.kind = kind;
  stream.watcher = std::thread(&FfmpegRecorder::Watch, this, id, pid, path, kind);
  return 0;
}

int FfmpegRecorder::Stop(const VARIANT& in) {
  const int32_t id = ReadInteger(in, 0);
  std::lock_guard<std::mutex> hold(mutex_);
  auto found = streams_.find(id);
  if (found == streams_.end() || found->second.pid <= 0) return 1;
  kill(found->second.pid, SIGINT);
  return 0;
}

void FfmpegRecorder::Watch(int32_t id, pid_t pid, std::wstring path, std::wstring kind) {
  const auto began = std::chrono::steady_clock::now();
  const std::string file = tev::WideToUtf8(path);
  int status = 0;
  bool exited = false;
  // Started means the file is there: the module looks the recording up by
  // it as soon as it hears.
  while (!FileExists(file)) {
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      exited = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (!exited || FileExists(file)) peer_.NotifyStarted(path, kind, id);
  if (!exited) status = WaitExit(pid);
  (void)status;
  const auto ran = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - began);
  {
    std::lock_guard<std::mutex> hold(mutex_);
    auto found = streams_.find(id);
    if (found != streams_.end() && found->second.pid == pid) found->second.pid = -1;
  }
  peer_.NotifyFinished(path, static_cast<int32_t>((ran.count() + 500) / 1000), kind, id);
}

bool ExtractThumbnail(const std::string& ffmpeg, const std::wstring& video, const std::wstring& jpg) {
  const std::string in = tev::WideToUtf8(video), out = tev::WideToUtf8(jpg);
  // One second in avoids a black first frame; a shorter file takes its first.
  for (const char* at : {"1", "0"}) {
    pid_t pid = SpawnQuiet(ffmpeg, {"-hide_banner", "-nostdin", "-loglevel", "error", "-y", "-ss",
                                    at, "-i", in, "-frames:v", "1", "-f", "image2", out});
    if (pid < 0) return false;
    int status = WaitExit(pid);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && FileExists(out)) return true;
  }
  return false;
}

}  // namespace peers
}  // namespace tev
