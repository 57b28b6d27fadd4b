// Packmol's restart files: where each molecule of a structure starts, as its centre and Euler angles.
#pragma once

#include <string>
#include <vector>

#include "common/vec3.hpp"

namespace cellkit {

// The atoms of a template as Packmol reads them from its PDB file: to three decimals.
std::vector<Vec3> as_read_by_packmol(const std::vector<Vec3>& atoms);

// The text of a restart file (restart_from) that starts Packmol at `placed`: whole rigid copies of
// `template_atoms`, one after another. Per molecule, Packmol's line "x y z beta gamma teta": the
// centre of its atoms, and the angles of the rotation R with rows (-s1 s2 c3 + c1 c2, c1 s2 c3 + s1 c2,
// s2 s3), (-s1 c2 c3 - c1 s2, c1 c2 c3 - s1 s2, c2 s3), (s1 s3, -c1 s3, c3) that puts each template atom
// t at centre + R (t - template centre), where s1 = sin beta, c2 = cos gamma, c3 = cos teta and so on.
std::string packmol_restart(const std::vector<Vec3>& template_atoms, const std::vector<Vec3>& placed);

}  // namespace cellkit
