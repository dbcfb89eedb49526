// JSON in and out of the API's handlers. Every error is {"error": text}
// with a status that says whose fault it was: 400 the request, 404 no such
// thing, 409 the module refused it, 502 the bus or a satellite failed.
#ifndef TEV_WEB_HTTPJSON_H_
#define TEV_WEB_HTTPJSON_H_

#include <string>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "tools/velctl_bus.h"

namespace web {

void ReplyJson(httplib::Response& res, const nlohmann::json& body, int status = 200);
// A body already written as JSON text.
void ReplyJsonText(httplib::Response& res, const std::string& body, int status = 200);
void ReplyError(httplib::Response& res, int status, const std::string& message);
// The status and message of a failed answer: a refusal is 409 with the
// module's reason, a bus failure 502.
void ReplyFailure(httplib::Response& res, const velctl::Answer& answer);

// The request's body as a JSON object; false (and a 400 reply) otherwise.
bool ReadBody(const httplib::Request& req, httplib::Response& res, nlohmann::json* body);

// Typed members of a body, each false with a 400 reply naming the member
// when it is missing (unless optional) or of another type.
bool TextMember(const nlohmann::json& body, const char* name, httplib::Response& res,
                std::string* value, bool optional = false);
bool IntegerMember(const nlohmann::json& body, const char* name, httplib::Response& res,
                   long long* value, long long min, long long max, bool optional = false);

// `text` with every byte but letters, digits and "-._~" written %XX, as a
// URL query value or an RFC 5987 file name takes it.
std::string PercentEncoded(const std::string& text);

}  // namespace web

#endif  // TEV_WEB_HTTPJSON_H_
