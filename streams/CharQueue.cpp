#include "streams/CharQueue.h"

#include <new>

#include "streams/MessageStreams.h"

namespace streams {

namespace {
char* Allocate(size_t n) {
    return NewArrayOrExit<char>("pChar Class", n);
}
}  // namespace

CharQueue::CharQueue(size_t size, size_t maximum)
    : storage_(nullptr),
      capacity_(size + 1),
      initial_(size + 1),
      count_(0),
      read_(0),
      write_(0),
      maximum_(maximum > size + 1 ? maximum : size + 1) {
    storage_ = Allocate(capacity_);
}

CharQueue::~CharQueue() {
    delete[] storage_;
}

bool CharQueue::Put(char ch) {
    if (count_ + 1 >= capacity_ && capacity_ >= maximum_)
        return false;
    storage_[write_] = ch;
    ++count_;
    if (count_ >= capacity_)
        Grow();  // leaves write_ on the last character held
    write_ = (write_ + 1) % capacity_;
    return true;
}

void CharQueue::Grow() {
    size_t extra = maximum_ - capacity_;
    if (extra > 32)
        extra = 32;
    if (extra == 0)
        return;
    char* bigger = Allocate(capacity_ + extra);
    for (size_t i = 0; i < count_; ++i)
        bigger[i] = storage_[(read_ + i) % capacity_];
    delete[] storage_;
    storage_ = bigger;
    read_ = 0;
    write_ = count_ - 1;
    capacity_ += extra;
}

int CharQueue::Get() {
    if (count_ == 0)
        return -1;
    unsigned char ch = static_cast<unsigned char>(storage_[read_]);
    read_ = (read_ + 1) % capacity_;
    if (--count_ == 0)
        Shrink();
    return ch;
}

void CharQueue::Shrink() {
    if (capacity_ != initial_) {
        char* small = Allocate(initial_);
        delete[] storage_;
        storage_ = small;
        capacity_ = initial_;
    }
    count_ = 0;
    read_ = write_ = 0;
}

size_t CharQueue::ReadLine(char* dest, size_t size, char delimiter) {
    size_t taken = 0;
    if (size == 0)
        return 0;
    while (count_ > 0 && taken + 1 < size && storage_[read_] != delimiter) {
        dest[taken++] = static_cast<char>(Get());
    }
    dest[taken] = '\0';
    return taken;
}

void CharQueue::Clear() {
    Shrink();
}

}  // namespace streams
