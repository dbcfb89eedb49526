#include "peers/XmltvGuide.h"

#include <expat.h>

#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "support/WideText.h"

namespace tev {
namespace peers {

namespace {

struct PendingProgramme {
  std::string channel;
  std::string start, stop;
  GuideProgram program;
  bool hasTitle = false, hasSubTitle = false, hasDesc = false, hasCategory = false;
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
  } else if (p->inProgramme && std::strcmp(name, "new") == 0) {
    p->programme.program.isNew = true;
  }
}

void XMLCALL OnText(void* data, const XML_Char* text, int length) {
  static_cast<Parser*>(data)->text.append(text, static_cast<size_t>(length));
}

void XMLCALL OnEnd(void* data, const XML_Char* name) {
  Parser* p = static_cast<Parser*>(data);
  const std::wstring text = tev::FromStdUtf8(p->text);
  PendingProgramme& q = p->programme;
  if (p->inChannel && std::strcmp(name, "display-name") == 0) {
    GuideChannel& channel = (*p->channels)[p->Channel(p->channelId)];
    if (channel.name == channel.mediumId) channel.name = text;  // the first name wins
  } else if (std::strcmp(name, "channel") == 0) {
    p->inChannel = false;
  } else if (p->inProgramme && std::strcmp(name, "title") == 0 && !q.hasTitle) {
    q.program.title = text;
    q.hasTitle = true;
  } else if (p->inProgramme && std::strcmp(name, "sub-title") == 0 && !q.hasSubTitle) {
    q.program.episodeTitle = text;
    q.hasSubTitle = true;
  } else if (p->inProgramme && std::strcmp(name, "desc") == 0 && !q.hasDesc) {
    q.program.description = text;
    q.hasDesc = true;
  } else if (p->inProgramme && std::strcmp(name, "category") == 0 && !q.hasCategory) {
    q.program.category = text;
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
  std::stringstream content;
  content << file.rdbuf();
  const std::string xml = content.str();

  std::vector<GuideChannel> parsed;
  Parser state;
  state.channels = &parsed;
  XML_Parser parser = XML_ParserCreate("UTF-8");
  XML_SetUserData(parser, &state);
  XML_SetElementHandler(parser, OnStart, OnEnd);
  XML_SetCharacterDataHandler(parser, OnText);
  const bool ok = XML_Parse(parser, xml.data(), static_cast<int>(xml.size()), 1) != XML_STATUS_ERROR;
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

}  // namespace peers
}  // namespace tev
