#include "db/Schedule.h"

#include <tuple>

#include <gtest/gtest.h>

#include "db/TimeUtils.h"
#include "tests/db/DbTestSupport.h"

using dbtest::RawDb;

namespace {

Schedule Sample(const std::wstring& path) {
  Schedule s;
  s.m_user = L" user ";
  s.m_type = L"Automatic";
  s.m_status = DVRSTATE_SCHEDULED;
  s.m_channelName = L"Chan'nel 4 \u00e9";
  s.m_channelMimetype = L"video/x-tv";
  s.m_channel = L"medium-17";
  s.m_owner = L"3";
  s.m_startTime = 1237145400;
  s.m_endTime = 1237149000;
  s.m_duration = 3600;
  s.m_name = L"\tO'Hara's 100% \\show\\ \U0001F3AC ";
  s.m_category = L"Drama";
  s.m_episodeTitle = L"Ep 'one'";
  s.m_episodeUrl = L"http://x/y?a=1&b='2'";
  s.m_description = L"Line1\nLine2 %s %d";
  s.m_filePath = path;
  s.m_quality = L" high ";
  s.m_tuner = L"T1";
  s.m_subtitle = L"Sub";
  s.m_keepUntil = AT_LEAST_3_DAYS;
  return s;
}

// Every stored column but the id.
auto Stored(const Schedule& s) {
  return std::make_tuple(s.m_user, s.m_type, s.m_status, s.m_channelName, s.m_channelMimetype, s.m_channel,
                         s.m_owner, s.m_startTime, s.m_endTime, s.m_duration, s.m_name, s.m_category,
                         s.m_episodeTitle, s.m_episodeUrl, s.m_description, s.m_filePath, s.m_quality,
                         s.m_tuner, s.m_subtitle, s.m_keepUntil, s.m_tevMediumId);
}

}  // namespace

class ScheduleTest : public dbtest::OpenDbFixture {};

TEST_F(ScheduleTest, InsertedRecordComesBackTrimmedWithEveryField) {
  const std::wstring path = L"/rec/it's 100% \U0001F600.wmv";
  Schedule in = Sample(path);
  ASSERT_TRUE(in.Insert());
  EXPECT_EQ(in.m_id, 0);  // not updated by Insert

  Schedule out(path, DVRSTATE_SCHEDULED);
  ASSERT_GT(out.m_id, 0);
  Schedule expected = in;  // the user and the name trimmed, the quality not
  expected.m_user = L"user";
  expected.m_name = L"O'Hara's 100% \\show\\ \U0001F3AC";
  EXPECT_EQ(Stored(out), Stored(expected));
  RawDb db(dbPath_);
  EXPECT_EQ(db.Value("SELECT StartTime FROM Schedules"), tev::ToStdUtf8(FormatTime3(in.m_startTime)));
  EXPECT_EQ(db.Value("SELECT typeof(StartTime) FROM Schedules"), "integer");
  EXPECT_EQ(db.Value("SELECT PlayPosition || TevMediumId || ThumbnailState FROM Schedules"), "<NULL>");

  Schedule byId(out.m_id);
  EXPECT_EQ(Stored(byId), Stored(out));

  // Update writes every field back, the medium id and the state excepted.
  ASSERT_TRUE(db.Exec("UPDATE Schedules SET TevMediumId = 'M1'"));
  byId.m_name = L"New 'name'";
  byId.m_status = DVRSTATE_RECORDING;
  byId.m_startTime += 60;
  byId.m_keepUntil = 2;
  byId.m_tevMediumId = L"ignored";
  ASSERT_TRUE(byId.Update());
  Schedule again(out.m_id);
  EXPECT_EQ(std::tie(again.m_name, again.m_status, again.m_startTime, again.m_keepUntil,
                     again.m_tevMediumId),
            std::make_tuple(std::wstring(L"New 'name'"), out.m_status, in.m_startTime + 60, 2,
                            std::wstring(L"M1")));

  // A time that cannot be written is refused, not thrown.
  again.m_startTime = -1;
  EXPECT_FALSE(again.Update());
  EXPECT_FALSE(again.Insert());
  EXPECT_TRUE(log_->Has(LOG_ERROR, L"Schedule::Update: FormatTime3: Localtime failed"));
}

TEST_F(ScheduleTest, LookUpsAndPopulateFailures) {
  Schedule missing(4711);
  EXPECT_EQ(missing.m_id, 0);
  EXPECT_EQ(missing.m_duration, 0);

  EXPECT_EQ(Schedule(L"/nope.wmv", L"DVRSTATE_SCHEDULED").m_id, 0);

  // Two rows with the same path.
  ASSERT_TRUE(Sample(L"/dup.wmv").Insert());
  ASSERT_TRUE(Sample(L"/dup.wmv").Insert());
  EXPECT_TRUE(log_->Has(LOG_WARN, L"WARNING inserting duplicate schedule /dup.wmv"));
  Schedule dup(L"/dup.wmv", L"x");
  EXPECT_EQ(dup.m_id, 0);
  EXPECT_EQ(dup.m_duration, 0);
  RawDb db(dbPath_);
  const int32_t first = std::stoi(db.Value("SELECT min(ID) FROM Schedules"));
  EXPECT_EQ(Schedule::GetIdFromPath(L"/dup.wmv"), first);
  EXPECT_EQ(Schedule::GetPathFromId(std::to_wstring(first)), L"/dup.wmv");
  for (const wchar_t* id : {L"9999", L"1 OR 1=1", L""}) EXPECT_EQ(Schedule::GetPathFromId(id), L"");
  EXPECT_EQ(Schedule::GetIdFromPath(L"/none"), -1);
  ASSERT_TRUE(Sample(L"/dup.wmv").Insert());
  EXPECT_EQ(db.Value("SELECT count(*) FROM Schedules"), "3");

  // A broken table.
  ASSERT_TRUE(db.Exec("ALTER TABLE Schedules RENAME TO Gone"));
  EXPECT_EQ(Schedule(1).m_id, 0);
  EXPECT_EQ(Schedule(L"/dup.wmv", L"x").m_id, 0);
  EXPECT_EQ(Schedule::GetIdFromPath(L"/dup.wmv"), -1);
}

TEST_F(ScheduleTest, DeletingOldRowsKeepsRecentAndOtherStates) {
  const int64_t now = tev::Clock::Now();
  struct Row {
    const wchar_t* status;
    int64_t endOffset;
    bool kept;
  };
  const Row rows[] = {
      {DVRSTATE_DELETED, -3600, false},  {DVRSTATE_CONFLICT, -61 - 1, false},
      {DVRSTATE_DELETED, -30, true},     {DVRSTATE_CONFLICT, 3600, true},
      {DVRSTATE_SCHEDULED, -3600, true}, {DVRSTATE_COMPLETE, -86400, true},
      {L"dvrstate_deleted", -3600, true},
  };
  int n = 0;
  for (const Row& r : rows) {
    Schedule s = Sample(L"/old" + std::to_wstring(n++));
    s.m_status = r.status;
    s.m_endTime = now + r.endOffset;
    s.m_startTime = s.m_endTime - 60;
    ASSERT_TRUE(s.Insert());
  }
  EXPECT_TRUE(Schedule::Delete(tev::Clock::Now()));
  n = 0;
  for (const Row& r : rows) {
    EXPECT_EQ(Schedule::GetIdFromPath(L"/old" + std::to_wstring(n)) > 0, r.kept) << n;
    ++n;
  }
}

TEST_F(ScheduleTest, VocabularyTables) {
  struct Keep {
    int32_t code;
    const wchar_t* name;
  };
  const Keep keeps[] = {{1, L"UNTIL_SPACE_NEEDED"}, {2, L"UNTIL_MANUALLY_DELETED"},
                        {11, L"AT_LEAST_1_DAY"},    {12, L"AT_LEAST_2_DAYS"},
                        {13, L"AT_LEAST_3_DAYS"},   {14, L"AT_LEAST_4_DAYS"},
                        {15, L"AT_LEAST_5_DAYS"},   {16, L"AT_LEAST_6_DAYS"},
                        {17, L"AT_LEAST_7_DAYS"}};
  for (const Keep& k : keeps) {
    EXPECT_EQ(Schedule::KeepUntilName(k.code), k.name);
    EXPECT_EQ(Schedule::KeepUntilCodeFromName(k.name), k.code);
  }
  EXPECT_EQ(Schedule::KeepUntilName(3), L"UNTIL_SPACE_NEEDED");
  EXPECT_EQ(Schedule::KeepUntilName(-1), L"UNTIL_SPACE_NEEDED");
  EXPECT_EQ(Schedule::KeepUntilCodeFromName(L"at_least_3_days"), 1);
  EXPECT_EQ(Schedule::KeepUntilCodeFromName(L""), 1);

  struct State {
    const wchar_t* stored;
    const wchar_t* external;
  };
  const State states[] = {
      {L"DVRSTATE_SCHEDULED", L"schedule"},  {L"DVRSTATE_RECORDING", L"recording"},
      {L"DVRSTATE_COMPLETE", L"complete"},   {L"DVRSTATE_COMPLETE_PARTIAL", L"partial"},
      {L"DVRSTATE_CONFLICT", L"conflict"},   {L"DVRSTATE_SKIP", L"skip"},
      {L"DVRSTATE_ERROR", L"error"},         {L"DVRSTATE_COULD_NOT_CONNECT", L"invalid"},
      {L"DVRSTATE_TUNER_BUSY", L"busy"},     {L"DVRSTATE_MCE_RUNNING", L"mce"},
      {L"DVRSTATE_MISSED", L"missed"},       {L"DVRSTATE_DISK_FULL", L"diskfull"},
      {L"DVRSTATE_RETRY", L"retry"},         {L"DVRSTATE_DELETED", L"deleted"},
      {L"dvrstate_complete", L""},           {L"", L""},
      {L"DVRSTATE_COMPLETE ", L""},
  };
  for (const State& s : states) EXPECT_EQ(Schedule::ExternalStateName(s.stored), s.external) << s.stored;
}

TEST_F(ScheduleTest, MediaTypeByMediumId) {
  struct Case {
    const wchar_t* mimetype;
    const wchar_t* status;
    const wchar_t* expected;
  };
  const Case cases[] = {
      {L"video/x-tv", DVRSTATE_SCHEDULED, L"schedule.video.file.recorded.tv"},
      {L"video/x-tv", DVRSTATE_COMPLETE, L"video.file.recorded.tv"},
      {L"audio/x-webwinfoo", DVRSTATE_DISK_FULL, L"schedule.audio.file.recorded.web"},
      {L"audio/x-ms-asf", DVRSTATE_RECORDING, L"audio.file.recorded.web"},
      {L"video/x-webreal", DVRSTATE_MISSED, L"schedule.video.file.recorded.web"},
      {L"video/x-inputdevice", DVRSTATE_COMPLETE_PARTIAL, L"video.file.recorded.webcam"},
      {L"video/x-videomail", DVRSTATE_DELETED, L"video.file.uploaded.videomail"},
      {L"audio/x-videomail", DVRSTATE_RETRY, L"schedule.audio.file.uploaded.videomail"},
      {L"audio/mpeg", DVRSTATE_COMPLETE, L"audio.file"},
      {L"", DVRSTATE_COMPLETE, L"video.file.recorded"},
      {L"text/plain", DVRSTATE_TUNER_BUSY, L"schedule.video.file.recorded"},
  };
  RawDb db(dbPath_);
  int n = 0;
  for (const Case& c : cases) {
    const std::string id = "M'" + std::to_string(n++);
    Schedule s = Sample(L"/m" + std::to_wstring(n));
    s.m_channelMimetype = c.mimetype;
    s.m_status = c.status;
    ASSERT_TRUE(s.Insert());
    ASSERT_TRUE(db.Exec("UPDATE Schedules SET TevMediumId = 'M''" + std::to_string(n - 1) +
                        "' WHERE FilePath = '/m" + std::to_string(n) + "'"));
    EXPECT_EQ(Schedule::GetMediaTypeFromMediumId(tev::FromStdUtf8(id)), c.expected) << id;
  }
  EXPECT_EQ(Schedule::GetMediaTypeFromMediumId(L"unknown"), L"video.recorded");
}
