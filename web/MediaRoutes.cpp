// The lists of the Upcoming, Recordings and Series pages, and what a person
// does to a schedule or a recording.
#include <algorithm>
#include <ctime>
#include <functional>

#include "tools/velctl_commands.h"
#include "web/HttpJson.h"
#include "web/MediumEdits.h"
#include "web/Routes.h"

namespace web {

namespace {

using nlohmann::json;

long long StartOf(const json& medium) {
  return medium["start"].is_number() ? medium["start"].get<long long>() : 0;
}

// The list of one page: the media `wanted` keeps, sorted by `before`.
template <typename Keep, typename Before>
void ReplyList(WebContext& context, httplib::Response& res, Keep wanted, Before before) {
  std::shared_ptr<const LibraryView> view = context.library.Current();
  json items = json::array();
  for (const json& medium : view->media) {
    if (wanted(medium)) items.push_back(medium);
  }
  std::stable_sort(items.begin(), items.end(), before);
  ReplyJson(res, {{"ok", view->ok}, {"message", view->message}, {"items", items}});
}

// "Name YYYY-MM-DD hh:mm": the title the module publishes for a schedule.
std::string PublishedTitle(const std::string& name, const json& medium) {
  const time_t start = static_cast<time_t>(StartOf(medium));
  struct tm local {};
  localtime_r(&start, &local);
  char text[32];
  std::strftime(text, sizeof text, " %Y-%m-%d %H:%M", &local);
  return name + text;
}

const int kSettleMs = 3000;

// Answers once the library shows the change (`shown`), or after a while.
void Reply(WebContext& context, httplib::Response& res, const velctl::Answer& answer,
           const std::function<bool(const LibraryView&)>& shown) {
  if (answer.exit != velctl::kOk) return ReplyFailure(res, answer);
  context.library.RefreshUntil(shown, kSettleMs);
  ReplyJson(res, {{"done", true}});
}

std::function<bool(const LibraryView&)> Gone(const std::string& id) {
  return [id](const LibraryView& view) { return FindIn(view, id) == nullptr; };
}

// The medium's state is no longer `before`.
std::function<bool(const LibraryView&)> Moved(const std::string& id, const json& before) {
  return [id, before](const LibraryView& view) {
    const json* medium = FindIn(view, id);
    return medium == nullptr || (*medium)["state"] != before;
  };
}

void SetState(WebContext& context, const httplib::Request& req, httplib::Response& res, const char* state) {
  json medium;
  if (!FindMedium(context, req.matches[1], res, &medium)) return;
  // The module republishes the schedules its conflict check moves, but not
  // the one whose state the library is supposed to have changed already.
  Reply(context, res, EditMedium(context.bus, medium["id"], "pvrState", state, state),
        Moved(medium["id"], medium["state"]));
}

void Cancel(WebContext& context, const httplib::Request& req, httplib::Response& res) {
  json medium;
  if (!FindMedium(context, req.matches[1], res, &medium)) return;
  const std::string id = medium["id"];
  if (medium["state"] == "recording") {
    Reply(context, res, StopRecording(context.bus, id), Moved(id, medium["state"]));
  } else {
    Reply(context, res, RemoveMedium(context.bus, id), Gone(id));
  }
}

void Change(WebContext& context, const httplib::Request& req, httplib::Response& res) {
  json medium, body;
  if (!FindMedium(context, req.matches[1], res, &medium) || !ReadBody(req, res, &body)) return;
  if (medium["kind"] == "pass") return ReplyError(res, 400, "a season pass is changed under /api/passes");
  std::string title, keep;
  if (!TextMember(body, "title", res, &title, true) || !TextMember(body, "keepUntil", res, &keep, true)) return;
  if (body.contains("title") && title.empty()) return ReplyError(res, 400, "a title cannot be empty");
  if (!keep.empty() && velctl::KeepUntilCodes().count(keep) == 0) {
    return ReplyError(res, 400, "\"keepUntil\" is not a keep-until name such as UNTIL_SPACE_NEEDED");
  }
  if (title.empty() && keep.empty()) return ReplyError(res, 400, "nothing to change: give \"title\" or \"keepUntil\"");
  const std::string id = medium["id"];
  velctl::Answer answer;
  if (!title.empty()) answer = EditMedium(context.bus, id, "title", title, PublishedTitle(title, medium));
  if (answer.exit == velctl::kOk && !keep.empty()) answer = EditMedium(context.bus, id, "keepUntil", keep, keep);
  Reply(context, res, answer, [](const LibraryView&) { return true; });
}

void Remove(WebContext& context, const httplib::Request& req, httplib::Response& res) {
  json medium;
  if (!FindMedium(context, req.matches[1], res, &medium)) return;
  Reply(context, res, RemoveMedium(context.bus, medium["id"]), Gone(medium["id"]));
}

}  // namespace

bool FindMedium(WebContext& context, const std::string& id, httplib::Response& res, json* medium) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    std::shared_ptr<const LibraryView> view =
        attempt == 0 ? context.library.Current() : context.library.Refresh();
    for (const json& candidate : view->media) {
      if (candidate["id"] == id) {
        *medium = candidate;
        return true;
      }
    }
    if (attempt == 1 && !view->listed) {
      ReplyError(res, 502, view->message);
      return false;
    }
  }
  ReplyError(res, 404, "no schedule, recording or season pass has the id " + id);
  return false;
}

void AddMediaRoutes(httplib::Server& server, WebContext& context) {
  server.Get("/api/status", [&context](const httplib::Request&, httplib::Response& res) {
    std::shared_ptr<const LibraryView> view = context.library.Current();
    ReplyJson(res, {{"ok", view->ok}, {"message", view->message}});
  });
  server.Get("/api/upcoming", [&context](const httplib::Request&, httplib::Response& res) {
    ReplyList(context, res, [](const json& m) { return m["kind"] == "schedule"; },
              [](const json& a, const json& b) { return StartOf(a) < StartOf(b); });
  });
  server.Get("/api/recordings", [&context](const httplib::Request&, httplib::Response& res) {
    ReplyList(context, res,
              [](const json& m) { return m["kind"] == "recording" || m["state"] == "recording"; },
              [](const json& a, const json& b) { return StartOf(a) > StartOf(b); });
  });
  server.Get("/api/passes", [&context](const httplib::Request&, httplib::Response& res) {
    // Priority 1 first; passes without a priority (0) last.
    auto rank = [](const json& m) {
      const long long p = m.value("priority", 0LL);
      return p > 0 ? p : (1LL << 40);
    };
    ReplyList(context, res, [](const json& m) { return m["kind"] == "pass"; },
              [rank](const json& a, const json& b) { return rank(a) < rank(b); });
  });
  const char* const id = "/api/media/([A-Za-z0-9_.-]{1,64})";
  server.Post(std::string(id) + "/skip", [&context](const httplib::Request& req, httplib::Response& res) {
    SetState(context, req, res, "skip");
  });
  server.Post(std::string(id) + "/unskip", [&context](const httplib::Request& req, httplib::Response& res) {
    SetState(context, req, res, "schedule");
  });
  server.Post(std::string(id) + "/cancel", [&context](const httplib::Request& req, httplib::Response& res) {
    Cancel(context, req, res);
  });
  server.Patch(id, [&context](const httplib::Request& req, httplib::Response& res) { Change(context, req, res); });
  server.Delete(id, [&context](const httplib::Request& req, httplib::Response& res) { Remove(context, req, res); });
}

}  // namespace web
