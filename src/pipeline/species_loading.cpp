#include "pipeline/species_loading.hpp"

#include <cmath>
#include <unordered_set>

#include "common/file_io.hpp"
#include "common/number_format.hpp"

namespace cellkit {

LoadedInputs load_molecules(const std::filesystem::path& force_field, const std::vector<std::filesystem::path>& species,
                            const std::vector<std::uint64_t>& counts) {
    using fmt::cat;
    if (species.empty()) fail("at least one --species is required");
    if (species.size() != counts.size()) {
        fail("--species has ", species.size(), " entries but --counts has ", counts.size(), " (they must match 1:1)");
    }
    LoadedInputs loaded{ForceField::load(force_field), {}, {}, {}};
    loaded.warnings = loaded.force_field.warnings;
    loaded.molecules.reserve(species.size());
    std::unordered_set<std::string> names;
    for (std::size_t s = 0; s < species.size(); ++s) {
        Molecule molecule = Molecule::load(species[s]);
        if (!names.insert(molecule.name).second) {
            fail("duplicate species name '", molecule.name, "' (from ", display(species[s]),
                 "); file stems must be unique");
        }
        // Checked before the bonded entries are looked up, which would report a misspelt type as a
        // missing entry.
        for (const PseudoAtom& atom : molecule.pseudo_atoms) {
            if (counts[s] > 0 && loaded.force_field.find(atom.type) == nullptr) {
                fail("molecule '", molecule.name, "' uses pseudo-atom type '", atom.type,
                     "' not present in the force field");
            }
        }
        loaded.warnings.insert(loaded.warnings.end(), molecule.warnings.begin(), molecule.warnings.end());
        loaded.molecules.push_back(std::move(molecule));
    }
    for (std::size_t i = 0; i < species.size(); ++i) {
        if (counts[i] == 0) loaded.skipped.push_back(loaded.molecules[i].name);
    }
    return loaded;
}

NonBondedModel load_model(const std::filesystem::path& force_field, const Box& box) {
    for (const double edge : box.edges) {
        if (!(std::isfinite(edge) && edge > 0.0)) fail("box edge must be a positive number of \u00c5, got ", edge);
    }
    return resolve_model(ForceField::load(force_field).model, box);
}

}  // namespace cellkit
