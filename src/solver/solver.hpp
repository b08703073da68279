// The flow solver's operations over the store.
#pragma once

#include <cmath>
#include <initializer_list>
#include <string>
#include <vector>

#include "store/store.hpp"

namespace qv {

// --- body-surface ghost velocities (applied point by point by the sweeps)
// Face rule at a body cell: its six face velocities become 0.
void face_rule(Store& s, int i, int j, int k);
// Mirror at a fluid point (nothing at a body cell) of component c (0 = uu,
// 1 = vv, 2 = ww): across each other axis, + side then - side, the ghost
// `depth` (1 or 2) points away that lies inside the body gets ca1 x the
// value one point nearer.  By component and depth the groups are uu 1 (B),
// uu 2 (C), vv 1 (D), vv 2 (E), ww 1 (F), ww 2 (G).
void reflect(Store& s, int c, int depth, int i, int j, int k);
// Rule A: own-direction ghosts of the swept component (0 = uu, 1 = vv, 2 = ww).
void reflect_A(Store& s, int dir, int i, int j, int k);

// --- sub-grid model constants (the filter widths: s.grid.delta, delta_node)
// Ck of the sub-grid kinetic energy k = nut^2 / (Ck D)^2.
inline constexpr double kCk = 0.094;

// Eddy viscosity at the grid node (x(i), y(j), z(k)): linear interpolation
// of the cell values in x, then y, then z.  Written over values V, a double
// for one node or a vector of nodes along k for a tuned kernel:
// nut(a, b, c) is nut at (i + a, j + b, k + c), dz(c) is dz(k + c).
template <class V, class Nut, class Dz>
V corner_viscosity_of(Nut nut, Dz dz, const Line& dx, const Line& dy, int i, int j) {
  auto nx = [&](int b, int c) -> V {
    return (nut(0, b, c) * dx(i - 1) + nut(-1, b, c) * dx(i)) / (dx(i - 1) + dx(i));
  };
  const V n00 = nx(0, 0), n10 = nx(-1, 0), n01 = nx(0, -1), n11 = nx(-1, -1);
  const V m0 = (n00 * dy(j - 1) + n10 * dy(j)) / (dy(j - 1) + dy(j));
  const V m1 = (n01 * dy(j - 1) + n11 * dy(j)) / (dy(j - 1) + dy(j));
  return (m0 * dz(-1) + m1 * dz(0)) / (dz(-1) + dz(0));
}
// Velocities at the grid node (x(i), y(j), z(k)) from the faces around it:
// u between the cell-centre lines in y, then z; v in z, then x; w in x,
// then y, each weighted by the cell widths.  Written over values V as
// above: f(a, b, c) reads field f at (i + a, j + b, k + c), dz(c) and
// dzc(c) are dz(k + c) and dzc(k + c).
template <class V>
struct NodeVelocity {
  V u, v, w;
};
template <class V, class At, class Dz, class Dzc>
NodeVelocity<V> node_velocity_of(const Store& s, At f, Dz dz, Dzc dzc, int i, int j) {
  const Line &dx = s.grid.dx, &dy = s.grid.dy, &dxc = s.grid.dxc, &dyc = s.grid.dyc;
  const Field &uu = s.flow.uu, &vv = s.flow.vv, &ww = s.flow.ww;
  const V a = (dy(j - 1) * f(uu, 0, 0, 0) + dy(j) * f(uu, 0, -1, 0)) / (2 * dyc(j));
  const V b = (dy(j - 1) * f(uu, 0, 0, -1) + dy(j) * f(uu, 0, -1, -1)) / (2 * dyc(j));
  const V u = (dz(-1) * a + dz(0) * b) / (2 * dzc(0));
  const V c = (dz(-1) * f(vv, 0, 0, 0) + dz(0) * f(vv, 0, 0, -1)) / (2 * dzc(0));
  const V d = (dz(-1) * f(vv, -1, 0, 0) + dz(0) * f(vv, -1, 0, -1)) / (2 * dzc(0));
  const V v = (dx(i - 1) * c + dx(i) * d) / (2 * dxc(i));
  const V e = (dx(i - 1) * f(ww, 0, 0, 0) + dx(i) * f(ww, -1, 0, 0)) / (2 * dxc(i));
  const V g = (dx(i - 1) * f(ww, 0, -1, 0) + dx(i) * f(ww, -1, -1, 0)) / (2 * dxc(i));
  const V w = (dy(j - 1) * e + dy(j) * g) / (2 * dyc(j));
  return {u, v, w};
}

inline double corner_viscosity(const Store& s, int i, int j, int k) {
  const Field& nut = s.flow.nut;
  return corner_viscosity_of<double>([&](int a, int b, int c) { return nut(i + a, j + b, k + c); },
                                     [&](int c) { return s.grid.dz(k + c); }, s.grid.dx, s.grid.dy, i, j);
}

// --- boundary values
// The outflow switches of uvwbdy: 1 copies the outflow face of uu, vv or
// ww from the face inside it, 0 keeps it.  Each operation that decides
// them hands back one of the named sets below; the driver keeps them, and
// the next uvwbdy, its own or a later operation's, follows them.
struct OutflowSwitches {
  int iobu = 0, iobv = 0, iobw = 0;
};
// after the advance, and at an analytic start: every outflow face copied
inline constexpr OutflowSwitches kOutflowCopied{1, 1, 1};
// after the pressure correction: its outflow uu stays, vv and ww copied
inline constexpr OutflowSwitches kOutflowCorrectedU{0, 1, 1};
// after a restart read: the outflow faces of the field file stay
inline constexpr OutflowSwitches kOutflowAsRead{0, 0, 0};

void uvwbdy(Store& s, const OutflowSwitches& outflow);
// Its body-surface rules at one interior cell (i, j, k), each a sweep of
// uvwbdy, k outer and i inner: the faces of a body cell beside a fluid cell
// mirror the fluid cell's tangential faces times ca1 (step 1), and every
// face between a fluid and a body cell carries 0 (step 2).
void surface_tangential(Store& s, int i, int j, int k);
void surface_normal(Store& s, int i, int j, int k);
void prsbdy(Store& s);

// --- sides and edge lines of the outer box
// The active index a ghost layer of a side takes its value from: beside a
// periodic side the one a period away (lo-1 from hi, hi+1 from lo), beside
// any other the nearest active one.
struct SideMap {
  int lo, hi;  // first and last active index
  bool periodic;
  int operator()(int n) const {
    if (n < lo) return periodic ? n + (hi - lo + 1) : lo;
    if (n > hi) return periodic ? n - (hi - lo + 1) : hi;
    return n;
  }
};
SideMap side_i(const Store& s);  // is..ie-1, never periodic
SideMap side_j(const Store& s);  // js..je-1, periodic when iyper = 0
SideMap side_k(const Store& s);  // ks..ke-1, periodic when izper = 0
// The side fill: the ghost layers `ghosts` (in that order at each point) of
// q along `axis` (0 = i, 1 = j, 2 = k) take the value their side map m
// gives, at every point a1..a2, b1..b2 of the two other indices (in i, j,
// k order).  Each ghost reads active values only (or, on a grid narrower
// than its depth, a ghost listed before it), so the points may go in any
// order: they go in the store's order, shared among the threads.
void fill_sides(Field& q, const SideMap& m, int axis, std::initializer_list<int> ghosts, int a1, int a2, int b1,
                int b2);
// The four ghosts around each point i1..i2 of the lines along x where the
// y and z sides meet, (js-1 or je, ks-1 or ke), through the side maps;
// likewise along y (j1..j2) and along z (k1..k2).
void edge_lines_x(Field& q, const Store& s, int i1, int i2);
void edge_lines_y(Field& q, const Store& s, int j1, int j2);
void edge_lines_z(Field& q, const Store& s, int k1, int k2);

// --- node and face conversions
void node_to_face(Store& s);
void node_to_cell(Store& s);  // ends with prsbdy
void face_to_node(Store& s);

// --- the step
// The pressure iteration's tolerance ramp as "esp2.inf" holds it.
struct ToleranceRamp {
  int ic2 = 0, ic3 = 0;
  double sesp = 0;
};

// What a step hands out for the files while it runs, at the moment it
// arises; the driver's implementation writes them (output/probes.hpp), the
// default drops them.
// The row of fort.1 and fort.2 (it does not follow js, ks).
inline constexpr int kInflowProbeJ = 80, kInflowProbeK = 10;
struct InflowProbe {  // the fixed row of fort.1 (uu) and fort.2 (vv)
  int nn = 0;
  double t = 0;
  double u[3] = {}, v[3] = {};  // at i = is, is+2, is+5
};
struct PressurePass {  // a pass of the pressure iteration still above its tolerance
  int iter = 0;
  double dm = 0, esp2 = 0;
  int ic2 = 0;
  int li = 0, lj = 0, lk = 0;  // where the largest |D| is
};
class StepReports {
 public:
  virtual ~StepReports() = default;
  virtual void inflow_probe(const InflowProbe&) {}
  virtual void pressure_pass(const PressurePass&) {}
};

// Pressure-velocity correction with the tolerance ramp read for this step;
// dtmin receives the admissible time step, outflow the switches it leaves.  Each pass whose divergence is
// still above the tolerance goes to reports before its sweep.
void hsmac2(Store& s, const ToleranceRamp& ramp, double& dtmin, StepReports& reports, OutflowSwitches& outflow);
// fu, fv, fw: explicit convection and diffusion.  momentum_terms is the
// tuned kernel the program runs; momentum_terms_in_order is the recipe,
// point by point in the defining order, with the same result bit for bit.
void momentum_terms(Store& s);
void momentum_terms_in_order(Store& s);
// fu0, fv0, fw0 = fu, fv, fw.
void shift_history(Store& s);
// Adams-Bashforth prediction, body faces, inflow, boundary values; outflow
// is followed by the inflow's uvwbdy and receives the switches it leaves.
void advance_velocity(Store& s, const std::string& inputfile, StepReports& reports, OutflowSwitches& outflow);
// Inflow column and planes from Vin and the body motion; the probe row to reports.
void inflow(Store& s, const std::string& inputfile, StepReports& reports, const OutflowSwitches& outflow);
// Body-face cleanup, Smagorinsky viscosity, stress sums, nut ghosts.
void subgrid_viscosity(Store& s);

// The pressure iteration's two passes, as defined (hsmac2.cpp) and as the
// tuned kernels that must give the same bits (hsmac2_tuned.cpp).  The
// correction sweep takes c split into its column part cxy and layer part cz.
// The scan returns false when a divergence is not finite.
// c = 1/(dxc(i) dxc(i+1)) + 1/(dyc(j) dyc(j+1)) + 1/(dzc(k) dzc(k+1)) of
// the correction sweep, as its column part cxy (index i nj + j - 1) and its
// layer part cz (index k); the sum cxy + cz is c with the same operations.
void correction_coefficients(const Store& s, std::vector<double>& cxy, std::vector<double>& cz);
bool divergence_scan_in_order(const Store& s, double& dm, int& li, int& lj, int& lk);
// divider: take every quotient by division, as before the reciprocal
// quotients (quotient.hpp), which give the same bits; for comparison.
bool divergence_scan(const Store& s, double& dm, int& li, int& lj, int& lk, bool divider = false);
void correction_sweep_in_order(Store& s, double esp2, const std::vector<double>& cxy, const std::vector<double>& cz);
// The inflow column, body cells and z walls put back after each sweep
// (the body cells as listed in work_body).
void restore_after_sweep(Store& s);
// work_body: the interior body cells; work_body_rim: those of them that a
// sweep can change once a restore has cleared them all.
void list_body_cells(Store& s);
// group: columns computed side by side (8 with AVX-512, 4, or 1 for the
// ordered walk); 0 chooses the widest the processor has.  Planes are divided
// among the OpenMP threads.
void correction_sweep(Store& s, double esp2, const std::vector<double>& cxy, const std::vector<double>& cz,
                      int group = 0, bool divider = false);

// The passes on the lane-order copies of the fields (store/lanes.hpp),
// each equal bit for bit to its namesake above; the store supplies the
// grid, the flags, the inflow values and the body-cell list.  lanes_usable:
// the processor has the eight-lane vectors and the columns eight layers.
bool lanes_usable(const Store& s);
// The scan's quotients: from reciprocals; mixed, those in x and y by the
// divider and those in z from reciprocals; by the divider; or (faster) in
// whichever of the three forms ran fastest on this processor when the
// first scan of the process timed them.  All give the same bits.
enum class ScanForm { faster, reciprocals, mixed, divider };
bool lanes_divergence_scan(const LaneFields& L, const Store& s, double& dm, int& li, int& lj, int& lk,
                           ScanForm form = ScanForm::faster);
// The sweep's quotients: all from reciprocals; mixed, the four of the chain
// through D by the divider and the six corrections from reciprocals; all by
// the divider; or (faster) whichever of the first two ran faster in the
// first sweeps of the process, which take them in turn.  All give the same
// bits.
enum class SweepForm { faster, reciprocals, mixed, divider };
void lanes_correction_sweep(LaneFields& L, const Store& s, double esp2, const std::vector<double>& cxy,
                            const std::vector<double>& cz, SweepForm form = SweepForm::faster);
// body: the body cells to clear, work_body or, after a first restore with
// it, work_body_rim (see hsmac2).
void lanes_restore_after_sweep(LaneFields& L, const Store& s, const std::vector<std::array<int, 3>>& body);

// The most passes hsmac2 makes in one call; a call that needs more ends
// with iter = kIterLimit + 1.
inline constexpr int kIterLimit = 5000;

// Thrown by hsmac2 when the divergence is no longer finite.
struct BlowUp {
  int nn;
};

}  // namespace qv
