// The peer fixture plus recording folders on disk, a padding of 30 s, one TV tuner and
// an engine; rows written straight into the table and readers of what peers were told.
#ifndef TEV_TESTS_ENGINE_ENGINEFIXTURE_H_
#define TEV_TESTS_ENGINE_ENGINEFIXTURE_H_

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "db/Config.h"
#include "db/RecordingSettings.h"
#include "db/Schedule.h"
#include "db/TimeUtils.h"
#include "dvr/DVR.h"
#include "engine/Schedules.h"
#include "module/PVRVel.h"
#include "peers/Peers.h"
#include "support/VUtil.h"
#include "tests/db/DbTestSupport.h"
#include "tests/peers/PeerFixture.h"

namespace enginetest {

using tev::peers::Value;

// One row as a test wants it; the rest of the columns get ordinary values.
struct RowSpec {
  std::string name = "Show";
  std::string status = "DVRSTATE_RECORDING";
  std::string mimetype = "video/x-tv";
  std::string path;
  int64_t start = 0;
  int32_t duration = 3600;
  std::string episodeUrl;
};

// Inserts the row (end = start + duration); its ID.
inline int InsertRow(const std::string& dbPath, const RowSpec& planned) {
  dbtest::RawDb db(dbPath);
  auto time = [](int64_t t) { return tev::ToStdUtf8(FormatTime3(t)); };
  db.Exec("INSERT INTO Schedules (User, Name, ChannelName, Channel, ChannelMimetype, Status, "
          "StartTime, EndTime, Duration, FilePath, EpisodeUrl, Category, Description, Subtitle, "
          "Type, KeepUntil, Quality, Tuner) VALUES ('bob', '" + planned.name + "', 'BBC One', "
          "'ch1', '" + planned.mimetype + "', '" + planned.status + "', " + time(planned.start) + ", " +
          time(planned.start + planned.duration) + ", " + std::to_string(planned.duration) + ", '" +
          planned.path + "', '" + planned.episodeUrl + "', 'Drama', 'A story', 'Part 1', "
          "'Automatic', 2, 'high', 't1')");
  return std::stoi(db.Value("SELECT max(ID) FROM Schedules"));
}

struct Published {
  std::wstring path;
  std::wstring state;   // pvrState
  std::wstring reason;  // failureReason, empty when not sent
  bool flag = false;    // the request's last element
};

inline std::vector<Published> PublishedMedia(const tev::peers::ScriptedPeer& media) {
  std::vector<Published> all;
  for (const tev::peers::Value& in : media.RequestsOf(L"AddMedium")) {
    tev::peers::Value list = peertest::Elem(in.get(), 1);
    Published p;
    VUtil::FindPair(list.get(), L"path", &p.path);
    VUtil::FindPair(list.get(), L"pvrState", &p.state);
    VUtil::FindPair(list.get(), L"failureReason", &p.reason);
    tev::peers::Value flag = peertest::Elem(in.get(), 3);
    p.flag = flag.type() == VT_BOOL && flag.get().boolVal != 0;
    all.push_back(p);
  }
  return all;
}

inline std::vector<std::wstring> StatesOf(const tev::peers::ScriptedPeer& media,
                                          const std::wstring& path) {
  std::vector<std::wstring> states;
  for (const Published& p : PublishedMedia(media)) {
    if (p.path == path) states.push_back(p.state);
  }
  return states;
}

// The value of `name` in the list last published for `path` (empty: none).
inline std::wstring LastPublished(const tev::peers::ScriptedPeer& media, const std::wstring& path,
                                  const std::wstring& name) {
  std::wstring last;
  for (const tev::peers::Value& in : media.RequestsOf(L"AddMedium")) {
    const tev::peers::Value list = peertest::Elem(in.get(), 1);
    std::wstring published, value;
    VUtil::FindPair(list.get(), L"path", &published);
    if (published == path) last = VUtil::FindPair(list.get(), name, &value) ? value : L"";
  }
  return last;
}
inline std::wstring LastReasonOf(const tev::peers::ScriptedPeer& media, const std::wstring& path) {
  return LastPublished(media, path, L"failureReason");
}

// The value of `name` in each property list of an "AddMedia" request.
inline std::vector<std::wstring> BatchValues(const tev::peers::Value& request,
                                             const std::wstring& name) {
  const tev::peers::Value lists = peertest::Elem(request.get(), 1);
  std::vector<std::wstring> values(VUtil::GetArrayLength(lists.get()));
  for (size_t i = 0; i < values.size(); ++i) {
    VUtil::FindPair(peertest::Elem(lists.get(), static_cast<long>(i)).get(), name, &values[i]);
  }
  return values;
}

inline std::vector<std::wstring> FirstArguments(const tev::peers::ScriptedPeer& peer,
                                                const std::wstring& method) {
  std::vector<std::wstring> texts;
  for (const tev::peers::Value& in : peer.RequestsOf(method)) {
    texts.push_back(peertest::Str(in.get(), 0));
  }
  return texts;
}

// A one-second ASF video; false without ffmpeg.
inline bool WriteAsfVideo(const std::string& path) {
  return std::system(("ffmpeg -nostdin -loglevel error -y -f lavfi -i "
                      "testsrc=d=1:size=64x48:rate=5 -c:v wmv2 -f asf '" + path + "'")
                         .c_str()) == 0;
}

struct RowValues {
  std::wstring name = L"Show";
  std::wstring mimetype = L"video/x-tv";
  std::wstring channel = L"ch1";
  std::wstring channelName = L"BBC One";
  int64_t start = 0;
  int32_t duration = 3600;
  std::wstring status = DVRSTATE_SCHEDULED;
  int32_t keepUntil = UNTIL_MANUALLY_DELETED;
  std::wstring path;  // empty: "<video folder>/<name>.asf"
};

class EngineFixture : public peertest::PeerFixture {
 protected:
  void SetUp() override {
    PeerFixture::SetUp();
    if (HasFatalFailure()) return;
    videoDir_ = dir_.path() + "/Recorded TV";
    audioDir_ = dir_.path() + "/Recorded Audio";
    std::filesystem::create_directories(videoDir_);
    std::filesystem::create_directories(audioDir_);
    Config::SetString(kConfigVideoDirectory, tev::FromStdUtf8(videoDir_));
    Config::SetString(kConfigAudioDirectory, tev::FromStdUtf8(audioDir_));
    Config::SetString(kConfigRecordPadding, L"30");
    RecordingSettings::InitializeFreeSpaceRequired();
    tv_.SetTuners({{L"Tuner 1", L"video/x-tv"}});
    SetChannel(L"tv.channel");
    recorder_.reset(new DVR(vel_->Peers()));
    engine_.reset(new Schedules(*recorder_));
  }
  void TearDown() override {
    if (pvr_) {
      pvr_->Vel().Disconnect();
    }
    engine_.reset();
    recorder_.reset();
    pvr_.reset();
    PeerFixture::TearDown();
  }

  // Requests to "ZoVIZ" then reach a whole module's services and engine.
  void UseModuleEndpoint() {
    vel_->Disconnect();
    pvr_.reset(new PVRVel());
    pvr_->Vel().SetRequestTimeout(10000);
    ASSERT_EQ(pvr_->Vel().Connect(bus_.host(), L"ZoVIZ"), 0);
    // The bare engine still asks the peers, under another name.
    ASSERT_EQ(vel_->Connect(bus_.host(), L"ZoVIZ-bare"), 0);
  }
  Schedules& Engine() { return pvr_ ? pvr_->GetSchedules() : *engine_; }
  DVR& Recorder() { return Engine().Recorder(); }
  // A new process: a recorder that knows no stream; what is stored stays.
  void Restart() {
    engine_.reset();
    recorder_.reset(new DVR(vel_->Peers()));
    engine_.reset(new Schedules(*recorder_));
  }

  // Every channel lookup answers a medium of this media type.
  void SetChannel(const std::wstring& mediaType, const std::wstring& url = L"") {
    Value record = Value::Array({Value::Str(L"ch"), Value::Str(url), Value::Str(mediaType),
                                 Value::Str(L""), Value::Str(L"T7"), Value::Str(L"PG"),
                                 Value::Str(L"news")});
    media_.SetReply(L"SearchMedia", 0,
                    Value::Array({Value::Array({Value::Long(1), Value(), Value(), Value(),
                                                Value::Array({record})})}));
  }

  int Add(const std::wstring& name, int64_t start, int32_t duration, int32_t recordNow = 0,
          const std::wstring& mimetype = L"video/x-tv", const std::wstring& episodeUrl = L"",
          ScheduleAnswer* result = nullptr) {
    RecordingRequest request = Request(name, start, duration);
    request.channelMimetype = mimetype;
    request.recordNow = recordNow;
    request.episodeUrl = episodeUrl;
    return Engine().Intake().Add(request, result);
  }
  static RecordingRequest Request(const std::wstring& name, int64_t start, int32_t duration) {
    return {L"bob",   L"BBC One", L"video/x-tv", L"ch1",     L"T7",   L"PG", L"news",   start,
            duration, name,       L"Drama",      L"A story", L"high", L"t1", L"Part 1", 2,
            0,        L"",        false,         0};
  }

  using Table = std::vector<std::vector<std::string>>;
  // Raw column values of every row, in ID order.
  Table Rows(const std::string& columns, const std::string& where = "1") {
    dbtest::RawDb db(dbPath_);
    return db.Rows("SELECT " + columns + " FROM Schedules WHERE " + where + " ORDER BY ID");
  }
  std::string Column(int id, const std::string& column) {
    dbtest::RawDb db(dbPath_);
    return db.Value("SELECT " + column + " FROM Schedules WHERE ID = " + std::to_string(id));
  }
  static std::string DbTime(int64_t t) { return tev::ToStdUtf8(FormatTime3(t)); }
  static std::wstring W(const std::string& text) { return tev::FromStdUtf8(text); }
  // `text` with its quotes doubled, for a hand-written statement.
  static std::string Quoted(const std::string& text) {
    std::string out;
    for (char c : text) out += c == '\'' ? std::string("''") : std::string(1, c);
    return out;
  }

  std::string PathFor(const std::string& name) const { return videoDir_ + "/" + name + ".asf"; }
  RowSpec Planned(const std::string& name, const std::string& status, int64_t start,
                  int32_t duration = 3600) const {
    return {name, status, "video/x-tv", PathFor(name), start, duration, ""};
  }
  int Insert(const RowSpec& planned) { return InsertRow(dbPath_, planned); }

  static RowValues Values(const std::wstring& name, int64_t start, int32_t duration = 3600,
                          const std::wstring& mimetype = L"video/x-tv",
                          const std::wstring& status = DVRSTATE_SCHEDULED) {
    return {name, mimetype, L"ch1", L"BBC One", start, duration, status, UNTIL_MANUALLY_DELETED,
            L""};
  }
  int Row(const RowValues& values) {
    Schedule row;
    row.m_user = L"bob";
    row.m_type = L"Manual";
    row.m_status = values.status;
    row.m_channelName = values.channelName;
    row.m_channelMimetype = values.mimetype;
    row.m_channel = values.channel;
    row.m_startTime = values.start;
    row.m_duration = values.duration;
    row.m_endTime = values.start + values.duration;
    row.m_name = values.name;
    row.m_quality = L"high";
    row.m_keepUntil = values.keepUntil;
    row.m_filePath =
        values.path.empty() ? tev::FromStdUtf8(videoDir_) + L"/" + values.name + L".asf" : values.path;
    EXPECT_TRUE(row.Insert());
    return Schedule::GetIdFromPath(row.m_filePath);
  }
  // Inserts the row as if published under `mediumId`; its ID.
  int Published(const std::wstring& mediumId, const RowValues& values) {
    const int id = Row(values);
    LibrarySync::AssignTevMediumId(id, mediumId);
    return id;
  }
  std::string Status(int id) { return Column(id, "Status"); }
  std::wstring Path(int id) { return tev::FromStdUtf8(Column(id, "FilePath")); }

  // Stream id -> file path of every StartStream request.
  std::map<int32_t, std::wstring> StartedStreams() {
    std::map<int32_t, std::wstring> streams;
    for (const Value& request : streamer_.RequestsOf(L"StartStream")) {
      streams[VUtil::GetLongElement(request.get(), 1)] = VUtil::GetStringElement(request.get(), 11);
    }
    return streams;
  }
  std::vector<std::wstring> StoppedPaths() {
    std::map<int32_t, std::wstring> streams = StartedStreams();
    std::vector<std::wstring> paths;
    for (const Value& request : streamer_.RequestsOf(L"StopStream")) {
      paths.push_back(streams[VUtil::GetLongElement(request.get(), 0)]);
    }
    return paths;
  }

  std::string videoDir_;
  std::string audioDir_;
  std::unique_ptr<DVR> recorder_;
  std::unique_ptr<Schedules> engine_;
  std::unique_ptr<PVRVel> pvr_;
};

}  // namespace enginetest

#endif  // TEV_TESTS_ENGINE_ENGINEFIXTURE_H_
