// ForceField::load on arbitrary bytes: a force field or an Error, and every number of a loaded one finite.
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
    });
    return 0;
}
