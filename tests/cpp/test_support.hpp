// Shared test helpers: in-memory molecules, scratch directories and the message of a throwing call.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ff/force_field.hpp"
#include "ff/molecule.hpp"
#include "pipeline/active_species.hpp"

namespace cellkit::testing {

// The message `call()` throws, or "" when it returns.
std::string message_of(auto&& call) {
    try {
        call();
    } catch (const Error& e) {
        return e.what();
    }
    return "";
}

inline Molecule molecule(std::string name, std::vector<PseudoAtom> atoms, std::vector<AtomPair> connectivity = {},
                         bool rigid = false) {
    return {.name = name, .pseudo_atoms = atoms, .connectivity = connectivity, .rigid = rigid};
}

inline PseudoAtomParams params(double mass, double charge, double epsilon = 0.0, double sigma = 0.0,
                               std::vector<std::string> sources = {}) {
    return PseudoAtomParams{mass, charge, epsilon, sigma, std::move(sources), sigma > 0.0};
}

// Resolves each (molecule, count); the molecules must outlive the list.
inline ActiveSpeciesList active(const std::vector<std::pair<const Molecule*, std::uint64_t>>& species) {
    ActiveSpeciesList list;
    for (const auto& [m, count] : species) list.push_back({resolve_molecule(*m), count});
    return list;
}

// Sets an environment variable while it lives, then puts back what was there.
struct ScopedEnv {
    ScopedEnv(const char* name, const std::string& value) : name(name) {
        if (const char* was = std::getenv(name)) old = was;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() { old ? ::setenv(name, old->c_str(), 1) : ::unsetenv(name); }
    const char* name;
    std::optional<std::string> old;
};

// A scratch directory of its own per test, removed afterwards.
class ScratchTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        dir_ = std::filesystem::temp_directory_path() / ("cellkit_" + std::to_string(::getpid()) + "_" + test);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::filesystem::path write(const std::string& text, const std::string& file_name) {
        const std::filesystem::path path = dir_ / file_name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    // The message `call()` throws, with `shown` written as `as` (by default the scratch directory as {d}).
    std::string fault_of(auto&& call, const std::string& as = "{d}", std::string shown = "") {
        std::string message = message_of(call);
        if (shown.empty()) shown = dir_.string();
        for (auto at = message.find(shown); at != std::string::npos; at = message.find(shown, at + as.size())) {
            message.replace(at, shown.size(), as);
        }
        return message;
    }

    // Writes `text` to `file_name`, loads it, and returns the failure with that path shown as {p}.
    std::string load_fault(const std::string& text, const std::string& file_name, auto&& load) {
        const std::filesystem::path path = write(text, file_name);
        return fault_of([&] { load(path); }, "{p}", path.string());
    }

    std::filesystem::path dir_;
};

}  // namespace cellkit::testing
