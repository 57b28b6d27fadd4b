#include "common/text_sink.hpp"

#include <algorithm>

namespace cellkit {

void TextBuffer::grow(std::size_t n) {
    const std::size_t capacity = std::max({size_ + n, 2 * capacity_, std::size_t{4096}});
    auto data = std::make_unique_for_overwrite<char[]>(capacity);
    if (size_ != 0) std::memcpy(data.get(), data_.get(), size_);
    data_ = std::move(data);
    capacity_ = capacity;
}

void TextSink::write(std::string_view text) {
    if (text.size() < flush_bytes / 16) {
        buffer_.append(text);
        flush_if_full();
        return;
    }
    flush();
    emit(text);
}

void TextSink::flush() {
    if (buffer_.size() == 0) return;
    emit(buffer_.view());
    buffer_.clear();
}

}  // namespace cellkit
