#include "peers/XmltvGuide.h"

#include <expat.h>

#include <cstring>
#include <fstream>
#include <map>
#include <iterator>

#include "platform/WideText.h"

namespace tev {
namespace peers {

namespace {

struct PendingProgramme {
  std::string channel;
  std::string start, stop;
  GuideProgram program;
  bool hasTitle = false, hasSubTitle = false, hasDesc = false, hasCategory = false;
  std::string episodeSystem;  // of the open <episode-num>
};

struct Parser {
  std::vector<GuideChannel>* channels;
  std::map<std::string, size_t> byId;
  std::string text;        // character data of the innermost element
  bool inChannel = false;
  bool inProgramme = false;
  std::string channelId;
  PendingProgramme programme;
  bool badTime = false;

  size_t Channel(const std::string& id) {
    auto found = byId.find(id);
    if (found != byId.end()) return found->second;
    GuideChannel channel;
    channel.name = tev::FromStdUtf8(id);
    channel.mediumId = tev::FromStdUtf8(id);
    channels->push_back(channel);
    byId[id] = channels->size() - 1;
    return channels->size() - 1;
  }
};

const char* Attribute(const XML_Char** attributes, const char* name) {
  for (int i = 0; attributes[i]; i += 2) {
    if (std::strcmp(attributes[i], name) == 0) return attributes[i + 1];
  }
  return "";
}

void XMLCALL OnStart(void* data, const XML_Char* name, const XML_Char** attributes) {
  Parser* p = static_cast<Parser*>(data);
  p->text.clear();
  if (std::strcmp(name, "channel") == 0) {
    p->inChannel = true;
    p->channelId = Attribute(attributes, "id");
    p->Channel(p->channelId);
  } else if (std::strcmp(name, "programme") == 0) {
    p->inProgramme = true;
    p->programme = PendingProgramme();
    p->programme.channel = Attribute(attributes, "channel");
    p->programme.start = Attribute(attributes, "start");
    p->programme.stop = Attribute(attributes, "stop");
  } else if (p->inProgramme &&
             (std::strcmp(name, "new") == 0 || std::strcmp(name, "premiere") == 0)) {
    p->programme.program.isNew = true;
  } else if (p->inProgramme && std::strcmp(name, "previously-shown") == 0) {
    p->programme.program.previouslyShown = true;
  } else if (p->inProgramme && std::strcmp(name, "episode-num") == 0) {
    p->programme.episodeSystem = Attribute(attributes, "system");
  }
}

void XMLCALL OnText(void* data, const XML_Char* text, int length) {
  static_cast<Parser*>(data)->text.append(text, static_cast<size_t>(length));
}

void XMLCALL OnEnd(void* data, const XML_Char* name) {
  Parser* p = static_cast<Parser*>(data);
  PendingProgramme& q = p->programme;
  auto text = [p] { return tev::FromStdUtf8(p->text); };
  if (p->inChannel && std::strcmp(name, "display-name") == 0) {
    GuideChannel& channel = (*p->channels)[p->Channel(p->channelId)];
    if (channel.displayNames.empty()) channel.name = text();  // the first name wins
    channel.displayNames.push_back(text());
  } else if (std::strcmp(name, "channel") == 0) {
    p->inChannel = false;
  } else if (p->inProgramme && std::strcmp(name, "title") == 0 && !q.hasTitle) {
    q.program.title = text();
    q.hasTitle = true;
  } else if (p->inProgramme && std::strcmp(name, "sub-title") == 0 && !q.hasSubTitle) {
    q.program.episodeTitle = text();
    q.hasSubTitle = true;
  } else if (p->inProgramme && std::strcmp(name, "desc") == 0 && !q.hasDesc) {
    q.program.description = text();
    q.hasDesc = true;
  } else if (p->inProgramme && std::strcmp(name, "episode-num") == 0) {
    q.program.episodeNums.emplace_back(tev::FromStdUtf8(q.episodeSystem), text());
  } else if (p->inProgramme && std::strcmp(name, "category") == 0 && !q.hasCategory) {
    q.program.category = text();
    q.hasCategory = true;
  } else if (std::strcmp(name, "programme") == 0 && p->inProgramme) {
    p->inProgramme = false;
    int64_t start = 0, stop = 0;
    if (!ParseXmltvTime(q.start, &start)) {
      p->badTime = true;
      return;
    }
    if (ParseXmltvTime(q.stop, &stop) && stop > start) {
      q.program.duration = static_cast<int32_t>(stop - start);
    }
    q.program.start = start;
    (*p->channels)[p->Channel(q.channel)].programs.push_back(q.program);
  }
  p->text.clear();
}

}  // namespace

bool LoadXmltv(const std::string& path, std::vector<GuideChannel>* channels, std::string* error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    if (error) *error = "cannot read " + path;
    return false;
  }
  std::vector<GuideChannel> parsed;
  Parser state;
  state.channels = &parsed;
  XML_Parser parser = XML_ParserCreate(nullptr);  // the file's declaration decides
  XML_SetUserData(parser, &state);
  XML_SetElementHandler(parser, OnStart, OnEnd);
  XML_SetCharacterDataHandler(parser, OnText);
  // Read in pieces: a fortnight of hundreds of channels is a large file.
  std::vector<char> chunk(1 << 16);
  bool ok = true;
  for (;;) {
    file.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    const std::streamsize got = file.gcount();
    const bool last = got < static_cast<std::streamsize>(chunk.size());
    if (XML_Parse(parser, chunk.data(), static_cast<int>(got), last) == XML_STATUS_ERROR) {
      ok = false;
      break;
    }
    if (last) break;
  }
  if (!ok && error) {
    *error = path + ":" + std::to_string(XML_GetCurrentLineNumber(parser)) + ": " +
             XML_ErrorString(XML_GetErrorCode(parser));
  }
  XML_ParserFree(parser);
  if (!ok) return false;
  if (state.badTime && error) *error = path + ": programmes with a malformed start were skipped";
  channels->swap(parsed);
  return true;
}

bool LoadXmltvFiles(const std::vector<std::string>& paths, std::vector<GuideChannel>* channels,
                    std::string* error) {
  std::vector<GuideChannel> merged;
  std::map<std::wstring, size_t> byId;
  for (const std::string& path : paths) {
    std::vector<GuideChannel> one;
    std::string warning;
    if (!LoadXmltv(path, &one, &warning)) {
      if (error) *error = warning;
      return false;
    }
    if (!warning.empty() && error) *error = warning;
    for (GuideChannel& channel : one) {
      auto found = byId.find(channel.mediumId);
      if (found == byId.end()) {
        byId[channel.mediumId] = merged.size();
        merged.push_back(std::move(channel));
        continue;
      }
      GuideChannel& into = merged[found->second];
      if (into.displayNames.empty()) into.name = channel.name;
      into.displayNames.insert(into.displayNames.end(), channel.displayNames.begin(),
                               channel.displayNames.end());
      into.programs.insert(into.programs.end(), std::make_move_iterator(channel.programs.begin()),
                           std::make_move_iterator(channel.programs.end()));
    }
  }
  channels->swap(merged);
  return true;
}

}  // namespace peers
}  // namespace tev
