// Which parts of a package are slides, and the order the presentation shows
// them in; the name tests and natural sort order of numbered part names.
// Reads only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "models.hpp"
#include "zip_reader.hpp"

namespace zandrel {

// "ppt/slides/slide" + one or more ASCII digits + ".xml", nothing else.
bool is_slide_part(std::string_view name);
// "ppt/slideLayouts/slideLayout" + one or more ASCII digits + ".xml".
bool is_slide_layout_part(std::string_view name);

// The number of a name "ppt/slides/slide{n}.xml" whose n is an unsigned
// 64-bit decimal (optional "+", leading zeros allowed, no overflow).
std::optional<std::uint64_t> slide_number(std::string_view name);

// One piece of a natural sort key: a run of non-digits (std::string) or the
// value of a run of ASCII digits (0 when it does not fit in 64 bits). Text
// sorts before any number, texts byte-wise, numbers by value; keys compare
// piece by piece, a proper prefix first.
using NaturalChunk = std::variant<std::string, std::uint64_t>;
using NaturalKey = std::vector<NaturalChunk>;

NaturalKey natural_key(std::string_view name);

// The slide parts in presentation order: the order of the presentation's
// slide list when it names exactly the slide parts that exist (each once);
// otherwise every slide part in natural name order (stable, so equal keys
// keep central-directory order). Errors:
//   Zip when an entry cannot be opened (every entry is opened once), or when
//     ppt/presentation.xml exists but cannot be opened;
//   Io when ppt/presentation.xml cannot be read or is not UTF-8
//     ("stream did not contain valid UTF-8"), or when its relationship part
//     cannot be read;
//   Xml when ppt/presentation.xml is malformed.
Result<std::vector<std::string>> slide_parts(const ZipReader& archive);

// Element `index` of `slide_parts`; none at or past the end. Errors as
// `slide_parts`.
Result<std::optional<std::string>> slide_part_at_index(const ZipReader& archive, std::uint64_t index);

// The unescaped values of every attribute longer than two characters ending
// in ":id" of every `sldId` element (any prefix), in document order ("" for a
// value that does not unescape). Xml with the reader's message when the
// presentation is malformed.
Result<std::vector<std::string>> slide_relationship_ids_in_presentation(std::string_view presentation_xml);

}  // namespace zandrel
