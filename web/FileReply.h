// A file of the recording folders as an HTTP answer, read piece by piece
// as the client takes it; byte ranges ("Range: bytes=...") are answered
// with 206 and only those bytes, so that a player can seek and a download
// can resume.
#ifndef TEV_WEB_FILEREPLY_H_
#define TEV_WEB_FILEREPLY_H_

#include <string>

#include <httplib.h>

namespace web {

// False (with a 404 reply) when the file cannot be opened. A non-empty
// `downloadName` makes the browser save it under that name.
bool ReplyFile(httplib::Response& res, const std::string& path, const std::string& mimeType,
               const std::string& downloadName);

}  // namespace web

#endif  // TEV_WEB_FILEREPLY_H_
