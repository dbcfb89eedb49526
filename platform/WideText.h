// The product's wide strings are UTF-16 texts held in std::wstring (one
// wchar_t per code point on Linux). These conversions give exactly the bytes
// the UTF-16 form gives: each UTF-16 code unit is encoded on its own (so a
// character outside the BMP becomes two three-byte sequences) and decoding
// joins the surrogate halves again, so every character round-trips.
#ifndef TEV_PLATFORM_WIDETEXT_H_
#define TEV_PLATFORM_WIDETEXT_H_

#include <string>
#include <vector>

namespace tev {

// Code units of the UTF-16 form of `text`.
std::u16string ToUtf16(const std::wstring& text);
// Inverse of ToUtf16; unpaired surrogates are kept as they are.
std::wstring FromUtf16(const std::u16string& units);

// Unit-by-unit UTF-8 encoding (one, two or three bytes per UTF-16 unit).
std::string WideToUtf8(const std::wstring& text);
// Decoding accepts one-byte sequences, two-byte sequences with lead
// 0xC2..0xDF, three-byte sequences with lead 0xE0..0xEF (after 0xE0 the
// second byte is at least 0xA0); it stops at the first other sequence and
// drops the rest of the text.
std::wstring Utf8ToWide(const std::string& bytes);

// Standard UTF-8 for text that leaves the product's stores (file paths
// handed to the OS, JSON on the wire, command lines).
std::string ToStdUtf8(const std::wstring& text);
std::wstring FromStdUtf8(const std::string& bytes);

}  // namespace tev

#endif  // TEV_PLATFORM_WIDETEXT_H_
