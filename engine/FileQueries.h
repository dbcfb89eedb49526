// The bus's queries of recording files: play position, descriptions and
// file locations by medium id. They read and write the Schedules table
// only (no engine state), from any thread, so an endpoint without an
// engine answers them too.
#ifndef TEV_ENGINE_FILEQUERIES_H_
#define TEV_ENGINE_FILEQUERIES_H_

#include <cstdint>
#include <string>
#include <vector>

#include "engine/Requests.h"

class FileQueries {
 public:
  // Medium ids name schedules here; an id of a pass or of nothing names
  // no recording. The thumbnail form "RT<schedule id>" names the ".jpg"
  // beside the recording.
  // Stores the play position. 0; 103 no such recording; 102 the update
  // failed.
  static int SetPlayPosition(const std::wstring& mediumId, int32_t position);
  // *reply: the pairs describing the recording ("Medium", "Mimetype",
  // "Name", ...). 0; 103 (no pairs) no such recording.
  static int GetFileInfoFromID(const std::wstring& mediumId, FileDescription* reply);
  // *reply: one description per id, in input order ("path", "mimeType",
  // "title", ...); an empty one for an id that names no recording. 0; 102
  // (reply untouched) a statement failed. The caller refuses a list longer
  // than kMaxFileListIds (its reply would not fit in one bus message).
  static int GetFileListInfoFromID(const std::vector<std::wstring>& ids,
                                   std::vector<FileDescription>* reply);
  static constexpr long kMaxFileListIds = 1000;
  // *reply: the file path and the file's mime type, or for the thumbnail
  // form path + ".jpg" and "image/jpeg". 0; 103 no such recording; 109 the
  // file is not on disk (reply untouched).
  static int GetFilenameFromID(const std::wstring& mediumId, FileLocation* reply);
  // "%d sec" below a minute, else whole minutes "%d min".
  static std::wstring DurationText(int32_t seconds);
};

#endif  // TEV_ENGINE_FILEQUERIES_H_
