#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "common/process.hpp"
#include "common/temp_dir.hpp"
#include "test_support.hpp"

namespace cellkit {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class Process : public testing::ScratchTest {};

ProcessRequest shell(const std::string& script) {
    return {.program = "sh", .arguments = {"-c", script}};
}

TEST_F(Process, CompletedRunsReportStatusAndBothStreams) {
    const fs::path input = write("line one\nline two\n", "input.txt");
    const struct {
        ProcessRequest request;
        std::optional<int> exit_code;
        int signal;
        std::string out, err;
    } cases[] = {
        {{.program = "sh", .arguments = {"-c", "cat; echo oops >&2; exit 3"}, .stdin_file = input},
         3,
         0,
         "line one\nline two\n",
         "oops\n"},
        {shell("cat; echo done"), 0, 0, "done\n", ""},  // no input file: standard input is empty
        {shell("kill -TERM $$"), std::nullopt, SIGTERM, "", ""},
        {{.program = "sh", .arguments = {"-c", "pwd"}, .working_dir = dir_}, 0, 0, dir_.string() + "\n", ""},
    };
    for (const auto& c : cases) {
        const ProcessResult r = run_process(c.request);
        EXPECT_EQ(r.exit_code, c.exit_code) << c.request.arguments[1];
        EXPECT_EQ(r.signal, c.signal) << c.request.arguments[1];
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
    }
}

TEST_F(Process, OutputBeyondThePipeBuffersOnBothStreamsDoesNotBlock) {
    const ProcessResult r = run_process(shell("head -c 3000000 /dev/zero; head -c 2000000 /dev/zero >&2; exit 0"));
    EXPECT_EQ(r.out.size(), 3000000u);
    EXPECT_EQ(r.err.size(), 2000000u);
}

TEST_F(Process, ChildStartsWithDefaultSignalsInAGroupOfItsOwn) {
    // Python ignores SIGPIPE; a child must not inherit that.
    struct sigaction ignore{}, saved{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &saved);
    const ProcessResult status = run_process({.program = "cat", .arguments = {"/proc/self/status"}});
    const ProcessResult stat = run_process({.program = "cat", .arguments = {"/proc/self/stat"}});
    ::sigaction(SIGPIPE, &saved, nullptr);

    const auto at = status.out.find("SigIgn:\t");
    ASSERT_NE(at, std::string::npos);
    const unsigned long long ignored = std::strtoull(status.out.c_str() + at + 8, nullptr, 16);
    EXPECT_EQ(ignored & (1ull << (SIGPIPE - 1)), 0u);
    // Fields: pid (comm) state ppid pgrp ...
    std::istringstream fields(stat.out.substr(stat.out.rfind(')') + 2));
    std::string state;
    long ppid = 0, pgrp = 0;
    fields >> state >> ppid >> pgrp;
    EXPECT_EQ(std::to_string(pgrp), stat.out.substr(0, stat.out.find(' ')));
}

TEST_F(Process, StartFailuresAreReportedBeforeAnythingRuns) {
    try {
        run_process({.program = "cellkit-no-such-program"});
        ADD_FAILURE() << "no LaunchError";
    } catch (const LaunchError& e) {
        EXPECT_EQ(e.error_number(), ENOENT);
        EXPECT_STREQ(e.what(), "launching cellkit-no-such-program: No such file or directory");
    }
    EXPECT_EQ(fault_of([&] { run_process({.program = "cat", .stdin_file = dir_ / "missing.inp"}); }),
              "opening {d}/missing.inp: No such file or directory");
}

// A relative PATH entry names a folder of the caller's directory, also for a child that runs elsewhere.
TEST_F(Process, RelativePathEntriesAreFoundFromTheCallersDirectory) {
    fs::create_directories(dir_ / "bin");
    const fs::path tool = write("#!/bin/sh\npwd\n", "bin/cellkit-where");
    fs::permissions(tool, fs::perms::owner_all);
    fs::create_directories(dir_ / "work");
    const fs::path before = fs::current_path();
    const std::string old_path = std::getenv("PATH");
    fs::current_path(dir_);
    ::setenv("PATH", ("bin:" + old_path).c_str(), 1);
    const ProcessResult result = run_process({.program = "cellkit-where", .working_dir = dir_ / "work"});
    ::setenv("PATH", old_path.c_str(), 1);
    fs::current_path(before);
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out, (fs::canonical(dir_ / "work")).string() + "\n");
}

// Whether a process is gone: no longer listed, or a zombie waiting for its parent.
bool ended(long pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    return text.empty() || text.substr(text.rfind(')') + 2, 1) == "Z";
}

TEST_F(Process, StopEndsTheChildAndWhatItStartedThenThrowsInterrupted) {
    // The second case ignores SIGTERM, so only the SIGKILL that follows the grace period ends it.
    for (const std::string trap : {"", "trap '' TERM; "}) {
        const fs::path pid_file = dir_ / "grandchild.pid";
        fs::remove(pid_file);
        int checks = 0;
        ProcessRequest request = shell(trap + "sleep 60 & echo $! > grandchild.pid; wait; echo finished");
        request.working_dir = dir_;
        request.should_stop = [&] {
            ++checks;
            return fs::exists(pid_file) && fs::file_size(pid_file) > 0;
        };
        const auto start = std::chrono::steady_clock::now();
        EXPECT_THROW(run_process(request), Interrupted);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);  // far from the 60 s the child would take
        EXPECT_GE(checks, 1);
        long grandchild = 0;
        std::ifstream(pid_file) >> grandchild;
        ASSERT_GT(grandchild, 0);
        for (int i = 0; i < 100 && !ended(grandchild); ++i) std::this_thread::sleep_for(10ms);
        EXPECT_TRUE(ended(grandchild)) << trap;
    }
}

TEST_F(Process, AStopRequestedAsTheChildFinishesStillInterrupts) {
    ProcessRequest request = shell("exit 0");
    bool ask = false;
    request.should_stop = [&] { return ask; };
    EXPECT_EQ(run_process(request).exit_code, 0);
    ask = true;
    EXPECT_THROW(run_process(request), Interrupted);
}

TEST_F(Process, ASetHandsOverChildrenAsTheyEndAndLeavesNoneRunning) {
    // Two ways to leave with children still running: the set goes out of scope, or a stop request.
    for (const bool stop : {false, true}) {
        std::vector<fs::path> pid_files;
        const auto start = std::chrono::steady_clock::now();
        {
            ProcessSet set;
            EXPECT_EQ(set.start(shell("sleep 0.3; echo slow")), 0u);
            EXPECT_EQ(set.start(shell("echo quick >&2; exit 2")), 1u);
            for (int k = 0; k < 2; ++k) {
                pid_files.push_back(dir_ / ("grandchild" + std::to_string(k) + std::to_string(stop)));
                set.start(shell("sleep 60 & echo $! > " + pid_files.back().string() + "; wait"));
            }
            ProcessSet::Finished first = set.wait_any();
            EXPECT_EQ(first.id, 1u);
            EXPECT_EQ(first.result.exit_code, 2);
            EXPECT_EQ(first.result.err, "quick\n");
            ProcessSet::Finished second = set.wait_any();
            EXPECT_EQ(second.id, 0u);
            EXPECT_EQ(second.result.out, "slow\n");
            EXPECT_EQ(set.running(), 2u);
            if (stop) {
                auto both_started = [&] {
                    for (const fs::path& p : pid_files) {
                        if (!fs::exists(p) || fs::file_size(p) == 0) return false;
                    }
                    return true;
                };
                EXPECT_THROW(set.wait_any(both_started), Interrupted);
                EXPECT_EQ(set.running(), 0u);
            }
            while (!std::all_of(pid_files.begin(), pid_files.end(),
                                [](const fs::path& p) { return fs::exists(p) && fs::file_size(p) > 0; })) {
                std::this_thread::sleep_for(10ms);
            }
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
        for (const fs::path& p : pid_files) {
            long grandchild = 0;
            std::ifstream(p) >> grandchild;
            for (int i = 0; i < 100 && !ended(grandchild); ++i) std::this_thread::sleep_for(10ms);
            EXPECT_TRUE(ended(grandchild)) << stop;
        }
    }
}

TEST_F(Process, TempDirIsFreshInTmpdirAndGoneOnEveryWayOut) {
    const char* saved = std::getenv("TMPDIR");
    const std::string restore = saved ? saved : "";
    ::setenv("TMPDIR", dir_.c_str(), 1);
    fs::path first, second;
    try {
        const TempDir a, b;
        first = a.path();
        second = b.path();
        EXPECT_EQ(first.parent_path(), dir_);
        EXPECT_NE(first, second);
        EXPECT_TRUE(fs::is_directory(first) && fs::is_empty(first));
        fs::create_directories(first / "sub");
        std::ofstream(first / "sub" / "file") << "x";
        throw std::runtime_error("leaving early");
    } catch (const std::runtime_error&) {
    }
    EXPECT_FALSE(fs::exists(first));
    EXPECT_FALSE(fs::exists(second));

    ::setenv("TMPDIR", (dir_ / "missing").c_str(), 1);
    EXPECT_EQ(fault_of([] { TempDir t; }), "creating temp directory: No such file or directory");
    ::setenv("TMPDIR", "", 1);
    EXPECT_EQ(TempDir().path().parent_path(), fs::path("/tmp"));
    if (saved) {
        ::setenv("TMPDIR", restore.c_str(), 1);
    } else {
        ::unsetenv("TMPDIR");
    }
}

}  // namespace
}  // namespace cellkit
