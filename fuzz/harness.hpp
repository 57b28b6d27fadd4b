// What every fuzz harness shares: the reader's input as a file, and the checks that end a run.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "common/error.hpp"

namespace cellkit::fuzz {

// A fault of the reader that a clean error would not be: printed, then abort(), which libFuzzer
// (or the replay driver) reports with the input that caused it.
[[noreturn]] inline void broken(std::string_view what) {
    std::fprintf(stderr, "broken promise: %.*s\n", static_cast<int>(what.size()), what.data());
    std::abort();
}

inline void check_finite(double value, std::string_view what) {
    if (!std::isfinite(value)) broken(what);
}

// Runs `read` on one input. A cellkit::Error is the reader's refusal and ends the run quietly; any
// other exception escapes and aborts, since the binding would turn it into a message no one wrote.
// The message must not be empty.
template <typename Read>
void refusal_is_an_error(Read&& read) {
    try {
        read();
    } catch (const Error& e) {
        if (std::string_view(e.what()).empty()) broken("an Error without a message");
    }
}

// A file in a fresh directory of $TMPDIR that holds each input in turn, for readers that take a
// path; the file name is `name`, so a molecule's name is its stem. The directory lives as long as
// the process.
class InputFile {
public:
    explicit InputFile(const std::string& name) {
        const char* tmp = std::getenv("TMPDIR");
        std::string dir = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/cellkit-fuzz-XXXXXX";
        if (mkdtemp(dir.data()) == nullptr) broken("cannot create a temporary directory");
        dir_ = dir;
        path_ = dir_ / name;
    }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile() {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    const std::filesystem::path& write(const std::uint8_t* data, std::size_t size) {
        std::FILE* f = std::fopen(path_.c_str(), "wb");
        if (f == nullptr || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0) {
            broken("cannot write the input file");
        }
        return path_;
    }

private:
    std::filesystem::path dir_;
    std::filesystem::path path_;
};

}  // namespace cellkit::fuzz
