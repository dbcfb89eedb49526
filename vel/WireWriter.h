// Writes VARIANTs as wire JSON (vel/WIRE.md) straight into a text, without
// building a document. The bytes are those of a JSON document holding the
// same value dumped compactly with sorted keys, so both sides of the bus
// see the same text whichever way it was made.
#ifndef TEV_VEL_WIREWRITER_H_
#define TEV_VEL_WIREWRITER_H_

#include <cstddef>
#include <string>

#include "platform/Variant.h"

namespace vel {

// Appends the value. False (with *error) for values the wire cannot carry:
// multi-dimensional arrays, the COM-object and currency types, arrays nested
// deeper than kMaxValueDepth; *text then holds a partial value.
bool WriteValue(const VARIANT& value, std::string* text, std::string* error);

// Appends a JSON string of UTF-16 text (surrogate pairs joined, unpaired
// halves written as U+FFFD).
void WriteText(const wchar_t* text, size_t length, std::string* out);
// Appends a JSON string of UTF-8 bytes; ill-formed sequences become U+FFFD.
void WriteUtf8(const std::string& bytes, std::string* out);

}  // namespace vel

#endif  // TEV_VEL_WIREWRITER_H_
