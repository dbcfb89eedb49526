// The engine's and the passes' typed answers in the bus's form, and the
// typed requests read from it. Writers leave *out alone where the answer
// says nothing; a malformed request leaves a reader as
// VelInvalidParameterException.
#ifndef TEV_BUS_ENGINEANSWERS_H_
#define TEV_BUS_ENGINEANSWERS_H_

#include <string>
#include <vector>

#include "engine/Requests.h"
#include "passes/PassRequest.h"
#include "platform/Variant.h"

// Nothing: *out unchanged; a medium id: text; conflicts: one
// [name, medium id, channel name, start, end, subtitle, duration ms,
// state] array per schedule.
void PutScheduleAnswer(const ScheduleAnswer& answer, VARIANT* out);
// An array of [name, value] pairs.
void PutFileDescription(const FileDescription& description, VARIANT* out);
// ["", [[program, conflicts] per airing]], where program is [title, "",
// channel name, start, end, episode title, duration ms] and conflicts is
// written as PutScheduleAnswer writes it; *out unchanged for an empty
// report.
void PutPassReport(const PassConflictReport& report, VARIANT* out);

// The change callback's request: [action, medium id, changes]; the changes
// (an array of [text name, text or integer value] pairs, holes allowed, at
// most MediumUpdates::kMaxUpdatePairs, text for a text property) are read for
// action 0 only.
MediumUpdate ReadMediumUpdate(const VARIANT& in);

#endif  // TEV_BUS_ENGINEANSWERS_H_
