#include <cstdlib>
#include <cstring>

#include "Platform.h"
#include "corvex/Corvex.h"

namespace {

struct Entry {
    void* p;
    unsigned long len;
};

// The one list shared by every CMessageQueue object. Plain data, so it is usable from any
// static constructor or destructor regardless of their order.
struct Store {
    Entry* items;
    unsigned long count;
    unsigned long capacity;
};
Store g_store = {nullptr, 0, 0};

bool Reserve(unsigned long wanted) {
    if (wanted <= g_store.capacity) {
        return true;
    }
    unsigned long cap = g_store.capacity ? g_store.capacity * 2 : 16;
    while (cap < wanted) {
        cap *= 2;
    }
    void* grown = std::realloc(g_store.items, cap * sizeof(Entry));
    if (!grown) {
        return false;
    }
    g_store.items = static_cast<Entry*>(grown);
    g_store.capacity = cap;
    return true;
}

void EraseAt(unsigned long index) {
    std::memmove(g_store.items + index, g_store.items + index + 1,
                 (g_store.count - index - 1) * sizeof(Entry));
    --g_store.count;
}

constexpr unsigned long kNotAdded = ~0ul;

}  // namespace

CORVEX_API CMessageQueue host_queue;

CMessageQueue::CMessageQueue() : queue_flag_(new corvex::ManualEvent) {
    SetQueueFlag();
}

CMessageQueue::CMessageQueue(const CMessageQueue&) : CMessageQueue() {}

CMessageQueue& CMessageQueue::operator=(const CMessageQueue&) {
    SetQueueFlag();
    return *this;
}

CMessageQueue::~CMessageQueue() {
    if (g_store.count > 0) {
        RemoveAllMessages();
    }
    if (this == &host_queue) {
        // The library is being unloaded: its list storage goes with it.
        std::free(g_store.items);
        g_store = {nullptr, 0, 0};
    }
}

unsigned long CMessageQueue::AddMessage(void* p, unsigned long len) {
    unsigned long index = g_store.count;
    if (!Reserve(index + 1)) {
        return kNotAdded;
    }
    g_store.items[index] = {p, len};
    ++g_store.count;
    SetQueueFlag();
    return index;
}

unsigned long CMessageQueue::InsertMessage(void* p, unsigned long len, unsigned long index) {
    if (index > g_store.count) {
        index = g_store.count;  // past the end: append
    }
    if (!Reserve(g_store.count + 1)) {
        return kNotAdded;
    }
    std::memmove(g_store.items + index + 1, g_store.items + index,
                 (g_store.count - index) * sizeof(Entry));
    g_store.items[index] = {p, len};
    ++g_store.count;
    SetQueueFlag();
    return index;
}

unsigned long CMessageQueue::AddSingleMessage(void* src, unsigned long len) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    void* copy = std::malloc(len ? len : 1);
    if (!copy) {
        return kNotAdded;
    }
    if (len && src) {
        std::memcpy(copy, src, len);
    }
    unsigned long index = AddMessage(copy, len);
    if (index == kNotAdded) {
        std::free(copy);
    }
    return index;
}

void* CMessageQueue::PeekMessageA(unsigned long index, unsigned long& len) {
    if (index >= g_store.count) {
        return nullptr;
    }
    len = g_store.items[index].len;
    return g_store.items[index].p;
}

void* CMessageQueue::GetMessageA(unsigned long index, unsigned long& len) {
    void* p = PeekMessageA(index, len);
    if (p) {
        EraseAt(index);
    }
    SetQueueFlag();
    return p;
}

void* CMessageQueue::GetFirstMessage(unsigned long& len) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    return GetMessageA(0, len);
}

unsigned long CMessageQueue::GetMsgCount() {
    return g_store.count;
}

int CMessageQueue::IsMsgValid(unsigned long index) {
    return index < g_store.count ? 1 : 0;
}

void CMessageQueue::DeleteMessage(unsigned long index) {
    if (index < g_store.count) {
        EraseAt(index);
    }
    SetQueueFlag();
}

void CMessageQueue::DeleteAllMessages() {
    g_store.count = 0;
    SetQueueFlag();
}

void CMessageQueue::RemoveMessage(unsigned long index) {
    if (index < g_store.count) {
        unsigned long len;
        std::free(GetMessageA(index, len));
    }
    SetQueueFlag();
}

void CMessageQueue::RemoveAllMessages() {
    for (unsigned long i = 0; i < g_store.count; ++i) {
        std::free(g_store.items[i].p);
    }
    g_store.count = 0;
    SetQueueFlag();
}

void CMessageQueue::BlockQueue() {
    lock_.lock();
}

void CMessageQueue::UnBlockQueue() {
    lock_.unlock();
}

void CMessageQueue::SetQueueFlag() {
    if (g_store.count > 0) {
        queue_flag_->Set();
    } else {
        queue_flag_->Reset();
    }
}

void* CMessageQueue::GetQueueFlag() {
    return reinterpret_cast<void*>(static_cast<intptr_t>(queue_flag_->fd()));
}

int CMessageQueue::IsQueueFull() {
    return queue_flag_->IsSet() ? 1 : 0;
}
