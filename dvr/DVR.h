// Recorder control: the stateless operations through which the engine asks
// the streamer ("TevStreamer") to record a stream into a file, names and
// recognises recording files, maps channel mimetypes to file formats, and
// asks the thumbnail and TV services for thumbnails and tuner counts.
//
// Channel mimetypes and what they record as:
//
//   channel mimetype        kind            extension  recording mimetype
//   video/x-tv*             television      asf        video/x-ms-dvr
//   video/x-inputdevice     capture device  asf        video/x-ms-asf
//   video/x-webwin          web             asf        video/x-ms-asf
//   video/x-webreal         web             asf        video/vnd.rn-realvideo
//   audio/x-webreal         web             asf        -
//   audio/x-real            web             asf        audio/x-pn-realaudio
//   audio/x-win             web             wma        audio/x-ms-asx
//   audio/x-webwin          web             wma        -
//   audio/x-ms-asf          web             wma        -
//   video/x-videomail       video mail      wmv        video/x-ms-wmv
//   audio/x-videomail       audio mail      -          video/x-ms-wma
//
// One object per module (the module owns it and hands it to the engine;
// tests build their own). It holds the stream table (file path -> stream
// id, 0 = no stream), the last stream id handed out and the thumbnail
// table, each behind its own lock or atomic held for one lookup or change;
// no lock is held across a request. Any thread may call the operations.
// The stateless helpers (names, mimetypes, files) are static.
//
// Requests go to the peers given at construction.
#ifndef TEV_DVR_DVR_H_
#define TEV_DVR_DVR_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "dvr/ThumbnailTable.h"
#include "platform/Variant.h"
#include "support/Locker.h"

class PeerClient;

class DVR {
 public:
  // The owner of the recording folders (the module's engine) answers the
  // video (`video` true) or audio folder; empty while it has none.
  using FolderSource = std::function<std::wstring(bool video)>;
  // True once the module began to stop.
  using StopSource = std::function<bool()>;

  // `peers` outlives the recorder. Without a folder source the stored
  // settings name the folders; without a stop source it never stops. Both
  // may be called from any thread for the recorder's whole life.
  explicit DVR(PeerClient& peers, FolderSource folders = nullptr, StopSource stopping = nullptr);
  DVR(const DVR&) = delete;
  DVR& operator=(const DVR&) = delete;

  PeerClient& Peers() const { return m_peers; }
  // Which schedules have a thumbnail (any thread).
  ThumbnailTable& Thumbnails() { return m_thumbnails; }

  // Result codes.
  static constexpr int kNoStream = 111;
  static constexpr int kStreamerRefused = 115;
  static constexpr int kCouldNotConnect = 116;
  // What the streamer answers when it cannot reach the source.
  static constexpr int kStreamerConnectFailed = 1111;
  // What it answers to "StopStream" for a stream it does not know (ended,
  // or started before the streamer itself restarted).
  static constexpr int kStreamerUnknownStream = 1;

  // --- Streams ---
  // Hands everything but quality and flag to StartGeneralRecording.
  int StartRecording(const std::wstring& user, const std::wstring& episodeUrl,
                            const std::wstring& channelMimetype, std::wstring* filePath,
                            const std::wstring& channel, int32_t duration,
                            const std::wstring& quality, bool flag,
                            const std::wstring& startTimeText,
                            std::wstring* streamerMessage = nullptr);
  // Asks the streamer to record `channel` into *filePath for `duration`
  // seconds. Web channels are first resolved to a prepared stream address
  // through the media library (its own non-zero code is returned then).
  // The streamer may answer another destination: *filePath then becomes it.
  // Returns 0 accepted, 116 the streamer could not connect (1111), 115 any
  // other refusal or a bus failure. Whenever the streamer answered, the
  // stream id is in the stream table under the final path (and a refused
  // stream is stopped again). A refusing streamer may say why in a text
  // after the stream settings of its answer: *streamerMessage gets it
  // (empty when it said nothing).
  int StartGeneralRecording(const std::wstring& user, const std::wstring& channel,
                                   const std::wstring& episodeUrl,
                                   const std::wstring& channelMimetype, std::wstring* filePath,
                                   int32_t duration, const std::wstring& startTimeText,
                                   std::wstring* streamerMessage = nullptr);
  // Stops the stream recorded into `filePath`. 0 stopped; 111 when no stream
  // is known for the path, there is no endpoint, the module is stopping
  // (no request in these cases) or the streamer failed. The path's stream
  // id is 0 afterwards whenever a request was made.
  int StopRecording(const std::wstring& filePath);
  int StopRecording(const std::wstring& user, const std::wstring& channel,
                           const std::wstring& channelMimetype, const std::wstring& filePath);
  // Stream id stored for the path, 0 when none.
  long GetStreamId(const std::wstring& filePath);
  // Takes over a stream that a previous run of the module started (its id
  // from StreamStore) so that it is stopped like one started now.
  void AdoptStream(const std::wstring& filePath, long streamId);
  // The stream of the path has ended: no id in memory or in the database.
  void ForgetStream(const std::wstring& filePath);

  // --- Stream addresses ---
  // Expands date wildcards in braces ({yyyyMMdd}, {yy}, {dd} ... any case)
  // with the local date of the database-time `startTimeText`, or of now
  // when it is empty. A URL that begins with '{' is returned unchanged.
  static std::wstring ReplaceWildcardInUrl(const std::wstring& url,
                                           const std::wstring& startTimeText);

  // --- File names ---
  // "<dir>/<name>_<channel>_<MM-DD-YYYY hh-mm-ss> Tev[ <n>].<ext>", or
  // "<dir>/<name> <date> Tev[ <n>].<ext>" without a channel name. Path
  // separators, characters Windows forbids and control characters are
  // dropped from name and channel, and both are shortened so that the file
  // name stays a single component well under 255 bytes. Throws VelException
  // for a mimetype without a file extension or an unconvertible time.
  std::wstring MakeRecordingFileName(const std::wstring& channelMimetype,
                                            const std::wstring& channelName,
                                            const std::wstring& name, int64_t start,
                                            int iteration);
  // The first of iterations 0..9 that no other schedule row uses and no
  // file on disk has; empty when all ten are taken. Throws as
  // MakeRecordingFileName.
  std::wstring ConstructUniqueFileName(const std::wstring& channelMimetype,
                                              const std::wstring& channelName,
                                              const std::wstring& name, int64_t start,
                                              int scheduleId);
  // The counter form of `path` ("... Tev.asf" -> "... Tev 1.asf", "... Tev
  // 2.asf", ...; a counter `path` has already is replaced) that no row uses
  // and no file has: the name of a further piece of the same recording.
  // Empty (logged) when counters 1..9 are all taken.
  static std::wstring NextPieceFileName(const std::wstring& path);
  // Splits a name made by MakeRecordingFileName (or any name following the
  // pattern). The date text is "MM/DD/YYYY hh:mm:ss". False when the path
  // does not follow the pattern or gives no name; outputs may be null.
  static bool ParseRecordingFileName(const std::wstring& filePath, std::wstring* extension,
                                     std::wstring* name, std::wstring* channelName,
                                     std::wstring* dateText);

  // --- Folders and types ---
  // The video folder for mimetypes beginning with "video", else the audio
  // folder: the source's (when it names one), else the stored setting,
  // else the default.
  std::wstring GetRecordingDirectory(const std::wstring& channelMimetype);

  // Throw VelException for a mimetype without an entry (ERROR logged).
  static std::wstring GetFileExtention(const std::wstring& channelMimetype);
  static std::wstring GetRecordingMimetype(const std::wstring& channelMimetype);
  // Channel mimetype of a found file by its extension (any case); empty
  // (WARN logged) for an unknown one. `video` decides what ".rm" is.
  static std::wstring GetTevMimetype(const std::wstring& filePath, bool video);
  // Whether the extension after the last '.' is one of the recording
  // extensions (exact case).
  static bool IsRecordingExtension(const std::wstring& filePath);
  static bool IsTVMimetype(const std::wstring& channelMimetype);
  static bool IsWebMimetype(const std::wstring& channelMimetype);
  static bool IsInputDeviceMimetype(const std::wstring& channelMimetype);

  // --- Files ---
  static bool IsRecordingOnDisk(const std::wstring& filePath);
  static bool DeleteFile(const std::wstring& filePath);
  // Whether a row other than `scheduleId` already uses `filePath`.
  static bool HasDuplicate(const std::wstring& filePath, int scheduleId);

  // --- Thumbnails: "<recording path>.jpg", kept by the thumbnail service ---
  // Marks the row's thumbnail as requested and asks for it.
  void CreateThumbnail(const std::wstring& filePath);
  void DeleteThumbnail(const std::wstring& filePath);
  // False also when the request fails.
  bool DoesThumbnailExist(const std::wstring& filePath);
  // One flag per path; empty when the list is empty (nothing is sent), the
  // request fails or the reply cannot be read. Paths the reply leaves out
  // read false.
  std::vector<bool> DoThumbnailsExistInDB(const std::vector<std::wstring>& filePaths);
  // Marks the ThumbnailState of the row with that file "requested".
  static void SetThumbnailAlreadyBeenRequested(const std::wstring& filePath);

  // --- Tuners ---
  // Replaces *tuners by the TV service's tuner count per channel mimetype;
  // on any failure *tuners keeps what it held.
  void GetNumberOfTuners(std::map<std::wstring, int32_t>* tuners);

 private:
  // A millisecond tick count, as the streamer knows streams by it.
  uint32_t NextStreamId();
  void SetStreamId(const std::wstring& path, long id);
  bool Stopping() const { return m_stopping && m_stopping(); }
  // Resolves a web channel to the address the streamer records from. 0 or
  // the media library's code.
  int PrepareWebChannel(const std::wstring& user, const std::wstring& episodeUrl,
                        const std::wstring& channelMimetype, const std::wstring& filePath,
                        const std::wstring& startTimeText, std::wstring* channel);
  // Sends one request to whichever satellite offers `method` and checks its
  // return code; throws VelException for every failure.
  void Ask(const wchar_t* method, const VARIANT& in, VARIANT* out);

  PeerClient& m_peers;
  const FolderSource m_folders;
  const StopSource m_stopping;
  std::atomic<uint32_t> m_lastStreamId{0};
  locker<std::map<std::wstring, long>> m_streams;
  ThumbnailTable m_thumbnails;
};

#endif  // TEV_DVR_DVR_H_
