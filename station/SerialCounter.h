#pragma once
// Serial numbers handed out from a counter file that several stations share. The file holds the
// next number to hand out, in decimal. A number is taken under a lock and used up only when the
// radio that got it is done: a failed radio gives its number back.

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

namespace station {

class SerialCounter {
  public:
    // One number, held under the counter's lock until committed or dropped.
    class Lease {
      public:
        Lease(Lease&& other) noexcept;
        Lease& operator=(Lease&& other) noexcept;
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        ~Lease();  // without Commit: the lock is released and the file left as it was

        uint32_t Number() const { return number_; }
        // Replaces the file's content with Number() + 1 (a kill leaves the old or the new
        // number, nothing between) and releases the lock. On failure the file is unchanged and
        // the lock still held, so that Commit may be tried again.
        bool Commit(std::string& error);

      private:
        friend class SerialCounter;
        Lease(std::string path, int lockFd, uint32_t number);
        void Release();

        std::string path_;
        int lockFd_ = -1;
        uint32_t number_ = 0;
    };

    explicit SerialCounter(std::string path);
    const std::string& Path() const { return path_; }

    // Locks "<path>.lock", waiting at most timeoutMs (tried once when not positive) or until
    // *cancel becomes true, and reads the number. Nothing, with the reason, when the lock is not
    // had, the file is missing or holds anything but one decimal number below 0xFFFFFFFF.
    std::optional<Lease> Take(std::string& error, const std::atomic<bool>* cancel = nullptr,
                              int timeoutMs = 30000);

  private:
    std::string path_;
};

}  // namespace station
