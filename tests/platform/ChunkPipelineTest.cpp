#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "platform/ChunkPipeline.h"

namespace lv {
namespace {

// A source of `total` bytes (byte i holds i % 251) in chunks of up to the buffers' size.
ChunkPipeline::Source countingSource(std::uint64_t total, std::uint64_t& next)
{
    return [total, &next](ChunkPipeline::Chunk& c, bool& end, std::string&) {
        const std::uint64_t n = std::min<std::uint64_t>(c.bytes.capacity(), total - next);
        if (n == 0) {
            end = true;
            return true;
        }
        c.bytes.resize(std::size_t(n));
        c.offset = next;
        for (std::size_t i = 0; i < n; ++i)
            c.bytes[i] = std::uint8_t((next + i) % 251);
        next += n;
        return true;
    };
}

TEST(ChunkPipeline, EveryChunkPassesEveryStageInOrder)
{
    std::uint64_t next = 0;
    std::string out;
    std::vector<std::uint64_t> offsets;
    std::vector<ChunkPipeline::Stage> stages = {
        [](ChunkPipeline::Chunk& c, std::string&) {
            for (auto& b : c.bytes)
                b = std::uint8_t(b + 1);
            return true;
        },
        [&](ChunkPipeline::Chunk& c, std::string&) {
            offsets.push_back(c.offset);
            out.append(c.bytes.begin(), c.bytes.end());
            return true;
        },
    };
    ChunkPipeline pipeline(1000, 3, countingSource(123457, next), std::move(stages));
    int idles = 0;
    std::string error;
    ASSERT_TRUE(pipeline.wait([&] { ++idles; }, error)) << error;
    ASSERT_EQ(out.size(), 123457u);
    for (std::size_t i = 0; i < out.size(); ++i)
        ASSERT_EQ(std::uint8_t(out[i]), std::uint8_t(i % 251 + 1)) << i;
    ASSERT_EQ(offsets.size(), 124u);
    for (std::size_t i = 0; i < offsets.size(); ++i)
        EXPECT_EQ(offsets[i], i * 1000);
}

// A stage on several threads finishes chunks out of order; the stage after it sees them in order.
TEST(ChunkPipeline, AStageOnSeveralThreadsHandsItsChunksOnInOrder)
{
    std::uint64_t next = 0;
    std::atomic<int> atOnce{0}, most{0};
    std::vector<std::uint64_t> sequences, offsets;
    std::vector<ChunkPipeline::Stage> stages = {
        [&](ChunkPipeline::Chunk& c, std::string&) {
            most = std::max(most.load(), ++atOnce);
            // Odd chunks take longer, so that later ones overtake them.
            for (int round = 0; round < (c.sequence % 2 ? 200 : 1); ++round)
                for (auto& b : c.bytes)
                    b = std::uint8_t(b * 3 + 1);
            --atOnce;
            return true;
        },
        [&](ChunkPipeline::Chunk& c, std::string&) {
            sequences.push_back(c.sequence);
            offsets.push_back(c.offset);
            return true;
        },
    };
    std::string error;
    {
        ChunkPipeline pipeline(4096, 12, countingSource(4096 * 200, next), std::move(stages), {4, 1});
        ASSERT_TRUE(pipeline.wait({}, error)) << error;
    }
    ASSERT_EQ(sequences.size(), 200u);
    for (std::uint64_t i = 0; i < 200; ++i) {
        EXPECT_EQ(sequences[i], i);
        EXPECT_EQ(offsets[i], i * 4096);
    }
    EXPECT_LE(most.load(), 4);
}

TEST(ChunkPipeline, AFailingStageStopsEverythingWithItsReason)
{
    std::uint64_t next = 0;
    std::atomic<int> after{0};
    std::vector<ChunkPipeline::Stage> stages = {
        [](ChunkPipeline::Chunk& c, std::string& error) {
            if (c.offset < 5000)
                return true;
            error = "disk full";
            return false;
        },
        [&](ChunkPipeline::Chunk&, std::string&) {
            ++after;
            return true;
        },
    };
    ChunkPipeline pipeline(1000, 4, countingSource(1 << 30, next), std::move(stages));
    std::string error;
    EXPECT_FALSE(pipeline.wait({}, error));
    EXPECT_EQ(error, "disk full");
    EXPECT_LE(after.load(), 5);
}

TEST(ChunkPipeline, AnExceptionInTheWaitingThreadLeavesNothingRunning)
{
    // A source that waits for data that never comes, as one following a growing file does.
    std::atomic<bool> entered{false}, released{false};
    std::atomic<ChunkPipeline*> self{nullptr};
    auto pipeline = std::make_unique<ChunkPipeline>(
        1000, 2,
        [&](ChunkPipeline::Chunk&, bool&, std::string&) {
            entered = true;
            while (!self.load() || !self.load()->stopping())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            released = true;
            return true;
        },
        std::vector<ChunkPipeline::Stage>{});
    self = pipeline.get();
    // The source is waiting before the job is cancelled, however late its thread got going.
    while (!entered)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::string error;
    EXPECT_THROW(pipeline->wait([] { throw std::runtime_error("cancelled"); }, error), std::runtime_error);
    // The source is told to stop: were it not, this would never return.
    pipeline.reset();
    EXPECT_TRUE(released);
}

} // namespace
} // namespace lv
