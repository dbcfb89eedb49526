// Stand-in for builds without expat: no XMLTV file can be read.
#include "peers/XmltvGuide.h"

namespace tev {
namespace peers {

bool LoadXmltv(const std::string& path, std::vector<GuideChannel>* channels, std::string* error) {
  if (error) *error = "built without expat: cannot read " + path;
  return false;
}

}  // namespace peers
}  // namespace tev
