// The two files exchanged with the RASPA3 script: the run's arguments, and the box it sends back.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/box.hpp"
#include "common/seed.hpp"
#include "common/vec3.hpp"

namespace cellkit {

// The arguments that only the RASPA3 route takes, all passed to it unchanged.
struct Raspa3Settings {
    double temperature = 300.0;  // K
    std::uint64_t init_cycles = 1;
    std::uint64_t equil_cycles = 1;
    std::uint64_t prod_cycles = 1;
    std::optional<Vec3> box;            // the box's edges, Å; unset: the cube that holds the mass at the density
    std::uint64_t seed = default_seed;  // of RASPA3's Monte Carlo run
};

// Per species, the positions that stand in for its molecule file's template, or none.
using Raspa3Templates = std::vector<std::optional<std::vector<Vec3>>>;

// The text of raspa3_args.json: compact, members sorted by key. Paths are made
// absolute with links resolved (kept as given when that fails), so the script
// can open them from anywhere, and bytes that are not UTF-8 become U+FFFD; a
// non-finite density or temperature is written as null. "box" and "templates"
// are written only when set (a cube's arguments stay as they were).
std::string raspa3_args_json(const std::vector<std::filesystem::path>& species,
                             const std::vector<std::uint64_t>& counts, const std::filesystem::path& force_field,
                             double density, const Raspa3Settings& settings, const Raspa3Templates& templates = {});

struct Raspa3Box {
    Box box;                   // Å, not range-checked here
    std::vector<Vec3> coords;  // as given, which must be the canonical atom order
    // What the script printed, when it printed anything but blanks.
    std::optional<std::string> note;
};

// Reads the text of raspa3_result.json; members other than box_len (a cube's
// edge, or the three edges) and coords are ignored. Throws Error "parsing raspa result JSON: {fault} at line L
// column C", else the first of "raspa result missing 'box_len'", "raspa result
// missing 'coords'" and the first element's fault: "coords[i] is not an array",
// "coords[i] has n elements, expected 3", "coords[i][j] is not a number".
Raspa3Box parse_raspa3_result(std::string text);

// The "error" string of a result file that the script wrote instead of a box: its refusal, in
// the run's own words. None when the text is not such a file.
std::optional<std::string> raspa3_refusal(std::string text);

}  // namespace cellkit
