#include <optional>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include "damaged_archive.hpp"
#include "package_content_types.hpp"
#include "package_reader.hpp"
#include "test_support.hpp"

namespace zandrel {
namespace {

using testing::TempDir;

const std::string types_head =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">";
const std::string slide_type = "application/vnd.openxmlformats-officedocument.presentationml.slide+xml";

std::string types(const std::string& body) { return types_head + body + "</Types>"; }

// ---- lookups ---------------------------------------------------------------

TEST(ContentTypesFindOverride, MatchesThePartNameExactly) {
    const std::string text = types(
        "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
        "<Override PartName=\"/ppt/slides/slide1.xml\" ContentType=\"" + slide_type + "\"/>"
        "<ct:Override PartName=\"/ppt/a&amp;b.xml\" ContentType=\"x/&quot;y&quot;\"/>"
        "<Override PartName=\"/ppt/bare.xml\"/>"
        "<Override PartName=\"/ppt/slides/slide1.xml\" ContentType=\"second\"/>");
    const std::tuple<std::string, std::optional<std::string>> cases[] = {
        {"ppt/slides/slide1.xml", slide_type},
        {"/ppt/slides/slide1.xml", slide_type},  // first match wins
        {"/PPT/slides/slide1.xml", std::nullopt},
        {"ppt/a&b.xml", "x/\"y\""},
        {"ppt/bare.xml", ""},
        {"ppt/slides/slide2.xml", std::nullopt},
        {"xml", std::nullopt},  // Defaults are not overrides
    };
    for (const auto& [name, expected] : cases) EXPECT_EQ(find_content_type_override(text, name), expected) << name;
}

TEST(ContentTypesFindOverride, MalformedXmlEndsTheSearch) {
    const std::string text = types_head + "<Override PartName=\"/a.xml\" ContentType=\"t\"/><x </Types>"
                             "<Override PartName=\"/b.xml\" ContentType=\"u\"/>";
    EXPECT_EQ(find_content_type_override(text, "a.xml"), std::optional<std::string>("t"));
    EXPECT_EQ(find_content_type_override(text, "b.xml"), std::nullopt);
}

// ---- ensure and append -----------------------------------------------------

TEST(ContentTypesEnsureDefault, AddsEachExtensionOnce) {
    auto once = ensure_default_content_type(types(""), "png", "image/png");
    ASSERT_TRUE(once.ok());
    EXPECT_EQ(*once, types("<Default Extension=\"png\" ContentType=\"image/png\"/>"));
    auto twice = ensure_default_content_type(*once, "png", "image/other");
    ASSERT_TRUE(twice.ok());
    EXPECT_EQ(*twice, *once);
}

TEST(ContentTypesEnsureDefault, ComparesTheExtensionCaseSensitively) {
    const std::string upper = types("<Default Extension=\"PNG\" ContentType=\"image/png\"/>");
    auto lower = ensure_default_content_type(upper, "png", "image/png");
    ASSERT_TRUE(lower.ok());
    EXPECT_EQ(*lower, types("<Default Extension=\"PNG\" ContentType=\"image/png\"/>"
                            "<Default Extension=\"png\" ContentType=\"image/png\"/>"));
}

TEST(ContentTypesEnsureDefault, RecognisesTheEscapedFormOfAValue) {
    auto first = ensure_default_content_type(types(""), "a&b", "x/<y>");
    ASSERT_TRUE(first.ok());
    EXPECT_EQ(*first, types("<Default Extension=\"a&amp;b\" ContentType=\"x/&lt;y&gt;\"/>"));
    auto second = ensure_default_content_type(*first, "a&b", "x/<y>");
    ASSERT_TRUE(second.ok());
    EXPECT_EQ(*second, *first);
}

TEST(ContentTypesEnsureOverride, AddsEachPartOnceEscaped) {
    auto once = ensure_content_type_override(types(""), "/ppt/slides/slide4.xml", slide_type);
    ASSERT_TRUE(once.ok());
    EXPECT_EQ(*once, types("<Override PartName=\"/ppt/slides/slide4.xml\" ContentType=\"" + slide_type + "\"/>"));
    auto twice = ensure_content_type_override(*once, "/ppt/slides/slide4.xml", slide_type);
    ASSERT_TRUE(twice.ok());
    EXPECT_EQ(*twice, *once);

    auto ampersand = ensure_content_type_override(types(""), "/ppt/embeddings/R&D.bin", "t");
    ASSERT_TRUE(ampersand.ok());
    EXPECT_EQ(*ampersand, types("<Override PartName=\"/ppt/embeddings/R&amp;D.bin\" ContentType=\"t\"/>"));
    auto again = ensure_content_type_override(*ampersand, "/ppt/embeddings/R&D.bin", "t");
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(*again, *ampersand);
}

TEST(ContentTypesAppendOverride, AppendsWithoutProbingOrEscaping) {
    const std::string existing = types("<Override PartName=\"/a.xml\" ContentType=\"t\"/>");
    auto appended = append_content_type_override(existing, "/a.xml", "t&u");
    ASSERT_TRUE(appended.ok());
    EXPECT_EQ(*appended, types("<Override PartName=\"/a.xml\" ContentType=\"t\"/>"
                               "<Override PartName=\"/a.xml\" ContentType=\"t&u\"/>"));
}

TEST(ContentTypesEdits, MissingClosingTagErrors) {
    const std::string broken = types_head + "<Default Extension=\"xml\" ContentType=\"application/xml\"/>";
    auto by_default = ensure_default_content_type(broken, "png", "image/png");
    ASSERT_FALSE(by_default.ok());
    EXPECT_EQ(by_default.error().display(), "invalid input: [Content_Types].xml is missing </Types>");
    auto by_override = ensure_content_type_override(broken, "/a.xml", "t");
    ASSERT_FALSE(by_override.ok());
    EXPECT_EQ(by_override.error().display(), "invalid input: [Content_Types].xml is missing </Types>");
    auto appended = append_content_type_override(broken, "/a.xml", "t");
    ASSERT_FALSE(appended.ok());
    EXPECT_EQ(appended.error().display(), "xml text decode error: expected closing marker </Types>");
    // a declared extension needs no closing tag
    auto declared = ensure_default_content_type(broken, "xml", "application/xml");
    ASSERT_TRUE(declared.ok());
    EXPECT_EQ(*declared, broken);
}

// ---- extensions and media types -------------------------------------------

TEST(ContentTypesExtensions, MediaExtensionOfTheLastComponent) {
    const std::tuple<std::string, std::optional<std::string>> cases[] = {
        {"/tmp/Photo.JPEG", "jpeg"},
        {"clip.Mp4", "mp4"},
        {"archive.tar.GZ", "gz"},
        {"dir.d/file", std::nullopt},
        {"/tmp/.png", std::nullopt},
        {"photo.", ""},
        {"..png", "png"},
        {"a/b.png/", "png"},
        {"a/b.png/.", "png"},
        {"a/..", std::nullopt},
        {"", std::nullopt},
        {"/", std::nullopt},
        {"x.\xC3\x89X", "\xC3\x89x"},  // only A-Z are lowered
        {"x.\xFF", std::nullopt},       // not UTF-8
    };
    for (const auto& [path, expected] : cases) {
        auto extension = media_extension(path, "movie");
        if (expected) {
            ASSERT_TRUE(extension.ok()) << path << ": " << extension.error().display();
            EXPECT_EQ(*extension, *expected) << path;
        } else {
            ASSERT_FALSE(extension.ok()) << path;
            EXPECT_EQ(extension.error().display(), "invalid input: movie path has no extension: " + path);
        }
    }
}

TEST(ContentTypesExtensions, ImageExtensionsAndTheirTypes) {
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"a.png", "png", "image/png"},     {"Photo.JPEG", "jpg", "image/jpeg"}, {"x.Jpe", "jpg", "image/jpeg"},
        {"x.jfif", "jpg", "image/jpeg"},   {"x.jpg", "jpg", "image/jpeg"},      {"scan.TIF", "tiff", "image/tiff"},
        {"scan.tiff", "tiff", "image/tiff"}, {"a.GIF", "gif", "image/gif"},     {"a.bmp", "bmp", "image/bmp"},
    };
    for (const auto& [path, extension, type] : cases) {
        auto found = image_extension(path);
        ASSERT_TRUE(found.ok()) << path;
        EXPECT_EQ(*found, extension) << path;
        auto media_type = image_content_type(*found);
        ASSERT_TRUE(media_type.ok()) << path;
        EXPECT_EQ(*media_type, type) << path;
    }
    EXPECT_EQ(image_content_type("jpeg").value(), "image/jpeg");
    EXPECT_EQ(image_content_type("tif").value(), "image/tiff");

    auto webp = image_extension("x.webp");
    ASSERT_TRUE(webp.ok());
    auto unsupported = image_content_type(*webp);
    ASSERT_FALSE(unsupported.ok());
    EXPECT_EQ(unsupported.error().display(), "invalid input: unsupported image extension: webp");
    auto none = image_extension("noext");
    ASSERT_FALSE(none.ok());
    EXPECT_EQ(none.error().display(), "invalid input: image path has no extension: noext");
}

// ---- part naming -----------------------------------------------------------

TEST(ContentTypesNaming, NumberedMediaAndEmbeddingNamesFillGaps) {
    TempDir dir;
    const std::string path = dir.file("deck.pptx");
    testing::write_test_archive(path, {
        {"ppt/media/", ""},
        {"ppt/media/image1.png", "a"},
        {"ppt/media/image2.jpg", "b"},
        {"ppt/media/image3.png", "c"},
        {"ppt/media/media1.mp4", "d"},
        {"ppt/embeddings/oleObject1.bin", "e"},
        {"ppt/embeddings/oleObject2.bin", "f"},
    });
    auto archive = open_package(path);
    ASSERT_TRUE(archive.ok());
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"image", "png", "ppt/media/image2.png"},
        {"image", "jpg", "ppt/media/image1.jpg"},
        {"image", "gif", "ppt/media/image1.gif"},
        {"media", "mp4", "ppt/media/media2.mp4"},
    };
    for (const auto& [prefix, extension, expected] : cases) {
        auto name = next_numbered_media_part(*archive, prefix, extension);
        ASSERT_TRUE(name.ok()) << name.error().display();
        EXPECT_EQ(*name, expected);
    }
    auto embedding = next_embedding_part(*archive);
    ASSERT_TRUE(embedding.ok());
    EXPECT_EQ(*embedding, "ppt/embeddings/oleObject3.bin");
    auto names = list_part_names(*archive);
    ASSERT_TRUE(names.ok());
    EXPECT_EQ(names->size(), 7u);
    EXPECT_EQ(names->front(), "ppt/media/");
}

TEST(ContentTypesNaming, AnEntryThatCannotBeOpenedIsAZipError) {
    TempDir dir;
    const std::string path = dir.file("deck.pptx");
    testing::write_test_archive(path, {{"ppt/media/image1.png", "a"}, {"docProps/app.xml", "<x/>"}});
    testing::damage_local_header(path, "docProps/app.xml");
    auto archive = open_package(path);
    ASSERT_TRUE(archive.ok());
    auto media = next_numbered_media_part(*archive, "image", "png");
    ASSERT_FALSE(media.ok());
    EXPECT_EQ(media.error().kind, ErrorKind::Zip);
    EXPECT_EQ(media.error().display(), "zip error: invalid local header of entry docProps/app.xml");
    auto embedding = next_embedding_part(*archive);
    ASSERT_FALSE(embedding.ok());
    EXPECT_EQ(embedding.error().kind, ErrorKind::Zip);
}

TEST(ContentTypesNaming, NextFreeNumberedPartFollowsTheModel) {
    PartNameSet used = {"ppt/slides/slide1.xml", "ppt/slides/slide2.xml"};
    EXPECT_EQ(next_free_numbered_part(used, "ppt/slides/slide7.xml"), "ppt/slides/slide3.xml");
    EXPECT_EQ(next_free_numbered_part(used, "ppt/slides/slide7.xml"), "ppt/slides/slide4.xml");
    EXPECT_TRUE(used.contains("ppt/slides/slide4.xml"));

    PartNameSet empty;
    const std::pair<std::string, std::string> cases[] = {
        {"ppt/notesSlides/notesSlide12.xml", "ppt/notesSlides/notesSlide1.xml"},
        {"ppt/charts/chart3.xml", "ppt/charts/chart1.xml"},
        {"ppt/embeddings/Microsoft_Excel_Worksheet12.xlsx", "ppt/embeddings/Microsoft_Excel_Worksheet1.xlsx"},
        {"ppt/media/image", "ppt/media/image1"},
        {"chart2.xml", "chart1.xml"},
        {"ppt/a1.b2/c3", "ppt/a1.b2/c1"},
        {"ppt/x.tar.gz", "ppt/x.tar1.gz"},
    };
    for (const auto& [model, expected] : cases) EXPECT_EQ(next_free_numbered_part(empty, model), expected) << model;
}

}  // namespace
}  // namespace zandrel
