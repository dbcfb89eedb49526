// Recorder control against scripted services on a loopback bus.
#include <atomic>
#include <map>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "dvr/DVR.h"
#include "tests/db/BusWire.h"
#include "tests/peers/PeerFixture.h"

namespace {

using dbtest::Wire;
using peertest::Elem;
using peertest::Str;
using tev::peers::Value;

class DVRStreams : public peertest::PeerFixture {
 protected:
  void SetUp() override {
    PeerFixture::SetUp();
    if (HasFatalFailure()) return;
    dvr_.reset(new DVR(vel_->Peers(), nullptr, [this] { return stopping_.load(); }));
  }
  void TearDown() override {
    dvr_.reset();
    PeerFixture::TearDown();
  }
  int Start(const std::wstring& channel, const std::wstring& mimetype, std::wstring* path,
            const std::wstring& episodeUrl = L"") {
    return dvr_->StartRecording(L"bob", episodeUrl, mimetype, path, channel, 3600, L"q", true,
                                L"20080304200001");
  }
  std::atomic<bool> stopping_{false};
  std::unique_ptr<DVR> dvr_;
};

TEST_F(DVRStreams, StartsAndStopsATelevisionStream) {
  std::wstring path = L"/rec/News.asf";
  ASSERT_EQ(Start(L"ch1", L"video/x-tv", &path), 0);
  const Value in = Last(streamer_, L"StartStream");
  const long id = VUtil::GetLongElement(in.get(), 1);
  EXPECT_EQ(Wire(in.get()),
            R"(["bob",)" + std::to_string(id) + R"(,"pvr","ch1",{"vt":"EMPTY"},{"vt":"EMPTY"},)"
            R"([["audioContainer","asf"],["audioCodec","wma"],["audioExtension","wma"],)"
            R"(["videoContainer","asf"],["videoCodec","wmv"],["videoAudioCodec","wma"],)"
            R"(["videoExtension","wmv"],["bitrate","1500"],["x","1920"],["y","1080"],["scale","auto"],)"
            R"(["crop","no"]],{"vt":"EMPTY"},{"vt":"EMPTY"},{"vt":"EMPTY"},3600,"/rec/News.asf",)"
            R"("20080304200001"])");
  EXPECT_EQ(dvr_->GetStreamId(path), id);

  std::wstring other = L"/rec/Other.asf";
  ASSERT_EQ(Start(L"ch2", L"video/x-tv", &other), 0);
  EXPECT_NE(dvr_->GetStreamId(other), id);

  EXPECT_EQ(dvr_->StopRecording(L"bob", L"ch1", L"video/x-tv", path), 0);
  EXPECT_EQ(VUtil::GetLongElement(Last(streamer_, L"StopStream").get(), 0), id);
  EXPECT_EQ(dvr_->GetStreamId(path), 0);
  const size_t stops = streamer_.CountOf(L"StopStream");
  EXPECT_EQ(dvr_->StopRecording(path), 111);
  EXPECT_EQ(dvr_->StopRecording(L"/rec/never.asf"), 111);
  stopping_ = true;
  EXPECT_EQ(dvr_->StopRecording(other), 111);
  stopping_ = false;
  EXPECT_EQ(streamer_.CountOf(L"StopStream"), stops);
  // Refused: the id is gone all the same.
  streamer_.SetReply(L"StopStream", 7);
  EXPECT_EQ(dvr_->StopRecording(other), 111);
  EXPECT_EQ(dvr_->GetStreamId(other), 0);
}

TEST_F(DVRStreams, StreamerAnswersDecideTheResult) {
  std::wstring path;
  for (const Value& reply :
       {Value(), Value::Array({Value::Array(std::vector<Value>(6, Value::Long(1)))})}) {
    streamer_.SetReply(L"StartStream", 0, reply);
    path = L"/rec/b.asf";
    EXPECT_EQ(Start(L"ch1", L"video/x-tv", &path), 0);
    EXPECT_EQ(path, L"/rec/b.asf");
  }
  EXPECT_TRUE(log_->Has(LOG_WARN, L"StartGeneralRecording cannot parse stream specs"));

  // Both failures stop the stream they started.
  streamer_.SetReply(L"StopStream", 0);
  streamer_.SetReply(L"StartStream", 1111);
  path = L"/rec/c.asf";
  EXPECT_EQ(Start(L"ch1", L"video/x-tv", &path), 116);
  EXPECT_EQ(streamer_.CountOf(L"StopStream"), 1u);
  EXPECT_EQ(dvr_->GetStreamId(path), 0);
  streamer_.SetReply(L"StartStream", 3);
  EXPECT_EQ(Start(L"ch1", L"video/x-tv", &path), 115);
  EXPECT_EQ(streamer_.CountOf(L"StopStream"), 2u);

  streamer_.Leave();
  path = L"/rec/d.asf";
  EXPECT_EQ(Start(L"ch1", L"video/x-tv", &path), 115);
  EXPECT_EQ(dvr_->GetStreamId(path), 0);
}

TEST_F(DVRStreams, WebChannelsArePreparedFirst) {
  media_.SetReply(L"ProcessTranscodeUrl", 0, Value::Array({Value::Str(L"http://prepared")}));
  std::wstring path = L"/rec/web.asf";
  ASSERT_EQ(Start(L"chw", L"video/x-webwin", &path, L"http://episode"), 0);
  EXPECT_EQ(Wire(Last(media_, L"ProcessTranscodeUrl").get()),
            R"(["http://episode",[["mimeType","video/x-webwin"],["mediaType","tv.web"]],)"
            R"({"vt":"EMPTY"},false])");
  EXPECT_EQ(Str(Last(streamer_, L"StartStream").get(), 3), L"http://prepared");

  // Without an episode the channel's medium gives the address.
  InsertSchedule("w1", "DVRSTATE_SCHEDULED", "video/x-webwin", "Web", "Radio", "/rec/web2.asf");
  Value record = Value::Array({Value::Str(L"chw"), Value::Str(L"http://h/{yyyyMMdd}.asx"),
                               Value::Str(L"tv.web.radio"), Value::Str(L""), Value(), Value(),
                               Value()});
  media_.SetReply(L"SearchMedia", 0,
                  Value::Array({Value::Array({Value::Long(1), Value(), Value(), Value(),
                                              Value::Array({record})})}));
  path = L"/rec/web2.asf";
  ASSERT_EQ(Start(L"chw", L"video/x-webwin", &path), 0);
  EXPECT_EQ(Wire(Last(media_, L"ProcessTranscodeUrl").get()),
            R"(["http://h/20080304.asx",[["mimeType","video/x-webwin"],)"
            R"(["mediaType","tv.web.radio"]],{"vt":"EMPTY"},false])");
  dbtest::RawDb db(dbPath_);
  EXPECT_EQ(db.Value("SELECT EpisodeUrl FROM Schedules WHERE FilePath = '/rec/web2.asf'"),
            "http://h/20080304.asx");

  const size_t starts = streamer_.CountOf(L"StartStream");
  media_.SetReply(L"ProcessTranscodeUrl", 4);
  EXPECT_EQ(Start(L"chw", L"audio/x-win", &path, L"http://episode"), -1);
  EXPECT_EQ(streamer_.CountOf(L"StartStream"), starts);
}

TEST_F(DVRStreams, Thumbnails) {
  InsertSchedule("t1", "DVRSTATE_COMPLETE", "video/x-tv", "Show", "Chan", "/rec/t.asf");
  dvr_->CreateThumbnail(L"/rec/t.asf");
  EXPECT_EQ(Wire(Last(thumbnails_, L"Extract Image From Video").get()),
            R"(["/rec/t.asf","/rec/t.asf.jpg",false])");

  EXPECT_TRUE(dvr_->DoesThumbnailExist(L"/rec/t.asf"));
  EXPECT_EQ(Str(Last(thumbnails_, L"Is Thumbnail In DB").get(), 0), L"/rec/t.asf.jpg");
  EXPECT_EQ(dvr_->DoThumbnailsExistInDB({L"/rec/t.asf", L"/rec/u.asf"}),
            (std::vector<bool>{true, false}));
  Value paths = Elem(Last(thumbnails_, L"Are Thumbnails In DB").get(), 0);
  EXPECT_EQ(Str(paths.get(), 1), L"/rec/u.asf.jpg");
  dvr_->DeleteThumbnail(L"/rec/t.asf");
  EXPECT_EQ(Str(Last(thumbnails_, L"RemoveThumbDB").get(), 0), L"/rec/t.asf");
  EXPECT_FALSE(dvr_->DoesThumbnailExist(L"/rec/t.asf"));

  const size_t asked = thumbnails_.CountOf(L"Are Thumbnails In DB");
  EXPECT_TRUE(dvr_->DoThumbnailsExistInDB({}).empty());
  EXPECT_EQ(thumbnails_.CountOf(L"Are Thumbnails In DB"), asked);

  thumbnails_.SetReply(L"Are Thumbnails In DB", 0, Value::Array({Value::LongArray({1})}));
  EXPECT_EQ(dvr_->DoThumbnailsExistInDB({L"a", L"b"}), (std::vector<bool>{true, false}));
  for (const Value& reply : {Value(), Value::Array({Value::Str(L"x")}),
                             Value::Array({Value::Array({Value::Str(L"1")})})}) {
    thumbnails_.SetReply(L"Are Thumbnails In DB", 0, reply);
    EXPECT_TRUE(dvr_->DoThumbnailsExistInDB({L"a"}).empty());
    thumbnails_.SetReply(L"Is Thumbnail In DB", 0, reply);
    EXPECT_FALSE(dvr_->DoesThumbnailExist(L"a"));
  }
  thumbnails_.SetReply(L"Extract Image From Video", 2);
  dvr_->CreateThumbnail(L"/rec/t.asf");
  EXPECT_TRUE(log_->HasPart(LOG_ERROR, L"Schedules::CreateThumbnail: Extract Image From Video: "));
  thumbnails_.Leave();
  dvr_->DeleteThumbnail(L"/rec/t.asf");
  EXPECT_TRUE(log_->HasPart(LOG_ERROR, L"DVR::DeleteThumbnail: "));
}

TEST_F(DVRStreams, CountsTunersPerMimetype) {
  tv_.SetTuners({{L"A", L"video/x-tv"}, {L"B", L"video/x-inputdevice"}, {L"C", L"video/x-tv"}});
  std::map<std::wstring, int32_t> tuners{{L"stale", 9}};
  dvr_->GetNumberOfTuners(&tuners);
  EXPECT_EQ(tuners, (std::map<std::wstring, int32_t>{{L"video/x-tv", 2}, {L"video/x-inputdevice", 1}}));
  EXPECT_EQ(Last(tv_, L"GetTVInfo").type(), VT_EMPTY);

  const std::map<std::wstring, int32_t> before = tuners;
  // One malformed answer caught where it is read, one where the tuners are.
  for (const Value& reply :
       {Value(), Value::Array({Value::Array({Value::Long(2), Value::Array({})})})}) {
    tv_.SetReply(L"GetTVInfo", 0, reply);
    dvr_->GetNumberOfTuners(&tuners);
    EXPECT_EQ(tuners, before);
  }
  tv_.SetReply(L"GetTVInfo", 0, Value::Array({Value::Array({Value::Long(0)})}));
  dvr_->GetNumberOfTuners(&tuners);
  EXPECT_TRUE(tuners.empty());
  tv_.Leave();
  tuners = before;
  dvr_->GetNumberOfTuners(&tuners);
  EXPECT_EQ(tuners, before);
}

}  // namespace
