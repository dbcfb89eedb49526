// The guide page: listings, and recording from them once or as a series.
#include <ctime>

#include "tools/velctl_commands.h"
#include "tools/velctl_media.h"
#include "tools/velctl_time.h"
#include "web/GuideListings.h"
#include "web/HttpJson.h"
#include "web/Routes.h"
#include "web/ScheduleModes.h"

namespace web {

namespace {

using nlohmann::json;

const long long kDay = 86400;
const long long kMaxWindow = 8 * kDay;

long long Now() { return static_cast<long long>(std::time(nullptr)); }

// The start of today on this machine's clock (the page sends its own).
long long TodayStart() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  local.tm_hour = local.tm_min = local.tm_sec = 0;
  local.tm_isdst = -1;
  return static_cast<long long>(std::mktime(&local));
}

// A query parameter as a whole number; `fallback` when absent.
bool QueryNumber(const httplib::Request& req, const char* name, long long fallback, long long* value,
                 httplib::Response& res) {
  if (!req.has_param(name)) {
    *value = fallback;
    return true;
  }
  const std::string text = req.get_param_value(name);
  char* end = nullptr;
  *value = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0') {
    ReplyError(res, 400, std::string("\"") + name + "\" must be a time in seconds since 1970");
    return false;
  }
  return true;
}

// The window [from, to] of a request, at most kMaxWindow long.
bool QueryWindow(const httplib::Request& req, long long defaultFrom, long long span, long long* from, long long* to,
                 httplib::Response& res) {
  if (!QueryNumber(req, "from", defaultFrom, from, res) || !QueryNumber(req, "to", *from + span, to, res)) {
    return false;
  }
  if (*to < *from || *to - *from > kMaxWindow) {
    ReplyError(res, 400, "\"to\" must come after \"from\", at most 8 days later");
    return false;
  }
  return true;
}

bool KeepUntilCode(const json& body, httplib::Response& res, int* code) {
  std::string name = "UNTIL_SPACE_NEEDED";
  if (!TextMember(body, "keepUntil", res, &name, true)) return false;
  auto found = velctl::KeepUntilCodes().find(name);
  if (found == velctl::KeepUntilCodes().end()) {
    ReplyError(res, 400, "\"keepUntil\" is not a keep-until name such as UNTIL_SPACE_NEEDED");
    return false;
  }
  *code = found->second;
  return true;
}

// What both ways of recording read from the programme: channel, channel
// id, title, start and duration.
struct Programme {
  std::string channel, channelId, title, category, description, episode;
  long long start = 0, duration = 0;
};

bool ReadProgramme(const json& body, httplib::Response& res, Programme* p) {
  if (!TextMember(body, "channel", res, &p->channel) || !TextMember(body, "channelId", res, &p->channelId) ||
      !TextMember(body, "title", res, &p->title) ||
      !TextMember(body, "category", res, &p->category, true) ||
      !TextMember(body, "description", res, &p->description, true) ||
      !TextMember(body, "episode", res, &p->episode, true) ||
      !IntegerMember(body, "start", res, &p->start, 0, 253402300799LL) ||
      !IntegerMember(body, "duration", res, &p->duration, 1, 0x7fffffff / 1000)) {
    return false;
  }
  if (p->title.empty() || p->channel.empty()) {
    ReplyError(res, 400, "a programme needs a channel and a title");
    return false;
  }
  return true;
}

void Listings(WebContext& context, const httplib::Request& req, httplib::Response& res) {
  long long from = 0, to = 0;
  if (!QueryWindow(req, Now() - 2 * 3600, kDay, &from, &to, res)) return;
  std::string listings;
  velctl::Answer answer = context.guide.OnAir(from, to, &listings);
  if (answer.exit != velctl::kOk) return ReplyFailure(res, answer);
  ReplyJsonText(res, listings);
}

void Search(WebContext& context, const httplib::Request& req, httplib::Response& res) {
  const std::string title = req.get_param_value("title");
  if (title.empty()) return ReplyError(res, 400, "search for a title: ?title=...");
  // The seven days the page has tabs for, from the start of the first.
  long long from = 0, to = 0;
  if (!QueryWindow(req, TodayStart(), 7 * kDay, &from, &to, res)) return;
  GuideLines lines;
  velctl::Answer answer = AskGuide(context.bus, title, from, to - 1, &lines);
  if (answer.exit != velctl::kOk) return ReplyFailure(res, answer);
  ReplyJsonText(res, ListingsJson(from, to, {&lines}, [](const GuideShow&) { return true; }));
}

void Schedule(WebContext& context, const httplib::Request& req, httplib::Response& res) {
  json body;
  Programme p;
  int keep = 0;
  if (!ReadBody(req, res, &body) || !ReadProgramme(body, res, &p) || !KeepUntilCode(body, res, &keep)) return;
  json params = json::array({std::string(kWebUser), p.channel, p.channelId, velctl::StartDateForModule(p.start, Now()),
                             p.duration * 1000, p.title, p.category, p.description, "", "", p.episode, keep});
  velctl::Answer answer = context.bus.Call("ZoVIZ", "ScheduleRecording", params);
  if (answer.exit != velctl::kOk) return ReplyFailure(res, answer);
  const std::string id = velctl::TextOf(answer.out);
  context.library.RefreshUntil([&id](const LibraryView& view) { return FindIn(view, id) != nullptr; }, 3000);
  ReplyJson(res, {{"id", id}}, 201);
}

void AddPass(WebContext& context, const httplib::Request& req, httplib::Response& res) {
  json body;
  Programme p;
  int keep = 0;
  std::string mode = "ALL_EPISODES";
  if (!ReadBody(req, res, &body) || !ReadProgramme(body, res, &p) || !KeepUntilCode(body, res, &keep) ||
      !TextMember(body, "mode", res, &mode, true)) {
    return;
  }
  long long priority = 0;
  if (!IntegerMember(body, "priority", res, &priority, 1, 100000, true)) return;
  const bool newOnly = body.value("newOnly", false) == true;
  const bool anyChannel = body.value("anyChannel", false) == true;
  int number = ScheduleModeNumber(mode);
  if (number == 0) return ReplyError(res, 400, "\"mode\" is not a schedule mode such as ALL_EPISODES");
  // New episodes only narrows "every episode"; the time-based modes have no notion of new.
  if (newOnly && number == 1) number = 2;
  // A priority puts the pass first in the order; without one it goes last.
  const json rank = priority > 0 ? json(priority) : json{{"vt", "EMPTY"}};
  json params = json::array({std::string(kWebUser), !anyChannel, number, "", keep, -1, rank, "",
                             velctl::StartDateForModule(p.start, Now()), p.duration * 1000, p.channel,
                             p.channelId, p.title, p.category});
  velctl::Answer answer = context.bus.Call("ZoVIZ", "AddTevPass", params);
  // 101: the first episodes clash, and the module did not keep the pass.
  if (answer.ret == 101) {
    return ReplyError(res, 409,
                      "the series was not made: its episodes clash with other recordings (put it ahead of "
                      "the other series, or skip what clashes first)");
  }
  if (answer.exit != velctl::kOk) return ReplyFailure(res, answer);
  const std::string id = answer.out.is_array() && !answer.out.empty() ? velctl::TextOf(answer.out[0]) : "";
  context.library.RefreshUntil([&id](const LibraryView& view) { return FindIn(view, id) != nullptr; }, 3000);
  ReplyJson(res, {{"id", id}}, 201);
}

}  // namespace

const char kWebUser[] = "web";

void AddGuideRoutes(httplib::Server& server, WebContext& context) {
  server.Get("/api/guide", [&context](const httplib::Request& req, httplib::Response& res) {
    Listings(context, req, res);
  });
  server.Get("/api/guide/search", [&context](const httplib::Request& req, httplib::Response& res) {
    Search(context, req, res);
  });
  server.Post("/api/schedules", [&context](const httplib::Request& req, httplib::Response& res) {
    Schedule(context, req, res);
  });
  server.Post("/api/passes", [&context](const httplib::Request& req, httplib::Response& res) {
    AddPass(context, req, res);
  });
}

}  // namespace web
