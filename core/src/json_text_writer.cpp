#include "json_text_writer.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <utility>

#include "xml_chars.hpp"

namespace zandrel {
namespace {

using namespace std::string_view_literals;

constexpr char hex_digits[] = "0123456789abcdef";

// Deeper lines are written with memset; up to this width, line starts are
// copied from `line_starts`, which holds the longest one and the sixteen
// bytes a block copy may read past it.
constexpr std::size_t max_copied_indent = 480;

constexpr auto line_starts = [] {
    std::array<char, 2 + max_copied_indent + 16> bytes{};
    bytes[0] = ',';
    bytes[1] = '\n';
    for (std::size_t i = 2; i < bytes.size(); ++i) bytes[i] = ' ';
    return bytes;
}();
constexpr char upper_hex_digits[] = "0123456789ABCDEF";

// ASCII bytes copied as they are: the printable ones but the quotation mark
// and the backslash.
constexpr bool is_plain_ascii(unsigned char byte) { return byte >= 0x20 && byte < 0x80 && byte != '"' && byte != '\\'; }

std::string encoding_error(std::string_view what, unsigned char byte) {
    std::string message = "[json.exception.type_error.316] ";
    message += what;
    message += "0x";
    message += upper_hex_digits[byte >> 4];
    message += upper_hex_digits[byte & 0xF];
    return message;
}

// The error for the ill-formed sequence that starts at `offset` and whose
// well-formed prefix is `prefix` bytes long, named where nlohmann's decoder
// stops: at the byte that cannot follow, or at the end of the string.
std::string utf8_error(std::string_view text, std::size_t offset, std::size_t prefix) {
    auto lead = static_cast<unsigned char>(text[offset]);
    // a byte that cannot start a sequence is rejected itself
    std::size_t rejected = lead < 0xC2 || lead > 0xF4 ? offset : offset + prefix;
    if (rejected >= text.size())
        return encoding_error("incomplete UTF-8 string; last byte: ", static_cast<unsigned char>(text.back()));
    return encoding_error("invalid UTF-8 byte at index " + std::to_string(rejected) + ": ",
                          static_cast<unsigned char>(text[rejected]));
}

// The escape of a byte below 0x20, a quotation mark or a backslash.
std::string_view escape_of(unsigned char byte, char (&scratch)[6]) {
    switch (byte) {
        case '"': return "\\\"";
        case '\\': return "\\\\";
        case '\b': return "\\b";
        case '\f': return "\\f";
        case '\n': return "\\n";
        case '\r': return "\\r";
        case '\t': return "\\t";
        default:
            scratch[0] = '\\';
            scratch[1] = 'u';
            scratch[2] = '0';
            scratch[3] = '0';
            scratch[4] = hex_digits[byte >> 4];
            scratch[5] = hex_digits[byte & 0xF];
            return {scratch, sizeof scratch};
    }
}

std::uint64_t load_word(const char* bytes) {
    std::uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

// Whether any of the eight bytes needs more than a copy: a byte below 0x20,
// a quotation mark, a backslash, or one of 0x80 and up. (x - n*0x01..) & ~x &
// 0x80.. is non-zero exactly when some byte of x is below n (n <= 0x80).
bool has_special_byte(std::uint64_t word) {
    constexpr std::uint64_t ones = 0x0101010101010101;
    constexpr std::uint64_t highs = 0x8080808080808080;
    auto has_byte_below = [](std::uint64_t x, std::uint64_t n) { return (x - ones * n) & ~x & highs; };
    return ((word & highs) | has_byte_below(word, 0x20) | has_byte_below(word ^ (ones * '"'), 1) |
            has_byte_below(word ^ (ones * '\\'), 1)) != 0;
}

}  // namespace

JsonTextWriter::JsonTextWriter(std::size_t expected_size, std::size_t depth) : outer_depth_(depth) {
    out_.resize(expected_size);
}

void JsonTextWriter::begin_object() { open('{'); }
void JsonTextWriter::end_object() { close('}'); }
void JsonTextWriter::begin_array() { open('['); }
void JsonTextWriter::end_array() { close(']'); }

void JsonTextWriter::key(std::string_view name) {
    start_line();
    write_quoted(name);
    put(": ");
    after_key_ = true;
}

void JsonTextWriter::string(std::string_view text) {
    start_value();
    write_quoted(text);
}

void JsonTextWriter::number(std::int64_t value) {
    start_value();
    constexpr std::size_t widest = 20;  // "-9223372036854775808"
    char* at = claim(widest);
    used_ = static_cast<std::size_t>(std::to_chars(at, at + widest, value).ptr - out_.data());
}

void JsonTextWriter::number(std::uint64_t value) {
    start_value();
    constexpr std::size_t widest = 20;  // "18446744073709551615"
    char* at = claim(widest);
    used_ = static_cast<std::size_t>(std::to_chars(at, at + widest, value).ptr - out_.data());
}

void JsonTextWriter::boolean(bool value) {
    start_value();
    put(value ? "true"sv : "false"sv);
}

void JsonTextWriter::null() {
    start_value();
    put("null");
}

void JsonTextWriter::value_text(const JsonText& value) {
    start_value();
    if (error_) return;
    if (value.error) {
        error_ = value.error;
        return;
    }
    put(value.text);
}

JsonText JsonTextWriter::finish() && {
    if (error_) return {{}, std::move(error_)};
    out_.resize(used_);
    return {std::move(out_), std::nullopt};
}

// A member's value follows its key on the same line; an element starts its own.
void JsonTextWriter::start_value() {
    if (after_key_) {
        after_key_ = false;
        return;
    }
    if (!has_members_.empty()) start_line();
}

void JsonTextWriter::start_line() {
    write_indent(has_members_.back() != 0);
    has_members_.back() = true;
}

// A comma if asked, a line feed, then two spaces per container the line is
// in: a slice of `line_starts`, copied sixteen bytes at a time (lines are
// short and many, and a library call per line cost more than the copy).
void JsonTextWriter::write_indent(bool comma) {
    const std::size_t width = 2 * (outer_depth_ + has_members_.size());
    const std::size_t length = (comma ? 2 : 1) + width;
    if (width > max_copied_indent) {
        char* at = claim(length);
        if (comma) *at++ = ',';
        *at++ = '\n';
        std::memset(at, ' ', width);
        return;
    }
    char* at = room(length + 16);
    const char* from = line_starts.data() + (comma ? 0 : 1);
    for (std::size_t done = 0; done < length; done += 16) std::memcpy(at + done, from + done, 16);
    used_ += length;
}

void JsonTextWriter::open(char bracket) {
    start_value();
    *claim(1) = bracket;
    has_members_.push_back(false);
}

void JsonTextWriter::close(char bracket) {
    bool filled = has_members_.back();
    has_members_.pop_back();
    if (filled) write_indent(false);
    *claim(1) = bracket;
}

void JsonTextWriter::put(std::string_view bytes) { std::memcpy(claim(bytes.size()), bytes.data(), bytes.size()); }

// Doubling keeps the copies of a growing text linear in its final size.
void JsonTextWriter::grow(std::size_t bytes) { out_.resize(std::max(2 * out_.size(), used_ + bytes)); }

// Runs of bytes that need no escape, multi-byte characters included, are
// copied with one append each; ASCII is checked eight bytes at a time.
void JsonTextWriter::write_quoted(std::string_view text) {
    if (error_) return;
    *claim(1) = '"';
    std::size_t copied = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text.size() - i >= 8 && !has_special_byte(load_word(text.data() + i))) {
            i += 8;
            continue;
        }
        auto byte = static_cast<unsigned char>(text[i]);
        if (is_plain_ascii(byte)) {
            ++i;
        } else if (byte >= 0x80) {
            Utf8Step step = decode_utf8_step(text, i);
            if (!step.valid) {
                error_ = utf8_error(text, i, step.length);
                return;
            }
            i += step.length;
        } else {
            put(text.substr(copied, i - copied));
            char scratch[6];
            put(escape_of(byte, scratch));
            copied = ++i;
        }
    }
    put(text.substr(copied));
    *claim(1) = '"';
}

}  // namespace zandrel
