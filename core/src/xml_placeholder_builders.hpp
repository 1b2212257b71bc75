// Placeholders of a slide layout turned into the empty placeholders that a new
// slide made from that layout starts with. Works on text, without a parser
// for the walk itself.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "models.hpp"
#include "zip_reader.hpp"

namespace zandrel {

// The layout's placeholder shapes, converted, in document order. A block is
// the text from each "<p:sp>" (exactly, so a start tag with attributes is not
// found) to the next "</p:sp>", nested ones included. Blocks without "<p:ph",
// and date, footer and slide-number placeholders (a block containing
// type="dt", type="ftr" or type="sldNum"), are skipped. In each block the
// first `p:spPr` becomes "<p:spPr/>", the first `p:txBody` an empty text body,
// and every `a:hlinkClick`, `a:hlinkHover` and `p:custDataLst` is dropped
// (they name relationships of the layout, which the new slide does not have).
std::vector<std::string> extract_placeholder_shape_blocks(std::string_view layout_xml);

struct LayoutPlaceholders {
    std::string shapes;  // the converted blocks, concatenated without separators
    // (prefix, raw namespace URI) for the prefixes the blocks use other than
    // a, p and r, as the layout's root element declares them
    std::vector<std::pair<std::string, std::string>> namespaces;
};

// The converted placeholders of the layout that `layout_target` names from
// `slide_part`. Empty when that part is absent or cannot be opened. Io when it
// cannot be read or is not UTF-8 ("stream did not contain valid UTF-8").
Result<LayoutPlaceholders> placeholder_shapes_from_layout(const ZipReader& archive,
                                                          std::string_view slide_part,
                                                          std::string_view layout_target);

}  // namespace zandrel
