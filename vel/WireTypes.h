// Type names of VARIANT values on the wire (vel/WIRE.md) and the value rules
// shared by the encoder and the decoder.
#ifndef TEV_VEL_WIRETYPES_H_
#define TEV_VEL_WIRETYPES_H_

#include <string>

#include "platform/Variant.h"

namespace vel {

// Arrays of VARIANTs may nest this deep (the outermost value is level 0).
constexpr int kMaxValueDepth = 64;

// JSON nesting a request or reply may have: a typed array takes two levels
// (object and list) per value level, the envelope one more. Deeper texts are
// refused while they are read, before anything is built for them.
constexpr int kWireJsonDepth = 132;
static_assert(kWireJsonDepth >= 2 * (kMaxValueDepth + 1) + 1, "every encodable value must decode");

// "I4", "ARRAY|BSTR", ...; empty for a type without a wire name.
std::string TypeName(VARTYPE vt);
// False when the name is unknown.
bool TypeFromName(const std::string& name, VARTYPE* vt);

// "2026-12-06T10:00:00Z", optionally with fractional seconds and without the
// "Z"; always UTC. Years 100..9999, as OLE dates allow. False otherwise.
bool DecodeIsoDate(const std::string& text, double* date);

}  // namespace vel

#endif  // TEV_VEL_WIRETYPES_H_
