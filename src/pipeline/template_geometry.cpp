#include "pipeline/template_geometry.hpp"

#include "common/file_io.hpp"
#include "common/number_format.hpp"
#include "ff/template_shape.hpp"
#include "lammps/conformer.hpp"

namespace cellkit {

std::vector<bool> build_missing_templates(LoadedInputs& loaded, const std::vector<std::filesystem::path>& species,
                                          const std::vector<std::uint64_t>& counts) {
    std::vector<bool> built(loaded.molecules.size(), false);
    for (std::size_t i = 0; i < loaded.molecules.size() && i < counts.size(); ++i) {
        Molecule& m = loaded.molecules[i];
        if (counts[i] == 0 || m.rigid || !coincident_atoms(m.pseudo_atoms)) continue;
        const std::vector<Vec3> positions = build_conformer(m, display(species[i]));
        for (std::size_t a = 0; a < positions.size(); ++a) m.pseudo_atoms[a].position = positions[a];
        built[i] = true;
        loaded.warnings.push_back(fmt::cat(
            "species '", m.name,
            "' has its atoms on one point, as RASPA3's flexible molecule files have: cellkit built its geometry "
            "for packing from its bonds, bends and torsions (each bond at r0, each bend at theta0, each dihedral "
            "at its lowest torsion energy)"));
    }
    return built;
}

}  // namespace cellkit
