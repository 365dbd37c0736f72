#include <gtest/gtest.h>

#include <zlib.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/compression/InflateBuffer.h"
#include "support/TempDir.h"

namespace lv {
namespace {

std::string rawDeflate(const std::string& data)
{
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(deflateBound(&z, uLong(data.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

bool inflate(const std::string& in, std::string& out)
{
    return inflateWhole(std::span(reinterpret_cast<const std::uint8_t*>(in.data()), in.size()),
                        std::span(reinterpret_cast<std::uint8_t*>(out.data()), out.size()));
}

TEST(InflateBuffer, OnlyExactlyOneStreamOfTheExpectedLengthInflates)
{
    const std::string data = test::randomBytes(100000, 4) + std::string(200000, 'a');
    const std::string deflated = rawDeflate(data);

    std::string out(data.size(), '\0');
    ASSERT_TRUE(inflate(deflated, out));
    EXPECT_EQ(out, data);

    // Deflate data carry no check of their own (the zip records' CRC-32 is that): only what is
    // no deflate stream is refused, here a block of the reserved type.
    std::string damaged = deflated;
    damaged[0] = char(0x07);
    const struct {
        const char* what;
        std::string in;
        std::size_t outSize;
    } refused[] = {
        {"a longer result than expected", deflated, data.size() - 1},
        {"a shorter result than expected", deflated, data.size() + 1},
        {"bytes after the stream", deflated + "x", data.size()},
        {"a stream cut short", deflated.substr(0, deflated.size() - 10), data.size()},
        {"damaged data", damaged, data.size()},
        {"nothing at all", "", 0},
    };
    for (const auto& c : refused) {
        std::string o(c.outSize, '\0');
        EXPECT_FALSE(inflate(c.in, o)) << c.what;
    }

    // Threads inflate at once, each with its own decoder.
    std::vector<std::thread> threads;
    std::vector<int> good(8, 0);
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            std::string o(data.size(), '\0');
            for (int i = 0; i < 20; ++i) good[std::size_t(t)] += inflate(deflated, o) && o == data;
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(good, std::vector<int>(8, 20));
}

} // namespace
} // namespace lv
