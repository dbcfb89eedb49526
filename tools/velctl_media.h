// What velctl reads from the media library: the schedules, recordings and
// season passes that the module has published there (source "PVR"), and
// the channels.
#ifndef TEV_TOOLS_VELCTL_MEDIA_H_
#define TEV_TOOLS_VELCTL_MEDIA_H_

#include <string>
#include <vector>

#include "tools/velctl_bus.h"

namespace velctl {

struct Medium {
  std::string id;
  std::string state;      // pvrState: "schedule", "recording", "complete"...
  std::string mediaType;  // "schedule.video.file.recorded.tv", "schedulePass..."
  std::string title;
  std::string channel;
  std::string start;      // local "YYYY-MM-DD HH:MM:SS" as published
  std::string path;
  std::string scheduleMode;  // passes only
  std::string failure;       // why a failed recording failed, when the module said
  std::string conflictReason;  // why a schedule will not be recorded (conflict and skip only)
  long durationMs = 0;

  bool IsPass() const { return mediaType.rfind("schedulePass", 0) == 0; }
  // Removed by the user: a recording's deleted media type or a kept episode's state.
  bool IsDeleted() const { return state == "deleted" || mediaType.find("deleted") != std::string::npos; }
  // The programme name: the title without the start that schedules append.
  std::string Name() const;
};

struct Channel {
  std::string id;
  std::string name;
  std::string mimeType;
};

// The module's media in the order the library keeps them. A failed answer
// (kOk with nothing listed in a dry run). Recordings the user deleted stay in
// the library under a "deleted." media type; they are listed only on request.
Answer ListPvrMedia(Bus& bus, std::vector<Medium>* media, bool withDeleted = false);
// Channels the library offers (tv.*, audio.web*).
Answer ListChannels(Bus& bus, std::vector<Channel>* channels);
// The channel whose name or id is `nameOrId`; kUsage with a hint when none.
// A dry run answers the text itself as name and id.
Answer FindChannel(Bus& bus, const std::string& nameOrId, Channel* channel);

// A JSON text or integer as text; anything else as "".
std::string TextOf(const nlohmann::json& value);

// A pvrState said for a person ("no tuner was free"), and whether it ends a
// recording without one.
std::string DescribeState(const std::string& state);
bool IsFailedState(const std::string& state);
// A schedule the module will not record as things stand ("conflict",
// "skip"): only these carry a "conflictReason" that still applies.
bool IsNotRecordedState(const std::string& state);

}  // namespace velctl

#endif  // TEV_TOOLS_VELCTL_MEDIA_H_
