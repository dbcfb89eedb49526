// A fixture for tests of the recording engine: the peer fixture (database,
// captured log, loopback bus, "ZoVIZ", scripted peers) plus recording
// folders on disk, a padding of 30 s, a one-tuner TV service, channel
// lookups the media library answers, and an engine object.
#ifndef TEV_TESTS_ENGINE_ENGINEFIXTURE_H_
#define TEV_TESTS_ENGINE_ENGINEFIXTURE_H_

#include <filesystem>
#include <memory>
#include <string>

#include "db/Config.h"
#include "db/RecordingSettings.h"
#include "db/TimeUtils.h"
#include "dvr/DVR.h"
#include "engine/Schedules.h"
#include "module/PVRVel.h"
#include "tests/engine/RowsAndMedia.h"
#include "tests/peers/PeerFixture.h"

namespace enginetest {

using tev::peers::Value;

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

  // Replaces the bare endpoint by a whole module object, so that requests
  // to "ZoVIZ" reach its services and its engine.
  void UseModuleEndpoint() {
    vel_->Disconnect();
    pvr_.reset(new PVRVel());
    pvr_->Vel().SetRequestTimeout(10000);
    ASSERT_EQ(pvr_->Vel().Connect(bus_.host(), L"ZoVIZ"), 0);
    // The bare engine (and passes built over it) still ask the peers
    // through its recorder: under another name, so that "ZoVIZ" is the module.
    ASSERT_EQ(vel_->Connect(bus_.host(), L"ZoVIZ-bare"), 0);
  }
  Schedules& Engine() { return pvr_ ? pvr_->GetSchedules() : *engine_; }
  DVR& Recorder() { return Engine().Recorder(); }
  // The process ends and a new one starts: a new recorder, which knows no
  // stream, under a new engine; what is stored stays.
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

  // Schedules::Add with the values most tests share.
  int Add(const std::wstring& name, int64_t start, int32_t duration, int32_t recordNow = 0,
          const std::wstring& mimetype = L"video/x-tv", const std::wstring& episodeUrl = L"",
          ScheduleAnswer* result = nullptr) {
    RecordingRequest request = Request(name, start, duration);
    request.channelMimetype = mimetype;
    request.recordNow = recordNow;
    request.episodeUrl = episodeUrl;
    return Engine().Intake().Add(request, result);
  }
  // The request most tests share.
  static RecordingRequest Request(const std::wstring& name, int64_t start, int32_t duration) {
    RecordingRequest request;
    request.user = L"bob";
    request.channelName = L"BBC One";
    request.channelMimetype = L"video/x-tv";
    request.channel = L"ch1";
    request.thumbnailId = L"T7";
    request.rating = L"PG";
    request.tags = L"news";
    request.start = start;
    request.duration = duration;
    request.name = name;
    request.category = L"Drama";
    request.description = L"A story";
    request.quality = L"high";
    request.tuner = L"t1";
    request.subtitle = L"Part 1";
    request.keepUntil = 2;
    return request;
  }

  // Raw column values of every row, in ID order.
  std::vector<std::vector<std::string>> Rows(const std::string& columns,
                                             const std::string& where = "1") {
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
  // A row of `name` recording into PathFor(name).
  RowSpec Planned(const std::string& name, const std::string& status, int64_t start,
                  int32_t duration = 3600) const {
    RowSpec planned;
    planned.name = name;
    planned.status = status;
    planned.start = start;
    planned.duration = duration;
    planned.path = PathFor(name);
    return planned;
  }
  int Insert(const RowSpec& planned) { return InsertRow(dbPath_, planned); }

  std::string videoDir_;
  std::string audioDir_;
  std::unique_ptr<DVR> recorder_;
  std::unique_ptr<Schedules> engine_;
  std::unique_ptr<PVRVel> pvr_;
};

}  // namespace enginetest

#endif  // TEV_TESTS_ENGINE_ENGINEFIXTURE_H_
