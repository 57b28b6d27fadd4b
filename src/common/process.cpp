#include "common/process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "common/file_io.hpp"
#include "common/number_format.hpp"

extern char** environ;

namespace cellkit {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int tick_ms = 50;
constexpr auto stop_interval = std::chrono::milliseconds(tick_ms);
constexpr auto term_grace = std::chrono::milliseconds(500);

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }
    int get() const { return fd_; }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

// Keeps a descriptor clear of 0-2, so the dup2 onto the child's standard
// streams never meets itself when the parent runs with one of them closed.
int above_std_streams(int fd) {
    if (fd < 0 || fd > 2) return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return moved;
}

struct Pipe {
    Fd read_end, write_end;
};

bool make_pipe(Pipe& p) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    p.read_end.reset(above_std_streams(fds[0]));
    p.write_end.reset(above_std_streams(fds[1]));
    if (p.read_end.get() < 0 || p.write_end.get() < 0) return false;
    // Non-blocking reads let the output be drained once the child has exited
    // even if a grandchild still holds the other end open.
    return ::fcntl(p.read_end.get(), F_SETFL, O_NONBLOCK) == 0;
}

class SpawnSetup {
public:
    SpawnSetup() {
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawnattr_init(&attr);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
    ~SpawnSetup() {
        ::posix_spawn_file_actions_destroy(&actions);
        ::posix_spawnattr_destroy(&attr);
    }
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
};

// The child gets a process group of its own. A terminal's Ctrl-C then reaches
// only the caller, which decides how the child ends, the same way as for a
// SIGINT sent to the caller alone; and ending the group also ends whatever the
// child started (a wrapper script's real program, a sleeping shell's sleep),
// which would otherwise outlive us and keep writing into the working directory.
class Child {
public:
    explicit Child(pid_t pid) : pid_(pid) {}
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    // On any way out before the child was reaped (an exception), nothing is left running.
    ~Child() {
        if (!reaped_) kill_and_reap();
    }

    // True once the child has ended; its wait status is then in status().
    bool poll_exit() {
        if (reaped_) return true;
        int status = 0;
        const pid_t rc = ::waitpid(pid_, &status, WNOHANG);
        if (rc == pid_) {
            status_ = status;
            reaped_ = true;
        }
        return reaped_;
    }

    // SIGTERM to the group, SIGKILL after the grace period, then reap.
    void terminate() {
        ::killpg(pid_, SIGTERM);
        const auto deadline = Clock::now() + term_grace;
        while (!poll_exit() && Clock::now() < deadline) ::poll(nullptr, 0, 10);
        // Also for a child that went in time: its own children may not have.
        kill_and_reap();
    }

    int status() const { return status_; }

private:
    void kill_and_reap() {
        // The group leader's pid stays reserved until it is reaped, so the
        // group signalled here is still the child's.
        ::killpg(pid_, SIGKILL);
        if (reaped_) return;
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        status_ = status;
        reaped_ = true;
    }

    pid_t pid_;
    int status_ = 0;
    bool reaped_ = false;
};

// Appends what is readable now; false once the writer side is closed.
bool read_available(int fd, std::string& into, const std::string& context) {
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            into.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n == 0) return false;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return true;
        sys_fail(context, errno);
    }
}

}  // namespace

LaunchError::LaunchError(const std::string& program, int error_number)
    : Error(fmt::cat("launching ", program, ": ", system_text(error_number))), error_number_(error_number) {}

std::string exit_status_text(const std::optional<int>& exit_code) {
    return exit_code ? fmt::cat("Some(", *exit_code, ")") : std::string("None");
}

ProcessResult run_process(const ProcessRequest& request) {
    const std::string context = fmt::cat("running ", request.program);
    const bool from_file = !request.stdin_file.empty();
    Fd input(above_std_streams(::open(from_file ? request.stdin_file.c_str() : "/dev/null", O_RDONLY | O_CLOEXEC)));
    if (input.get() < 0) {
        if (from_file) sys_fail(fmt::cat("opening ", display(request.stdin_file)), errno);
        throw LaunchError(request.program, errno);
    }
    Pipe out, err;
    if (!make_pipe(out) || !make_pipe(err)) throw LaunchError(request.program, errno);

    SpawnSetup setup;
    ::posix_spawn_file_actions_adddup2(&setup.actions, input.get(), 0);
    ::posix_spawn_file_actions_adddup2(&setup.actions, out.write_end.get(), 1);
    ::posix_spawn_file_actions_adddup2(&setup.actions, err.write_end.get(), 2);
    if (!request.working_dir.empty()) {
        ::posix_spawn_file_actions_addchdir_np(&setup.actions, request.working_dir.c_str());
    }
    // Python ignores SIGPIPE and its threads may block signals; the child starts clean.
    sigset_t all, none;
    ::sigfillset(&all);
    ::sigemptyset(&none);
    ::posix_spawnattr_setsigdefault(&setup.attr, &all);
    ::posix_spawnattr_setsigmask(&setup.attr, &none);
    ::posix_spawnattr_setpgroup(&setup.attr, 0);
    ::posix_spawnattr_setflags(&setup.attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(request.program.c_str()));
    for (const std::string& a : request.arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    pid_t pid = 0;
    if (const int rc = ::posix_spawnp(&pid, request.program.c_str(), &setup.actions, &setup.attr, argv.data(), environ);
        rc != 0) {
        throw LaunchError(request.program, rc);
    }
    Child child(pid);
    input.reset();
    out.write_end.reset();
    err.write_end.reset();

    ProcessResult result;
    pollfd fds[2] = {{out.read_end.get(), POLLIN, 0}, {err.read_end.get(), POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    auto next_check = Clock::now() + stop_interval;
    for (;;) {
        bool signalled = false;
        // With both pipes closed only the exit is awaited, which follows closely.
        const int timeout = fds[0].fd >= 0 || fds[1].fd >= 0 ? tick_ms : 5;
        if (::poll(fds, 2, timeout) < 0) {
            if (errno != EINTR) sys_fail(context, errno);
            signalled = true;  // a signal just came in: look at it now
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0 &&
                !read_available(fds[i].fd, *sinks[i], context)) {
                fds[i].fd = -1;  // poll skips negative descriptors
            }
        }
        if (child.poll_exit()) {
            // All the child wrote is in the pipes now. A descendant may still hold
            // them open, so take what is there rather than wait for the end.
            for (int i = 0; i < 2; ++i) {
                if (fds[i].fd >= 0) read_available(fds[i].fd, *sinks[i], context);
            }
            break;
        }
        if (request.should_stop && (signalled || Clock::now() >= next_check)) {
            next_check = Clock::now() + stop_interval;
            if (request.should_stop()) {
                child.terminate();
                throw Interrupted();
            }
        }
    }
    // A stop request that came in while the child was finishing still wins,
    // so an interrupted build never goes on to write its outputs.
    if (request.should_stop && request.should_stop()) throw Interrupted();
    const int status = child.status();
    if (WIFEXITED(status)) {
        result.exit_code = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

}  // namespace cellkit
