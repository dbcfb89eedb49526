// The page's files (web/static/), compiled into tev-web by the build
// (EmbedStatic.cmake writes their bytes into a source file).
#ifndef TEV_WEB_STATICASSETS_H_
#define TEV_WEB_STATICASSETS_H_

#include <cstddef>
#include <string>

namespace web {

struct StaticAsset {
  const char* name;  // file name below web/static/, e.g. "app.js"
  const unsigned char* data;
  size_t size;
};

// The asset of that name, or null.
const StaticAsset* FindStaticAsset(const std::string& name);
// The content type for a file name by its extension.
const char* ContentTypeOf(const std::string& name);

}  // namespace web

#endif  // TEV_WEB_STATICASSETS_H_
