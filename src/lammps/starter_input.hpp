// in.lammps, a starter input for the box of a build: it reads data.lmp and forcefield.lmp, holds
// every rigid molecule the way LAMMPS can, eases the packed box into shape and runs NVT (or NPT).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/box.hpp"
#include "lammps/pair_setup.hpp"
#include "lammps/system.hpp"
#include "lammps/type_registry.hpp"

namespace cellkit {

inline constexpr const char* starter_input_name = "in.lammps";
// The first line of every starter input.
inline constexpr std::string_view starter_header =
    "# A starter input for the box of data.lmp and forcefield.lmp, written with them:";

struct StarterSettings {
    double temperature = 300.0;      // K
    std::optional<double> pressure;  // bar; NPT when given
    // Layers: the barostat moves the z edge alone, so the interfaces keep their area.
    bool pressure_along_z = false;
};

// How a species' molecules move in LAMMPS.
enum class Hold : std::uint8_t {
    Free,       // integrated atom by atom (flexible molecules, single atoms)
    Shake,      // bonds, and the angle of a bent triatomic, held by SHAKE
    RigidBody,  // one rigid body per molecule (linear or larger rigid molecules)
    Still,      // not integrated: a framework
};

struct SpeciesHold {
    std::string group;                 // a LAMMPS group name made from the species name
    std::uint64_t first_molecule = 0;  // molecule IDs first_molecule..last_molecule
    std::uint64_t last_molecule = 0;
    Hold hold = Hold::Free;
    std::vector<std::size_t> bond_types, angle_types;  // held by SHAKE, LAMMPS numbers
};

// The groups and constraints of the species, in order.
std::vector<SpeciesHold> species_holds(const ActiveSpeciesList& active, const TypeRegistries& registries);

// The timestep, fs, that the fastest free bond vibration of the box allows.
double starter_timestep(const ActiveSpeciesList& active, const TypeRegistries& registries,
                        const ForceField& force_field, const std::vector<SpeciesHold>& holds);

// The text of in.lammps for `box`. Throws Error when the pair style is left to
// the user, or the settings or the number of species are out of LAMMPS's reach.
// Throws Error when no starter can be written for these settings: no pair style, a temperature that
// is not above 0 K, a pressure that is not a number, more species than LAMMPS has groups for.
void check_starter(OptionalPairSetup pair_style, const StarterSettings& settings, std::size_t species);

std::string starter_input(const ActiveSpeciesList& active, const TypeRegistries& registries,
                          const ForceField& force_field, OptionalPairSetup pair_style, const StarterSettings& settings,
                          const Box& box);

// Whether `text`, an in.lammps read back, is exactly what starter_input writes for this build at the
// temperature and pressure the text names (after a first line "# Made by ..." if it has one).
bool starter_matches(std::string_view text, const ActiveSpeciesList& active, const TypeRegistries& registries,
                     const ForceField& force_field, OptionalPairSetup pair_style, const Box& box);

}  // namespace cellkit
