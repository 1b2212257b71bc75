// Relationship parts: reading them into records, resolving targets to part
// names and back, choosing new ids, and editing relationship parts as text
// (adding one relationship, removing some by id).
//
// A relationship is any element whose local name is "Relationship", whatever
// its prefix or nesting; its attributes are taken by local name ("Id",
// "Type", "Target", "TargetMode"; a later one of the same local name wins),
// values unescaped, an undecodable value read as "".
//
// Two readers: the lenient one never fails on malformed XML and keeps what it
// read before the fault (summaries use it); the strict one fails with Xml,
// so a damaged part never feeds a decision that writes (new ids, the parts a
// deletion may drop).
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "models.hpp"
#include "models_relationships.hpp"
#include "xml_tokenizer.hpp"
#include "zip_reader.hpp"

namespace zandrel {

inline constexpr std::string_view package_relationships_namespace =
    "http://schemas.openxmlformats.org/package/2006/relationships";

// "{dir}/_rels/{name}.rels" for "{dir}/{name}"; "_rels/{name}.rels" without a
// folder, so "" (the package itself) gives "_rels/.rels".
std::string relationship_part_name(std::string_view source_part);

// Lenient, sorted by id bytes (rId10 before rId2), ties by target, stable.
std::vector<RelationshipSummary> parse_relationships(std::string_view content);
// Lenient, in the order the part lists them.
std::vector<RelationshipSummary> parse_relationships_in_document_order(std::string_view content);
// Strict, in the order the part lists them. Xml with the reader's message for
// malformed XML, or "relationship part ends inside an element" when the
// input ends with elements still open.
Result<std::vector<RelationshipSummary>> parse_relationships_strict(std::string_view content);

// The relationships of `source_part` from its relationship part, lenient and
// sorted as `parse_relationships`. An absent or unopenable relationship part
// gives an empty list; Io when it cannot be read.
Result<std::vector<RelationshipSummary>> read_relationships(const ZipReader& archive,
                                                            std::string_view source_part);
// The same, in document order.
Result<std::vector<RelationshipSummary>> read_relationships_in_document_order(
    const ZipReader& archive, std::string_view source_part);
// Strict and in document order: an absent relationship part gives an empty
// list; Zip when it cannot be opened, Io when it cannot be read, Xml as
// `parse_relationships_strict`.
Result<std::vector<RelationshipSummary>> read_relationships_strict(const ZipReader& archive,
                                                                   std::string_view source_part);

// The part name a target points at from `source_part`: a leading "/" is
// dropped and nothing else changed; otherwise the target's pieces are walked
// from the source's folder ("" and "." skipped, ".." drops a folder if there
// is one). Target modes and percent-encoding are not looked at.
std::string resolve_target(std::string_view source_part, std::string_view target);

// The relative target from `source_part` to `target_part`
// (ppt/slides/slide3.xml to ppt/media/image1.png: ../media/image1.png).
std::string make_relative_target(std::string_view source_part, std::string_view target_part);

// "rId{n}" with n one more than the largest "rId" + unsigned decimal id of the
// part ("rId1" when there is none; gaps are not reused). Errors: Xml as
// `parse_relationships_strict`; InvalidInput "no relationship id is left
// after rId18446744073709551615".
Result<std::string> next_relationship_id(std::string_view content);

// The Id of one Relationship start or empty element event, "" when missing.
std::string relationship_id(const XmlEvent& event);

// The text with `<Relationship Id=".." Type=".." Target=".."/>` inserted
// right before the last "</Relationships>", values escaped with `xml_attr`.
// InvalidInput "relationships part is missing </Relationships>".
Result<std::string> add_relationship(std::string_view text, std::string_view id, std::string_view type,
                                     std::string_view target);

// The same element with the values written as given (callers pass plain
// ids, types and part paths), inserted by `insert_before`: XmlText
// "expected closing marker </Relationships>" when the closing tag is missing.
Result<std::string> append_relationship(std::string_view text, std::string_view id, std::string_view type,
                                        std::string_view target);

struct RelationshipRemoval {
    std::string content;
    std::size_t removed = 0;
};

// The content streamed through unchanged except that every Relationship whose
// Id is in `ids` is dropped with its content (text around it stays). An empty
// `ids` returns the content as given. Errors: Xml for malformed XML; XmlText
// "unexpected EOF while removing relationship" when the input ends inside a
// dropped element.
Result<RelationshipRemoval> remove_relationships_by_id(std::string_view content,
                                                       std::span<const std::string> ids);

// Copies of the relationships whose type ends with one of `type_suffixes`
// (e.g. "/image"), in list order.
std::vector<RelationshipSummary> relationships_by_type(std::span<const RelationshipSummary> relationships,
                                                       std::span<const std::string_view> type_suffixes);

// The 157-byte relationship part with no relationships.
std::string empty_relationships_xml();

}  // namespace zandrel
