#pragma once
// Circular character queue that grows in small steps up to a maximum and shrinks back to its
// initial size whenever it empties; the message boxes collect their lines in it.

#include <cstddef>

namespace streams {

class CharQueue {
  public:
    CharQueue(size_t size, size_t maximum);
    ~CharQueue();
    CharQueue(const CharQueue&) = delete;
    CharQueue& operator=(const CharQueue&) = delete;

    // false when full: held >= capacity - 1 and the capacity has reached the maximum.
    bool Put(char ch);
    // The next character, or -1 when empty.
    int Get();
    // Takes characters until empty, the delimiter comes next, or size - 1 are taken; writes a
    // terminating zero; returns the number taken.
    size_t ReadLine(char* dest, size_t size, char delimiter);
    void Clear();

    size_t Count() const { return count_; }
    size_t Capacity() const { return capacity_; }
    size_t InitialCapacity() const { return initial_; }
    size_t Maximum() const { return maximum_; }

  private:
    void Grow();
    void Shrink();

    char* storage_;
    size_t capacity_;
    size_t initial_;
    size_t count_;
    size_t read_;
    size_t write_;
    size_t maximum_;
};

}  // namespace streams
