// The streamer of tev-peers: records each "StartStream" with an ffmpeg
// process from the channel's source into the file asked for, for the
// duration asked, and calls the module back when the file has started
// ("Notify<kind>RecordStarted") and when the process has ended
// ("Notify<kind>RecordFinished" with the seconds it ran). "StopStream"
// interrupts the process (SIGINT, so that ffmpeg closes the file properly).
//
// Sources: a file, an http:// or udp:// address, or "lavfi:<graph>" for an
// ffmpeg test source ("lavfi:testsrc"). Output by extension: .asf/.wmv get
// an ASF container with WMV2/WMA2, .wma audio-only ASF, others ffmpeg's
// choice.
//
// Threads: requests arrive on the bus library's threads; each stream has a
// watcher thread. The destructor stops every stream and joins the watchers.
#ifndef TEV_PEERS_FFMPEGRECORDER_H_
#define TEV_PEERS_FFMPEGRECORDER_H_

#include <sys/types.h>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "peers/Peers.h"

namespace tev {
namespace peers {

// Turns the channel of a request (a medium id or a source itself) into an
// ffmpeg source and the notification kind ("TV", "Device", "Web"). False
// when the channel is unknown.
typedef std::function<bool(const std::wstring& channel, std::wstring* source, std::wstring* kind)>
    ChannelResolver;

class FfmpegRecorder {
 public:
  FfmpegRecorder(StreamerPeer& peer, ChannelResolver resolver, std::string ffmpeg = "ffmpeg");
  ~FfmpegRecorder();
  FfmpegRecorder(const FfmpegRecorder&) = delete;
  FfmpegRecorder& operator=(const FfmpegRecorder&) = delete;

  // The ffmpeg arguments (without the program) that record `source` into
  // `output` for `seconds` (<= 0: until stopped).
  static std::vector<std::string> BuildArguments(const std::string& source,
                                                 const std::string& output, int seconds);

 private:
  struct Stream {
    pid_t pid = -1;
    std::wstring path;
    std::wstring kind;
    std::thread watcher;
  };

  int Start(const VARIANT& in, VARIANT* out);
  int Stop(const VARIANT& in);
  void Watch(int32_t id, pid_t pid, std::wstring path, std::wstring kind);

  StreamerPeer& peer_;
  const ChannelResolver resolver_;
  const std::string ffmpeg_;

  std::mutex mutex_;
  std::map<int32_t, Stream> streams_;  // guarded by mutex_
  std::atomic<bool> closing_{false};
};

// Answers "Extract Image From Video" with one frame of the recording
// written to the jpg by ffmpeg. True when the jpg exists afterwards.
bool ExtractThumbnail(const std::string& ffmpeg, const std::wstring& video, const std::wstring& jpg);

// Runs a program with stdin, stdout and stderr on /dev/null; its pid or -1.
pid_t SpawnQuiet(const std::string& program, const std::vector<std::string>& arguments);

}  // namespace peers
}  // namespace tev

#endif  // TEV_PEERS_FFMPEGRECORDER_H_
