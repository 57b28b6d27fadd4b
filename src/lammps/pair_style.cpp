#include "lammps/pair_style.hpp"

namespace cellkit {

std::string gen_pair_style_setup(OptionalPairSetup pair_style, bool explicit_lb) {
    // Without explicit cross pairs LAMMPS must mix them itself, arithmetically (Lorentz-Berthelot).
    const std::string pair_modify =
        explicit_lb ? "pair_modify tail yes\n\n" : "pair_modify tail yes mix arithmetic # ATC + LB mixing\n\n";
    const std::string heading = "\n# Setting up pair style\n\n";
    if (!pair_style) {
        return heading + "# INSERT YOUR CUSTOM PAIR STYLE HERE\n\n# DO NOT FORGET TO SET KSPACE STYLE IF NEEDED\n\n";
    }
    switch (*pair_style) {
        case PairSetup::Tip4p:
            // O type 1, H type 2, O-H bond type 1, H-O-H angle type 1, O-M 0.1546 Å.
            return heading + "pair_style lj/cut/tip4p/long 1 2 1 1 0.1546 10.0\n\nkspace_style pppm/tip4p 1.0e-4\n" +
                   pair_modify;
        case PairSetup::LjCut:
            return heading + "pair_style lj/cut 10.0\n" + pair_modify;
        case PairSetup::LjCutCoulLong:
            return heading + "pair_style lj/cut/coul/long 10.0 10.0\n\nkspace_style pppm 1.0e-4\n" + pair_modify;
        case PairSetup::ForceField: break;  // model_pair_block, which needs the force field and the box
    }
    return heading;
}

}  // namespace cellkit
