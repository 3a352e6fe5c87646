// Feeds a byte stream to the reader's frame assembly in pieces of varying size, exactly as
// the watch thread would receive it, and hands every complete frame on as the thread does.
// The first two bytes choose the piece sizes; the rest is the stream.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "Internal.h"

namespace {

class CountingWindow : public CHostWindow {
  public:
    void PostMessage(unsigned int, uintptr_t, intptr_t) override { ++posts; }
    unsigned long posts = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static auto events = corvex::AcquireEvents();
    static unsigned char buffer[FRAME_BUFFER_SIZE];
    static unsigned char work[FRAME_BUFFER_SIZE];
    static unsigned char upload[UPLOAD_BUFFER_SIZE];
    if (size < 2) {
        return 0;
    }
    uint32_t seed = (uint32_t{data[0]} << 8) | data[1];
    data += 2;
    size -= 2;

    CountingWindow window;
    corvex::FrameAssembler assembler(buffer);
    size_t pos = 0;
    while (pos < size) {
        const size_t room = assembler.Room();
        unsigned char* at = assembler.WritePos();
        if (room == 0 || at < buffer || at + room > buffer + FRAME_BUFFER_SIZE) {
            std::abort();  // the reader would write outside its frame buffer
        }
        seed = seed * 1103515245u + 12345u;
        size_t piece = 1 + (seed >> 16) % 700;
        size_t n = piece < room ? piece : room;
        if (n > size - pos)
            n = size - pos;
        std::memcpy(at, data + pos, n);
        pos += n;
        if (assembler.Advance(n)) {
            const size_t len = assembler.FrameLength();
            if (len < 5 || len > FRAME_BUFFER_SIZE) {
                std::abort();
            }
            corvex::DispatchFrame(buffer, len, &window, events.get());
            assembler.Clear();
        }
    }
    corvex::CopyResponse(work);
    corvex::TakeUpload(upload);
    if (host_queue.GetMsgCount() != window.posts) {
        std::abort();  // one window message per queued host message
    }
    host_queue.RemoveAllMessages();
    return 0;
}
