// Small rules shared by the start and stop decisions.
#ifndef TEV_ENGINE_STARTSTATUS_H_
#define TEV_ENGINE_STARTSTATUS_H_

#include <string>

#include "db/SQLite.h"
#include "db/Schedule.h"
#include "db/WFormat.h"

namespace startstop {

inline constexpr wchar_t kInputDevice[] = L"video/x-inputdevice";

// The state a row is left in when the recorder refused to start it with
// the non-zero `code`. The codes come from the peers behind the streamer.
inline const wchar_t* StatusForFailedStart(int code) {
  switch (code) {
    case 117: return DVRSTATE_MCE_RUNNING;
    case 104: return DVRSTATE_TUNER_BUSY;
    case 116: return DVRSTATE_COULD_NOT_CONNECT;
    default: return DVRSTATE_ERROR;
  }
}

// A capture device records one thing at a time, so its rows count per
// device: appends the clause that narrows a statement to `channel` (stored
// in the ChannelName column of device rows) and its value; nothing for
// every other mimetype.
inline void AddSameDeviceClause(const std::wstring& channelMimetype, const std::wstring& channel,
                                std::string* statement, std::vector<SqlValue>* values) {
  if (channelMimetype != kInputDevice) return;
  *statement += " AND ChannelName = ?";
  values->emplace_back(channel);
}

}  // namespace startstop

#endif  // TEV_ENGINE_STARTSTATUS_H_
