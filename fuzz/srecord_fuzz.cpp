// Feeds arbitrary bytes to the S-Record reader as a file, then reads the image out in every
// way the loaders do. The first two bytes choose the alignment and the chunk length.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "lzrw3a/lzrw3a.h"
#include "srecord/ChunkReader.h"
#include "srecord/ImageReader.h"
#include "streams/MessagePresenter.h"
#include "streams/MessageStreams.h"

using namespace streams;

using namespace srecord;

using namespace lzrw3a;

namespace {

class NullPresenter : public MessagePresenter {
  public:
    void Show(const std::string&, const std::string&) override {}
};

struct File {
    File() {
        fd = memfd_create("srecord_fuzz", 0);
        path = "/proc/self/fd/" + std::to_string(fd);
    }
    int fd;
    std::string path;
};

void Check(bool ok) {
    if (!ok)
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static NullPresenter presenter;
    static File file;
    SetMessagePresenter(&presenter);
    if (size < 2)
        return 0;
    const int alignment = data[0] < 0xF0 ? (data[0] & 0x0F) : (data[0] << 4);
    const int len = 1 + data[1] % 64;
    const int mode = data[1] >> 6;
    if (ftruncate(file.fd, 0) != 0 || pwrite(file.fd, data + 2, size - 2, 0) < 0)
        return 0;

    ReadResult read = ImageReader::Read(file.path);
    if (!read) {
        Check(read.error.code < 0);
        return 0;
    }
    Image& image = *read.image;
    if (mode == 3)
        image.AddChecksumTable(data[0] & 1 ? 0xFFFFFFFFu : 0x100u, 1);
    const uint32_t total = image.TotalLength();
    ChunkReader reader(image, static_cast<uint32_t>(alignment < 1 ? 1 : alignment));
    uint64_t delivered = 0;
    std::vector<uint8_t> buf(static_cast<size_t>(len) + LZRW3A_MAX_EXPANSION);
    std::vector<uint8_t> back(static_cast<size_t>(len));
    for (int i = 0; i < 4096; ++i) {
        int n;
        if (mode == 1) {
            n = reader.ReadWindow(buf.data(), len, 0);
        } else if (mode == 2) {
            // A chunk compressed as the compressed load sends it.
            const int raw = reader.ReadChunk(back.data(), len, 0xFF);
            n = raw;
            if (raw > 0) {
                const uint32_t packed =
                    lzrw3a_compress_buffer(back.data(), static_cast<uint32_t>(raw), buf.data());
                std::vector<uint8_t> again(static_cast<size_t>(len));
                size_t out = 0;
                Check(lzrw3a_decompress_bounded(buf.data(), packed, again.data(), again.size(),
                                                &out));
                Check(out == static_cast<size_t>(raw));
                Check(packed <= static_cast<uint32_t>(raw) + 4);
            }
        } else {
            n = reader.ReadChunk(buf.data(), len, 0xFF);
        }
        if (n <= 0) {
            // Nothing more only once the image is exhausted; without alignment every block
            // byte has come out exactly once by then.
            Check(n < 0 || reader.Exhausted());
            Check(mode != 0 || alignment > 1 || delivered == total);
            break;
        }
        Check(n <= len);
        delivered += static_cast<uint64_t>(n);
    }
    return 0;
}
