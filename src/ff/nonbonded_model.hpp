// How a force-field file cuts off and sums its non-bonded terms, read as RASPA3 reads the same keys,
// and what that means for one box.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "common/box.hpp"

namespace cellkit {

// "EwaldParameters": [alpha, kx, ky, kz].
struct EwaldParameters {
    double alpha = 0.0;  // 1/Å
    std::array<std::uint32_t, 3> kmax{};
};

// "EwaldPrecision" as written: a number, or "High", "Medium" or "Low".
struct EwaldPrecision {
    double value = 0.0;
    std::string written;  // the name, or empty for a number
};

// The keys as the file gives them; absent ones take RASPA3's defaults when resolved.
struct ModelSettings {
    std::optional<double> cutoff_vdw;          // Å, from "CutOffVDW", else "CutOff"
    bool cutoff_vdw_auto = false;              // ... written "auto": half the box edge
    std::string cutoff_vdw_key = "CutOffVDW";  // the key that gave it
    std::optional<bool> shifted;               // "TruncationMethod": "shifted" or "truncated"
    std::optional<bool> tail_corrections;      // "TailCorrections"
    std::optional<double> cutoff_coulomb;      // Å, "CutOffCoulomb" as a number
    bool cutoff_coulomb_auto = false;          // "CutOffCoulomb": "auto" as written
    std::optional<EwaldPrecision> ewald_precision;
    std::optional<EwaldParameters> ewald_parameters;
    std::optional<bool> charges;  // "ChargeMethod": "Ewald" (true) or "None" (false)
};

inline constexpr double kRaspaCutoff = 12.0;             // Å, RASPA3's van der Waals cut-off
inline constexpr double kRaspaEwaldPrecision = 1e-6;     // RASPA3's default relative precision
inline constexpr std::uint32_t kMaxWaveVectors = 1000;  // per axis; LAMMPS sums (2k+1)^3 of them

// The model of one box edge, every choice made.
struct NonBondedModel {
    ModelSettings settings;  // what the file said, for naming the keys
    Box box;                 // the box it was resolved for
    double cutoff_vdw = kRaspaCutoff;
    bool shifted = false;
    bool tail_corrections = false;
    bool charges = true;  // ChargeMethod is not "None"
    double cutoff_coulomb = 0.0;
    double ewald_alpha = 0.0;  // 1/Å
    std::array<std::uint32_t, 3> kmax{};
};

// Checks a setting's value as it is read; throws Error naming the key and `file`.
void check_settings(const ModelSettings& settings, const std::string& file);

// Resolves the settings for `box` as RASPA3 does: cut-off 12 Å ("auto": half the shortest box
// edge), truncated, no tail corrections, Coulomb cut-off half the shortest edge ("auto", also when absent,
// except with EwaldParameters, where RASPA3 keeps 12 Å), Ewald alpha and wave vectors from the
// precision (1e-6) unless EwaldParameters gives them. Throws Error when the precision and cut-off
// give no usable Ewald parameters.
NonBondedModel resolve_model(const ModelSettings& settings, const Box& box);

}  // namespace cellkit
