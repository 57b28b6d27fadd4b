#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "common/number_format.hpp"
#include "common/process.hpp"
#include "common/temp_dir.hpp"
#include "test_support.hpp"

namespace cellkit {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class Process : public testing::ScratchTest {};

ProcessRequest shell(const std::string& script, const fs::path& working_dir = {}, const fs::path& stdin_file = {}) {
    return {.program = "sh", .arguments = {"-c", script}, .working_dir = working_dir, .stdin_file = stdin_file};
}

// The child leads a process group of its own and ignores no signal, though its parent ignores
// SIGPIPE as Python does. A relative PATH entry names a folder of the caller's directory, also for
// a child that runs elsewhere.
TEST_F(Process, CompletedRunsReportStatusAndBothStreams) {
    const fs::path input = write("line one\nline two\n", "input.txt");
    fs::create_directories(dir_ / "bin");
    const fs::path work = fs::canonical(dir_ / "bin");
    fs::permissions(write("#!/bin/sh\npwd\n", "bin/cellkit-where"), fs::perms::owner_all);
    const std::string big = "head -c 3000000 /dev/zero; head -c 2000000 /dev/zero >&2";  // beyond the pipe buffers
    const std::tuple<ProcessRequest, std::optional<int>, int, std::string, std::string> cases[] = {
        {shell("cat; echo oops >&2; exit 3", {}, input), 3, 0, "line one\nline two\n", "oops\n"},
        {shell("cat; echo done"), 0, 0, "done\n", ""},  // no input file: standard input is empty
        {shell("kill -TERM $$"), std::nullopt, SIGTERM, "", ""},
        {shell(big), 0, 0, std::string(3000000, '\0'), std::string(2000000, '\0')},
        {shell(R"(read -r pid comm state ppid group rest < /proc/$$/stat; )"
               R"(m=$(sed -n "s/^SigIgn:\t//p" /proc/$$/status); echo $((group - pid)) $(((0x$m >> 12) & 1)))"),
         0, 0, "0 0\n", ""},
        {{.program = "cellkit-where", .working_dir = work}, 0, 0, work.string() + "\n", ""},
    };
    const fs::path before = fs::current_path();
    fs::current_path(dir_);
    const testing::ScopedEnv path("PATH", fmt::cat("bin:", std::getenv("PATH")));
    const auto saved = ::signal(SIGPIPE, SIG_IGN);
    for (const auto& [request, exit_code, signal, out, err] : cases) {
        const ProcessResult r = run_process(request);
        const std::string shown = ::testing::PrintToString(request.arguments) + ": " + r.out.substr(0, 99) + r.err;
        EXPECT_TRUE(std::tie(r.exit_code, r.signal, r.out, r.err) == std::tie(exit_code, signal, out, err)) << shown;
    }
    ::signal(SIGPIPE, saved);
    fs::current_path(before);
}

TEST_F(Process, StartFailuresAreReportedBeforeAnythingRuns) {
    EXPECT_EQ(fault_of([] { run_process({.program = "cellkit-no-such-program"}); }),
              "launching cellkit-no-such-program: No such file or directory");
    EXPECT_EQ(fault_of([&] { run_process({.program = "cat", .stdin_file = dir_ / "missing.inp"}); }),
              "opening {d}/missing.inp: No such file or directory");
}

bool written(const fs::path& file) {
    return fs::exists(file) && fs::file_size(file) > 0;
}

// Whether the process whose id a child wrote to `file` is gone (no longer listed, or a zombie
// waiting for its parent) within a second.
bool ended(const fs::path& file) {
    long pid = 0;
    std::ifstream(file) >> pid;
    for (int i = 0; pid > 0 && i < 100; ++i, std::this_thread::sleep_for(10ms)) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        const std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        if (text.empty() || text.substr(text.rfind(')') + 2, 1) == "Z") return true;
    }
    return false;
}

TEST_F(Process, StopEndsTheChildAndWhatItStartedThenThrowsInterrupted) {
    // The second case ignores SIGTERM, so only the SIGKILL that follows the grace period ends it.
    for (const std::string trap : {"", "trap '' TERM; "}) {
        const fs::path pid_file = dir_ / fmt::cat("grandchild", trap.size());
        ProcessRequest request = shell(trap + "sleep 60 & echo $! > " + pid_file.string() + "; wait; echo finished");
        request.should_stop = [&] { return written(pid_file); };
        const auto start = std::chrono::steady_clock::now();
        EXPECT_THROW(run_process(request), Interrupted);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);  // far from the 60 s the child would take
        EXPECT_TRUE(ended(pid_file)) << trap;
    }
    // A stop requested as the child finishes still interrupts.
    ProcessRequest request = shell("exit 0");
    bool ask = false;
    request.should_stop = [&] { return ask; };
    EXPECT_EQ(run_process(request).exit_code, 0);
    ask = true;
    EXPECT_THROW(run_process(request), Interrupted);
}

TEST_F(Process, ASetHandsOverChildrenAsTheyEndAndLeavesNoneRunning) {
    const auto finished = [](const ProcessSet::Finished& f) {
        return fmt::cat(f.id, " ", exit_status_text(f.result.exit_code), " ", f.result.out, f.result.err);
    };
    // Two ways to leave with children still running: the set goes out of scope, or a stop request.
    for (const bool stop : {false, true}) {
        const fs::path pid_files[] = {dir_ / fmt::cat("a", int{stop}), dir_ / fmt::cat("b", int{stop})};
        const auto both_started = [&] { return written(pid_files[0]) && written(pid_files[1]); };
        const auto start = std::chrono::steady_clock::now();
        {
            ProcessSet set;
            EXPECT_EQ(set.start(shell("sleep 0.3; echo slow")), 0u);
            EXPECT_EQ(set.start(shell("echo quick >&2; exit 2")), 1u);
            for (const fs::path& p : pid_files) set.start(shell("sleep 60 & echo $! > " + p.string() + "; wait"));
            EXPECT_EQ(finished(set.wait_any()), "1 with status 2 quick\n");
            EXPECT_EQ(finished(set.wait_any()), "0 with status 0 slow\n");
            EXPECT_EQ(set.running(), 2u);
            if (stop) {
                EXPECT_THROW(set.wait_any(both_started), Interrupted);
                EXPECT_EQ(set.running(), 0u);
            }
            while (!both_started()) std::this_thread::sleep_for(10ms);
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
        for (const fs::path& p : pid_files) EXPECT_TRUE(ended(p)) << stop;
    }
}

TEST_F(Process, TempDirIsFreshInTmpdirAndGoneOnEveryWayOut) {
    const testing::ScopedEnv tmpdir("TMPDIR", dir_);
    fs::path made[2];
    try {
        const TempDir a, b;
        made[0] = a.path(), made[1] = b.path();
        EXPECT_TRUE(a.path().parent_path() == dir_ && a.path() != b.path() && fs::is_empty(a.path())) << a.path();
        fs::create_directories(a.path() / "sub");
        std::ofstream(a.path() / "sub" / "file") << "x";
        throw std::runtime_error("leaving early");
    } catch (const std::runtime_error&) {
    }
    EXPECT_FALSE(fs::exists(made[0]) || fs::exists(made[1]));
    ::setenv("TMPDIR", (dir_ / "missing").c_str(), 1);
    EXPECT_EQ(fault_of([] { TempDir t; }), "creating temp directory: No such file or directory");
    ::setenv("TMPDIR", "", 1);
    EXPECT_EQ(TempDir().path().parent_path(), fs::path("/tmp"));
}

}  // namespace
}  // namespace cellkit
