#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>

#include "srecord/ChunkReader.h"
#include "srecord/ImageReader.h"
#include "srecord/SRecordTestUtil.h"

using namespace srecord;

using namespace srtest;

namespace {

// Several readers drain one image at once, each on a thread of its own and in chunks of its own
// size, while another thread keeps asking for the image's length, as the progress window does
// during a load: every reader gets every byte exactly once, at its own address.
TEST(SRecordThreads, ReadersOnSeveralThreadsShareOneImage) {
    std::string text;
    std::map<uint32_t, uint8_t> memory;
    for (uint32_t block = 0; block < 40; ++block) {
        uint32_t start = 0x10000 + block * 0x200;
        for (uint32_t off = 0; off < 0x100; off += 32) {
            Bytes data(32);
            for (uint32_t i = 0; i < 32; ++i) {
                data[i] = static_cast<uint8_t>(block * 7 + off + i);
                memory[start + off + i] = data[i];
            }
            text += Rec("S2", start + off, data) + "\n";
        }
    }
    TempFile f(text);
    ReadResult read = ImageReader::Read(f.path());
    ASSERT_TRUE(read);
    const Image& image = *read.image;
    const uint32_t total = image.TotalLength();
    ASSERT_EQ(total, memory.size());

    constexpr int kReaders = 4;
    std::map<uint32_t, uint8_t> seen[kReaders];
    int duplicates[kReaders] = {};
    std::atomic<bool> done{false};
    auto worker = [&](int k) {
        ChunkReader reader(image);
        Bytes chunk(48 + 80 * static_cast<size_t>(k));
        for (;;) {
            const int n = reader.ReadChunk(chunk.data(), static_cast<int>(chunk.size()), 0xFF);
            if (n <= 0)
                return;
            for (int i = 0; i < n; ++i) {
                if (!seen[k]
                         .emplace(reader.ChunkAddress() + static_cast<uint32_t>(i),
                                  chunk[static_cast<size_t>(i)])
                         .second)
                    ++duplicates[k];
            }
        }
    };
    std::thread watcher([&] {
        while (!done)
            EXPECT_EQ(image.TotalLength(), total);
    });
    std::vector<std::thread> workers;
    for (int k = 0; k < kReaders; ++k)
        workers.emplace_back(worker, k);
    for (auto& t : workers)
        t.join();
    done = true;
    watcher.join();
    for (int k = 0; k < kReaders; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(duplicates[k], 0);
        EXPECT_EQ(seen[k], memory);
    }
}

}  // namespace
