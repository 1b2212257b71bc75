#include "xml_chars.hpp"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace zandrel {
namespace {

struct ByteRange {
    unsigned char low;
    unsigned char high;
};

// Allowed range of the second byte for each lead byte; later continuation
// bytes are always 80-BF. These are the ranges of the Unicode well-formed
// UTF-8 table, which exclude overlong forms, surrogates and code points past
// U+10FFFF.
bool second_byte_range(unsigned char lead, ByteRange& range, std::size_t& length) {
    if (lead >= 0xC2 && lead <= 0xDF) {
        range = {0x80, 0xBF};
        length = 2;
    } else if (lead == 0xE0) {
        range = {0xA0, 0xBF};
        length = 3;
    } else if (lead == 0xED) {
        range = {0x80, 0x9F};
        length = 3;
    } else if (lead >= 0xE1 && lead <= 0xEF) {
        range = {0x80, 0xBF};
        length = 3;
    } else if (lead == 0xF0) {
        range = {0x90, 0xBF};
        length = 4;
    } else if (lead >= 0xF1 && lead <= 0xF3) {
        range = {0x80, 0xBF};
        length = 4;
    } else if (lead == 0xF4) {
        range = {0x80, 0x8F};
        length = 4;
    } else {
        return false;
    }
    return true;
}

bool is_forbidden_in_xml(char32_t c) {
    if (c < 0x20) return c != 0x09 && c != 0x0A && c != 0x0D;
    return c == 0xFFFE || c == 0xFFFF;
}

std::string format_code_point(char32_t c) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "U+%04X", static_cast<unsigned>(c));
    return buffer;
}

// A surrogate written as three bytes (ED A0-BF 80-BF); strict decoding
// rejects it, but callers are better served by its code point.
std::optional<char32_t> encoded_surrogate(std::string_view text, std::size_t offset) {
    if (text.size() - offset < 3) return std::nullopt;
    auto b0 = static_cast<unsigned char>(text[offset]);
    auto b1 = static_cast<unsigned char>(text[offset + 1]);
    auto b2 = static_cast<unsigned char>(text[offset + 2]);
    if (b0 != 0xED || b1 < 0xA0 || b1 > 0xBF || b2 < 0x80 || b2 > 0xBF) return std::nullopt;
    return static_cast<char32_t>(0xD000 | ((b1 & 0x3F) << 6) | (b2 & 0x3F));
}

}  // namespace

Utf8Step decode_utf8_step(std::string_view text, std::size_t offset) {
    auto lead = static_cast<unsigned char>(text[offset]);
    if (lead < 0x80) return {lead, 1, true};
    ByteRange range{};
    std::size_t length = 0;
    if (!second_byte_range(lead, range, length)) return {0, 1, false};
    char32_t code = lead & (length == 2 ? 0x1F : length == 3 ? 0x0F : 0x07);
    for (std::size_t i = 1; i < length; ++i) {
        if (offset + i >= text.size()) return {0, i, false};
        auto byte = static_cast<unsigned char>(text[offset + i]);
        if (byte < range.low || byte > range.high) return {0, i, false};
        code = (code << 6) | (byte & 0x3F);
        range = {0x80, 0xBF};
    }
    return {code, length, true};
}

std::string decode_utf8_lossy(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        auto step = decode_utf8_step(bytes, offset);
        if (step.valid)
            out.append(bytes.substr(offset, step.length));
        else
            out.append("\xEF\xBF\xBD");
        offset += step.length;
    }
    return out;
}

Status check_xml_text(std::string_view text) {
    std::size_t offset = 0;
    while (offset < text.size()) {
        auto step = decode_utf8_step(text, offset);
        if (!step.valid) {
            if (auto surrogate = encoded_surrogate(text, offset))
                return ZandrelError::invalid_input(
                    "text contains a character that XML does not allow: " + format_code_point(*surrogate));
            return ZandrelError::invalid_input("text is not valid UTF-8 at byte " + std::to_string(offset));
        }
        if (is_forbidden_in_xml(step.code_point))
            return ZandrelError::invalid_input("text contains a character that XML does not allow: " +
                                               format_code_point(step.code_point));
        offset += step.length;
    }
    return {};
}

}  // namespace zandrel
