// libFuzzer target: the XMLTV guide reader of tev-peers on any file content,
// and the XMLTV time text on its own.
#include <fstream>
#include <string>
#include <vector>

#include "peers/XmltvGuide.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  int64_t seconds = 0;
  tev::peers::ParseXmltvTime(text, &seconds);

  const std::string path = fuzz::ScratchFolder() + "/guide.xml";
  {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
  }
  std::vector<tev::peers::GuideChannel> channels;
  std::string error;
  if (tev::peers::LoadXmltv(path, &channels, &error)) {
    tev::peers::ShiftPastListings(&channels, 1700000000);
  } else {
    fuzz::Check(!error.empty());
  }
  return 0;
}
