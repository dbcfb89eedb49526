// The engine fixture plus schedule rows written straight into the table
// (no intake, no conflict check) and readers of what the peers were told.
#ifndef TEV_TESTS_ENGINE_ROWFIXTURE_H_
#define TEV_TESTS_ENGINE_ROWFIXTURE_H_

#include <map>
#include <string>
#include <vector>

#include "db/Schedule.h"
#include "support/VUtil.h"
#include "tests/engine/EngineFixture.h"

namespace enginetest {

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

class RowFixture : public EngineFixture {
 protected:
  static RowValues Values(const std::wstring& name, int64_t start, int32_t duration = 3600,
                          const std::wstring& mimetype = L"video/x-tv",
                          const std::wstring& status = DVRSTATE_SCHEDULED) {
    RowValues values;
    values.name = name;
    values.start = start;
    values.duration = duration;
    values.mimetype = mimetype;
    values.status = status;
    return values;
  }
  // Inserts the row; its ID.
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

  // The pvrState of every publication of the medium with this path, oldest
  // first.
  std::vector<std::wstring> PublishedStates(const std::wstring& path) {
    return StatesOf(media_, path);
  }
  // Stream id -> file path of every StartStream request.
  std::map<int32_t, std::wstring> StartedStreams() {
    std::map<int32_t, std::wstring> streams;
    for (const Value& request : streamer_.RequestsOf(L"StartStream")) {
      streams[VUtil::GetLongElement(request.get(), 1)] = VUtil::GetStringElement(request.get(), 11);
    }
    return streams;
  }
  // The file path of each StopStream request, in order.
  std::vector<std::wstring> StoppedPaths() {
    std::map<int32_t, std::wstring> streams = StartedStreams();
    std::vector<std::wstring> paths;
    for (const Value& request : streamer_.RequestsOf(L"StopStream")) {
      paths.push_back(streams[VUtil::GetLongElement(request.get(), 0)]);
    }
    return paths;
  }
};

}  // namespace enginetest

#endif  // TEV_TESTS_ENGINE_ROWFIXTURE_H_
