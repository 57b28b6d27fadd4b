// Molecule::load on arbitrary bytes: a molecule or an Error; a loaded one has finite positions,
// bonds between distinct atoms in range, and no more derived angles or dihedrals than the bound.
#include "ff/molecule.hpp"

#include "harness.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace cellkit;
    static fuzz::InputFile file("fuzz.json");
    const auto& path = file.write(data, size);
    fuzz::refusal_is_an_error([&path] {
        const Molecule m = Molecule::load(path);
        if (m.name != "fuzz") fuzz::broken("the molecule is not named after its file");
        if (m.pseudo_atoms.empty()) fuzz::broken("a molecule without atoms was accepted");
        for (const PseudoAtom& atom : m.pseudo_atoms) {
            for (double v : atom.position) fuzz::check_finite(v, "a position");
        }
        for (const auto& [a, b] : m.connectivity) {
            if (a == b || a >= m.pseudo_atoms.size() || b >= m.pseudo_atoms.size()) fuzz::broken("a bad bond");
        }
        if (derived_angles(m).size() > max_derived_per_molecule) fuzz::broken("too many angles");
        if (derived_dihedrals(m).size() > max_derived_per_molecule) fuzz::broken("too many dihedrals");
    });
    return 0;
}
