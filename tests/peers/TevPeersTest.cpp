// The real tev-peers recording with ffmpeg, asked for streams and thumbnails by
// a satellite in the module's place ("ZoVIZ") that hears its notifications.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "peers/Peers.h"
#include "peers/ScriptedPeer.h"
#include "platform/WideText.h"
#include "support/VUtil.h"
#include "tests/common/Shell.h"
#include "tests/peers/LoopbackHttp.h"
#include "tests/peers/ProgramProcess.h"

namespace {

using tev::peers::Value;

const char kAsfHeader[] = "\x30\x26\xB2\x75\x8E\x66\xCF\x11";
const wchar_t kStarted[] = L"NotifyTVRecordStarted";
const wchar_t kFinished[] = L"NotifyTVRecordFinished";
const wchar_t kExtract[] = L"Extract Image From Video";
// Bounds of the waits; generous, as ffmpeg shares two cores with builds.
const int kStartMs = 30000;
const int kFinishMs = 60000;

class TevPeers : public HostAndPeers<> {
 protected:
  TevPeers() : HostAndPeers(L"ZoVIZ", {kStarted, kFinished}) {}
  void SetUp() override {
    if (!OnPath("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    mkdir((dir_.path() + "/rec").c_str(), 0755);
    ASSERT_TRUE(StartPeers({"--channels", WriteTestCardChannel(dir_.path())}, "", ""));
    client_.SetRequestTimeout(kFinishMs);
  }
  std::wstring Recording(const std::string& name) const {
    return tev::FromStdUtf8(dir_.path() + "/rec/" + name);
  }

  // "StartStream" with the slots the streamer reads; the return code.
  int StartStream(int32_t id, const std::wstring& path, int32_t seconds, Value* reply,
                  const std::wstring& channel = L"ch-test") {
    std::vector<Value> in(13);
    in[1] = Value::Long(id);
    in[3] = Value::Str(channel);
    in[10] = Value::Long(seconds);
    in[11] = Value::Str(path);
    return Call(L"TevStreamer", L"StartStream", Value::Array(in), reply);
  }
  int Call(const std::wstring& to, const std::wstring& method, const Value& in, Value* reply) {
    AutoVariant out, retcodes;
    const long bus = client_.Request(to, method, in.get(), &out, 0, &retcodes);
    EXPECT_EQ(bus, 0) << tev::ToStdUtf8(method);
    if (bus != 0) return -1;
    if (reply) *reply = Value(out.get());
    return VUtil::GetSingleRetcode(retcodes);
  }
  // The first request of `method` the module heard whose stream id is `id`.
  bool Heard(const std::wstring& method, int32_t id, int timeoutMs, Value* in) {
    for (size_t count = 1; client_.WaitFor(method, count, timeoutMs); ++count) {
      Value request = client_.RequestsOf(method).at(count - 1);
      if (tev::peers::ReadInteger(request.get(), 0) == id) {
        if (in) *in = request;
        return true;
      }
    }
    return false;
  }
};

TEST_F(TevPeers, RecordsIntoAnAsfFileMakesItsThumbnailAndSaysWhyOthersFail) {
  const std::wstring path = Recording("News_Test Card_12-06-2026 22-30-00 Tev.asf");
  Value reply;
  ASSERT_EQ(StartStream(4711, path, 3, &reply), 0);
  AutoVariant stream, specs;
  VUtil::GetElement(reply.get(), 0, &stream);
  VUtil::GetElement(stream, 5, &specs);
  std::wstring destination;
  EXPECT_TRUE(VUtil::FindPair(specs, L"destination", &destination));
  EXPECT_EQ(destination, path);

  // While it records, streams that cannot be recorded say why: a refused start
  // in its answer, a failed ffmpeg in the finish notification's last slot.
  Value refused;
  ASSERT_EQ(StartStream(4801, Recording("a.asf"), 3, &refused, L"nonsense"), 1111);
  VUtil::GetElement(refused.get(), 0, &stream);
  EXPECT_EQ(VUtil::GetStringElement(stream, 6), L"no channel nonsense is known here");
  const std::wstring nowhere = tev::FromStdUtf8(dir_.path() + "/no-folder/b.asf");
  ASSERT_EQ(StartStream(4802, nowhere, 3, nullptr), 0);
  Value started, finished;
  ASSERT_TRUE(Heard(kFinished, 4802, kFinishMs, &finished)) << ReadFile(PeersLog());
  ASSERT_EQ(VUtil::GetArrayLength(finished.get()), 4) << ReadFile(PeersLog());
  const std::wstring said = VUtil::GetStringElement(finished.get(), 3);
  EXPECT_NE(said.find(L"No such file or directory"), std::wstring::npos) << tev::ToStdUtf8(said);

  ASSERT_TRUE(Heard(kStarted, 4711, kStartMs, &started)) << ReadFile(PeersLog());
  EXPECT_EQ(VUtil::GetStringElement(started.get(), 2), path);
  ASSERT_TRUE(Heard(kFinished, 4711, kFinishMs, &finished)) << ReadFile(PeersLog());
  EXPECT_EQ(VUtil::GetStringElement(finished.get(), 2), path);
  EXPECT_EQ(VUtil::GetArrayLength(finished.get()), 3);  // ended as asked: no words of the streamer
  EXPECT_GE(tev::peers::ReadInteger(finished.get(), 1), 3);  // -re: at least real time
  const std::string file = ReadFile(tev::WideToUtf8(path));
  EXPECT_TRUE(StartsWith(file, std::string(kAsfHeader, 8))) << file.size() << " bytes";
  EXPECT_GT(file.size(), 10000u);
  // The stream is over: stopping it is refused.
  EXPECT_EQ(Call(L"TevStreamer", L"StopStream", Value::Array({Value::Long(4711)}), nullptr), 1);

  const std::wstring jpg = path + L".jpg";
  EXPECT_EQ(Call(L"any", kExtract, Value::Array({Value::Str(path), Value::Str(jpg),
                                                  Value::Bool(false)}),
                 nullptr),
            0);
  EXPECT_TRUE(StartsWith(ReadFile(tev::WideToUtf8(jpg)), "\xFF\xD8\xFF"));
  Value exists;
  ASSERT_EQ(Call(L"any", L"Is Thumbnail In DB", Value::Array({Value::Str(jpg)}), &exists), 0);
  EXPECT_EQ(VUtil::GetLongElement(exists.get(), 0), 1);
  // A recording that is not there gets no thumbnail.
  EXPECT_NE(Call(L"any", kExtract, Value::Array({Value::Str(Recording("none.asf")),
                                                  Value::Str(Recording("none.asf.jpg")),
                                                  Value::Bool(false)}),
                 nullptr),
            0);
}

// Whether a server on 127.0.0.1:port listens or has its client, seen without
// connecting (a server of one client would take the check for its client).
bool Serving(int port) {
  char local[32];
  snprintf(local, sizeof local, "0100007F:%04X", port);
  const std::string table = ReadFile("/proc/net/tcp");
  for (size_t at = table.find(local); at != std::string::npos; at = table.find(local, at + 1)) {
    // "local rem_address st": 0A a listener, 01 an established connection.
    const std::string state = table.substr(at + 27, 3);
    if (state == " 0A" || state == " 01") return true;
  }
  return false;
}

// ffmpeg serving a test card as MPEG-TS over HTTP to one client.
bool ServeStream(tev::test::ChildProgram* server, const std::string& url, int seconds,
                 const std::string& log) {
  if (!server->Start({"ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", "-re", "-f", "lavfi", "-i",
                      "testsrc=size=320x240:rate=25", "-t", std::to_string(seconds), "-c:v",
                      "mpeg2video", "-f", "mpegts", "-listen", "1", url},
                     log)) {
    return false;
  }
  const int port = std::atoi(url.substr(url.rfind(':') + 1).c_str());
  for (int i = 0; i < 400 && server->Running(); ++i) {
    if (Serving(port)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

double ProbeSeconds(const std::string& file) {
  const tev::test::ShellRun probe = tev::test::RunShell(
      "ffprobe -v error -show_entries format=duration -of csv=p=0 '" + file + "'");
  return std::atof(probe.output.c_str());
}

TEST_F(TevPeers, RecordsAnHttpStreamAcrossADropAndNamesWhyAnotherCannotBeOpened) {
  const std::string url =
      "http://127.0.0.1:" + std::to_string(tev::test::FreeLoopbackPort()) + "/live.ts";
  tev::test::ChildProgram first, second;
  ASSERT_TRUE(ServeStream(&first, url, 60, dir_.path() + "/serve1.log"));

  const std::wstring path = Recording("Live_12-06-2026 22-30-00 Tev.asf");
  const std::string file = tev::WideToUtf8(path);
  ASSERT_EQ(StartStream(21, path, 10, nullptr, tev::FromStdUtf8(url)), 0);
  ASSERT_TRUE(Heard(kStarted, 21, kStartMs, nullptr)) << ReadFile(PeersLog());
  // Once a part is recorded the server dies; another takes its place on the port.
  for (int i = 0; i < 600 && ReadFile(file).size() < 100000; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_NE(first.Stop(SIGKILL, 5000), -1);
  ASSERT_TRUE(ServeStream(&second, url, 60, dir_.path() + "/serve2.log"));
  Value finished;
  ASSERT_TRUE(Heard(kFinished, 21, kFinishMs, &finished)) << ReadFile(PeersLog());
  second.Stop(SIGTERM, 5000);
  EXPECT_TRUE(StartsWith(ReadFile(file), std::string(kAsfHeader, 8)));
  // The recording went on after the drop, to the length asked for.
  EXPECT_GT(ProbeSeconds(file), 9.5) << ReadFile(PeersLog());
  const std::string log = ReadFile(PeersLog());
  EXPECT_NE(log.find("WARN " + file + ": gap in the stream"), std::string::npos) << log;
  EXPECT_EQ(log.find("ERROR " + file), std::string::npos) << log;

  // A stream that is not there: the module hears the end at once, the log says why.
  LoopbackHttp missing("not here", 404);
  const std::wstring none = Recording("Missing Tev.asf");
  const std::string missingUrl = "http://127.0.0.1:" + std::to_string(missing.port()) + "/none.ts";
  ASSERT_EQ(StartStream(22, none, 600, nullptr, tev::FromStdUtf8(missingUrl)), 0);
  ASSERT_TRUE(Heard(kFinished, 22, kFinishMs, &finished)) << ReadFile(PeersLog());
  EXPECT_LT(tev::peers::ReadInteger(finished.get(), 1), 20);
  const std::string after = ReadFile(PeersLog());
  const size_t reason = after.find("ERROR " + tev::WideToUtf8(none) + ": the stream could not be recorded");
  ASSERT_NE(reason, std::string::npos) << after;
  EXPECT_NE(after.find("404", reason), std::string::npos) << after;
}

// StopStream of a recording in progress is velctl_commands_test.sh's (cancel).
TEST_F(TevPeers, ShutdownEndsFfmpegAndFinishesTheFiles) {
  const std::wstring interrupted = Recording("Interrupted Tev.asf");
  ASSERT_EQ(StartStream(2, interrupted, 600, nullptr), 0);
  ASSERT_TRUE(Heard(kStarted, 2, kStartMs, nullptr)) << ReadFile(PeersLog());
  EXPECT_NE(StartStream(2, Recording("Same id Tev.asf"), 600, nullptr), 0);
  std::vector<pid_t> children = ChildrenOf(peers_.pid());
  EXPECT_FALSE(children.empty());
  // A thumbnail of the growing file is asked for while the program stops.
  std::thread thumbnail([&] {
    AutoVariant out, retcodes;
    Value in = Value::Array({Value::Str(interrupted), Value::Str(interrupted + L".jpg"),
                             Value::Bool(false)});
    client_.Request(L"any", kExtract, in.get(), &out, 0, &retcodes);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const int status = peers_.Stop(SIGTERM, 30000);
  thumbnail.join();
  ASSERT_NE(status, -1) << "tev-peers did not stop: " << ReadFile(PeersLog());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << ReadFile(PeersLog());
  EXPECT_TRUE(Heard(kFinished, 2, 1000, nullptr));
  for (pid_t child : children) EXPECT_FALSE(Alive(child)) << "child " << child << " still runs";
  EXPECT_TRUE(StartsWith(ReadFile(tev::WideToUtf8(interrupted)), std::string(kAsfHeader, 8)));
}

}  // namespace
