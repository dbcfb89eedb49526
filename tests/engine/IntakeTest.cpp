// Intake of recording requests on a real database with the scripted media
// library, streamer and TV service on a loopback bus.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "db/Schedule.h"
#include "platform/Clock.h"
#include "tests/engine/EngineFixture.h"

namespace {

using enginetest::Value;
namespace fs = std::filesystem;

class Intake : public enginetest::EngineFixture {
 protected:
  size_t FilesIn(const std::string& folder) {
    return static_cast<size_t>(
        std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
  }
};

TEST_F(Intake, AScheduledRowCarriesTheRequest) {
  const int64_t now = tev::Clock::Now();
  const int64_t minute = (now + 7200) / 60 * 60;
  ScheduleAnswer result;
  ASSERT_EQ(Add(L"Bob's Show", minute + 37, 3600, 0, L"video/x-tv", L"", &result), 0);

  auto rows = Rows("ID, StartTime, EndTime, Status, Type, Owner, Subtitle, EpisodeTitle, "
                   "KeepUntil, Name, Quality, FilePath, TevMediumId, Duration");
  ASSERT_EQ(rows.size(), 1u);
  const auto& row = rows[0];
  // Starts on the whole minute plus one second.
  EXPECT_EQ(std::vector<std::string>(row.begin() + 1, row.begin() + 11),
            (std::vector<std::string>{DbTime(minute + 1), DbTime(minute + 1 + 3600),
                                      "DVRSTATE_SCHEDULED", "Automatic", "", "Part 1", "Part 1",
                                      "2", "Bob's Show", "high"}));
  EXPECT_EQ(fs::path(row[11]).parent_path().string(), videoDir_);
  EXPECT_EQ(fs::path(row[11]).extension().string(), ".asf");
  EXPECT_EQ(row[13], "3600");
  // The answer is the medium id the library gave when the row was published.
  ASSERT_EQ(result.kind, ScheduleAnswer::Kind::kMediumId);
  EXPECT_FALSE(row[12].empty());
  EXPECT_EQ(tev::ToStdUtf8(result.mediumId), row[12]);
  EXPECT_EQ(media_.CountOf(L"AddMedium"), 1u);
  EXPECT_EQ(streamer_.CountOf(L"StartStream"), 0u);
  EXPECT_FALSE(Engine().Intake().IsPendingFile(tev::FromStdUtf8(row[11])));
}

TEST_F(Intake, EveryClientTextIsStoredAsTextNeverAsSql) {
  const int64_t minute = (tev::Clock::Now() + 7200) / 60 * 60;
  ASSERT_EQ(Add(L"Earlier", minute, 600), 0);
  // A text that would close the statement's list and run one of its own,
  // scheduled for later and recorded at once (the two inserts).
  const std::wstring text =
      L"q', '', '', '', '', '', '', '', '', 0); UPDATE Schedules SET Name = 'x'; --";
  for (int32_t recordNow : {0, 1}) {
    const std::wstring name = text + std::to_wstring(recordNow);
    const int64_t start = minute + 3600 * (1 + recordNow);
    RecordingRequest hostileRequest = Request(name, start, 600);
    hostileRequest.category = text;
    hostileRequest.description = text;
    hostileRequest.quality = text;
    hostileRequest.tuner = text;
    hostileRequest.subtitle = text;
    hostileRequest.recordNow = recordNow;
    const int result = Engine().Intake().Add(hostileRequest, nullptr);
    EXPECT_EQ(result, 0) << tev::ToStdUtf8(name);
    const auto rows = Rows("Quality, Category, Description, Tuner, Subtitle",
                           "Name = '" + Quoted(tev::ToStdUtf8(name)) + "'");
    ASSERT_EQ(rows.size(), 1u) << tev::ToStdUtf8(name);
    for (const std::string& value : rows[0]) EXPECT_EQ(value, tev::ToStdUtf8(text));
  }
  EXPECT_EQ(Rows("Name", "Name = 'Earlier'").size(), 1u);
  EXPECT_EQ(Rows("Name", "Name = 'x'").size(), 0u);
  dbtest::RawDb db(dbPath_);
  EXPECT_EQ(db.Value("PRAGMA integrity_check"), "ok");
}

TEST_F(Intake, AStartThatHasPassedRecordsAtOnceForTheWholeDuration) {
  const int64_t now = tev::Clock::Now();
  // Started ten minutes ago, and one whose end has passed too: both are
  // moved to now and record their whole duration plus the padding.
  ASSERT_EQ(Add(L"Late", now - 600, 1800), 0);
  ASSERT_EQ(Add(L"Over", now - 7200, 900, 0, L"video/x-inputdevice"), 0);

  auto rows = Rows("Name, Status, Type, StartTime, Duration, FilePath");
  ASSERT_EQ(rows.size(), 2u);
  for (const auto& row : rows) {
    EXPECT_EQ(row[1], "DVRSTATE_RECORDING") << row[0];
    // The row written before the streamer was asked keeps its type.
    EXPECT_EQ(row[2], "Automatic") << row[0];
    const int64_t start = GetTime3(tev::FromStdUtf8(row[3]));
    EXPECT_LE(std::llabs(start - now), 2) << row[0];
    EXPECT_FALSE(Engine().Intake().IsPendingFile(tev::FromStdUtf8(row[5])));
  }
  EXPECT_NEAR(std::stoi(rows[0][4]), 1830, 1);
  EXPECT_NEAR(std::stoi(rows[1][4]), 930, 1);

  auto starts = streamer_.RequestsOf(L"StartStream");
  ASSERT_EQ(starts.size(), 2u);
  EXPECT_EQ(peertest::Str(starts[0].get(), 11), tev::FromStdUtf8(rows[0][5]));
  EXPECT_NEAR(VUtil::GetLongElement(starts[0].get(), 10), 1830, 1);
  ASSERT_TRUE(listener_.WaitFor(L"NotifyStartRecording", 2, 5000));
  EXPECT_EQ(peertest::Str(listener_.RequestsOf(L"NotifyStartRecording")[0].get(), 0), L"Late");
}

TEST_F(Intake, RecordNowOpenEndedOrWithNothingLeft) {
  ASSERT_EQ(Add(L"Open", 0, 0, 1), 0);
  EXPECT_EQ(Rows("Status, Duration"),
            (std::vector<std::vector<std::string>>{{"DVRSTATE_RECORDING", "0"}}));
  ASSERT_EQ(streamer_.CountOf(L"StartStream"), 1u);
  EXPECT_EQ(VUtil::GetLongElement(streamer_.RequestsOf(L"StartStream")[0].get(), 10), 0);

  // A negative duration leaves nothing to record and no address to retry.
  const size_t files = FilesIn(videoDir_);
  EXPECT_EQ(Add(L"Nothing", 0, -1, 1), 110);
  EXPECT_EQ(Add(L"Nothing web", 0, -1, 1, L"video/x-webwin"), 110);
  EXPECT_EQ(Rows("ID").size(), 1u);
  EXPECT_EQ(streamer_.CountOf(L"StartStream"), 1u);
  EXPECT_EQ(FilesIn(videoDir_), files);
  // With an episode address the row waits for a retry instead.
  EXPECT_EQ(Add(L"Episode", 0, -1, 1, L"video/x-tv", L"http://example.invalid/e1"), 0);
  EXPECT_EQ(Rows("Status, EpisodeUrl", "Name = 'Episode'")[0][0], "DVRSTATE_SCHEDULED");
}

TEST_F(Intake, TheStreamersFileNameReplacesOurs) {
  const std::wstring renamed = tev::FromStdUtf8(videoDir_) + L"/renamed by streamer.asf";
  streamer_.SetHandler(L"StartStream", [&](const VARIANT& in, VARIANT* out) {
    const int32_t id = tev::peers::ReadInteger(in, 1);
    Value::Array({Value::Array({Value::Long(id), Value::Str(L"ch1"), Value::Str(renamed),
                                Value::Long(60), Value(),
                                Value::Pairs({{L"destination", Value::Str(renamed)}})})})
        .CopyTo(out);
    return 0;
  });
  ASSERT_EQ(Add(L"Renamed", 0, 600, 1), 0);
  EXPECT_EQ(Rows("FilePath, Status, Type"),
            (std::vector<std::vector<std::string>>{
                {tev::ToStdUtf8(renamed), "DVRSTATE_RECORDING", "Manual"}}));
  EXPECT_FALSE(Engine().Intake().IsPendingFile(renamed));
}

TEST_F(Intake, RefusalsLeaveNothingBehind) {
  // The streamer refuses: no row, no file, nothing pending.
  streamer_.SetReply(L"StartStream", 5);
  EXPECT_EQ(Add(L"Refused", 0, 600, 1), 115);
  EXPECT_TRUE(Rows("ID").empty());
  EXPECT_EQ(FilesIn(videoDir_), 0u);
  streamer_.ResetReply(L"StartStream");

  // A mimetype without a file format has no file name.
  EXPECT_EQ(Add(L"Odd", tev::Clock::Now() + 3600, 600, 0, L"foo/bar"), 119);

  // The recording folder is gone, or is a file.
  fs::remove_all(videoDir_);
  EXPECT_EQ(Add(L"No folder", 0, 600, 1), 122);
  std::ofstream(videoDir_) << "x";
  EXPECT_EQ(Add(L"Folder is a file", 0, 600, 1), 122);
  fs::remove(videoDir_);
  fs::create_directories(videoDir_);

  // A folder the module may not write into, and a full volume, whoever runs
  // the test.
  env_.SetNotWritable(true);
  EXPECT_EQ(Add(L"Read-only", 0, 600, 1), 123);
  env_.SetNotWritable(false);
  env_.SetNoSpace(true);
  EXPECT_EQ(Add(L"Disk full", 0, 600, 1), 107);
  env_.SetNoSpace(false);

  EXPECT_TRUE(Rows("ID").empty());
  EXPECT_EQ(FilesIn(videoDir_), 0u);
  EXPECT_EQ(streamer_.CountOf(L"StartStream"), 1u);
}

// Hostile names in the file name: DVRNames.HostileNamesStayOneFileInTheFolder.
TEST_F(Intake, OddNamesAndLengthsAreStoredAsGiven) {
  const int64_t later = tev::Clock::Now() + 86400;
  ASSERT_EQ(Add(L"Ten years", later + 7200, 315360000), 0);
  ASSERT_EQ(Add(L"\U0001F4FA Emoji", later + 14400, 60), 0);
  const int emoji = std::stoi(Rows("ID", "Name LIKE '%Emoji'")[0][0]);
  EXPECT_EQ(Schedule(emoji).m_name, L"\U0001F4FA Emoji");
  EXPECT_EQ(Rows("EndTime", "Name = 'Ten years'")[0][0],
            DbTime((later + 7200) / 60 * 60 + 1 + 315360000));
  EXPECT_EQ(FilesIn(videoDir_), 0u);  // nothing is created for a later recording
}

TEST_F(Intake, PastSchedulesBecomeMissedOrRetried) {
  const int64_t now = tev::Clock::Now();
  auto insert = [&](const std::string& name, const std::string& status, int64_t end,
                    const std::string& url) {
    enginetest::RowSpec planned = Planned(name, status, end - 600, 600);
    planned.episodeUrl = url;
    Insert(planned);
  };
  insert("old", "DVRSTATE_SCHEDULED", now - 120, "");
  insert("oldurl", "DVRSTATE_SCHEDULED", now - 120, "http://e/1");
  insert("conflict", "DVRSTATE_CONFLICT", now - 3600, "");
  insert("skip", "DVRSTATE_SKIP", now - 3600, "");
  insert("recent", "DVRSTATE_SCHEDULED", now - 30, "");
  insert("done", "DVRSTATE_COMPLETE", now - 3600, "");
  Engine().Intake().ChangePastScheduledToMissed(tev::Clock::Now());
  EXPECT_EQ(Rows("Status"), (std::vector<std::vector<std::string>>{
                                {"DVRSTATE_MISSED"}, {"DVRSTATE_RETRY"}, {"DVRSTATE_MISSED"},
                                {"DVRSTATE_MISSED"}, {"DVRSTATE_SCHEDULED"}, {"DVRSTATE_COMPLETE"}}));
  // All four published in one request.
  ASSERT_EQ(media_.CountOf(L"AddMedia"), 1u);
  Value lists = peertest::Elem(media_.RequestsOf(L"AddMedia")[0].get(), 1);
  EXPECT_EQ(VUtil::GetArrayLength(lists.get()), 4);

  // An owner change is written and republished.
  const int id = std::stoi(Rows("ID", "Name = 'recent'")[0][0]);
  Engine().Intake().SetScheduleOwner(id, 7);
  EXPECT_EQ(Column(id, "Owner"), "7");
  Engine().Intake().SetScheduleOwner(id, L"");
  EXPECT_EQ(Column(id, "Owner"), "");
  EXPECT_EQ(media_.CountOf(L"AddMedium"), 2u);
}

}  // namespace
