// A small valid deck for the slide lifecycle tests (one master, layouts, a
// theme and N slides), edited entry by entry, and readers of the output.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "package_reader.hpp"
#include "test_support.hpp"

namespace zandrel::testing {

inline constexpr std::string_view rel_type_prefix =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
inline const std::string xml_decl = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
inline const std::string root_ns =
    "xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\" "
    "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\" "
    "xmlns:p=\"http://schemas.openxmlformats.org/presentationml/2006/main\"";

struct Rel {
    std::string id;
    std::string type;  // last segment, e.g. "slideLayout", or a full type
    std::string target;
    std::string mode = {};
};

inline std::string rels_xml(const std::vector<Rel>& rels) {
    std::string out = xml_decl + "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    for (const Rel& rel : rels) {
        const std::string type = rel.type.find("://") == std::string::npos ? std::string(rel_type_prefix) + rel.type
                                                                           : rel.type;
        out += "<Relationship Id=\"" + rel.id + "\" Type=\"" + type + "\" Target=\"" + rel.target + "\"" +
               (rel.mode.empty() ? "" : " TargetMode=\"" + rel.mode + "\"") + "/>";
    }
    return out + "</Relationships>";
}

inline std::string slide_xml(std::string_view shapes = {}) {
    return xml_decl + "<p:sld " + root_ns +
           "><p:cSld><p:spTree><p:nvGrpSpPr><p:cNvPr id=\"1\" name=\"\"/><p:cNvGrpSpPr/><p:nvPr/></p:nvGrpSpPr>"
           "<p:grpSpPr/>" +
           std::string(shapes) + "</p:spTree></p:cSld></p:sld>";
}

// The presentation part around the given slide list markup (and extra root
// children after it).
inline std::string presentation_xml(std::string_view slide_list, std::string_view after = {}) {
    return xml_decl + "<p:presentation " + root_ns +
           "><p:sldMasterIdLst><p:sldMasterId id=\"2147483648\" r:id=\"rId1\"/></p:sldMasterIdLst>" +
           std::string(slide_list) + "<p:sldSz cx=\"9144000\" cy=\"6858000\"/><p:notesSz cx=\"6858000\" cy=\"9144000\"/>" +
           std::string(after) + "</p:presentation>";
}

inline std::string slide_list_xml(int slides) {
    std::string ids;
    for (int i = 0; i < slides; ++i)
        ids += "<p:sldId id=\"" + std::to_string(256 + i) + "\" r:id=\"rId" + std::to_string(i + 2) + "\"/>";
    return "<p:sldIdLst>" + ids + "</p:sldIdLst>";
}

inline std::string override_xml(std::string_view part, std::string_view type) {
    return "<Override PartName=\"" + std::string(part) + "\" ContentType=\"" + std::string(type) + "\"/>";
}

inline const std::string pml_type = "application/vnd.openxmlformats-officedocument.presentationml.";

inline std::string content_types_xml(int slides, std::string_view extra = {}) {
    std::string out = xml_decl +
                      "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                      "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
                      "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
                      "<Default Extension=\"png\" ContentType=\"image/png\"/>" +
                      override_xml("/ppt/presentation.xml", pml_type + "presentation.main+xml") +
                      override_xml("/ppt/slideMasters/slideMaster1.xml", pml_type + "slideMaster+xml") +
                      override_xml("/ppt/slideLayouts/slideLayout1.xml", pml_type + "slideLayout+xml");
    for (int i = 1; i <= slides; ++i)
        out += override_xml("/ppt/slides/slide" + std::to_string(i) + ".xml", pml_type + "slide+xml");
    return out + std::string(extra) + "</Types>";
}

inline std::string layout_xml(std::string_view shapes = {}) {
    return xml_decl + "<p:sldLayout " + root_ns +
           "><p:cSld><p:spTree><p:nvGrpSpPr><p:cNvPr id=\"1\" name=\"\"/><p:cNvGrpSpPr/><p:nvPr/></p:nvGrpSpPr>"
           "<p:grpSpPr/>" +
           std::string(shapes) + "</p:spTree></p:cSld></p:sldLayout>";
}

// Entries of a deck with `slides` slides, each using slideLayout1.
inline std::vector<TestEntry> deck_entries(int slides) {
    std::vector<Rel> presentation_rels{{"rId1", "slideMaster", "slideMasters/slideMaster1.xml"}};
    for (int i = 1; i <= slides; ++i)
        presentation_rels.push_back({"rId" + std::to_string(i + 1), "slide", "slides/slide" + std::to_string(i) + ".xml"});
    presentation_rels.push_back({"rId" + std::to_string(slides + 2), "theme", "theme/theme1.xml"});
    std::vector<TestEntry> entries{
        {"[Content_Types].xml", content_types_xml(slides)},
        {"_rels/.rels", rels_xml({{"rId1", "officeDocument", "ppt/presentation.xml"}})},
        {"ppt/presentation.xml", presentation_xml(slide_list_xml(slides))},
        {"ppt/_rels/presentation.xml.rels", rels_xml(presentation_rels)},
        {"ppt/slideMasters/slideMaster1.xml", xml_decl + "<p:sldMaster " + root_ns + "/>"},
        {"ppt/slideMasters/_rels/slideMaster1.xml.rels",
         rels_xml({{"rId1", "slideLayout", "../slideLayouts/slideLayout1.xml"}, {"rId2", "theme", "../theme/theme1.xml"}})},
        {"ppt/slideLayouts/slideLayout1.xml", layout_xml()},
        {"ppt/slideLayouts/_rels/slideLayout1.xml.rels",
         rels_xml({{"rId1", "slideMaster", "../slideMasters/slideMaster1.xml"}})},
        {"ppt/theme/theme1.xml", xml_decl + "<a:theme xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\"/>"},
    };
    for (int i = 1; i <= slides; ++i) {
        const std::string n = std::to_string(i);
        entries.push_back({"ppt/slides/slide" + n + ".xml", slide_xml()});
        entries.push_back({"ppt/slides/_rels/slide" + n + ".xml.rels",
                           rels_xml({{"rId1", "slideLayout", "../slideLayouts/slideLayout1.xml"}})});
    }
    return entries;
}

// Replaces the entry of that name, or appends it.
inline void set_entry(std::vector<TestEntry>& entries, const std::string& name, std::string content) {
    auto found = std::find_if(entries.begin(), entries.end(), [&](const TestEntry& e) { return e.name == name; });
    if (found != entries.end())
        found->content = std::move(content);
    else
        entries.push_back({name, std::move(content)});
}

inline void remove_entry(std::vector<TestEntry>& entries, const std::string& name) {
    std::erase_if(entries, [&](const TestEntry& e) { return e.name == name; });
}

// Every entry of a package: name -> content, and the names in order.
struct PackageContents {
    std::vector<std::string> names;
    std::map<std::string, std::string> parts;
    std::vector<ZipEntry> entries;

    bool has(const std::string& name) const { return parts.contains(name); }
    const std::string& at(const std::string& name) const { return parts.at(name); }
};

inline PackageContents read_package(const std::string& path) {
    PackageContents contents;
    auto archive = open_package(path);
    EXPECT_TRUE(archive.ok()) << archive.error().display();
    if (!archive.ok()) return contents;
    for (std::size_t i = 0; i < archive->entry_count(); ++i) {
        const ZipEntry& entry = archive->entry(i);
        auto opened = archive->open_entry(i);
        EXPECT_TRUE(opened.ok());
        auto data = archive->read_entry(*opened);
        EXPECT_TRUE(data.ok()) << data.error().display();
        contents.names.push_back(entry.name);
        contents.parts[entry.name] = data.ok() ? data.value() : "";
        contents.entries.push_back(entry);
    }
    return contents;
}

template <class T>
std::string failure_text(const Result<T>& result) {
    return result.ok() ? "" : result.error().display();
}

inline std::size_t count_of(std::string_view text, std::string_view needle) {
    std::size_t count = 0;
    for (std::size_t at = text.find(needle); at != std::string_view::npos; at = text.find(needle, at + 1)) ++count;
    return count;
}

}  // namespace zandrel::testing
