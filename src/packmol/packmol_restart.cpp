#include "packmol/packmol_restart.hpp"

#include <array>
#include <cmath>

#include "common/number_format.hpp"

namespace cellkit {
namespace {

using Matrix = std::array<Vec3, 3>;  // rows

Vec3 minus(const Vec3& a, const Vec3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
double dot(const Vec3& a, const Vec3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
Vec3 cross(const Vec3& a, const Vec3& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
Vec3 unit(const Vec3& v) {
    const double n = std::sqrt(dot(v, v));
    return n > 0.0 ? Vec3{v[0] / n, v[1] / n, v[2] / n} : Vec3{0, 0, 0};
}

Vec3 centre(const Vec3* atoms, std::size_t n) {
    Vec3 c{};
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t k = 0; k < 3; ++k) c[k] += atoms[i][k];
    }
    for (double& v : c) v /= static_cast<double>(n);
    return c;
}

// Two atoms that fix a rigid copy's turn: the one farthest from atom 0, then the one farthest from
// the line through both (none when all lie on it: a turn about that line changes nothing).
struct Reference {
    std::size_t far = 0, off = 0;
    bool line = true;
};

Reference reference(const std::vector<Vec3>& t) {
    Reference r;
    for (std::size_t i = 1; i < t.size(); ++i) {
        if (dot(minus(t[i], t[0]), minus(t[i], t[0])) > dot(minus(t[r.far], t[0]), minus(t[r.far], t[0]))) r.far = i;
    }
    const Vec3 axis = unit(minus(t[r.far], t[0]));
    double best = 1e-6;  // Å², off the line by more than rounding
    for (std::size_t i = 1; i < t.size(); ++i) {
        const Vec3 c = cross(axis, minus(t[i], t[0]));
        if (dot(c, c) > best) best = dot(c, c), r.off = i, r.line = false;
    }
    return r;
}

// The frame (as rows) that the reference atoms give a copy placed at `p`.
Matrix frame(const Vec3* p, const Reference& r) {
    const Vec3 e1 = unit(minus(p[r.far], p[0]));
    Vec3 side = r.line ? (std::fabs(e1[0]) < 0.9 ? Vec3{1, 0, 0} : Vec3{0, 1, 0}) : minus(p[r.off], p[0]);
    const Vec3 e2 = unit(cross(cross(e1, side), e1));
    return {e1, e2, cross(e1, e2)};
}

}  // namespace

std::vector<Vec3> as_read_by_packmol(const std::vector<Vec3>& atoms) {
    std::vector<Vec3> out = atoms;
    for (Vec3& p : out) {
        for (double& v : p) v = std::round(v * 1000.0) / 1000.0;
    }
    return out;
}

std::string packmol_restart(const std::vector<Vec3>& template_atoms, const std::vector<Vec3>& placed) {
    const std::size_t n = template_atoms.size();
    std::string out;
    if (n == 0) return out;
    const Reference ref = reference(template_atoms);
    const Matrix from = frame(template_atoms.data(), ref);
    for (std::size_t at = 0; at + n <= placed.size(); at += n) {
        const Vec3 c = centre(placed.data() + at, n);
        // R = (frame of the copy)^T (frame of the template): it turns the template's frame into the copy's.
        Matrix r{};
        if (n > 1) {
            const Matrix to = frame(placed.data() + at, ref);
            for (std::size_t i = 0; i < 3; ++i) {
                for (std::size_t j = 0; j < 3; ++j) {
                    r[i][j] = to[0][i] * from[0][j] + to[1][i] * from[1][j] + to[2][i] * from[2][j];
                }
            }
        } else {
            r = {Vec3{1, 0, 0}, Vec3{0, 1, 0}, Vec3{0, 0, 1}};
        }
        // The angles of Packmol's rotation from its rows v1, v2, v3.
        const double s3 = std::hypot(r[2][0], r[2][1]);
        const double teta = std::atan2(s3, r[2][2]);
        double beta = 0.0, gamma = 0.0;
        if (s3 > 1e-12) {
            beta = std::atan2(r[2][0], -r[2][1]);
            gamma = std::atan2(r[0][2], r[1][2]);
        } else {  // teta 0 or pi: one turn about z, given to gamma
            gamma = std::atan2(r[0][1] / r[2][2], r[0][0]);
        }
        for (double v : {c[0], c[1], c[2], beta, gamma, teta}) out.append(fmt::cat(fmt::Fixed{v, 10}, " "));
        out.back() = '\n';
    }
    return out;
}

}  // namespace cellkit
