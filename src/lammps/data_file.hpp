// Writes the LAMMPS data file (atom style full) of a packed box.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "lammps/system.hpp"
#include "ff/force_field.hpp"
#include "ff/molecule.hpp"
#include "lammps/type_registry.hpp"

namespace cellkit {

// The whole data.lmp text. `coords` holds one triple per atom in canonical
// order (species, copies, atoms); throws Error when their number is wrong.
std::string compose_data_file(const ActiveSpeciesList& active, const std::vector<Vec3>& coords,
                              const TypeRegistries& registries, const ForceField& force_field, double box_len);

// Composes the text and replaces `path` with it; throws Error.
void write_data_file(const std::filesystem::path& path, const ActiveSpeciesList& active,
                     const std::vector<Vec3>& coords, const TypeRegistries& registries,
                     const ForceField& force_field, double box_len);

}  // namespace cellkit
