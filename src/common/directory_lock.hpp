// An advisory lock on a directory, so that builds writing into it take turns.
#pragma once

#include <filesystem>

namespace cellkit {

// Holds an exclusive flock on `dir` from construction to destruction, waiting for another
// holder (another build, in this or another process) to let go. Where the file system has no
// locks, or the directory cannot be opened for reading, it holds nothing rather than fail the
// build. Throws Error "waiting for the lock on {dir}: {system text}", e.g. when a signal
// (Ctrl-C) interrupts the wait.
class DirectoryLock {
public:
    explicit DirectoryLock(const std::filesystem::path& dir);
    ~DirectoryLock();
    DirectoryLock(const DirectoryLock&) = delete;
    DirectoryLock& operator=(const DirectoryLock&) = delete;

private:
    int fd_ = -1;
};

}  // namespace cellkit
