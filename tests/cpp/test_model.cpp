#include <gtest/gtest.h>

#include "ff/force_field.hpp"
#include "ff/nonbonded_model.hpp"
#include "lammps/forcefield_file.hpp"
#include "lammps/model_mapping.hpp"
#include "test_support.hpp"

namespace cellkit {
namespace {

using namespace testing;

class Model : public ScratchTest {
protected:
    // A force field of a charged pair of types O and C with the given top-level keys.
    ForceField load(const std::string& keys) {
        return ForceField::load(write(R"({"MixingRule": "Lorentz-Berthelot", )" + keys +
                                          R"( "PseudoAtoms": [{"name": "O", "mass": 16, "charge": -0.5},
                                          {"name": "C", "mass": 12, "charge": 1.0}],
                                          "SelfInteractions": [["O", "lennard-jones", [85.671, 3.017]],
                                          ["C", "lennard-jones", [29.933, 2.745]]]})",
                                      "force_field.json"));
    }
    std::string fault(const std::string& keys) {
        return fault_of([&] { load(keys); }, "{p}", (dir_ / "force_field.json").string());
    }
};

// The numbers RASPA3 prints for its CO2 example box (edge 27.985757 Å, precision 1e-6), the
// defaults it takes for absent keys, and what each key changes.
TEST_F(Model, SettingsResolveAsRaspa3ReadsThem) {
    const double edge = 27.985757;
    const NonBondedModel co2 = resolve_model(load("").model, edge);
    EXPECT_EQ(co2.cutoff_vdw, 12.0);
    EXPECT_FALSE(co2.shifted);
    EXPECT_FALSE(co2.tail_corrections);
    EXPECT_EQ(co2.cutoff_coulomb, edge / 2);
    EXPECT_NEAR(co2.ewald_alpha, 0.2256530830, 1e-10);
    EXPECT_EQ(co2.kmax, (std::array<std::uint32_t, 3>{7, 7, 7}));

    const NonBondedModel set = resolve_model(
        load(R"("CutOff": 9, "CutOffVDW": 11.5, "TruncationMethod": "Shifted", "TailCorrections": true,
                "CutOffCoulomb": 10, "EwaldPrecision": "high", "ChargeMethod": "ewald",)")
            .model,
        edge);
    EXPECT_EQ(set.cutoff_vdw, 11.5);  // CutOffVDW wins over the older CutOff, as in RASPA3
    EXPECT_TRUE(set.shifted);
    EXPECT_TRUE(set.tail_corrections);
    EXPECT_EQ(set.cutoff_coulomb, 10.0);
    const NonBondedModel low = resolve_model(load(R"("CutOffCoulomb": 10, "EwaldPrecision": 1e-8,)").model, edge);
    EXPECT_EQ(set.ewald_alpha, low.ewald_alpha);  // "high" is 1e-8
    EXPECT_GT(set.kmax[0], co2.kmax[0]);

    const NonBondedModel given =
        resolve_model(load(R"("CutOff": 8, "CutOffCoulomb": "AUTO", "EwaldParameters": [0.3, 5, 6, 7],)").model, edge);
    EXPECT_EQ(given.cutoff_vdw, 8.0);
    EXPECT_EQ(given.cutoff_coulomb, 12.0);  // no automatic cut-off beside given Ewald parameters
    EXPECT_EQ(given.ewald_alpha, 0.3);
    EXPECT_EQ(given.kmax, (std::array<std::uint32_t, 3>{5, 6, 7}));
    EXPECT_FALSE(resolve_model(load(R"("ChargeMethod": "None",)").model, edge).charges);
    EXPECT_EQ(resolve_model(load(R"("CutOffVDW": 9, "CutOff": "Auto",)").model, edge).cutoff_vdw, 9.0);
    EXPECT_EQ(resolve_model(load(R"("CutOffVDW": "auto", "CutOff": 9,)").model, edge).cutoff_vdw, edge / 2);
}

TEST_F(Model, SettingFaults) {
    const std::string p = "parsing {p}: ";
    const std::pair<std::string, std::string> cases[] = {
        {R"("CutOffVDW": "half",)", p + "invalid value: string \"half\", expected a number or \"auto\" at line 1 "
                                        "column 55"},
        {R"("TailCorrections": "yes",)", p + "invalid type: string \"yes\", expected a boolean at line 1 column 60"},
        {R"("CutOffCoulomb": "half",)", p + "invalid value: string \"half\", expected a number or \"auto\" at line 1 "
                                            "column 59"},
        {R"("CutOffCoulomb": true,)", p + "invalid type: boolean `true`, expected a number or \"auto\" at line 1 "
                                          "column 57"},
        {R"("EwaldPrecision": "best",)", p + "invalid value: string \"best\", expected a number or \"High\", "
                                             "\"Medium\" or \"Low\" at line 1 column 60"},
        {R"("EwaldParameters": [0.3, 5, 6],)", p + "invalid length 3, expected an array [alpha, kx, ky, kz] at line 1 "
                                                   "column 66"},
        {R"("EwaldParameters": [0.3, 5, 0, 5],)", p + "invalid value: integer `0`, expected from 1 to 1000 wave "
                                                      "vectors per axis at line 1 column 65"},
        {R"("TruncationMethod": "cut",)",
         "unsupported TruncationMethod 'cut' in {p} (\"shifted\" or \"truncated\")"},
        {R"("ChargeMethod": "Wolf",)", "unsupported ChargeMethod 'Wolf' in {p} (\"Ewald\" or \"None\")"},
        {R"("CutOff": -12,)", "CutOff in {p} must be a positive number of \u00c5, got -12"},
        {R"("CutOffCoulomb": 0,)", "CutOffCoulomb in {p} must be a positive number of \u00c5, got 0"},
        {R"("EwaldPrecision": 0,)",
         "EwaldPrecision in {p} must be a positive number, or \"High\", \"Medium\" or \"Low\", got 0"},
        {R"("EwaldParameters": [-0.3, 5, 5, 5],)",
         "EwaldParameters in {p} must start with a positive alpha (1/\u00c5), got -0.3"},
    };
    for (const auto& [keys, message] : cases) EXPECT_EQ(fault(keys), message) << keys;
    EXPECT_EQ(message_of([&] { resolve_model(load(R"("EwaldPrecision": 0.1, "CutOffCoulomb": 10,)").model, 30.0); }),
              "EwaldPrecision 0.1 with a Coulomb cut-off of 10 \u00c5 gives no usable Ewald sum (alpha inf, NaN wave "
              "vectors per axis); set another EwaldPrecision or CutOffCoulomb in the force-field file");
}

TEST_F(Model, PairBlockNamesItsKeys) {
    const std::string head =
        "\n# Setting up pair style\n# The force-field file's own model, as RASPA3 evaluates it; each line names the "
        "keys it comes from.\n";
    const ForceField co2 = load(R"("TruncationMethod": "shifted", "CutOffVDW": 12.0, "CutOffCoulomb": "auto",)");
    EXPECT_EQ(model_pair_block(resolve_model(co2.model, 27.985757), true, false),
              head +
                  "pair_style lj/cut/coul/long 12 13.9928785  # CutOffVDW 12; CutOffCoulomb auto: half the box edge\n"
                  "pair_modify mix arithmetic shift yes tail no table 16 tabinner 0.5  # MixingRule "
                  "Lorentz-Berthelot; TruncationMethod shifted; TailCorrections absent: none, RASPA3's default; fine "
                  "Coulomb tables, as exact as RASPA3's erfc\n"
                  "kspace_style ewald 0.000001  # EwaldPrecision absent: RASPA3's 1e-6\n"
                  "kspace_modify gewald 0.22565308299475817 kmax/ewald 7 7 7  # RASPA3's Ewald alpha (1/\u00c5) and "
                  "wave vectors for this precision, Coulomb cut-off and box edge\n\n");
    // Shifted with tail corrections keeps the tail; no charges, or ChargeMethod None, no Ewald sum.
    const NonBondedModel tail =
        resolve_model(load(R"("TruncationMethod": "shifted", "TailCorrections": true,)").model, 30);
    EXPECT_EQ(model_pair_block(tail, false, true),
              head +
                  "pair_style lj/cut 12  # CutOffVDW absent: RASPA3's 12; no charges in the box\n"
                  "pair_modify shift no tail yes  # MixingRule Lorentz-Berthelot: every unlike pair written below; "
                  "TruncationMethod shifted: left out, LAMMPS cannot shift beside tail corrections; TailCorrections "
                  "true\n\n");
    const NonBondedModel none = resolve_model(load(R"("ChargeMethod": "None",)").model, 30);
    EXPECT_NE(model_pair_block(none, true, false).find("pair_style lj/cut 12  # CutOffVDW absent: RASPA3's 12; "
                                                        "ChargeMethod None: no electrostatics\npair_modify mix "
                                                        "arithmetic shift no tail no  #"),
              std::string::npos);
    const NonBondedModel given = resolve_model(load(R"("EwaldParameters": [0.3, 5, 6, 7],)").model, 30);
    EXPECT_NE(model_pair_block(given, true, false)
                  .find("pair_style lj/cut/coul/long 12 12  # CutOffVDW absent: RASPA3's 12; CutOffCoulomb absent: "
                        "RASPA3 keeps 12 beside EwaldParameters\n"),
              std::string::npos);
    EXPECT_NE(model_pair_block(given, true, false)
                  .find("kspace_style ewald 0.000001  # unused: EwaldParameters sets alpha and the wave vectors below\n"
                        "kspace_modify gewald 0.3 kmax/ewald 5 6 7  # EwaldParameters\n"),
              std::string::npos);
}

// Charges a pair style leaves out, and what of the file's model LAMMPS cannot follow in the box.
TEST_F(Model, WarningsSayWhatLammpsCannotFollow) {
    const Molecule co2 = molecule("CO2", {{"O", {0, 0, 1.149}}, {"C", {0, 0, 0}}, {"O", {0, 0, -1.149}}},
                                  {{0, 1}, {1, 2}}, true);
    Molecule pentane = molecule("pentane", {{"C", {}}, {"C", {}}, {"C", {}}, {"C", {}}, {"C", {}}},
                                {{0, 1}, {1, 2}, {2, 3}, {3, 4}});
    Molecule butane = molecule("butane", {{"C", {}}, {"C", {}}, {"C", {}}, {"C", {}}}, {{0, 1}, {1, 2}, {2, 3}});
    for (Molecule* m : {&pentane, &butane}) {
        m->bond_entries = {{{"C", "C"}, "HARMONIC", {96500.0, 1.54}}};
        m->bend_entries = {{{"C", "C", "C"}, "HARMONIC", {62500.0, 114.0}}};
        m->torsion_entries = {{{"C", "C", "C", "C"}, "TRAPPE", {0.0, 355.03, -68.19, 791.32}}};
    }
    const Molecule apart = molecule("apart", {{"O", {}}, {"O", {0, 0, 3}}});  // flexible, its atoms unjoined
    const ActiveSpeciesList box = active({{&co2, 10}, {&pentane, 1}, {&butane, 1}, {&apart, 1}});
    const auto warnings = [&](OptionalPairSetup style, const std::string& keys, double edge,
                              const ActiveSpeciesList& species) {
        const ForceField ff = load(keys);
        return model_warnings(style, ff, species, build_type_registries(species, ff), edge);
    };
    const std::string charges = "atom types O, C carry charges, but ";
    const std::string tail_keys = R"("TruncationMethod": "shifted", "TailCorrections": true, "CutOffCoulomb": 16,)";
    EXPECT_EQ(warnings(PairSetup::LjCut, tail_keys, 30.0, box),
              std::vector<std::string>{charges +
                                       "the LjCut preset (pair_style lj/cut) has no electrostatics: LAMMPS will "
                                       "simulate the box without them; choose the force-field pair style for the "
                                       "force-field file's own model"});
    EXPECT_TRUE(warnings(PairSetup::LjCutCoulLong, tail_keys, 30.0, box).empty());
    const std::string beyond =
        " is more than half the box edge (15.000 \u00c5): LAMMPS counts every periodic image within it, RASPA3 only "
        "the nearest, so the two programs simulate different models in this box; lower the cut-off in the force-field "
        "file or build a larger box";
    const std::string flexible =
        "' is flexible: RASPA3 adds the Lennard-Jones energy of its atoms more than three bonds apart without cut-off "
        "or shift, LAMMPS ";
    const std::string differ = " as the pair style says, so their intramolecular energies differ";
    // Not shifted, pentane's 6.2 Å of bonds reach no 12 Å cut-off; atoms unjoined reach anything.
    EXPECT_EQ(warnings(PairSetup::ForceField, tail_keys, 30.0, box),
              (std::vector<std::string>{
                  "TruncationMethod shifted with TailCorrections true: LAMMPS cannot shift the Lennard-Jones potential "
                  "and add tail corrections at once, so forcefield.lmp keeps the tail corrections, which act on the "
                  "pressure, and leaves the potential unshifted, which changes no force; energies differ from "
                  "RASPA3's by the shift at the cut-off of every pair inside it",
                  "the Coulomb cut-off of 16 \u00c5 (CutOffCoulomb 16)" + beyond,
                  "species 'apart" + flexible + "cuts it off" + differ}));
    EXPECT_EQ(warnings(PairSetup::ForceField, R"("ChargeMethod": "None", "CutOffVDW": 16, "TruncationMethod":
                                                  "shifted",)", 30.0, box),
              (std::vector<std::string>{
                  charges + "ChargeMethod None in the force-field file switches electrostatics off: LAMMPS, as "
                            "RASPA3, will simulate the box without them",
                  "the Lennard-Jones cut-off of 16 \u00c5 (CutOffVDW 16)" + beyond,
                  "species 'pentane" + flexible + "shifts it" + differ,
                  "species 'apart" + flexible + "shifts it and cuts it off" + differ}));
    EXPECT_EQ(warnings(PairSetup::ForceField, R"("CutOffVDW": 6.5,)", 30.0, box),
              (std::vector<std::string>{"species 'pentane" + flexible + "cuts it off" + differ,
                                        "species 'apart" + flexible + "cuts it off" + differ}));
    // A rigid body's pairs beyond three bonds are LAMMPS's alone, whatever the cut-off.
    Molecule rigid_chain = pentane;
    rigid_chain.rigid = true;
    for (std::size_t a = 0; a < 5; ++a) rigid_chain.pseudo_atoms[a].position = {1.5 * a, 0, 0};
    EXPECT_EQ(warnings(PairSetup::ForceField, "", 30.0, active({{&rigid_chain, 1}})),
              std::vector<std::string>{"rigid species 'pentane' has atoms more than three bonds apart: LAMMPS adds "
                                       "their intramolecular Lennard-Jones and Coulomb energy, which RASPA3 leaves out "
                                       "of a rigid molecule; held by fix rigid, the molecule feels no force from it, "
                                       "but its energy differs"});
}

}  // namespace
}  // namespace cellkit
