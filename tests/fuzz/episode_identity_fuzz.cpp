// libFuzzer target: episode marks, as "title\nsub-title\nsystem\ntext...".
// The key names the normalised title; numbers are never negative;
// normalising twice changes nothing.
#include <string>

#include "passes/EpisodeIdentity.h"
#include "platform/WideText.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string rest(reinterpret_cast<const char*>(data), size), line;
  auto next = [&rest, &line] {
    const size_t at = rest.find('\n');
    line = rest.substr(0, at);
    rest = at == std::string::npos ? std::string() : rest.substr(at + 1);
    return tev::FromStdUtf8(line);
  };
  tev::ListingMarks marks;
  marks.title = next();
  marks.subTitle = next();
  marks.previouslyShown = size % 2 == 1;
  while (!rest.empty()) {
    const std::wstring system = next();
    marks.episodeNums.emplace_back(system, next());
  }
  const tev::EpisodeIdentity id = tev::IdentifyEpisode(marks);
  const std::wstring title = tev::NormaliseListingText(marks.title);
  fuzz::Check(tev::NormaliseListingText(title) == title);
  fuzz::Check(id.key.empty() || id.key.compare(0, title.size() + 1, title + L"/") == 0);
  fuzz::Check(id.season >= 0 && id.episode >= 0 && id.part >= 0);
  return 0;
}
