#include <string>

#include <gtest/gtest.h>

#include "text_rewrite.hpp"
#include "text_test_support.hpp"

namespace zandrel {
namespace {

using testing::error_text;

TEST(TextBuilders, ParagraphsPerLineWithOnePlainRunEach) {
    struct Case {
        std::string text;
        std::string expected;
    };
    const std::string empty_run = "<a:r><a:t></a:t></a:r>";
    for (const Case& c : {
             Case{"", "<a:p>" + empty_run + "</a:p>"},
             Case{"a<b", "<a:p><a:r><a:t>a&lt;b</a:t></a:r></a:p>"},
             Case{"one\ntwo", "<a:p><a:r><a:t>one</a:t></a:r></a:p><a:p><a:r><a:t>two</a:t></a:r></a:p>"},
             Case{"x\n", "<a:p><a:r><a:t>x</a:t></a:r></a:p><a:p>" + empty_run + "</a:p>"},
             Case{"\n\n", "<a:p>" + empty_run + "</a:p><a:p>" + empty_run + "</a:p><a:p>" + empty_run + "</a:p>"},
             Case{"r\r\nn", "<a:p><a:r><a:t>r\r</a:t></a:r></a:p><a:p><a:r><a:t>n</a:t></a:r></a:p>"},
         }) {
        auto xml = replacement_paragraphs_xml(c.text);
        ASSERT_TRUE(xml.ok()) << xml.error().display();
        EXPECT_EQ(*xml, c.expected) << c.text;
        XmlEventWriter writer;
        write_replacement_paragraphs(writer, c.text);
        EXPECT_EQ(writer.buffer(), c.expected) << c.text;
    }
    XmlEventWriter writer;
    write_text_run(writer, "\"it's\" & more");
    EXPECT_EQ(writer.buffer(), "<a:r><a:t>&quot;it&apos;s&quot; &amp; more</a:t></a:r>");
    EXPECT_EQ(error_text(replacement_paragraphs_xml("bad \xC0\xAF")),
              "xml text decode error: paragraph text is not valid UTF-8");
}

TEST(TextBuilders, TextBodyContentKeepsEverythingButParagraphs) {
    const std::string body =
        "<p:txBody><a:bodyPr/><a:lstStyle><a:lvl1pPr/></a:lstStyle>\n<a:p><a:r><a:t>a</a:t></a:r></a:p>"
        "<a:p/><!-- kept --><a:p><a:pPr/></a:p></p:txBody><after/>";
    XmlStreamReader reader(body);
    XmlEventWriter writer;
    ASSERT_TRUE(reader.next().ok());  // the body's start tag, written by the caller
    writer.write_raw("<p:txBody>");
    auto dropped = rewrite_text_body_content(reader, writer, "new");
    ASSERT_TRUE(dropped.ok()) << dropped.error().display();
    EXPECT_EQ(*dropped, 3u);
    EXPECT_EQ(writer.buffer(),
              "<p:txBody><a:bodyPr/><a:lstStyle><a:lvl1pPr/></a:lstStyle>\n<!-- kept -->"
              "<a:p><a:r><a:t>new</a:t></a:r></a:p></p:txBody>");
    // the reader stops right after the body
    auto next = reader.next();
    ASSERT_TRUE(next.ok());
    EXPECT_EQ(next->name, "after");
}

}  // namespace
}  // namespace zandrel
