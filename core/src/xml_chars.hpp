// Characters of XML text: stepping through UTF-8 one code point at a time, and
// the check every text-writing operation runs on caller text before it
// touches any file.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "models.hpp"

namespace zandrel {

// One step through UTF-8 text. A well-formed character gives `valid` with
// its code point and byte length. An ill-formed sequence gives `valid` false
// and the length of its maximal ill-formed subpart (at least 1), the unit
// that a lossy decoder replaces with one U+FFFD.
struct Utf8Step {
    char32_t code_point = 0;
    std::size_t length = 0;
    bool valid = false;
};

// The character starting at `offset` (which must be < text.size()).
// Surrogates, overlong forms and values past U+10FFFF are ill-formed.
Utf8Step decode_utf8_step(std::string_view text, std::size_t offset);

// The bytes decoded as UTF-8 with every ill-formed subpart replaced by U+FFFD.
std::string decode_utf8_lossy(std::string_view bytes);

// Succeeds when every character of `text` may appear in an XML 1.0 document.
// InvalidInput errors (the first offending character, hex digits upper case,
// at least four of them):
//   "text contains a character that XML does not allow: U+000B"
//     for U+0000-U+0008, U+000B, U+000C, U+000E-U+001F, U+FFFE, U+FFFF and
//     surrogates encoded on their own (U+D800-U+DFFF);
//   "text is not valid UTF-8 at byte {offset}"
//     for any other ill-formed byte sequence.
Status check_xml_text(std::string_view text);

}  // namespace zandrel
