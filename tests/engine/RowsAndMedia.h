// Helpers shared by the completion and housekeeping tests: schedule rows
// written straight into the table, and what the scripted media library was
// told about each recording.
#ifndef TEV_TESTS_ENGINE_ROWSANDMEDIA_H_
#define TEV_TESTS_ENGINE_ROWSANDMEDIA_H_

#include <cstdlib>
#include <string>
#include <vector>

#include "db/TimeUtils.h"
#include "peers/Peers.h"
#include "support/VUtil.h"
#include "tests/db/DbTestSupport.h"
#include "tests/peers/PeerFixture.h"

namespace enginetest {

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

// Every "AddMedium" the library received, oldest first.
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

// The pvrStates published for one file, in order.
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
// The failureReason last published for one file (empty: none).
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

// The first element of each received request of `method`, as text.
inline std::vector<std::wstring> FirstArguments(const tev::peers::ScriptedPeer& peer,
                                                const std::wstring& method) {
  std::vector<std::wstring> texts;
  for (const tev::peers::Value& in : peer.RequestsOf(method)) {
    texts.push_back(peertest::Str(in.get(), 0));
  }
  return texts;
}

// Writes a one-second ASF video to `path` with ffmpeg; false when it could
// not (ffmpeg missing).
inline bool WriteAsfVideo(const std::string& path) {
  return std::system(("ffmpeg -nostdin -loglevel error -y -f lavfi -i "
                      "testsrc=d=1:size=64x48:rate=5 -c:v wmv2 -f asf '" + path + "'")
                         .c_str()) == 0;
}

}  // namespace enginetest

#endif  // TEV_TESTS_ENGINE_ROWSANDMEDIA_H_
