#include "web/HttpJson.h"

#include <cctype>

namespace web {

using nlohmann::json;

namespace {

// httplib compresses "application/json" (exactly that) with brotli at its
// slowest setting when the browser accepts it: a second for a large list.
// With the charset named it leaves the answer as it is.
const char kJsonType[] = "application/json; charset=utf-8";

}  // namespace

void ReplyJson(httplib::Response& res, const json& body, int status) {
  res.status = status;
  res.set_header("Cache-Control", "no-store");
  // Text the page shows may be any Unicode; invalid UTF-8 from a satellite
  // is replaced rather than failing the whole answer.
  res.set_content(body.dump(-1, ' ', false, json::error_handler_t::replace), kJsonType);
}

void ReplyJsonText(httplib::Response& res, const std::string& body, int status) {
  res.status = status;
  res.set_header("Cache-Control", "no-store");
  res.set_content(body, kJsonType);
}

void ReplyError(httplib::Response& res, int status, const std::string& message) {
  ReplyJson(res, {{"error", message}}, status);
}

void ReplyFailure(httplib::Response& res, const velctl::Answer& answer) {
  ReplyError(res, answer.exit == velctl::kRefused ? 409 : answer.exit == velctl::kUsage ? 400 : 502,
             answer.error);
}

bool ReadBody(const httplib::Request& req, httplib::Response& res, json* body) {
  // Deep nesting is refused while parsing: destroying such a value would
  // recurse through the server thread's stack.
  bool tooDeep = false;
  json::parser_callback_t limit = [&tooDeep](int depth, json::parse_event_t, json&) {
    if (depth > 16) tooDeep = true;
    return !tooDeep;
  };
  try {
    *body = json::parse(req.body, limit, false);
  } catch (const json::exception&) {
    *body = json::value_t::discarded;
  }
  if (tooDeep) {
    *body = json();
    ReplyError(res, 400, "the request's body is nested too deeply");
    return false;
  }
  if (body->is_discarded() || !body->is_object()) {
    ReplyError(res, 400, "the request's body must be a JSON object");
    return false;
  }
  return true;
}

bool TextMember(const json& body, const char* name, httplib::Response& res, std::string* value,
                bool optional) {
  auto found = body.find(name);
  if (found == body.end() && optional) return true;
  if (found == body.end() || !found->is_string()) {
    ReplyError(res, 400, std::string("\"") + name + "\" must be text");
    return false;
  }
  *value = found->get<std::string>();
  return true;
}

bool IntegerMember(const json& body, const char* name, httplib::Response& res, long long* value,
                   long long min, long long max, bool optional) {
  auto found = body.find(name);
  if (found == body.end() && optional) return true;
  if (found == body.end() || !found->is_number_integer() || found->get<long long>() < min ||
      found->get<long long>() > max) {
    ReplyError(res, 400, std::string("\"") + name + "\" must be a whole number from " +
                             std::to_string(min) + " to " + std::to_string(max));
    return false;
  }
  *value = found->get<long long>();
  return true;
}

std::string PercentEncoded(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '.' || c == '-' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

}  // namespace web
