#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "output_file.hpp"
#include "zip_reader.hpp"
#include "zip_test_support.hpp"
#include "zip_writer.hpp"

namespace zandrel {
namespace {

using namespace testing;

std::vector<std::string> listing(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& item : std::filesystem::directory_iterator(folder)) names.push_back(item.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// Sets the process umask for one test.
class Umask {
public:
    explicit Umask(mode_t mask) : previous_(::umask(mask)) {}
    ~Umask() { ::umask(previous_); }

private:
    mode_t previous_;
};

Status write_text(const OutputFile& file, std::string_view text) {
    return ::write(file.fd(), text.data(), text.size()) == static_cast<ssize_t>(text.size())
               ? Status{}
               : Status{ZandrelError::io("short write")};
}

TEST(OutputFile, CreatesParentDirectories) {
    TempDir temp;
    EXPECT_TRUE(create_parent_directories(temp.file("a/b/c/out.pptx")).ok());
    EXPECT_TRUE(std::filesystem::is_directory(temp.path() / "a/b/c"));
    EXPECT_TRUE(create_parent_directories(temp.file("a/b/c/out.pptx")).ok());  // existing is fine
    EXPECT_TRUE(create_parent_directories("out.pptx").ok());                    // no parent at all
    write_file(temp.file("file"), "x");
    const Status blocked = create_parent_directories(temp.file("file/sub/out.pptx"));
    ASSERT_FALSE(blocked.ok());
    EXPECT_EQ(blocked.error().display(), "io error: Not a directory");
}

TEST(OutputFile, CommitReplacesTheOutputWithUmaskedMode) {
    TempDir temp;
    const Umask mask(027);
    const std::string path = temp.file("out.pptx");
    write_file(path, "old content");
    ::chmod(path.c_str(), 0600);
    auto file = OutputFile::create(path);
    ASSERT_TRUE(file.ok()) << file.error().display();
    ASSERT_TRUE(write_text(*file, "new content").ok());
    EXPECT_EQ(listing(temp.path()).size(), 2u);  // the output and the temporary file beside it
    EXPECT_EQ(read_file(path), "old content");
    ASSERT_TRUE(file->commit().ok());
    EXPECT_EQ(read_file(path), "new content");
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_EQ(listing(temp.path()), std::vector<std::string>{"out.pptx"});
    const Status again = file->commit();
    ASSERT_FALSE(again.ok());
    EXPECT_EQ(again.error().display(), "io error: Bad file descriptor");
}

TEST(OutputFile, AFailureMidwayLeavesTheOutputUntouched) {
    ZANDREL_REQUIRE_CORPUS();
    TempDir temp;
    const std::string deck = (corpus_dir / "tika__testPPT_groups.pptx").string();
    for (const bool existing : {true, false}) {
        SCOPED_TRACE(existing ? "existing output" : "no output yet");
        const std::string path = temp.file("out.pptx");
        const std::string before = "an earlier output";
        if (existing) write_file(path, before);
        {
            auto reader = ZipReader::open(deck);
            ASSERT_TRUE(reader.ok());
            auto file = OutputFile::create(path);
            ASSERT_TRUE(file.ok());
            ZipWriter writer(file->fd());
            for (std::size_t i = 0; i < reader->entry_count() / 2; ++i) ASSERT_TRUE(writer.copy_raw(*reader, i).ok());
            // dropped here without commit, as an operation failing midway would
        }
        if (existing) {
            EXPECT_EQ(read_file(path), before);
            EXPECT_EQ(listing(temp.path()), std::vector<std::string>{"out.pptx"});
        } else {
            EXPECT_TRUE(listing(temp.path()).empty());
        }
        std::filesystem::remove(path);
    }
}

TEST(OutputFile, WritingOverTheInputIsSafe) {
    ZANDREL_REQUIRE_CORPUS();
    TempDir temp;
    const std::string path = temp.file("deck.pptx");
    std::filesystem::copy_file(corpus_dir / "tika__testPPT_groups.pptx", path);
    const std::string original = read_file(path);
    {
        auto reader = ZipReader::open(path);
        ASSERT_TRUE(reader.ok());
        auto file = OutputFile::create(path);
        ASSERT_TRUE(file.ok());
        ZipWriter writer(file->fd());
        for (std::size_t i = 0; i < reader->entry_count(); ++i) ASSERT_TRUE(writer.copy_raw(*reader, i).ok());
        ASSERT_TRUE(writer.finish().ok());
        ASSERT_TRUE(file->commit().ok());
    }
    // The deck has no archive comment and no gaps, so a full raw copy is the same file.
    EXPECT_TRUE(read_file(path) == original);
    EXPECT_EQ(listing(temp.path()), std::vector<std::string>{"deck.pptx"});
}

TEST(OutputFile, CreateFailsWithTheSystemText) {
    TempDir temp;
    std::filesystem::create_directory(temp.path() / "folder");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {temp.file("missing/out.pptx"), "io error: No such file or directory"},
        {temp.file("folder"), "io error: Is a directory"},
        {temp.file("folder") + "/", "io error: Is a directory"},
        {"", "io error: No such file or directory"},
    };
    for (const auto& [path, expected] : cases) {
        SCOPED_TRACE(path);
        auto file = OutputFile::create(path);
        ASSERT_FALSE(file.ok());
        EXPECT_EQ(file.error().display(), expected);
    }
    EXPECT_EQ(listing(temp.path()), std::vector<std::string>{"folder"});
}

}  // namespace
}  // namespace zandrel
