// The field store: every array and scalar the operations share.
//
// Index semantics are 1-based (i, j, k) as the program has always used them:
// the active box is is..ie, js..je, ks..ke with is = js = ks = 3, and the
// ghost layers lie outside it.  The memory order behind the accessor is our
// own choice: k varies fastest, then j, then i, because the hot sweeps run
// with i outermost and k innermost.  Files are still written i-fastest.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "store/lanes.hpp"

namespace qv {

// Largest box the program supports (ghost layers included).
inline constexpr int kMaxI = 217;
inline constexpr int kMaxJ = 165;
inline constexpr int kMaxK = 65;
// The body history keeps every sample: room for kHistoryStart samples is
// made at start-up and grows as the run needs it, up to kMaxSamples, the
// most a record of the history file holds (3 reals per sample, 32-bit
// length).
inline constexpr int kHistoryStart = 70000;
inline constexpr int kMaxSamples = 2147483647 / 24;

template <class T>
class Field3 {
 public:
  void allocate(int ni, int nj, int nk) {
    ni_ = ni;
    nj_ = nj;
    nk_ = nk;
    sj_ = nk;
    si_ = static_cast<std::size_t>(nj) * nk;
    d_.assign(static_cast<std::size_t>(ni) * nj * nk, T{});
  }
  T& operator()(int i, int j, int k) { return d_[index(i, j, k)]; }
  const T& operator()(int i, int j, int k) const { return d_[index(i, j, k)]; }
  // For probes at fixed positions that may lie beyond a small grid: an entry
  // outside the allocated box reads as the zero it would hold if it existed.
  T value_or_zero(int i, int j, int k) const {
    if (i < 1 || j < 1 || k < 1 || i > ni_ || j > nj_ || k > nk_) return T{};
    return d_[index(i, j, k)];
  }
  void zero() { std::fill(d_.begin(), d_.end(), T{}); }
  int ni() const { return ni_; }
  int nj() const { return nj_; }
  int nk() const { return nk_; }
  // Strides of the memory order (k fastest) for hand-tuned sweeps.
  std::size_t stride_i() const { return si_; }
  std::size_t stride_j() const { return sj_; }
  T* data() { return d_.data(); }
  const T* data() const { return d_.data(); }
  std::size_t index(int i, int j, int k) const {
#ifdef QV_BOUNDS_CHECK
    if (i < 1 || j < 1 || k < 1 || i > ni_ || j > nj_ || k > nk_) out_of_range(i, j, k);
#endif
    return static_cast<std::size_t>(i - 1) * si_ + static_cast<std::size_t>(j - 1) * sj_ +
           static_cast<std::size_t>(k - 1);
  }

 private:
  [[noreturn]] void out_of_range(int i, int j, int k) const;
  std::vector<T> d_;
  int ni_ = 0, nj_ = 0, nk_ = 0;
  std::size_t si_ = 0, sj_ = 0;
};

using Field = Field3<double>;
using Flags = Field3<std::int32_t>;

// A plane indexed (j, k), for the inflow values.
class Plane {
 public:
  void allocate(int nj, int nk) {
    nj_ = nj;
    nk_ = nk;
    d_.assign(static_cast<std::size_t>(nj) * nk, 0.0);
  }
  double& operator()(int j, int k) { return d_[static_cast<std::size_t>(j - 1) * nk_ + (k - 1)]; }
  double operator()(int j, int k) const { return d_[static_cast<std::size_t>(j - 1) * nk_ + (k - 1)]; }
  void zero() { std::fill(d_.begin(), d_.end(), 0.0); }
  double* data() { return d_.data(); }
  const double* data() const { return d_.data(); }
  std::size_t size() const { return d_.size(); }

 private:
  std::vector<double> d_;
  int nj_ = 0, nk_ = 0;
};

// A line of grid values indexed from 1 (x, dx, dxc, ...).
class Line {
 public:
  explicit Line(int n = 0) : d_(static_cast<std::size_t>(n) + 1, 0.0) {}
  double& operator()(int i) { return d_[static_cast<std::size_t>(i)]; }
  double operator()(int i) const { return d_[static_cast<std::size_t>(i)]; }
  void zero() { std::fill(d_.begin(), d_.end(), 0.0); }
  const double* data() const { return d_.data(); }  // data()[i] == (*this)(i)
  int size() const { return static_cast<int>(d_.size()) - 1; }

 private:
  std::vector<double> d_;
};


// The store is read in four groups; every member is reached as s.name
// whatever its group.

// Physics state: what the run computes and carries from step to step, and
// what the field and body files hold.
struct PhysicsState {
  // index box
  int is = 3, js = 3, ks = 3;
  int ie = 0, je = 0, ke = 0;

  // run scalars
  double dt = 0, t = 0;
  int nn = 0, nt = 0;
  double Vin = 0;
  double Re = 0, Cs = 0;
  int iyper = 0, izper = 0;
  double esp = 0, omg = 0;
  int iter = 0;  // pressure iterations of the last hsmac2
  double delm = 0;
  double ca1 = 0, ca2 = 0;

  // body loads and state
  double pfx = 0, pfy = 0, pft = 0;
  double xdis = 0, ydis = 0, tdis = 0;
  double xvel = 0, yvel = 0, tvel = 0;
  double xacc = 0, yacc = 0, tacc = 0;
  double xdis0 = 0, ydis0 = 0, tdis0 = 0;
  double xvel0 = 0, yvel0 = 0, tvel0 = 0;
  double xacc0 = 0, yacc0 = 0, tacc0 = 0;
  // body parameters
  double amas = 0, aitm = 0, xkst = 0, ykst = 0, tkst = 0;
  double xh0 = 0, yh0 = 0, th0 = 0, beta = 0;
  int ndof = 0;
  double xamp = 0, yamp = 0, tamp = 0, tfrc = 0;
  int nsmp = 0;
  double xdmp = 0, ydmp = 0, tdmp = 0;
  // body history
  int nsnext = 0, nsample = 0;
  std::vector<double> fhist;  // 3 per sample
  std::vector<double> bhist;  // 3 x 3 per sample
  double first_dis[3] = {0, 0, 0};
  double first_vel[3] = {0, 0, 0};

  // grid
  Line x{kMaxI}, dx{kMaxI}, dxc{kMaxI};
  Line y{kMaxJ}, dy{kMaxJ}, dyc{kMaxJ};
  Line z{kMaxK}, dz{kMaxK}, dzc{kMaxK};

  // flow fields, explicit terms and their history, frame terms
  Field uu, vv, ww, pp, nut;
  Field fu, fv, fw, fu0, fv0, fw0;
  Field fxn, fyn, fxn0, fyn0;
  Flags iflag;
  Plane ub0, vb0, wb0;  // inflow values of the step
  // statistics sums
  Field tauxy, tauyz, tauxz;
  Field su, sv, sw, suu, svv, sww, suv, svw, swu;
  Field sgs11, sgs22, sgs33, spm, spm2, snut;
};

// The degrees of freedom the selector ndof sets free: 1 y, 2 x, 3 the
// rotation, 4 x and y, 5 y and the rotation, 6 all three; 0 none (the body
// state stays as it is).
inline bool moves_x(int ndof) { return ndof == 2 || ndof == 4 || ndof == 6; }
inline bool moves_y(int ndof) { return ndof == 1 || ndof == 4 || ndof == 5 || ndof == 6; }
inline bool moves_t(int ndof) { return ndof == 3 || ndof == 5 || ndof == 6; }

// Scratch: work arrays that hold nothing from one operation to the next.
struct Scratch {
  Field un, vn, wn, pn;  // node values of the conversions
  Field pm;              // modified pressure of snapshots and statistics
  Flags near_body;       // a body cell within two cells (see momentum_terms)
  // work space of the pressure iteration, sized once
  std::vector<double> work_cxy, work_cz;
  std::vector<double> work_skew;       // per-step layer values of the vector sweep
  static constexpr int kSkewTables = 7;  // ... in that many tables of 8 (nk + 16)
  std::vector<int> work_progress;      // groups done per plane, for the threads
  std::vector<std::array<int, 3>> work_body;  // the interior body cells (i, j, k)
  LaneFields work_lanes;  // uu, vv, ww, pp in the pressure iteration's own order
  // four-point derivative weights of the explicit terms (backward and
  // forward sets), per direction for face and centre points, sized once
  using CubicWeights = std::array<std::array<double, 4>, 2>;
  std::vector<CubicWeights> work_weights;
};

// The outflow switches of uvwbdy: 1 copies the outflow face of uu, vv or
// ww from the face inside it, 0 keeps it.  Each operation that decides
// them sets one of the named sets below; the next uvwbdy, its own or a
// later operation's, follows them.
struct OutflowSwitches {
  int iobu = 0, iobv = 0, iobw = 0;
};
// after the advance, and at an analytic start: every outflow face copied
inline constexpr OutflowSwitches kOutflowCopied{1, 1, 1};
// after the pressure correction: its outflow uu stays, vv and ww copied
inline constexpr OutflowSwitches kOutflowCorrectedU{0, 1, 1};
// after a restart read: the outflow faces of the field file stay
inline constexpr OutflowSwitches kOutflowAsRead{0, 0, 0};

// Control flags: switches one operation sets for the next.
struct ControlFlags {
  OutflowSwitches outflow;
  bool history_full_warned = false;
  // A run that continues a saved state exactly: the probe files are
  // appended to, not started anew.
  bool continuing = false;
  int continued_from = 0;  // the step the continued state was saved at
};

struct Store : PhysicsState, Scratch, ControlFlags {
  // Sizes every array for the box is..ie+2, js..je+2, ks..ke+2 once; ie, je,
  // ke must be set.  Nothing is allocated after this.
  void allocate();
};

// Makes room for one more body-history sample; false at kMaxSamples or
// when the memory is not there.
bool history_room(Store& s);

// Zeroes the main arrays (over their whole extent) before the grid is read.
void initarr(Store& s);

// True when nx, ny, nz grid lines (the parameter file's counts) fit the store.
bool fits_store(int nx, int ny, int nz);

}  // namespace qv
