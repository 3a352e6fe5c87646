#include "streams/MessageBoxBuffer.h"

#include "streams/MessagePresenter.h"
#include "streams/MessageStreams.h"

namespace streams {

MessageBoxBuffer::MessageBoxBuffer(const char* caption, MessagePresenter* presenter)
    : caption_(caption), queue_(80, 0xFFFF), presenter_(presenter) {}

MessageBoxBuffer::~MessageBoxBuffer() = default;

MessageBoxBuffer::int_type MessageBoxBuffer::overflow(int_type ch) {
    if (traits_type::eq_int_type(ch, traits_type::eof()))
        return traits_type::not_eof(ch);
    char c = traits_type::to_char_type(ch);
    if (c == '\n') {
        Show();
    } else if (!queue_.Put(c)) {
        return traits_type::eof();
    }
    return static_cast<unsigned char>(c);
}

int MessageBoxBuffer::sync() {
    Show();
    return 0;
}

void MessageBoxBuffer::Show() {
    if (queue_.Count() == 0)
        return;
    std::string text(queue_.Count() + 1, '\0');
    size_t n = queue_.ReadLine(text.data(), text.size(), '\n');
    text.resize(n);
    text_ = text;
    MessagePresenter& p = presenter_ ? *presenter_ : CurrentMessagePresenter();
    p.Show(text_, caption_);
}

}  // namespace streams
