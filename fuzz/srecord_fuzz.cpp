// Feeds arbitrary bytes to the S-Record reader as a file, then reads the image out in every
// way the loaders do. The first two bytes choose the alignment and the chunk length.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "lzrw3a/lzrw3a.h"
#include "srecord/S_Record.h"
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
    static S_Record image;  // reused, as the loader reuses its image
    SetMessagePresenter(&presenter);
    if (size < 2)
        return 0;
    const int alignment = data[0] < 0xF0 ? (data[0] & 0x0F) : (data[0] << 4);
    const int len = 1 + data[1] % 64;
    const int mode = data[1] >> 6;
    if (ftruncate(file.fd, 0) != 0 || pwrite(file.fd, data + 2, size - 2, 0) < 0)
        return 0;

    if (image.Open(file.path.c_str(), alignment) != 0) {
        Check(image.GetError() < 0 && image.State() == -1);
        return 0;
    }
    if (mode == 3)
        image.AddChecksumTable(data[0] & 1 ? 0xFFFFFFFFu : 0x100u, 1);
    const uint32_t total = image.TotalLength();
    uint64_t delivered = 0;
    std::vector<uint8_t> buf(static_cast<size_t>(len) + LZRW3A_MAX_EXPANSION);
    std::vector<uint8_t> back(static_cast<size_t>(len));
    for (int i = 0; i < 4096; ++i) {
        int n;
        if (mode == 1) {
            n = image.ReadWindow(buf.data(), len, 0);
        } else if (mode == 2) {
            int raw = 0;
            n = image.ReadCompressedChunk(buf.data(), len, &raw, 0xFF);
            if (n > 0) {
                size_t out = 0;
                Check(lzrw3a_decompress_bounded(buf.data(), static_cast<size_t>(n), back.data(),
                                                back.size(), &out));
                Check(out == static_cast<size_t>(raw));
                Check(raw <= len && n <= raw + 4);
                n = raw;
            }
        } else {
            n = image.ReadChunk(buf.data(), len, 0xFF);
        }
        if (n <= 0) {
            // Nothing more only once the image is exhausted; without alignment every block
            // byte has come out exactly once by then.
            Check(n < 0 || image.State() == 1);
            Check(mode != 0 || alignment > 1 || delivered == total);
            break;
        }
        Check(n <= len);
        delivered += static_cast<uint64_t>(n);
    }
    return 0;
}
