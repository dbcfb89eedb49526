// tev-web while a recording runs, the module restarts and the bus goes away
// and comes back: the event stream reports it all.
#include <atomic>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "tests/common/Shell.h"
#include "tests/web/WebStack.h"

namespace {

using nlohmann::json;
using webtest::WebStack;

// Keeps what the event stream says, read in the background.
class EventReader {
 public:
  explicit EventReader(const WebStack& stack) : client_(stack.Client()) {
    thread_ = std::thread([this] {
      client_->set_read_timeout(60);
      client_->Get("/api/events", [this](const char* data, size_t size) {
        std::lock_guard<std::mutex> hold(mu_);
        text_.append(data, size);
        return !stop_;
      });
    });
  }
  ~EventReader() {
    stop_ = true;
    client_->stop();
    thread_.join();
  }
  bool Heard(const std::string& piece) {
    std::lock_guard<std::mutex> hold(mu_);
    return text_.find(piece) != std::string::npos;
  }

 private:
  std::unique_ptr<httplib::Client> client_;
  std::mutex mu_;
  std::string text_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

class WebLive : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(stack_.Start({}, &error)) << error << " (files in " << stack_.Dir() << ")";
  }
  WebStack stack_;
};

TEST_F(WebLive, RecordingRunsFinishesAndDownloads) {
  EventReader events(stack_);
  int status = 0;
  json added;
  const std::string id =
      stack_.Schedule("Test Card", "ch-testcard", "Live Show", webtest::Now(), 24, &status, &added);
  ASSERT_EQ(status, 201) << added.dump();
  ASSERT_TRUE(WebStack::WaitUntil([&] { return stack_.Find("/api/upcoming", id)["state"] == "recording"; }, 30));
  ASSERT_TRUE(WebStack::WaitUntil([&] { return events.Heard("\"state\":\"recording\""); }, 10))
      << "the start is heard live";
  ASSERT_TRUE(WebStack::WaitUntil([&] {
    json row = stack_.Find("/api/recordings", id);
    return row.is_object() && row["state"] == "complete" && row["thumbnail"] == true;
  }, 90)) << stack_.Find("/api/recordings", id).dump();
  EXPECT_TRUE(events.Heard("\"state\":\"complete\"")) << "the end is heard live";
  json row = stack_.Find("/api/recordings", id);
  EXPECT_EQ(row["title"], "Live Show");
  EXPECT_EQ(row["failed"], false);

  auto client = stack_.Client();
  httplib::Result whole = client->Get(("/api/media/" + id + "/file").c_str());
  ASSERT_TRUE(whole);
  ASSERT_EQ(whole->status, 200);
  ASSERT_GT(whole->body.size(), 1000u);
  EXPECT_NE(whole->get_header_value("Content-Disposition").find("attachment"), std::string::npos);
  httplib::Result part = client->Get(("/api/media/" + id + "/file").c_str(), {{"Range", "bytes=100-199"}});
  ASSERT_TRUE(part);
  EXPECT_EQ(part->status, 206);
  EXPECT_EQ(part->body, whole->body.substr(100, 100));
  EXPECT_EQ(part->get_header_value("Content-Range"), "bytes 100-199/" + std::to_string(whole->body.size()));
  httplib::Result picture = client->Get(("/api/media/" + id + "/thumbnail").c_str());
  ASSERT_TRUE(picture);
  ASSERT_EQ(picture->status, 200);
  EXPECT_EQ(picture->get_header_value("Content-Type"), "image/jpeg");
  EXPECT_EQ(picture->body.substr(0, 2), "\xFF\xD8");

  // Setting a position is the browser test's (pages.test.js); a bad one is refused.
  stack_.Send("PUT", "/api/media/" + id + "/position", {{"seconds", -1}}, &status);
  EXPECT_EQ(status, 400);
  EXPECT_EQ(stack_.Get("/api/media/" + id + "/info").value("PlayPosition", ""), "0");
}

TEST_F(WebLive, SaysWhenTheModuleOrTheBusIsAwayAndRecoversAndAsksForItsPassword) {
  EventReader events(stack_);
  stack_.StopModule();
  ASSERT_TRUE(WebStack::WaitUntil([&] { return stack_.Get("/api/status")["ok"] == false; }, 20));
  const std::string message = stack_.Get("/api/status")["message"];
  EXPECT_NE(message.find("module"), std::string::npos) << message;
  EXPECT_TRUE(WebStack::WaitUntil([&] { return events.Heard("\"ok\":false"); }, 10));
  // The page is still served, and a change is refused with the reason.
  EXPECT_EQ(stack_.Client()->Get("/")->status, 200);
  int status = 0;
  json refused = stack_.Send("PUT", "/api/settings", {{"padding", 10}}, &status);
  EXPECT_EQ(status, 502);
  EXPECT_FALSE(refused.value("error", std::string()).empty());

  ASSERT_TRUE(stack_.StartModule()) << "a restarted module is picked up";
  EXPECT_TRUE(WebStack::WaitUntil([&] { return events.Heard("\"ok\":true"); }, 10));

  stack_.Bus().Stop();
  ASSERT_TRUE(WebStack::WaitUntil([&] { return stack_.Get("/api/status")["ok"] == false; }, 20));
  json upcoming = stack_.Get("/api/upcoming");
  ASSERT_TRUE(upcoming.is_object()) << "lists are still answered";
  EXPECT_FALSE(upcoming["message"].get<std::string>().empty());
  ASSERT_TRUE(stack_.Bus().Start());
  EXPECT_TRUE(WebStack::WaitUntil([&] { return stack_.Get("/api/status")["ok"] == true; }, 60));

  // Beyond loopback only with a password: refused before binding anything.
  tev::test::ChildProgram open;
  ASSERT_TRUE(open.Start({TEV_WEB_BINARY, "--listen", "0.0.0.0:1"}, stack_.Dir() + "/open.log"));
  EXPECT_EQ(open.WaitExit(10000), 2);
  const std::string text = tev::test::ReadFile(stack_.Dir() + "/open.log");
  EXPECT_NE(text.find("--password-file"), std::string::npos) << text;

  // With a password every request needs it.
  const std::string secret = stack_.Dir() + "/password";
  std::ofstream(secret) << "s3cret pass\n";
  stack_.StopWeb();
  ASSERT_TRUE(stack_.StartWeb({"--password-file", secret}));
  auto client = stack_.Client();
  EXPECT_EQ(webtest::StatusOf(client->Get("/api/status")), 401);
  client->set_basic_auth("viewer", "s3cret pass");
  EXPECT_EQ(client->Get("/api/status")->status, 200);
  EXPECT_EQ(client->Get("/")->status, 200);
}

}  // namespace
