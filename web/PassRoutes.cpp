// The Series page's changes: move a season pass in the priority order,
// change how it records, remove it with its schedules.
#include "tools/velctl_commands.h"
#include "web/HttpJson.h"
#include "web/MediumEdits.h"
#include "web/Routes.h"
#include "web/ScheduleModes.h"

namespace web {

namespace {

using nlohmann::json;

bool FindPass(WebContext& context, const httplib::Request& req, httplib::Response& res, json* pass) {
  if (!FindMedium(context, req.matches[1], res, pass)) return false;
  if ((*pass)["kind"] != "pass") {
    ReplyError(res, 404, "no season pass has the id " + req.matches[1].str());
    return false;
  }
  return true;
}

void Change(WebContext& context, const httplib::Request& req, httplib::Response& res) {
  json pass, body;
  if (!FindPass(context, req, res, &pass) || !ReadBody(req, res, &body)) return;
  long long priority = 0;
  std::string keep, mode;
  if (!IntegerMember(body, "priority", res, &priority, 1, 100000, true) ||
      !TextMember(body, "keepUntil", res, &keep, true) || !TextMember(body, "scheduleMode", res, &mode, true)) {
    return;
  }
  if (!keep.empty() && velctl::KeepUntilCodes().count(keep) == 0) {
    return ReplyError(res, 400, "\"keepUntil\" is not a keep-until name such as UNTIL_SPACE_NEEDED");
  }
  if (!mode.empty() && ScheduleModeNumber(mode) == 0) return ReplyError(res, 400, "\"scheduleMode\" is not a schedule mode such as ALL_EPISODES");
  if (body.contains("restrictOneChannel") && !body["restrictOneChannel"].is_boolean()) {
    return ReplyError(res, 400, "\"restrictOneChannel\" must be true or false");
  }
  // The module takes one pass property per call.
  std::vector<std::pair<std::string, json>> pairs;
  if (priority > 0) pairs.emplace_back("priority", priority);
  if (!keep.empty()) pairs.emplace_back("keepUntil", keep);
  if (!mode.empty()) pairs.emplace_back("scheduleMode", mode);
  if (body.contains("restrictOneChannel")) pairs.emplace_back("restrictOneChannel", body["restrictOneChannel"] == true ? 1 : 0);
  if (pairs.empty()) {
    return ReplyError(res, 400, "nothing to change: give \"priority\", \"keepUntil\", \"scheduleMode\" or \"restrictOneChannel\"");
  }
  const std::string id = pass["id"];
  velctl::Answer answer;
  for (const auto& pair : pairs) {
    // The module renumbers the other passes and republishes those itself.
    answer = EditMedium(context.bus, id, pair.first, pair.second, pair.second);
    if (answer.exit != velctl::kOk) break;
  }
  if (answer.exit != velctl::kOk) return ReplyFailure(res, answer);
  // The other passes are renumbered and republished a moment later.
  context.library.RefreshUntil(
      [&id, priority](const LibraryView& view) {
        const json* moved = FindIn(view, id);
        return priority == 0 || (moved != nullptr && (*moved)["priority"] == priority);
      },
      3000);
  ReplyJson(res, {{"done", true}});
}

void Remove(WebContext& context, const httplib::Request& req, httplib::Response& res) {
  json pass;
  if (!FindPass(context, req, res, &pass)) return;
  const std::string id = pass["id"];
  velctl::Answer answer = RemoveMedium(context.bus, id);
  if (answer.exit != velctl::kOk) return ReplyFailure(res, answer);
  context.library.RefreshUntil([&id](const LibraryView& view) { return FindIn(view, id) == nullptr; }, 3000);
  ReplyJson(res, {{"done", true}});
}

}  // namespace

void AddPassRoutes(httplib::Server& server, WebContext& context) {
  const char* const id = "/api/passes/([A-Za-z0-9_.-]{1,64})";
  server.Patch(id, [&context](const httplib::Request& req, httplib::Response& res) { Change(context, req, res); });
  server.Delete(id, [&context](const httplib::Request& req, httplib::Response& res) { Remove(context, req, res); });
}

}  // namespace web
