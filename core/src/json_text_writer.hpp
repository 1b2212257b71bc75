// Pretty-printed JSON written straight into one string, part by part, with
// no value tree in between. The text is byte for byte what nlohmann's
// dump(2) prints for the same value: two-space indentation, one member or
// element per line, ": " after a key, [] and {} for empty containers,
// integers in decimal, strings with nlohmann's escapes (\" \\ \b \f \n \r \t,
// other bytes below 0x20 as \u00xx in lower-case hex), UTF-8 copied as is,
// and no line feed at the end.
//
// Input: the parts of one value in document order; the caller keeps the
// containers balanced and gives a key before each object member.
// Output: `finish` gives the text, or the error of the first key or string
// that is not valid UTF-8, worded as nlohmann's type_error 316 words it
// ({i} the byte's offset in that string, {XX} the byte in upper-case hex):
//   "[json.exception.type_error.316] invalid UTF-8 byte at index {i}: 0x{XX}"
//     at the first byte that cannot continue a well-formed sequence;
//   "[json.exception.type_error.316] incomplete UTF-8 string; last byte: 0x{XX}"
//     when the string ends inside a sequence.
// After an error the remaining parts are not written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zandrel {

// A finished JSON document, or why it could not be written.
struct JsonText {
    std::string text;                  // empty when `error` is set
    std::optional<std::string> error;  // one of the messages above
};

class JsonTextWriter {
public:
    // `expected_size` is reserved up front; the text may grow past it.
    // `depth` is the number of containers the written value will sit in:
    // its inner lines are indented as they will be there.
    explicit JsonTextWriter(std::size_t expected_size = 64 * 1024, std::size_t depth = 0);

    void begin_object();
    void end_object();
    void begin_array();
    void end_array();
    void key(std::string_view name);
    void string(std::string_view text);
    void number(std::int64_t value);
    void number(std::uint64_t value);
    void boolean(bool value);
    void null();
    // A value written apart, by a writer given this writer's depth at this
    // point; its error, unless this writer has met one already, becomes
    // this writer's error.
    void value_text(const JsonText& value);

    JsonText finish() &&;

private:
    void start_value();
    void start_line();
    void open(char bracket);
    void close(char bracket);
    void write_quoted(std::string_view text);
    void write_indent(bool comma);
    void grow(std::size_t bytes);

    // `bytes` writable bytes at the end of the text, not yet counted in it.
    char* room(std::size_t bytes) {
        if (out_.size() - used_ < bytes) grow(bytes);
        return out_.data() + used_;
    }
    // The same, counted in the text.
    char* claim(std::size_t bytes) {
        char* at = room(bytes);
        used_ += bytes;
        return at;
    }
    void put(std::string_view bytes);

    // The string is kept sized to its capacity and `used_` marks the end of
    // the text: appends are then one bounds check and one copy.
    std::string out_;
    std::size_t used_ = 0;
    std::size_t outer_depth_ = 0;             // containers around the text
    std::vector<unsigned char> has_members_;  // one per open container
    bool after_key_ = false;
    std::optional<std::string> error_;
};

}  // namespace zandrel
