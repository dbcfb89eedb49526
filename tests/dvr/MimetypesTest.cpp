#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "dvr/DVR.h"
#include "support/VelException.h"
#include "tests/db/DbTestSupport.h"

namespace {

TEST(DVR, ChannelMimetypeTable) {
  struct Row {
    const wchar_t* mimetype;
    const wchar_t* extension;  // null: unknown
    const wchar_t* recording;  // null: unknown
    bool tv, web, device;
  } rows[] = {
      {L"video/x-tv", L"asf", L"video/x-ms-dvr", true, false, false},
      {L"video/x-tv-hd", L"asf", L"video/x-ms-dvr", true, false, false},
      {L"video/x-inputdevice", L"asf", L"video/x-ms-asf", false, false, true},
      {L"video/x-webwin", L"asf", L"video/x-ms-asf", false, true, false},
      {L"video/x-webreal", L"asf", L"video/vnd.rn-realvideo", false, true, false},
      {L"audio/x-webreal", L"asf", nullptr, false, true, false},
      {L"audio/x-real", L"asf", L"audio/x-pn-realaudio", false, true, false},
      {L"audio/x-win", L"wma", L"audio/x-ms-asx", false, true, false},
      {L"audio/x-webwin", L"wma", nullptr, false, true, false},
      {L"audio/x-ms-asf", L"wma", nullptr, false, true, false},
      {L"video/x-videomail", L"wmv", L"video/x-ms-wmv", false, false, false},
      {L"audio/x-videomail", nullptr, L"video/x-ms-wma", false, false, false},
      {L"video/x-t", nullptr, nullptr, false, false, false},
      {L"VIDEO/X-TV", nullptr, nullptr, false, false, false},
      {L"", nullptr, nullptr, false, false, false},
  };
  dbtest::LogCapture log;
  for (const Row& r : rows) {
    const std::string m = tev::ToStdUtf8(r.mimetype);
    EXPECT_EQ(DVR::IsTVMimetype(r.mimetype), r.tv) << m;
    EXPECT_EQ(DVR::IsWebMimetype(r.mimetype), r.web) << m;
    EXPECT_EQ(DVR::IsInputDeviceMimetype(r.mimetype), r.device) << m;
    if (r.extension) {
      EXPECT_EQ(DVR::GetFileExtention(r.mimetype), r.extension) << m;
    } else {
      EXPECT_THROW(DVR::GetFileExtention(r.mimetype), VelException) << m;
    }
    if (r.recording) {
      EXPECT_EQ(DVR::GetRecordingMimetype(r.mimetype), r.recording) << m;
    } else {
      EXPECT_THROW(DVR::GetRecordingMimetype(r.mimetype), VelException) << m;
    }
  }
  EXPECT_TRUE(log->Has(LOG_ERROR, L"Don't know the file extension for video/x-t"));
}

TEST(DVR, FoundFileMimetypes) {
  struct Row {
    const wchar_t* path;
    const wchar_t* asVideo;
    const wchar_t* asAudio;
    bool recording;
  } rows[] = {
      {L"/r/a.asf", L"video/x-webwin", L"video/x-webwin", true},
      {L"/r/a.TIVO", L"video/x-webwin", L"video/x-webwin", false},
      {L"/r/a.tivo", L"video/x-webwin", L"video/x-webwin", true},
      {L"/r/a.mp4", L"video/x-webwin", L"video/x-webwin", true},
      {L"/r/a.mpeg", L"video/x-webwin", L"video/x-webwin", true},
      {L"/r/a.rv", L"video/x-webreal", L"video/x-webreal", true},
      {L"/r/a.rm", L"video/x-webreal", L"audio/x-real", true},
      {L"/r/a.ram", L"audio/x-real", L"audio/x-real", true},
      {L"/r/a.b.Dvr-Ms", L"video/x-tv", L"video/x-tv", false},
      {L"/r/a.dvr-ms", L"video/x-tv", L"video/x-tv", true},
      {L"/r/a.asx", L"audio/x-win", L"audio/x-win", false},
      {L"/r/a.wma", L"audio/x-win", L"audio/x-win", true},
      {L"/r/a.wmv", L"video/x-videomail", L"video/x-videomail", true},
      {L"/r/a.jpg", L"", L"", false},
      {L"/r/noext", L"", L"", false},
      {L"/r/a.asf.jpg", L"", L"", false},
  };
  dbtest::LogCapture log;
  for (const Row& r : rows) {
    const std::string p = tev::ToStdUtf8(r.path);
    EXPECT_EQ(DVR::GetTevMimetype(r.path, true), r.asVideo) << p;
    EXPECT_EQ(DVR::GetTevMimetype(r.path, false), r.asAudio) << p;
    EXPECT_EQ(DVR::IsRecordingExtension(r.path), r.recording) << p;
  }
  EXPECT_TRUE(log->Has(LOG_WARN, L"GetTevMimetype Doesn't know the mimetype for /r/a.jpg"));
}

// Names outside the BMP are standard UTF-8 on disk, as other tools read them.
TEST(DVR, FilesOnDisk) {
  dbtest::TempDir dir;
  dbtest::LogCapture log;
  const std::wstring file = dir.wpath() + L"/rec \x00e9 \U0001F600 \U0001F4FA.asf";
  const std::string onDisk = dir.path() + "/rec \xC3\xA9 \xF0\x9F\x98\x80 \xF0\x9F\x93\xBA.asf";
  EXPECT_EQ(tev::ToStdUtf8(file), onDisk);
  EXPECT_FALSE(DVR::IsRecordingOnDisk(file));
  EXPECT_TRUE(log->Has(LOG_WARN, L"IsRecordingOnDisk: Could not find " + file));
  EXPECT_FALSE(DVR::DeleteFile(file));
  dbtest::WriteBytes(onDisk, "x");
  EXPECT_TRUE(DVR::IsRecordingOnDisk(file));
  EXPECT_TRUE(DVR::DeleteFile(file));
  EXPECT_FALSE(DVR::IsRecordingOnDisk(file));
  // Nor under another spelling.
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

}  // namespace
