// The pair-style preset written into forcefield.lmp.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace cellkit {

// ForceField is the force-field file's own model (cut-offs, truncation, tail corrections, Ewald sum);
// the others are fixed presets. 3 stands for no preset where the presets are numbered.
enum class PairSetup : std::uint8_t { Tip4p = 0, LjCut = 1, LjCutCoulLong = 2, ForceField = 4 };

// Absent means no preset: the file leaves the pair style to the user.
using OptionalPairSetup = std::optional<PairSetup>;

inline std::string_view pair_setup_name(PairSetup p) {
    switch (p) {
        case PairSetup::Tip4p: return "Tip4p";
        case PairSetup::LjCut: return "LjCut";
        case PairSetup::LjCutCoulLong: return "LjCutCoulLong";
        case PairSetup::ForceField: return "ForceField";
    }
    return "?";
}

// The presets that always set a kspace style (ForceField sets one only for a charged box).
inline bool has_long_range_coulomb(OptionalPairSetup p) {
    return p == PairSetup::Tip4p || p == PairSetup::LjCutCoulLong;
}

}  // namespace cellkit
