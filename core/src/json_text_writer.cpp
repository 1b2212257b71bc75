#include "json_text_writer.hpp"

#include <charconv>
#include <utility>

#include "xml_chars.hpp"

namespace zandrel {
namespace {

constexpr char hex_digits[] = "0123456789abcdef";
constexpr char upper_hex_digits[] = "0123456789ABCDEF";

// Bytes copied unchanged when they lead nothing: printable ASCII but the
// quotation mark and the backslash.
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

void append_escape(std::string& out, unsigned char byte) {
    switch (byte) {
        case '"': out += "\\\""; return;
        case '\\': out += "\\\\"; return;
        case '\b': out += "\\b"; return;
        case '\f': out += "\\f"; return;
        case '\n': out += "\\n"; return;
        case '\r': out += "\\r"; return;
        case '\t': out += "\\t"; return;
        default: {
            const char escape[] = {'\\', 'u', '0', '0', hex_digits[byte >> 4], hex_digits[byte & 0xF]};
            out.append(escape, sizeof escape);
        }
    }
}

}  // namespace

JsonTextWriter::JsonTextWriter(std::size_t expected_size) { out_.reserve(expected_size); }

void JsonTextWriter::begin_object() { open('{'); }
void JsonTextWriter::end_object() { close('}'); }
void JsonTextWriter::begin_array() { open('['); }
void JsonTextWriter::end_array() { close(']'); }

void JsonTextWriter::key(std::string_view name) {
    start_line();
    write_quoted(name);
    out_ += ": ";
    after_key_ = true;
}

void JsonTextWriter::string(std::string_view text) {
    start_value();
    write_quoted(text);
}

void JsonTextWriter::number(std::int64_t value) {
    start_value();
    char digits[24];
    auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out_.append(digits, end);
}

void JsonTextWriter::number(std::uint64_t value) {
    start_value();
    char digits[24];
    auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out_.append(digits, end);
}

void JsonTextWriter::boolean(bool value) {
    start_value();
    out_ += value ? "true" : "false";
}

void JsonTextWriter::null() {
    start_value();
    out_ += "null";
}

JsonText JsonTextWriter::finish() && {
    if (error_) return {{}, std::move(error_)};
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
    out_ += has_members_.back() ? ",\n" : "\n";
    has_members_.back() = true;
    out_.append(2 * has_members_.size(), ' ');
}

void JsonTextWriter::open(char bracket) {
    start_value();
    out_ += bracket;
    has_members_.push_back(false);
}

void JsonTextWriter::close(char bracket) {
    bool filled = has_members_.back();
    has_members_.pop_back();
    if (filled) {
        out_ += '\n';
        out_.append(2 * has_members_.size(), ' ');
    }
    out_ += bracket;
}

// Runs of bytes that need no escape, multi-byte characters included, are
// copied with one append each.
void JsonTextWriter::write_quoted(std::string_view text) {
    if (error_) return;
    out_ += '"';
    std::size_t copied = 0;
    std::size_t i = 0;
    while (i < text.size()) {
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
            out_.append(text.data() + copied, i - copied);
            append_escape(out_, byte);
            copied = ++i;
        }
    }
    out_.append(text.data() + copied, text.size() - copied);
    out_ += '"';
}

}  // namespace zandrel
