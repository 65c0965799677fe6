// Lennard-Jones particles in a periodic cubic box, integrated with velocity
// Verlet, forces from a Verlet neighbour list built through cell lists.
//
// Reduced units: epsilon = sigma = mass = 1. The pair potential is
// 4 (r^-12 - r^-6) - 4 (rc^-12 - rc^-6) for r < rc, 0 beyond.
//
// Forces are summed in an order that depends only on the particle indices
// (each list row is sorted, pairs beyond rc add nothing), never on when the
// neighbour list was built. So a run that is interrupted and resumed from a
// checkpoint produces bit for bit the same trajectory as one that is not.
#pragma once

#include <cstdint>
#include <vector>

namespace md {

class LjSystem {
public:
    LjSystem(uint32_t n, double box, double cutoff, double skin);

    // state: 6 doubles per particle, x y z vx vy vz. Recomputes the forces.
    void SetState(const std::vector<double>& state);
    std::vector<double> State() const;

    // One velocity Verlet step of length dt; positions stay in [0, box).
    void Step(double dt);

    double Kinetic() const;
    double Potential() const { return potential_; }
    uint64_t ListBuilds() const { return list_builds_; }

    // Maps a coordinate into [0, box). Also used for the unit's positions,
    // so it must agree with what the result checker does.
    static double Wrap(double x, double box);

private:
    void ComputeForces();
    bool ListStale() const;
    void BuildList();
    void BuildListAllPairs();
    void BuildListCells(int nc, int reach);
    void AppendIfNear(uint32_t i, uint32_t j);
    double MinImage(double d) const;

    uint32_t n_;
    double box_, half_box_, rc2_, list_r2_, half_skin2_, shift_;
    std::vector<double> x_, v_, f_;   // 3 per particle
    std::vector<double> x_at_build_;  // positions when the list was built
    std::vector<uint32_t> row_start_, neighbours_;  // j > i, sorted per row
    double potential_ = 0;
    uint64_t list_builds_ = 0;
};

}  // namespace md
