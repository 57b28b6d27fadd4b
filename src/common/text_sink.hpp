// Text that writers format straight into, and where it goes: a file as it fills, or a string.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace cellkit {

// A growable run of bytes that formatters write into through a raw pointer: room(n) gives space
// for at most n bytes, advance() marks the end of what was written there.
class TextBuffer {
public:
    char* room(std::size_t n) {
        if (capacity_ - size_ < n) grow(n);
        return data_.get() + size_;
    }
    void advance(const char* end) { size_ = static_cast<std::size_t>(end - data_.get()); }
    void append(std::string_view text) {
        char* at = room(text.size());
        if (!text.empty()) std::memcpy(at, text.data(), text.size());
        size_ += text.size();
    }
    std::string_view view() const { return {data_.get(), size_}; }
    std::size_t size() const { return size_; }
    void clear() { size_ = 0; }

private:
    void grow(std::size_t n);

    std::unique_ptr<char[]> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// Where a writer's text goes. Formatters fill buffer(); flush_if_full() passes it on once it
// holds about a mebibyte, so a file of any size needs no more memory than that.
class TextSink {
public:
    static constexpr std::size_t flush_bytes = std::size_t{1} << 20;

    TextSink() = default;
    TextSink(const TextSink&) = delete;
    TextSink& operator=(const TextSink&) = delete;
    virtual ~TextSink() = default;

    TextBuffer& buffer() { return buffer_; }
    void flush_if_full() {
        if (buffer_.size() >= flush_bytes) flush();
    }
    // Appends `text`; a large one (a block of lines) is passed on as it is rather than copied.
    void write(std::string_view text);
    void flush();

protected:
    // Receives the text in order; throws Error when it cannot take it.
    virtual void emit(std::string_view text) = 0;

private:
    TextBuffer buffer_;
};

// Collects everything in one string.
class StringSink final : public TextSink {
public:
    std::string take() {
        flush();
        return std::move(text_);
    }

private:
    void emit(std::string_view text) override { text_.append(text); }
    std::string text_;
};

}  // namespace cellkit
