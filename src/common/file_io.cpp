#include "common/file_io.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
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
    const auto too_large = [&context] {
        fail(context, ": the file is larger than the ", max_input_file_bytes, " bytes an input file may have");
    };
    if (static_cast<std::uint64_t>(info.st_size) > max_input_file_bytes) too_large();
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
        if (contents.size() + static_cast<std::size_t>(n) > max_input_file_bytes) too_large();
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

namespace {

// ".{file}.tmp-{pid}-{n}", the name under which a new file waits for its rename.
std::string temp_prefix(const std::filesystem::path& path) {
    return fmt::cat(".", path.filename().string(), ".tmp-");
}

// A build killed between creating its temporary file and renaming it leaves the file behind;
// the next build removes those of processes that no longer exist.
void remove_stale_temporaries(const std::filesystem::path& dir, const std::string& prefix) {
    std::error_code ec;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.rfind(prefix, 0) != 0) continue;
        const std::string_view rest = std::string_view(name).substr(prefix.size());
        const std::size_t dash = rest.find('-');
        if (dash == std::string_view::npos) continue;
        long pid = 0;
        const auto [end_of_pid, parse_error] = std::from_chars(rest.data(), rest.data() + dash, pid);
        if (parse_error != std::errc() || end_of_pid != rest.data() + dash || pid <= 0 || pid == ::getpid()) continue;
        if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) ::unlink(it->path().c_str());
    }
}

// A fresh name for the temporary file: ".{file}.tmp-{pid}-{n}".
std::filesystem::path next_temp_name(const std::filesystem::path& dir, const std::string& prefix) {
    static std::atomic<unsigned> counter{0};
    return dir / fmt::cat(prefix, static_cast<long>(::getpid()), "-", counter.fetch_add(1));
}

// A writable unnamed file in `dir`, or -1 where the file system or the kernel has none, or where
// /proc, through which it gets its name, is missing.
int open_unnamed(const std::filesystem::path& dir, const std::string& context) {
    if (::access("/proc/self/fd", X_OK) != 0) return -1;
    const int fd = ::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) sys_fail(context, errno);
    return fd;
}

}  // namespace

FileReplacement::FileReplacement(const std::filesystem::path& path, std::string context)
    : path_(path),
      context_(context.empty() ? fmt::cat("writing ", display(path)) : std::move(context)),
      dir_(path.has_parent_path() ? path.parent_path() : std::filesystem::path(".")),
      prefix_(temp_prefix(path)) {
    remove_stale_temporaries(dir_, prefix_);
    // The new file keeps the permission bits of the one it replaces; a new one gets 0666 less the umask.
    struct stat old{};
    keep_mode_ = ::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    mode_ = old.st_mode & 0777;
    // A directory in the target's place is refused now: rename would refuse it only after the
    // build's other files had been replaced.
    struct stat target{};
    if (::lstat(path.c_str(), &target) == 0 && S_ISDIR(target.st_mode)) sys_fail(context_, EISDIR);

    // An unnamed file (O_TMPFILE) cannot outlive a killed build; it gets a name only for the
    // instant between linking it beside the target and renaming it over the target. File systems
    // without it get a named file of our own from the start.
    fd_ = open_unnamed(dir_, context_);
    named_ = fd_ < 0;
    for (int attempt = 0; named_ && attempt < 100 && fd_ < 0; ++attempt) {
        temp_ = next_temp_name(dir_, prefix_);
        fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ < 0 && errno != EEXIST) sys_fail(context_, errno);
    }
    if (fd_ < 0) sys_fail(context_, EEXIST);
}

FileReplacement::~FileReplacement() {
    if (fd_ >= 0) ::close(fd_);
    if (named_) ::unlink(temp_.c_str());
}

void FileReplacement::fail_removing_temp(int error_number) {
    if (named_) ::unlink(temp_.c_str());
    named_ = false;
    sys_fail(context_, error_number);
}

void FileReplacement::emit(std::string_view text) {
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(fd_, data, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail_removing_temp(errno);
        }
        data += n;
        left -= static_cast<std::size_t>(n);
    }
}

void FileReplacement::stage() {
    if (staged_) return;
    flush();
    if (keep_mode_ && ::fchmod(fd_, mode_) != 0) fail_removing_temp(errno);
    if (!named_) {
        // linkat cannot replace a file, so the link goes to a fresh name and rename replaces.
        const std::string proc_path = fmt::cat("/proc/self/fd/", fd_);
        for (int attempt = 0; attempt < 100 && !named_; ++attempt) {
            temp_ = next_temp_name(dir_, prefix_);
            if (::linkat(AT_FDCWD, proc_path.c_str(), AT_FDCWD, temp_.c_str(), AT_SYMLINK_FOLLOW) == 0) {
                named_ = true;
            } else if (errno != EEXIST) {
                fail_removing_temp(errno);
            }
        }
        if (!named_) fail_removing_temp(EEXIST);
    }
    const int rc = ::close(fd_);
    fd_ = -1;
    if (rc != 0) fail_removing_temp(errno);
    staged_ = true;
}

void FileReplacement::commit() {
    stage();
    if (::rename(temp_.c_str(), path_.c_str()) != 0) fail_removing_temp(errno);
    named_ = false;  // the name is the target's now
}

void replace_file(const std::filesystem::path& path, std::string_view contents) {
    replace_file(path, contents, {});
}

void replace_file(const std::filesystem::path& path, std::string_view contents, const std::string& context) {
    FileReplacement file(path, context);
    file.write(contents);
    file.commit();
}

}  // namespace cellkit
