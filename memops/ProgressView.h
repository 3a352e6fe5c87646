#pragma once
// The "LOADING" progress window as the load sees it. The desktop shows a window with a bar and
// Cancel; the command line draws a bar on stderr; tests record the calls. Every call comes on
// the load's thread; a window hands them to its own.

#include <cstdint>
#include <string>

namespace memops {

class ProgressView {
  public:
    virtual ~ProgressView() = default;
    // Before the first block. total may be 0 (an image with no data).
    virtual void Started(const std::string& title, const std::string& fileName,
                         const std::string& header, uint32_t total) = 0;
    // Bytes of the image done so far and the address being sent.
    virtual void Progress(uint32_t bytesDone, uint32_t address) = 0;
    // The transfer has ended, whichever way.
    virtual void Finished() = 0;
};

// Bar position 0..1000 for bytesDone of total; an image with no data shows as complete.
inline uint32_t ProgressPermille(uint32_t bytesDone, uint32_t total) {
    if (total == 0)
        return 1000;
    uint64_t p = uint64_t(bytesDone) * 1000 / total;
    return p > 1000 ? 1000 : static_cast<uint32_t>(p);
}

}  // namespace memops
