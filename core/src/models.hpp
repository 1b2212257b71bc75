// Records and the error type shared by every operation of the library.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace zandrel {

enum class ErrorKind { Io, Zip, Xml, XmlText, InvalidInput };

// The one error of the library. Its display text is a fixed prefix per kind
// followed by the detail, e.g. "invalid input: slide index 3 was not found".
struct ZandrelError {
    ErrorKind kind;
    std::string detail;

    static ZandrelError io(std::string detail) { return {ErrorKind::Io, std::move(detail)}; }
    static ZandrelError zip(std::string detail) { return {ErrorKind::Zip, std::move(detail)}; }
    static ZandrelError xml(std::string detail) { return {ErrorKind::Xml, std::move(detail)}; }
    static ZandrelError xml_text(std::string detail) { return {ErrorKind::XmlText, std::move(detail)}; }
    static ZandrelError invalid_input(std::string detail) {
        return {ErrorKind::InvalidInput, std::move(detail)};
    }

    std::string display() const;
};

// A value or a ZandrelError; the library's functions return this instead of
// throwing.
template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(ZandrelError error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

    const ZandrelError& error() const { return std::get<1>(state_); }

private:
    std::variant<T, ZandrelError> state_;
};

template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(ZandrelError error) : error_(std::move(error)) {}

    bool ok() const { return !error_.has_value(); }
    explicit operator bool() const { return ok(); }
    const ZandrelError& error() const { return *error_; }

private:
    std::optional<ZandrelError> error_;
};

using Status = Result<void>;

#define ZANDREL_CONCAT_INNER(a, b) a##b
#define ZANDREL_CONCAT(a, b) ZANDREL_CONCAT_INNER(a, b)

// ZANDREL_TRY(auto text, read_text(...)); declares `text` from a Result's value
// or returns its error from the enclosing function.
#define ZANDREL_TRY(declaration, expression)                                   \
    auto ZANDREL_CONCAT(zandrel_result_, __LINE__) = (expression);             \
    if (!ZANDREL_CONCAT(zandrel_result_, __LINE__))                            \
        return ZANDREL_CONCAT(zandrel_result_, __LINE__).error();              \
    declaration = std::move(ZANDREL_CONCAT(zandrel_result_, __LINE__)).value()

// ZANDREL_CHECK(write_entry(...)); returns the error of a failed Status.
#define ZANDREL_CHECK(expression)                                              \
    do {                                                                       \
        if (auto zandrel_status = (expression); !zandrel_status)               \
            return zandrel_status.error();                                     \
    } while (0)

// ---- package records -------------------------------------------------------

enum class PartKind { Xml, Relationships, Media, Embedding, Vba, Binary };

struct PartRecord {
    std::string name;
    std::uint64_t size = 0;
    std::string sha256;
    PartKind kind = PartKind::Binary;
};

struct PackageManifest {
    std::string path;
    std::vector<PartRecord> parts;

    bool has_vba() const;
};

// Counted while an output package is written: one per entry that ends up in
// the output, and whether any of them is a macro project.
struct PackageFacts {
    std::uint64_t part_count = 0;
    bool has_vba = false;
};

}  // namespace zandrel
