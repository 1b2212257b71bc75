// The typed-argument layer: each entry point of the module is one declarative
// row (name, parameters, core call) and one generic wrapper binds positional
// and keyword arguments, converts them, calls the core and returns its JSON.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "json_output.hpp"
#include "json_text_writer.hpp"
#include "models.hpp"

namespace zandrel::python {

enum class ParamKind {
    Path,              // str, encoded with the file-system encoding
    Text,              // str
    OptionalText,      // str or None
    Unsigned,          // int in 0 .. 2^64-1
    OptionalUnsigned,  // int in 0 .. 2^64-1, or None
    Signed,            // int in -2^63 .. 2^63-1
    TextList,          // sequence of str (a str itself is refused)
    OptionalTextList,  // sequence of str, or None
    UnsignedList,      // sequence of int in 0 .. 2^64-1 (a str is refused)
};

struct Param {
    const char* name;
    ParamKind kind;
    bool defaults_to_none = false;  // may be left out; then None
};

using ArgValue = std::variant<std::string, std::optional<std::string>, std::uint64_t,
                              std::optional<std::uint64_t>, std::int64_t, std::vector<std::string>,
                              std::optional<std::vector<std::string>>, std::vector<std::uint64_t>>;

// The converted arguments, in parameter order.
class Arguments {
public:
    explicit Arguments(std::vector<ArgValue> values) : values_(std::move(values)) {}

    const std::string& text(std::size_t i) const { return std::get<std::string>(values_[i]); }
    const std::optional<std::string>& optional_text(std::size_t i) const {
        return std::get<std::optional<std::string>>(values_[i]);
    }
    std::uint64_t unsigned_value(std::size_t i) const { return std::get<std::uint64_t>(values_[i]); }
    std::optional<std::uint64_t> optional_unsigned(std::size_t i) const {
        return std::get<std::optional<std::uint64_t>>(values_[i]);
    }
    std::int64_t signed_value(std::size_t i) const { return std::get<std::int64_t>(values_[i]); }
    const std::vector<std::string>& text_list(std::size_t i) const {
        return std::get<std::vector<std::string>>(values_[i]);
    }
    const std::optional<std::vector<std::string>>& optional_text_list(std::size_t i) const {
        return std::get<std::optional<std::vector<std::string>>>(values_[i]);
    }
    const std::vector<std::uint64_t>& unsigned_list(std::size_t i) const {
        return std::get<std::vector<std::uint64_t>>(values_[i]);
    }

private:
    std::vector<ArgValue> values_;
};

// A core call: the converted arguments in, a JSON result or a ZandrelError
// out. It may throw nlohmann's parse errors for a malformed JSON parameter;
// the wrapper reports those as RuntimeError with the reader's message.
using CoreCall = std::function<Result<Json>(const Arguments&)>;

// A core call whose record is already written as JSON text, which goes to
// Python as it is. A JsonText error becomes RuntimeError with its message.
using TextCall = std::function<Result<JsonText>(const Arguments&)>;

struct EntryPoint {
    const char* name;
    std::vector<Param> params;
    std::variant<CoreCall, TextCall> call;
};

// Serialises a core result record, keeping its error.
template <class Record>
Result<Json> record_json(Result<Record> result) {
    if (!result) return result.error();
    return Json(std::move(result).value());
}

// Writes a core result record as JSON text, keeping its error.
template <class Record>
Result<JsonText> record_text(const Result<Record>& result) {
    if (!result) return result.error();
    return to_json_text(result.value());
}

// Adds every entry point of a block to the module as a function whose text
// signature is its parameter list. Returns -1 with a Python error set.
int add_entry_points(PyObject* module, std::span<const EntryPoint> block);

}  // namespace zandrel::python
