// Whole-file reading and atomic whole-file replacement.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "common/text_sink.hpp"

namespace cellkit {

// The largest file that read_text_file reads: inputs are read whole, and a bigger one (a wrong
// path, a disk image) would only exhaust memory, possibly to the out-of-memory killer.
inline constexpr std::uint64_t max_input_file_bytes = std::uint64_t{1} << 30;

// Path as shown in messages.
inline std::string display(const std::filesystem::path& path) {
    return path.string();
}

// The whole content of a regular file, checked to be UTF-8. Throws Error
// "reading {path}: {fault}"; a device, FIFO or directory is refused before it
// is read, so /dev/zero cannot read forever and a FIFO cannot block; a file larger than
// max_input_file_bytes is refused, before memory is taken for it or while it grows.
std::string read_text_file(const std::filesystem::path& path);
// The same with "{context}: {fault}" for every fault, for callers that say what the file is.
std::string read_text_file(const std::filesystem::path& path, const std::string& context);

bool is_valid_utf8(std::string_view text);

// A new file beside `path` that takes its place on commit(), so readers see the old file or the
// complete new one, never a truncated one. Text written to it streams to disk as the buffer fills.
// The new file keeps the permission bits of the file it replaces. Throws Error
// "writing {path}: {system text}"; no temporary file remains, whether the replacement fails, is
// dropped uncommitted, or the process is killed (an unnamed file where the system has one;
// temporary files of processes that no longer exist are removed by the next one for that path).
class FileReplacement final : public TextSink {
public:
    // `context` starts every failure message; by default "writing {path}".
    explicit FileReplacement(const std::filesystem::path& path, std::string context = {});
    ~FileReplacement() override;
    // Writes what is buffered and gives the file a temporary name beside `path`; what can still
    // fail after this is only the rename. Callers replacing several files stage all of them first.
    void stage();
    // Stages the file if need be and renames it over `path`.
    void commit();

private:
    void emit(std::string_view text) override;
    [[noreturn]] void fail_removing_temp(int error_number);

    std::filesystem::path path_;
    std::string context_;
    std::filesystem::path dir_;
    std::string prefix_;
    std::filesystem::path temp_;  // the name while it has one
    int fd_ = -1;
    bool named_ = false;
    bool staged_ = false;
    bool keep_mode_ = false;
    unsigned mode_ = 0;
};

// Replaces `path` with `contents` through a FileReplacement.
void replace_file(const std::filesystem::path& path, std::string_view contents);
// The same with "{context}: {system text}", for callers that say what the file is.
void replace_file(const std::filesystem::path& path, std::string_view contents, const std::string& context);

}  // namespace cellkit
