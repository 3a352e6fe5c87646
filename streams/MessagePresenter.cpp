#include "streams/MessagePresenter.h"

#include <utility>

#include <cstdio>

namespace streams {

std::string BoxAsLines(const std::string& text) {
    std::string lines = text;
    for (char& c : lines)
        if (c == '\r')
            c = '\n';
    return lines + '\n';
}

void StderrPresenter::Show(const std::string& text, const std::string&) {
    const std::string line = BoxAsLines(text);
    // One write per box, so boxes from several threads never mix.
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

void RecordingPresenter::Show(const std::string& text, const std::string& caption) {
    std::lock_guard lock(mutex_);
    boxes_.push_back({text, caption});
}

std::vector<RecordingPresenter::Box> RecordingPresenter::Boxes() const {
    std::lock_guard lock(mutex_);
    return boxes_;
}

std::vector<std::string> RecordingPresenter::Texts() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> t;
    for (const auto& b : boxes_)
        t.push_back(b.text);
    return t;
}

void RecordingPresenter::Clear() {
    std::lock_guard lock(mutex_);
    boxes_.clear();
}

void TeePresenter::SetNext(MessagePresenter* next) {
    std::lock_guard lock(mutex_);
    next_ = next;
}

MessagePresenter* TeePresenter::Next() const {
    std::lock_guard lock(mutex_);
    return next_;
}

void TeePresenter::Show(const std::string& text, const std::string& caption) {
    MessagePresenter* next = nullptr;
    {
        std::lock_guard lock(mutex_);
        std::string line = text;
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
            line.pop_back();
        for (char& c : line)
            if (c == '\r' || c == '\n')
                c = ' ';
        if (!line.empty())
            text_ += (text_.empty() ? "" : "; ") + line;
        next = next_;
    }
    // Outside the lock: a box may wait for the user.
    (next ? *next : static_cast<MessagePresenter&>(stderr_)).Show(text, caption);
}

std::string TeePresenter::TakeText() {
    std::lock_guard lock(mutex_);
    return std::exchange(text_, {});
}

}  // namespace streams
