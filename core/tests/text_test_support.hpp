// Slide markup for the text edit tests: shapes with text bodies, pictures,
// groups, and a slide around them, written compactly as PowerPoint does.
#pragma once

#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "models.hpp"
#include "text_rewrite.hpp"

namespace zandrel::testing {

// A `p:sp` named `name` whose text body holds the given paragraph markup;
// `body` replaces the whole `p:txBody` when given.
inline std::string text_shape(std::string_view name, std::string_view paragraphs,
                              std::string_view body = {}) {
    const std::string text_body =
        body.empty() ? "<p:txBody><a:bodyPr wrap=\"none\"/><a:lstStyle/>" + std::string(paragraphs) +
                           "</p:txBody>"
                     : std::string(body);
    return "<p:sp><p:nvSpPr><p:cNvPr id=\"2\" name=\"" + std::string(name) +
           "\"/><p:cNvSpPr/><p:nvPr/></p:nvSpPr><p:spPr/>" + text_body + "</p:sp>";
}

// A paragraph of one plain run per text.
inline std::string plain_paragraph(std::initializer_list<std::string_view> runs) {
    std::string out = "<a:p>";
    for (std::string_view run : runs) out += "<a:r><a:rPr lang=\"en-US\"/><a:t>" + std::string(run) + "</a:t></a:r>";
    return out + "</a:p>";
}

inline std::string picture_shape(std::string_view name) {
    return "<p:pic><p:nvPicPr><p:cNvPr id=\"3\" name=\"" + std::string(name) +
           "\"/><p:cNvPicPr/><p:nvPr/></p:nvPicPr><p:blipFill/><p:spPr/></p:pic>";
}

inline std::string group_shape(std::string_view children) {
    return "<p:grpSp><p:nvGrpSpPr><p:cNvPr id=\"4\" name=\"G\"/><p:cNvGrpSpPr/><p:nvPr/></p:nvGrpSpPr>"
           "<p:grpSpPr/>" +
           std::string(children) + "</p:grpSp>";
}

inline std::string text_slide(std::string_view shapes) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
           "<p:sld xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\" "
           "xmlns:p=\"http://schemas.openxmlformats.org/presentationml/2006/main\"><p:cSld><p:spTree>"
           "<p:nvGrpSpPr><p:cNvPr id=\"1\" name=\"\"/><p:cNvGrpSpPr/><p:nvPr/></p:nvGrpSpPr><p:grpSpPr/>" +
           std::string(shapes) + "</p:spTree></p:cSld></p:sld>";
}

// The edit's XML, failing the test on an error.
inline SlideTextEdit edited(const Result<SlideTextEdit>& result) {
    EXPECT_TRUE(result.ok()) << result.error().display();
    return result.ok() ? result.value() : SlideTextEdit{};
}

inline std::string error_text(const Status& status) { return status.ok() ? "" : status.error().display(); }

template <class T>
std::string error_text(const Result<T>& result) {
    return result.ok() ? "" : result.error().display();
}

}  // namespace zandrel::testing
