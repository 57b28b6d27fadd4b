#include "common/directory_lock.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "common/error.hpp"
#include "common/file_io.hpp"

namespace cellkit {

DirectoryLock::DirectoryLock(const std::filesystem::path& dir) {
    const std::string context = "waiting for the lock on " + display(dir);
    fd_ = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) {
        // A directory we may write but not read (mode 0300) can still take the files.
        if (errno == EACCES) return;
        sys_fail(context, errno);
    }
    if (::flock(fd_, LOCK_EX) == 0) return;
    const int error_number = errno;
    ::close(fd_);
    fd_ = -1;
    // Some network file systems have no locks; the build goes on without one there.
    if (error_number == ENOLCK || error_number == EOPNOTSUPP || error_number == EBADF || error_number == EINVAL) {
        return;
    }
    // EINTR included: no retry, so that Ctrl-C ends a wait for a build that takes long.
    sys_fail(context, error_number);
}

DirectoryLock::~DirectoryLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

}  // namespace cellkit
