// The slide walk of the presentation summary: every slide visited once, on
// worker threads where the deck is large enough, and the error or exception
// of the earliest failing slide reported whatever thread met it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

#include "summary_slide_walk.hpp"
#include "test_support.hpp"
#include "zip_reader.hpp"

namespace zandrel {
namespace {

using testing::TempDir;
using testing::TestEntry;

constexpr std::size_t slide_count = 64;

// Enough slide text (64 slides of 8 KiB) for workers on any machine with
// more than one core.
class SlideWalkTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::vector<TestEntry> entries;
        for (std::size_t i = 0; i < slide_count; ++i) {
            parts_.push_back("ppt/slides/slide" + std::to_string(i + 1) + ".xml");
            entries.push_back({parts_.back(), std::string(8 << 10, 'x') + std::to_string(i)});
        }
        testing::write_test_archive(temp_.file("deck.pptx"), entries);
        auto reader = ZipReader::open(temp_.file("deck.pptx"));
        ASSERT_TRUE(reader.ok()) << reader.error().display();
        archive_.emplace(std::move(*reader));
    }

    TempDir temp_;
    std::vector<std::string> parts_;
    std::optional<ZipReader> archive_;
};

TEST_F(SlideWalkTest, EverySlideIsVisitedOnceThroughAReaderThatReadsIt) {
    std::vector<std::atomic<int>> visits(slide_count);
    std::vector<std::string> contents(slide_count);
    std::mutex lock;
    std::set<std::thread::id> threads;
    Status walked = visit_slides_in_parallel(*archive_, parts_, [&](const ZipReader& reader, std::size_t i) -> Status {
        ++visits[i];
        // slow enough that workers start long before the slides run out
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ZANDREL_TRY(auto opened, reader.open_entry(*reader.find(parts_[i])));
        ZANDREL_TRY(contents[i], reader.read_entry(opened));
        std::lock_guard guard(lock);
        threads.insert(std::this_thread::get_id());
        return {};
    });
    ASSERT_TRUE(walked.ok()) << walked.error().display();
    for (std::size_t i = 0; i < slide_count; ++i) {
        EXPECT_EQ(visits[i], 1) << i;
        EXPECT_EQ(contents[i], std::string(8 << 10, 'x') + std::to_string(i));
    }
    if (std::thread::hardware_concurrency() > 1) EXPECT_GT(threads.size(), 1u);
}

TEST_F(SlideWalkTest, TheEarliestFailingSlideDecides) {
    enum class Fails { Error, Exception };
    struct Case {
        std::vector<std::pair<std::size_t, Fails>> failures;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {{{40, Fails::Error}, {7, Fails::Error}, {63, Fails::Error}}, "error at 7"},
        {{{3, Fails::Exception}, {9, Fails::Error}}, "exception at 3"},
        {{{2, Fails::Error}, {30, Fails::Exception}}, "error at 2"},
        {{{0, Fails::Error}}, "error at 0"},
        {{{63, Fails::Exception}}, "exception at 63"},
    };
    for (const Case& c : cases) {
        // a failure may be met first on any thread, so each case runs often
        for (int round = 0; round < 20; ++round) {
            std::vector<std::atomic<int>> visits(slide_count);
            std::string outcome;
            try {
                Status walked = visit_slides_in_parallel(*archive_, parts_, [&](const ZipReader&, std::size_t i) -> Status {
                    ++visits[i];
                    for (const auto& [position, how] : c.failures) {
                        if (i != position) continue;
                        if (how == Fails::Exception) throw std::runtime_error("exception at " + std::to_string(i));
                        return ZandrelError::invalid_input("error at " + std::to_string(i));
                    }
                    return {};
                });
                outcome = walked.ok() ? "success" : walked.error().detail;
            } catch (const std::runtime_error& error) {
                outcome = error.what();
            }
            ASSERT_EQ(outcome, c.expected) << "round " << round;
            const std::size_t first = std::stoul(c.expected.substr(c.expected.rfind(' ') + 1));
            for (std::size_t i = 0; i <= first; ++i) ASSERT_EQ(visits[i], 1) << i;
        }
    }
}

TEST(SlideWalk, NoSlidesNoVisits) {
    TempDir temp;
    testing::write_test_archive(temp.file("empty.pptx"), {{"ppt/presentation.xml", "<p:presentation/>"}});
    auto reader = ZipReader::open(temp.file("empty.pptx"));
    ASSERT_TRUE(reader.ok()) << reader.error().display();
    int visits = 0;
    Status walked = visit_slides_in_parallel(*reader, {}, [&](const ZipReader&, std::size_t) -> Status {
        ++visits;
        return {};
    });
    EXPECT_TRUE(walked.ok());
    EXPECT_EQ(visits, 0);
}

}  // namespace
}  // namespace zandrel
