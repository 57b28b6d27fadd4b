#include "common/process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <utility>

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
    int release() { return std::exchange(fd_, -1); }
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

    void signal_group(int signal) { ::killpg(pid_, signal); }

    // SIGKILL to the group, also for a child that went in time (its own
    // children may not have), then reap.
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

    int status() const { return status_; }

private:
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

// The program as found on PATH from the caller's directory. The search would otherwise happen in
// the child after it changed to its working directory, where a relative PATH entry (".venv/bin")
// names another folder. Unchanged when it holds a '/' or is not found (the spawn then reports it).
std::string executable_path(const std::string& program) {
    if (program.find('/') != std::string::npos) return program;
    const char* path = std::getenv("PATH");
    std::string_view rest = path != nullptr ? path : "/usr/bin:/bin";
    for (;;) {
        const std::size_t colon = rest.find(':');
        const std::string_view dir = rest.substr(0, colon);
        std::error_code ec;
        const std::filesystem::path candidate =
            std::filesystem::absolute(std::filesystem::path(dir.empty() ? "." : dir) / program, ec);
        if (!ec && ::access(candidate.c_str(), X_OK) == 0 && !std::filesystem::is_directory(candidate, ec)) {
            return candidate.string();
        }
        if (colon == std::string_view::npos) return program;
        rest.remove_prefix(colon + 1);
    }
}

}  // namespace

LaunchError::LaunchError(const std::string& program, int error_number)
    : Error(fmt::cat("launching ", program, ": ", system_text(error_number))), error_number_(error_number) {}

std::string exit_status_text(const std::optional<int>& exit_code) {
    return exit_code ? fmt::cat("with status ", *exit_code) : std::string("on a signal");
}

struct ProcessSet::Running {
    std::size_t id = 0;
    std::string context;         // "running {program}"
    std::optional<Child> child;  // set once spawned
    Fd streams[2];               // read ends of standard output and error; closed at their end
    ProcessResult result;

    // Appends what is readable now and closes a stream at its end.
    void read(int k) {
        if (!read_available(streams[k].get(), k == 0 ? result.out : result.err, context)) streams[k].reset();
    }
};

ProcessSet::ProcessSet() = default;

ProcessSet::~ProcessSet() {
    end_all();
}

std::size_t ProcessSet::start(const ProcessRequest& request) {
    auto running = std::make_unique<Running>();
    running->context = fmt::cat("running ", request.program);
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

    // Room first: once the child runs, nothing may throw before the set holds it.
    running_.reserve(running_.size() + 1);
    pid_t pid = 0;
    const std::string program = executable_path(request.program);
    if (const int rc = ::posix_spawnp(&pid, program.c_str(), &setup.actions, &setup.attr, argv.data(), environ);
        rc != 0) {
        throw LaunchError(request.program, rc);
    }
    running->child.emplace(pid);
    running->streams[0].reset(out.read_end.release());
    running->streams[1].reset(err.read_end.release());
    running->id = started_++;
    running_.push_back(std::move(running));
    return running_.back()->id;
}

ProcessSet::Finished ProcessSet::wait_any(const StopCheck& should_stop) {
    if (running_.empty()) fail("waiting for a child process when none is running");
    auto stop = [&] {
        end_all();
        throw Interrupted();
    };
    std::vector<pollfd> fds;
    auto next_check = Clock::now() + stop_interval;
    for (;;) {
        fds.clear();
        // A child with both streams closed has only its exit left, which follows closely.
        int timeout = tick_ms;
        for (const auto& r : running_) {
            for (const Fd& s : r->streams) fds.push_back({s.get(), POLLIN, 0});  // poll skips negative ones
            if (r->streams[0].get() < 0 && r->streams[1].get() < 0) timeout = 5;
        }
        bool signalled = false;
        if (::poll(fds.data(), fds.size(), timeout) < 0) {
            if (errno != EINTR) sys_fail(running_.front()->context, errno);
            signalled = true;  // a signal just came in: look at it now
        }
        for (std::size_t i = 0; i < running_.size(); ++i) {
            for (int k = 0; k < 2; ++k) {
                if (fds[2 * i + k].fd >= 0 && (fds[2 * i + k].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                    running_[i]->read(k);
                }
            }
        }
        for (auto it = running_.begin(); it != running_.end(); ++it) {
            Running& r = **it;
            if (!r.child->poll_exit()) continue;
            // All the child wrote is in the pipes now. A descendant may still hold
            // them open, so take what is there rather than wait for the end.
            for (int k = 0; k < 2; ++k) {
                if (r.streams[k].get() >= 0) r.read(k);
            }
            // A stop request that came in while the child was finishing still wins,
            // so an interrupted build never goes on to use its output.
            if (should_stop && should_stop()) stop();
            const int status = r.child->status();
            if (WIFEXITED(status)) {
                r.result.exit_code = WEXITSTATUS(status);
            } else if (WIFSIGNALED(status)) {
                r.result.signal = WTERMSIG(status);
            }
            Finished finished{r.id, std::move(r.result)};
            running_.erase(it);
            return finished;
        }
        if (should_stop && (signalled || Clock::now() >= next_check)) {
            next_check = Clock::now() + stop_interval;
            if (should_stop()) stop();
        }
    }
}

// SIGTERM to every group at once, SIGKILL after one shared grace period, then reap.
void ProcessSet::end_all() noexcept {
    for (const auto& r : running_) r->child->signal_group(SIGTERM);
    const auto deadline = Clock::now() + term_grace;
    for (;;) {
        bool all_ended = true;
        for (const auto& r : running_) all_ended = r->child->poll_exit() && all_ended;
        if (all_ended || Clock::now() >= deadline) break;
        ::poll(nullptr, 0, 10);
    }
    for (const auto& r : running_) r->child->kill_and_reap();
    running_.clear();
}

std::size_t available_cores() {
    cpu_set_t set;
    if (::sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
    return static_cast<std::size_t>(std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN)));
}

ProcessResult run_process(const ProcessRequest& request) {
    ProcessSet set;
    set.start(request);
    return set.wait_any(request.should_stop).result;
}

}  // namespace cellkit
