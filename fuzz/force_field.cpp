// ForceField::load on arbitrary bytes: a force field or an Error, and every number of a loaded one finite;
// its model resolved for a small and a large box: an Error or finite cut-offs and Ewald parameters.
#include "ff/force_field.hpp"

#include "harness.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace cellkit;
    static fuzz::InputFile file("force_field.json");
    const auto& path = file.write(data, size);
    fuzz::refusal_is_an_error([&path] {
        const ForceField ff = ForceField::load(path);
        for (const auto& [name, p] : ff.pseudo_atoms) {
            if (!(p.mass > 0.0)) fuzz::broken("a pseudo-atom without positive mass was accepted");
            for (double v : {p.mass, p.charge, p.epsilon, p.sigma}) fuzz::check_finite(v, "a pseudo-atom number");
        }
        for (const auto& [names, p] : ff.binary_pairs) {
            if (!ff.find(names.first) || !ff.find(names.second)) fuzz::broken("a pair of an unknown type");
            if (ff.find_pair(names.second, names.first) != &p) fuzz::broken("a pair not found both ways round");
            fuzz::check_finite(p.epsilon, "a pair epsilon");
            fuzz::check_finite(p.sigma, "a pair sigma");
        }
        for (const double edge : {3.0, 80.0}) {
            fuzz::refusal_is_an_error([&ff, edge] {
                const NonBondedModel m = resolve_model(ff.model, edge);
                for (double v : {m.cutoff_vdw, m.cutoff_coulomb}) {
                    if (!(v > 0.0)) fuzz::broken("a cut-off that is not positive");
                    fuzz::check_finite(v, "a cut-off");
                }
                if (m.charges && !(m.ewald_alpha > 0.0 && m.kmax[0] >= 1)) fuzz::broken("an unusable Ewald sum");
                fuzz::check_finite(m.ewald_alpha, "the Ewald alpha");
            });
        }
    });
    return 0;
}
