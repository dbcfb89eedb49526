// Reads wire JSON (vel/WIRE.md) straight into VARIANTs: one pass of a
// streaming parser, no document in between. Nesting is counted while
// reading, so a text nested deeper than kWireJsonDepth is refused at that
// point with nothing built for it. Never throws.
#ifndef TEV_VEL_WIREREADER_H_
#define TEV_VEL_WIREREADER_H_

#include <cstddef>
#include <string>

#include "platform/Variant.h"

namespace vel {

// What the text holds: a bare value, a request {"method", "in"} or a
// reply {"ret", "out"}.
enum class WireShape { kValue, kRequest, kReply };

// Which part of a text was wrong.
enum class WireFault {
  kNone,
  kText,   // not JSON, nested too deep, or a request/reply without its fields
  kValue,  // the value ("in", "out" or the bare value) is not a valid VARIANT
};

struct WireEnvelope {
  std::wstring method;  // kRequest
  int ret = 0;          // kReply
};

// REQUIRES *value initialised; it is cleared first, receives the value (an
// absent "in"/"out" is VT_EMPTY) and stays VT_EMPTY on any fault. *error
// tells why when the result is not kNone.
WireFault ReadWire(const char* data, size_t length, WireShape shape, WireEnvelope* envelope,
                   VARIANT* value, std::string* error);

}  // namespace vel

#endif  // TEV_VEL_WIREREADER_H_
