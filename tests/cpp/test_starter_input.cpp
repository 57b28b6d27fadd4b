#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lammps/starter_input.hpp"
#include "test_support.hpp"

namespace cellkit {
namespace {

using testing::molecule;

Molecule with_bonds(Molecule m, std::vector<BondEntry> bonds, std::vector<BendEntry> bends = {}) {
    m.bond_entries = std::move(bonds);
    m.bend_entries = std::move(bends);
    return m;
}

const Molecule water = molecule(
    "water", {{"O", {0, 0, 0}}, {"H", {1, 0, 0}}, {"H", {-0.333313247568237, 0.942816142731718, 0}}}, {{0, 1}, {0, 2}},
    true);
const Molecule co2 = molecule("co2", {{"Oc", {0, 0, 1.149}}, {"C", {0, 0, 0}}, {"Oc", {0, 0, -1.149}}},
                              {{0, 1}, {1, 2}}, true);
// Rigid bonds and its own bend, as EPM2 has it: SHAKE on the bonds only.
const Molecule epm2 = with_bonds(molecule("epm2", {{"Oe", {0, 0, 1.149}}, {"Ce", {0, 0, 0}}, {"Oe", {0, 0, -1.149}}},
                                          {{1, 0}, {1, 2}}, true),
                                 {}, {{{"Oe", "Ce", "Oe"}, "HARMONIC", {148656.6, 180.0}}});
const Molecule n2 = molecule("n-2", {{"N", {0, 0, 0}}, {"N", {1.1, 0, 0}}}, {{0, 1}}, true);
const Molecule nh3 = molecule("all", {{"Na", {0, 0, 0}}, {"Ha", {1, 0, 0}}, {"Ha", {0, 1, 0}}, {"Ha", {0, 0, 1}}},
                              {{0, 1}, {0, 2}, {0, 3}}, true);
const Molecule argon = molecule("argon", {{"Ar", {0, 0, 0}}});
// FIXED bonds: a star (propane) SHAKE can hold, a chain (butane) it cannot.
const Molecule propane = with_bonds(
    molecule("propane", {{"CH3", {0, 0, 0}}, {"CH2", {1.54, 0, 0}}, {"CH3", {2, 1.4, 0}}}, {{0, 1}, {1, 2}}),
    {{{"CH3", "CH2"}, "FIXED", {1.54}}}, {{{"CH3", "CH2", "CH3"}, "HARMONIC", {62500, 114}}});
const Molecule butane = with_bonds(
    molecule("butane", {{"CH3", {0, 0, 0}}, {"CH2", {1.54, 0, 0}}, {"CH2", {2, 1.4, 0}}, {"CH3", {3.5, 1.6, 0}}},
             {{0, 1}, {1, 2}, {2, 3}}),
    {{{"CH3", "CH2"}, "FIXED", {1.54}}, {{"CH2", "CH2"}, "FIXED", {1.54}}},
    {{{"CH3", "CH2", "CH2"}, "HARMONIC", {62500, 114}}});
// A flexible O-H bond: the fastest vibration of the lot.
const Molecule hydroxyl = with_bonds(molecule("oh", {{"Oh", {0, 0, 0}}, {"Hh", {1.012, 0, 0}}}, {{0, 1}}),
                                     {{{"Oh", "Hh"}, "HARMONIC", {533000, 1.012}}});  // SPC/Fw

ForceField force_field() {
    ForceField ff;
    for (const auto& [name, mass] : std::vector<std::pair<std::string, double>>{
             {"O", 16}, {"H", 1}, {"Oc", 16}, {"C", 12}, {"Oe", 16}, {"Ce", 12}, {"N", 14}, {"Na", 14}, {"Ha", 1},
             {"Ar", 40}, {"CH3", 15}, {"CH2", 14}, {"Oh", 16}, {"Hh", 1}}) {
        ff.pseudo_atoms[name] = testing::params(mass, 0.0);
    }
    return ff;
}

TEST(StarterInput, EachSpeciesIsHeldTheWayLammpsCanHoldIt) {
    const ActiveSpeciesList active = testing::active(
        {{&water, 3}, {&co2, 2}, {&epm2, 1}, {&n2, 1}, {&nh3, 1}, {&argon, 4}, {&propane, 1}, {&butane, 2}});
    const ForceField ff = force_field();
    const TypeRegistries registries = build_type_registries(active, ff);
    const std::vector<SpeciesHold> holds = species_holds(active, registries);
    struct Expected {
        std::string group;
        std::uint64_t first, last;
        Hold hold;
        std::vector<std::size_t> bonds, angles;
    };
    // Bond types in order of first sight: O-H 1, Oc-C 2, Oe-Ce 3, N-N 4, Na-Ha 5, CH3-CH2 6, CH2-CH2 7;
    // angle types: H-O-H 1, Oc-C-Oc 2, Oe-Ce-Oe 3, Ha-Na-Ha 4, CH3-CH2-CH3 5, CH3-CH2-CH2 6.
    const std::vector<Expected> expected = {
        {"water", 1, 3, Hold::Shake, {1}, {1}},           // bent triatomic: bonds and angle
        {"co2", 4, 5, Hold::RigidBody, {}, {}},           // straight: SHAKE cannot hold the angle
        {"epm2", 6, 6, Hold::Shake, {3}, {}},             // its own bend stays free
        {"n_2", 7, 7, Hold::Shake, {4}, {}},              // a name LAMMPS takes
        {"all_species", 8, 8, Hold::RigidBody, {}, {}},  // four atoms; "all" is LAMMPS's own group
        {"argon", 9, 12, Hold::Free, {}, {}},
        {"propane", 13, 13, Hold::Shake, {6}, {}},        // FIXED bonds around one centre
        {"butane", 14, 15, Hold::Free, {}, {}},           // a chain of FIXED bonds: left stiff
    };
    ASSERT_EQ(holds.size(), expected.size());
    for (std::size_t s = 0; s < holds.size(); ++s) {
        const SpeciesHold& h = holds[s];
        const Expected& e = expected[s];
        EXPECT_EQ(h.group, e.group);
        EXPECT_EQ(std::pair(h.first_molecule, h.last_molecule), std::pair(e.first, e.last)) << e.group;
        EXPECT_EQ(h.hold, e.hold) << e.group;
        EXPECT_EQ(h.bond_types, e.bonds) << e.group;
        EXPECT_EQ(h.angle_types, e.angles) << e.group;
    }
}

TEST(StarterInput, TheTimestepIsATenthOfTheFastestBondLeftFree) {
    const ForceField ff = force_field();
    const std::vector<std::pair<std::vector<std::pair<const Molecule*, std::uint64_t>>, double>> cases = {
        {{{&water, 1}, {&co2, 1}, {&argon, 1}}, 2.0},  // everything held: the integrator's own limit
        {{{&propane, 1}}, 2.0},                        // its FIXED bonds held by SHAKE
        {{{&butane, 1}}, 1.0},                         // FIXED bonds left at the placeholder constant
        {{{&hydroxyl, 1}, {&water, 1}}, 0.5},          // a free bond to hydrogen
    };
    for (const auto& [species, dt] : cases) {
        const ActiveSpeciesList active = testing::active(species);
        const TypeRegistries registries = build_type_registries(active, ff);
        EXPECT_EQ(starter_timestep(active, registries, ff, species_holds(active, registries)), dt)
            << active.front().resolved.molecule->name;
    }
}

TEST(StarterInput, AStarterNeedsAPairStyleAndATemperature) {
    const ForceField ff = force_field();
    const ActiveSpeciesList active = testing::active({{&water, 2}});
    const TypeRegistries registries = build_type_registries(active, ff);
    EXPECT_EQ(testing::message_of([&] { starter_input(active, registries, ff, std::nullopt, {}, 20.0); }),
              "no in.lammps for a build whose pair style is left to you (pair style none): it would have no "
              "interactions to run; pick a pair style, or write your own input around forcefield.lmp");
    EXPECT_EQ(testing::message_of(
                  [&] { starter_input(active, registries, ff, PairSetup::LjCut, {.temperature = 0}, 20.0); }),
              "in.lammps: the temperature must be above 0 K, not 0");
    // NPT takes the pressure in atm, LAMMPS's unit, from the bar asked.
    const std::string npt =
        starter_input(active, registries, ff, PairSetup::LjCut, {.temperature = 350, .pressure = 1.01325}, 20.0);
    EXPECT_NE(npt.find("variable        P index 1  # atm (1.01325 bar)\n"), std::string::npos) << npt;
    EXPECT_NE(npt.find("fix             integrate all npt temp ${T} ${T} 100.0 iso ${P} ${P} 1000.0\n"),
              std::string::npos);
}

}  // namespace
}  // namespace cellkit
