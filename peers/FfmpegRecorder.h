// The streamer of tev-peers: records each "StartStream" with an ffmpeg
// process from the channel's source into the file asked for, for the
// duration asked, and calls the module back when the file has started
// ("Notify<kind>RecordStarted") and when the process has ended
// ("Notify<kind>RecordFinished" with the seconds it ran, and ffmpeg's last
// error line when it ended by itself with an error). A start it refuses
// says why after the stream settings of its answer. "StopStream"
// interrupts the process (SIGINT, so that ffmpeg closes the file properly).
//
// Sources: a file, an http(s):// address (MPEG-TS or HLS; a dropped
// connection is opened again for as long as the recording lasts), udp://,
// rtp:// or rtsp://, or "lavfi:<graph>" for an ffmpeg test source
// ("lavfi:testsrc"). Output by extension: .asf/.wmv get
// an ASF container with WMV2/WMA2, .wma audio-only ASF, others ffmpeg's
// choice.
//
// Stopping: SIGINT first; an ffmpeg that has not ended kStopGraceMs later
// is killed. "StopStream" answers once the process has ended (or after
// that grace and a little more). A recording that overruns its duration by
// kOverrunSeconds (a stalled source) is stopped the same way.
//
// Threads: requests arrive on the bus library's threads; each stream has a
// watcher thread that reaps its process, escalates a stop and sends the
// notifications. The destructor refuses new streams, stops every running
// one and returns when their watchers have sent the finish notifications;
// the peer's "StartStream" refuses from then on (code 1).
#ifndef TEV_PEERS_FFMPEGRECORDER_H_
#define TEV_PEERS_FFMPEGRECORDER_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "peers/ChildProcess.h"
#include "peers/Peers.h"

namespace tev {
namespace peers {

// Turns the channel of a request (a medium id or a source itself) into an
// ffmpeg source and the notification kind ("TV", "Device", "Web"). False
// when the channel is unknown.
typedef std::function<bool(const std::wstring& channel, std::wstring* source, std::wstring* kind)>
    ChannelResolver;

// Hears what became of a stream, on its watcher thread before the finish
// notification: each gap ffmpeg bridged (`failed` false), or why nothing
// could be recorded (`failed` true: ffmpeg's last message, such as the
// HTTP status or "Connection refused").
typedef std::function<void(const std::wstring& path, const std::string& what, bool failed)>
    StreamReport;

class FfmpegRecorder {
 public:
  FfmpegRecorder(StreamerPeer& peer, ChannelResolver resolver, std::string ffmpeg = "ffmpeg",
                 StreamReport report = nullptr);
  ~FfmpegRecorder();
  FfmpegRecorder(const FfmpegRecorder&) = delete;
  FfmpegRecorder& operator=(const FfmpegRecorder&) = delete;

  // The ffmpeg arguments (without the program) that record `source` into
  // `output` for `seconds` (<= 0: until stopped).
  static std::vector<std::string> BuildArguments(const std::string& source,
                                                 const std::string& output, int seconds);

  static constexpr int kStopGraceMs = 3000;
  static constexpr int kOverrunSeconds = 30;

 private:
  class Core;

  StreamerPeer& peer_;
  // Shared with the handlers and the watchers: a handler that the bus
  // library has already picked up may still run after the destructor.
  std::shared_ptr<Core> core_;
};

// Answers "Extract Image From Video" with one frame of the recording
// written to the jpg by ffmpeg, which gets kThumbnailTimeoutMs per try
// before it is killed. True when the jpg exists afterwards.
constexpr int kThumbnailTimeoutMs = 20000;
bool ExtractThumbnail(const std::string& ffmpeg, const std::wstring& video, const std::wstring& jpg);

}  // namespace peers
}  // namespace tev

#endif  // TEV_PEERS_FFMPEGRECORDER_H_
