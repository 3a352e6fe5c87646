#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <thread>

#include "srecord/SRecordTestUtil.h"
#include "srecord/S_Record.h"

using namespace srecord;

using namespace srtest;

namespace {

// Several workers drain one image while another thread keeps asking for its length, as the
// progress window does during a load: every byte comes out exactly once, at its own address.
TEST(SRecordThreads, ConcurrentReadersShareTheImage) {
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
    S_Record image;
    ASSERT_EQ(image.Open(f.path(), 1), 0);
    const uint32_t total = image.TotalLength();
    ASSERT_EQ(total, memory.size());

    std::mutex resultLock;
    std::map<uint32_t, uint8_t> seen;
    std::atomic<int> duplicates{0};
    std::atomic<bool> done{false};
    auto worker = [&] {
        Bytes chunk(48);
        for (;;) {
            int n;
            uint32_t address;
            {
                // The chunk and its address must come from the same read.
                std::lock_guard hold(image.Mutex());
                n = image.ReadChunk(chunk.data(), 48, 0xFF);
                address = image.ChunkAddress();
            }
            if (n <= 0)
                return;
            std::lock_guard lock(resultLock);
            for (int i = 0; i < n; ++i) {
                if (!seen.emplace(address + static_cast<uint32_t>(i), chunk[static_cast<size_t>(i)])
                         .second) {
                    ++duplicates;
                }
            }
        }
    };
    std::thread watcher([&] {
        while (!done)
            EXPECT_EQ(image.TotalLength(), total);
    });
    std::vector<std::thread> workers;
    for (int i = 0; i < 3; ++i)
        workers.emplace_back(worker);
    for (auto& t : workers)
        t.join();
    done = true;
    watcher.join();
    EXPECT_EQ(duplicates.load(), 0);
    EXPECT_EQ(seen, memory);
    EXPECT_EQ(image.State(), 1);
}

}  // namespace
