#include "common/file_io.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "common/error.hpp"
#include "common/number_format.hpp"

namespace cellkit {
namespace {

// Closes the descriptor on every path out of the caller.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    // Closes now and reports the error that close() may carry for a write.
    int close_now() {
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc == 0 ? 0 : errno;
    }

private:
    int fd_;
};

}  // namespace

std::string read_text_file(const std::filesystem::path& path) {
    return read_text_file(path, fmt::cat("reading ", display(path)));
}

std::string read_text_file(const std::filesystem::path& path, const std::string& context) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer; the type check below refuses it.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) sys_fail(context, errno);
    struct stat info{};
    if (::fstat(fd.get(), &info) != 0) sys_fail(context, errno);
    if (S_ISDIR(info.st_mode)) sys_fail(context, EISDIR);
    if (!S_ISREG(info.st_mode)) fail(display(path), " is not a regular file");
    std::string contents;
    contents.reserve(static_cast<std::size_t>(info.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            sys_fail(context, errno);
        }
        if (n == 0) break;
        contents.append(buffer, static_cast<std::size_t>(n));
    }
    if (!is_valid_utf8(contents)) fail(context, ": stream did not contain valid UTF-8");
    return contents;
}

bool is_valid_utf8(std::string_view text) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t len = 0;
        unsigned min = 0;
        unsigned code = 0;
        if ((c & 0xe0) == 0xc0) {
            len = 2, min = 0x80, code = c & 0x1f;
        } else if ((c & 0xf0) == 0xe0) {
            len = 3, min = 0x800, code = c & 0x0f;
        } else if ((c & 0xf8) == 0xf0) {
            len = 4, min = 0x10000, code = c & 0x07;
        } else {
            return false;
        }
        if (i + len > n) return false;
        for (std::size_t k = 1; k < len; ++k) {
            const auto cc = static_cast<unsigned char>(text[i + k]);
            if ((cc & 0xc0) != 0x80) return false;
            code = (code << 6) | (cc & 0x3f);
        }
        if (code < min || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) return false;
        i += len;
    }
    return true;
}

void replace_file(const std::filesystem::path& path, std::string_view contents) {
    replace_file(path, contents, fmt::cat("writing ", display(path)));
}

void replace_file(const std::filesystem::path& path, std::string_view contents, const std::string& context) {
    static std::atomic<unsigned> counter{0};
    const std::filesystem::path dir = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    std::filesystem::path temp;
    int raw = -1;
    // A name of our own beside the target keeps the rename on one file system.
    for (int attempt = 0; attempt < 100 && raw < 0; ++attempt) {
        temp = dir / fmt::cat(".", path.filename().string(), ".tmp-", static_cast<long>(::getpid()), "-",
                              counter.fetch_add(1));
        raw = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (raw < 0 && errno != EEXIST) sys_fail(context, errno);
    }
    if (raw < 0) sys_fail(context, EEXIST);
    FileDescriptor fd(raw);
    auto fail_removing_temp = [&](int error_number) {
        ::unlink(temp.c_str());
        sys_fail(context, error_number);
    };
    const char* data = contents.data();
    std::size_t left = contents.size();
    while (left > 0) {
        const ssize_t n = ::write(fd.get(), data, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail_removing_temp(errno);
        }
        data += n;
        left -= static_cast<std::size_t>(n);
    }
    if (const int err = fd.close_now(); err != 0) fail_removing_temp(err);
    if (::rename(temp.c_str(), path.c_str()) != 0) fail_removing_temp(errno);
}

}  // namespace cellkit
