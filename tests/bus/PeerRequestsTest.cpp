// The module's requests to its peers as the scripted peers receive them, and
// each failure: the bus, a non-zero return code, replies of the wrong shape.
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bus/CVelAtl.h"
#include "db/TimeUtils.h"
#include "dvr/DVR.h"
#include "engine/Schedules.h"
#include "platform/Clock.h"
#include "tests/db/BusWire.h"
#include "tests/peers/PeerFixture.h"

namespace {

using peertest::Elem;
using peertest::Str;
using tev::peers::Value;

class CVelAtlRequests : public peertest::PeerFixture {};

std::string Wire(const Value& value) { return dbtest::Wire(value.get()); }

// Replies that are not what the operation expects.
std::vector<Value> MalformedReplies() {
  return {Value(), Value::Str(L"x"), Value::Array({}), Value::Array({Value::Long(7)}),
          Value::Array({Value::Array({Value::Long(1), Value::Long(2)})}),
          Value::Array({Value::Array({Value::Str(L"only one")})})};
}

TEST_F(CVelAtlRequests, AnEndpointWithoutEngineAnswersMinusOne) {
  AutoVariant out, retcodes;
  const Value in = Value::Array({Value::Str(L"m1")});
  ASSERT_EQ(0, media_.Request(L"ZoVIZ", L"GetConflicts", in.get(), &out, 0, &retcodes));
  EXPECT_EQ(-1, VUtil::GetSingleRetcode(retcodes.get()));
  EXPECT_TRUE(log_->Has(LOG_ERROR, L"GetConflicts no engine"));
}

TEST_F(CVelAtlRequests, SetMediaAttributeLayouts) {
  vel_->Peers().SetMediaAttribute({L"m1", L"m2"}, L"pvrState", L"skip");
  ASSERT_TRUE(media_.WaitFor(L"SetMediaAttributes", 1, 5000));
  EXPECT_EQ(Wire(Last(media_, L"SetMediaAttributes")),
            R"(["",["m1","m2"],[["pvrState","skip"]],true])");
  vel_->Peers().SetMediaAttributes({L"a", L"b"}, {L"genre", L"title"}, {L"News", L"It's"});
  EXPECT_EQ(Wire(Last(media_, L"SetMediaAttributeList")),
            R"(["",[["a",[["genre","News"]]],["b",[["title","It's"]]]],true])");

  // Return codes are not looked at; a bus failure is logged.
  media_.SetReply(L"SetMediaAttributes", 9);
  vel_->Peers().SetMediaAttribute({L"m1"}, L"x", L"y");
  EXPECT_FALSE(log_->HasPart(LOG_ERROR, L"SetMediaAttribute"));
  media_.Leave();
  vel_->Peers().SetMediaAttribute({L"m1"}, L"x", L"y");
  vel_->Peers().SetMediaAttributes({L"m1"}, {L"x"}, {L"y"});
  EXPECT_TRUE(log_->HasPart(LOG_ERROR, L"SetMediaAttribute vel request: "));
  EXPECT_TRUE(log_->HasPart(LOG_ERROR, L"SetMediaAttributes vel request: "));
}

TEST_F(CVelAtlRequests, DeleteMediaRemovesPlansAndRetypesRecordings) {
  const int planned = InsertSchedule("s1", "DVRSTATE_SCHEDULED", "video/x-tv");
  InsertSchedule("r1", "DVRSTATE_COMPLETE", "video/x-tv");

  vel_->Peers().DeleteMedia(std::vector<std::wstring>{L"r1", L"s1", L"gone"}, true, false);
  EXPECT_EQ(Wire(Last(media_, L"RemoveImportedMedia")),
            R"(["PVR",[[["tevMediumId","s1"]]],{"vt":"EMPTY"},false,true])");
  EXPECT_EQ(Wire(Last(media_, L"SetMediaAttributeList")),
            R"(["",[["r1",[["mediaType","deleted.video.file.recorded.tv"]]],)"
            R"(["gone",[["mediaType","deleted.video.recorded"]]]],true])");

  // Passes: every id removed (in set order), no media types asked for.
  media_.ClearRequests();
  vel_->Peers().DeleteMedia(std::set<std::wstring>{L"p2", L"p1", L"r1"}, false, true);
  EXPECT_EQ(Wire(Last(media_, L"RemoveImportedMedia")),
            R"(["PVR",[[["tevMediumId","p1"]],[["tevMediumId","p2"]],[["tevMediumId","r1"]]],)"
            R"({"vt":"EMPTY"},false,false])");
  EXPECT_EQ(media_.CountOf(L"SetMediaAttributeList"), 0u);

  // By local id and by medium id; an empty set sends nothing.
  media_.ClearRequests();
  vel_->Peers().DeleteMedium(planned, false, false);
  EXPECT_EQ(Wire(Elem(Last(media_, L"RemoveImportedMedia").get(), 1)),
            R"([[["tevMediumId","s1"]]])");
  vel_->Peers().DeleteMedia(std::set<std::wstring>{}, true, true);
  EXPECT_EQ(media_.CountOf(L"RemoveImportedMedia"), 1u);

  media_.Leave();
  vel_->Peers().DeleteMedium(L"s1", true, true);
  EXPECT_TRUE(log_->HasPart(LOG_ERROR, L"DeleteMedia vel request: "));
}

TEST_F(CVelAtlRequests, NotificationsReachEveryListener) {
  DVR recorder(vel_->Peers());
  Schedules engine(recorder);
  const int film = InsertSchedule("m7", "DVRSTATE_RECORDING", "video/x-tv", "Film", "One");
  // Still within its window, or the list in progress would close it first.
  dbtest::RawDb(dbPath_).Exec("UPDATE Schedules SET EndTime = 29991231000000 WHERE ID = " +
                              std::to_string(film));
  const int id = InsertSchedule("m8", "DVRSTATE_COMPLETE", "video/x-tv", "News", "Two");
  vel_->Peers().NotifyStopRecording(id, L"News", L"Two");
  engine.Completion().NotifyRecordingChange(vel_->Peers());
  ASSERT_TRUE(listener_.WaitFor(L"NotifyStopRecording", 1, 5000));
  ASSERT_TRUE(listener_.WaitFor(L"NotifyPVRRecordingChange", 1, 5000));
  EXPECT_EQ(Wire(Last(listener_, L"NotifyStopRecording")), R"(["News","m8","Two"])");
  EXPECT_EQ(Wire(Last(listener_, L"NotifyPVRRecordingChange")), R"([["Film","m7","One"]])");

  vel_->Peers().NotifyStartRecording(id, L"News", L"Two");
  ASSERT_TRUE(listener_.WaitFor(L"NotifyStartRecording", 1, 5000));
  EXPECT_EQ(Str(Last(listener_, L"NotifyStartRecording").get(), 1), L"m8");
  listener_.Leave();
  engine.Completion().NotifyRecordingChange(vel_->Peers());
  EXPECT_FALSE(log_->HasPart(LOG_ERROR, L"Notify"));
}

TEST_F(CVelAtlRequests, GetMediumFromId) {
  media_.SetReply(L"GetMediumFromId", 0,
                  Value::Array({Value::Array({Value::Str(L"video/x-tv"), Value::Str(L"/c/1")})}));
  std::wstring text1, text2;
  EXPECT_EQ(vel_->Peers().GetMediumFromId(L"bob", L"ch1", &text1, &text2), 0);
  EXPECT_EQ(text1 + L"|" + text2, L"video/x-tv|/c/1");
  EXPECT_EQ(Wire(Last(media_, L"GetMediumFromId")), R"(["bob","ch1"])");

  media_.SetReply(L"GetMediumFromId", 3);
  EXPECT_EQ(vel_->Peers().GetMediumFromId(L"bob", L"ch1", &text1, &text2), 1);
  for (const Value& reply : MalformedReplies()) {
    media_.SetReply(L"GetMediumFromId", 0, reply);
    text1 = L"kept";
    EXPECT_EQ(vel_->Peers().GetMediumFromId(L"bob", L"ch1", &text1, &text2), 1);
    EXPECT_EQ(text1, L"kept");
  }
  media_.Leave();
  EXPECT_GT(vel_->Peers().GetMediumFromId(L"bob", L"ch1", &text1, &text2), 1);
}

Value SearchReply(int32_t count, const Value& mediaType, const Value& streamFormat,
                  const Value& tags) {
  Value record = Value::Array({Value::Str(L"id"), Value::Str(L"/m/path"), mediaType, streamFormat,
                               Value::Str(L"T1"), Value(), tags});
  return Value::Array(
      {Value::Array({Value::Long(count), Value(), Value(), Value(), Value::Array({record})})});
}

TEST_F(CVelAtlRequests, GetMediumInfoMimetypes) {
  struct Case {
    const wchar_t* mediaType;
    const wchar_t* streamFormat;
    const wchar_t* mimetype;  // empty: -1
  } cases[] = {
      {L"video.file.recorded.webcam", L"", L"video/x-inputdevice"},
      {L"tv.webcam.usb", L"", L"video/x-inputdevice"},
      {L"video.file.recorded.web", L"rm", L"video/x-webreal"},
      {L"video.file.recorded.web", L"wmv", L"video/x-webwin"},
      {L"audio.file.recorded.web", L"real", L"audio/x-real"},
      {L"audio.file.recorded.web", L"", L"audio/x-win"},
      {L"video.file.uploaded.videomail", L"", L"video/x-videomail"},
      {L"audio.file.uploaded.videomail", L"", L"audio/x-videomail"},
      {L"audio.file.music", L"", L"audio/x-videomail"},
      {L"video.file.recorded.tv", L"r", L"video/x-tv"},
      {L"tv.web", L"r", L"video/x-webreal"},
      {L"tv.web.radio", L"", L"video/x-webwin"},
      {L"tv.webcast", L"", L""},
      {L"audio.web", L"r", L"audio/x-real"},
      {L"audio.web.stream", L"", L"audio/x-win"},
      {L"audio.webby", L"", L""},
      {L"my.tv.channel.hd", L"", L"video/x-tv"},
      {L"video.file", L"", L""},
      {L"", L"", L""},
  };
  for (const Case& c : cases) {
    media_.SetReply(L"SearchMedia", 0,
                    SearchReply(1, Value::Str(c.mediaType), Value::Str(c.streamFormat),
                                Value::Str(L"t")));
    std::wstring mimetype = L"-", path, thumb, rating, tags, mediaType;
    const int result =
        vel_->Peers().GetMediumInfo(L"u", L"m1", &mimetype, &path, &thumb, &rating, &tags, &mediaType);
    EXPECT_EQ(result, *c.mimetype ? 0 : -1) << tev::ToStdUtf8(c.mediaType);
    EXPECT_EQ(mimetype, c.mimetype) << tev::ToStdUtf8(c.mediaType);
    EXPECT_EQ(mediaType, c.mediaType);
  }
  EXPECT_EQ(Wire(Last(media_, L"SearchMedia")),
            R"(["u","tevMediumId=\"m1\"",)"
            R"("path, mediaType, streamFormat, thumbnailId, rating, tags, mimeType","","",0,1])");
}

TEST_F(CVelAtlRequests, GetMediumInfoFieldsAndFailures) {
  std::wstring mimetype, path, thumb, rating = L"-", tags, mediaType;
  auto ask = [&](const Value& reply) {
    media_.SetReply(L"SearchMedia", 0, reply);
    return vel_->Peers().GetMediumInfo(L"u", L"m", &mimetype, &path, &thumb, &rating, &tags,
                                       &mediaType);
  };
  auto withTags = [](const Value& tags) {
    return SearchReply(1, Value::Str(L"tv.channel"), Value(), tags);
  };
  EXPECT_EQ(ask(withTags(Value::StringArray({L"a", L"b"}))), 0);
  EXPECT_EQ(path + L"|" + thumb + L"|" + rating + L"|" + tags, L"/m/path|T1||a b");
  ask(withTags(Value::Array({Value::Str(L" x "), Value::Str(L"y")})));
  EXPECT_EQ(tags, L"x  y");
  ask(withTags(Value::Str(L"  as is ")));
  EXPECT_EQ(tags, L"  as is ");

  // No match, replies of the wrong shape or types: -1.
  std::vector<Value> bad = MalformedReplies();
  bad.push_back(SearchReply(0, Value::Str(L"tv.channel"), Value(), Value()));
  bad.push_back(SearchReply(1, Value::Long(3), Value(), Value()));
  bad.push_back(withTags(Value::Long(3)));
  bad.push_back(withTags(Value::Array({Value::Str(L"a"), Value::Long(1)})));
  bad.push_back(Value::Array({Value::Array({Value::Long(1)})}));
  bad.push_back(Value::Array({Value::Array({Value::Str(L"1"), Value(), Value(), Value(),
                                            Value::Array({})})}));
  for (const Value& reply : bad) EXPECT_EQ(ask(reply), -1);
  EXPECT_TRUE(log_->HasPart(LOG_ERROR, L"GetMediumInfo: "));
  media_.SetReply(L"SearchMedia", 4);
  EXPECT_EQ(
      vel_->Peers().GetMediumInfo(L"u", L"m", &mimetype, &path, &thumb, &rating, &tags, &mediaType),
      -1);
  media_.Leave();
  EXPECT_GT(ask(Value()), 0);
}

TEST_F(CVelAtlRequests, ProcessTranscodeUrl) {
  media_.SetReply(L"ProcessTranscodeUrl", 0, Value::Array({Value::Str(L"http://ready")}));
  std::wstring url;
  EXPECT_EQ(vel_->Peers().ProcessTranscodeUrl(L"http://raw", L"video/x-webwin", L"tv.web", &url), 0);
  EXPECT_EQ(url, L"http://ready");
  EXPECT_EQ(Wire(Last(media_, L"ProcessTranscodeUrl")),
            R"(["http://raw",[["mimeType","video/x-webwin"],["mediaType","tv.web"]],)"
            R"({"vt":"EMPTY"},false])");

  for (const Value& reply : {Value(), Value::Array({Value::Long(1)})}) {
    media_.SetReply(L"ProcessTranscodeUrl", 0, reply);
    EXPECT_EQ(vel_->Peers().ProcessTranscodeUrl(L"u", L"m", L"t", &url), -1);
  }
}

// The week's request as it travels, and what cannot be read kept as a reason
// (what the programmes' marks do for a pass is GuidePassTest's).
TEST_F(CVelAtlRequests, GetTVGuideScheduleReadsTheWeekIntoValues) {
  tev::peers::GuideChannel channel;
  channel.name = L"One";
  channel.mediumId = L"ch1";
  const int64_t localNow = tev::Clock::Now() - GetTimeZoneOffset();
  channel.programs.push_back({L"News", 1800, localNow + 3600, L"N", L"D", L"E1", true, true, {}});
  guide_.SetListings({channel});

  GuideListings out;
  ASSERT_TRUE(vel_->Peers().GetTVGuideSchedule(L"News", &out));
  Value in = Last(guide_, L"SearchTVListings");
  ASSERT_EQ(VUtil::GetArrayLength(in.get()), 6);
  EXPECT_EQ(Str(in.get(), 0) + L"|" + Str(in.get(), 1) + Str(in.get(), 2), L"News|");
  const int64_t from = VUtil::GetDateElement(in.get(), 3);
  EXPECT_NEAR(static_cast<double>(from), static_cast<double>(localNow), 5.0);
  EXPECT_EQ(VUtil::GetDateElement(in.get(), 4) - from, 604800);
  EXPECT_EQ(VUtil::GetLongElement(in.get(), 5), 1000);
  ASSERT_TRUE(out.readable);
  ASSERT_EQ(out.channels.size(), 1u);
  const ListedChannel& one = out.channels[0];
  EXPECT_TRUE(one.readable && one.listsPrograms);
  EXPECT_EQ(one.name + L"|" + one.mimetype + L"|" + one.mediumId, L"One|video/x-tv|ch1");
  ASSERT_EQ(one.programs.size(), 1u);
  EXPECT_EQ(one.programs[0].unreadable, L"");

  // A refusal or an unreadable reply leaves out as it was.
  guide_.SetReply(L"SearchTVListings", 6);
  GuideListings kept;
  kept.slots = 42;
  EXPECT_FALSE(vel_->Peers().GetTVGuideSchedule(L"News", &kept));
  EXPECT_EQ(kept.slots, 42);
  EXPECT_TRUE(log_->HasPart(LOG_ERROR, L"SeasonPassChecker::AddProgramEpisodes: SearchTVListings: "));
  guide_.SetReply(L"SearchTVListings", 0, Value::Str(L"no array"));
  EXPECT_FALSE(vel_->Peers().GetTVGuideSchedule(L"News", &kept));
  EXPECT_EQ(kept.slots, 42);

  // No [count, [channel...]]; a short channel, a short program, a mimetype
  // that is no text.
  auto program = [localNow](const Value& title) {
    std::vector<Value> slots(15);
    slots[0] = title;
    slots[4] = Value::Long(60);
    slots[5] = Value::Date(localNow);
    return Value::Array(slots);
  };
  auto answer = [](const std::vector<Value>& channels) {
    return Value::Array({Value::Array({Value::Long(1), Value::Array(channels)})});
  };
  guide_.SetReply(L"SearchTVListings", 0, Value::Array({Value::Long(3)}));
  ASSERT_TRUE(vel_->Peers().GetTVGuideSchedule(L"News", &out));
  EXPECT_FALSE(out.readable);
  EXPECT_TRUE(out.channels.empty());

  std::vector<Value> good(8), badMimetype(8);
  good[0] = Value::Str(L"Two");
  good[2] = Value::Array({program(Value::Str(L"News")), Value::Array({Value::Str(L"short")}),
                          program(Value::Long(7))});
  good[3] = Value::Str(L"video/x-tv");
  good[7] = Value::Str(L"ch2");
  badMimetype = good;
  badMimetype[2] = Value::Array({program(Value::Str(L"News"))});
  badMimetype[3] = Value::Long(5);
  guide_.SetReply(L"SearchTVListings", 0,
                  answer({Value::Array({Value::Str(L"short")}), Value::Array(good),
                          Value::Array(badMimetype)}));
  ASSERT_TRUE(vel_->Peers().GetTVGuideSchedule(L"News", &out));
  std::wstring read = out.readable ? L"" : L"unreadable";
  for (const ListedChannel& c : out.channels) {
    read += c.readable ? L"[" : L"[x";
    for (const auto& p : c.programs) read += p.unreadable.empty() ? L" ok" : L" x";
    read += L"]";
  }
  EXPECT_EQ(read, L"[x][ ok x x][ x]");
  EXPECT_EQ(out.channels[1].programs[1].unreadable, L"a program element is not a 15-slot array");
  EXPECT_TRUE(out.brokenOff.empty());
  guide_.Leave();
  EXPECT_FALSE(vel_->Peers().GetTVGuideSchedule(L"News", &out));
}

}  // namespace
