// The arguments that both packing routes take.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "lammps/pair_setup.hpp"

namespace cellkit {

struct PackCommonArgs {
    std::vector<std::filesystem::path> species;  // one molecule file per species
    std::vector<std::uint64_t> counts;           // molecules per species, by position
    std::filesystem::path force_field = "force_field.json";
    std::filesystem::path out_dir = ".";
    double density = 0.0;  // kg/m³
    bool explicit_lb = false;
    OptionalPairSetup pair_style = PairSetup::LjCut;
};

}  // namespace cellkit
