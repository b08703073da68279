#include <cmath>
#include <cstring>
#include <vector>

#include "control/console.hpp"
#include "control/files.hpp"
#include "control/run.hpp"
#include "solver/solver.hpp"

namespace qv {
namespace {

constexpr int itmax = 5000;

// The tolerance ramp of "esp2.inf"; once the loop runs, a failure or a bad
// value warns and the ramp read last stays in force.
void read_esp2(Store& s) {
  try {
    const ToleranceRamp t = read_esp2_file();
    s.ic2 = t.ic2;
    s.ic3 = t.ic3;
    s.sesp = t.sesp;
    s.esp2_read = true;
  } catch (const IoError& e) {
    if (!s.tolerant_inputs || !s.esp2_read) throw;
    warn(std::string(e.what()) + "; keeping the last tolerance ramp");
  }
}


// Divergence scan: dm = max |D| over the fluid cells, with the location of
// the first largest in the k-outer, j, i-inner order.  Walked in memory
// order (k fastest) column by column; within a column the first k holding
// the column maximum competes, ties going to the smaller (k, j, i).
// Returns false when a divergence is not finite.
__attribute__((target_clones("avx2", "default"))) bool scan(Store& s, double& dm, int& li, int& lj, int& lk) {
  const std::size_t si = s.uu.stride_i(), sj = s.uu.stride_j();
  const double* __restrict u = s.uu.data();
  const double* __restrict v = s.vv.data();
  const double* __restrict w = s.ww.data();
  const std::int32_t* __restrict fl = s.iflag.data();
  const int ks = s.ks, ke = s.ke;
  const double* __restrict dz = &s.dz(0);
  double* __restrict a = s.work_col.data();
  dm = 0;
  li = lj = lk = 0;
  bool finite = true;
  for (int i = s.is; i <= s.ie - 1; ++i) {
    const double dxi = s.dx(i);
    for (int j = s.js; j <= s.je - 1; ++j) {
      const double dyj = s.dy(j);
      const std::size_t c0 = static_cast<std::size_t>(i - 1) * si + static_cast<std::size_t>(j - 1) * sj;
      // the divergence of the column (streams, vectorises), then its maximum
      const double* __restrict uc = u + c0 - 1;
      const double* __restrict ucp = u + c0 + si - 1;
      const double* __restrict vc = v + c0 - 1;
      const double* __restrict vcp = v + c0 + sj - 1;
      const double* __restrict wc = w + c0 - 1;
      const std::int32_t* __restrict fc = fl + c0 - 1;
      for (int k = ks; k <= ke - 1; ++k)
        a[k] = (ucp[k] - uc[k]) / dxi + (vcp[k] - vc[k]) / dyj + (wc[k + 1] - wc[k]) / dz[k];
      double cmax = 0;
      for (int k = ks; k <= ke - 1; ++k) {
        const double D = a[k];
        finite = finite && (fc[k] != 0 || D - D == 0);
        const double ad = fc[k] != 0 ? 0.0 : std::fabs(D);
        a[k] = ad;
        cmax = ad > cmax ? ad : cmax;
      }
      if (cmax < dm || cmax == 0) continue;
      int kf = ks;
      while (a[kf] != cmax) ++kf;
      if (cmax > dm || kf < lk || (kf == lk && (j < lj || (j == lj && i < li)))) {
        dm = cmax;
        li = i, lj = j, lk = kf;
      }
    }
  }
  return finite;
}

// One cell of the correction sweep: its divergence from the current faces,
// the pressure increment, and the six face corrections.
struct Corrector {
  std::size_t si, sj;
  double* __restrict u;
  double* __restrict v;
  double* __restrict w;
  double* __restrict p;
  const std::int32_t* __restrict fl;
  double dt, omg, esp2;
  const double* __restrict dz;
  const double* __restrict dzc;
  const double* __restrict cz;

  struct Column {
    double dxi, dxc0, dxc1, dyj, dyc0, dyc1, cij;
    bool last;
    std::size_t c0;
  };

  inline void cell(const Column& col, int k) const {
    const std::size_t c = col.c0 + static_cast<std::size_t>(k - 1);
    double D = (u[c + si] - u[c]) / col.dxi + (v[c + sj] - v[c]) / col.dyj + (w[c + 1] - w[c]) / dz[k];
    const double cc = col.cij + cz[k];
    if (fl[c] != 0) D = 0;
    const double dp = -omg * D / (2 * dt * cc);
    if (std::fabs(D) >= esp2) p[c] = p[c] + dp;
    if (!col.last) u[c + si] = u[c + si] + dp * dt / col.dxc1;
    u[c] = u[c] - dp * dt / col.dxc0;
    v[c + sj] = v[c + sj] + dp * dt / col.dyc1;
    v[c] = v[c] - dp * dt / col.dyc0;
    w[c + 1] = w[c + 1] + dp * dt / dzc[k + 1];
    w[c] = w[c] - dp * dt / dzc[k];
  }
};

Corrector make_corrector(Store& s, double esp2, const std::vector<double>& cz) {
  return Corrector{s.uu.stride_i(), s.uu.stride_j(), s.uu.data(), s.vv.data(), s.ww.data(), s.pp.data(),
                   s.iflag.data(), s.dt, s.omg, esp2, &s.dz(0), &s.dzc(0), cz.data()};
}

Corrector::Column column(const Store& s, const std::vector<double>& cxy, int i, int j) {
  return {s.dx(i),
          s.dxc(i),
          s.dxc(i + 1),
          s.dy(j),
          s.dyc(j),
          s.dyc(j + 1),
          cxy[static_cast<std::size_t>(i) * s.iflag.nj() + j - 1],
          i == s.ie - 1,
          static_cast<std::size_t>(i - 1) * s.uu.stride_i() + static_cast<std::size_t>(j - 1) * s.uu.stride_j()};
}

// The steady part of the wavefront: at layer k the four columns hold the
// cells k, k-1, k-2, k-3, which share no face; the four cells are gathered
// into lanes, computed side by side (the same operations per lane as one
// cell of the ordered sweep) and scattered back.
__attribute__((target_clones("avx2", "default"))) void steady(const Corrector& cor, const Corrector::Column* col,
                                                               int k0, int k1) {
  constexpr int G = 4;
  const std::size_t si = cor.si, sj = cor.sj;
  double dxi[G], dxc0[G], dxc1[G], dyj[G], dyc0[G], dyc1[G], cij[G];
  for (int g = 0; g < G; ++g) {
    dxi[g] = col[g].dxi;
    dxc0[g] = col[g].dxc0;
    dxc1[g] = col[g].dxc1;
    dyj[g] = col[g].dyj;
    dyc0[g] = col[g].dyc0;
    dyc1[g] = col[g].dyc1;
    cij[g] = col[g].cij;
  }
  const bool last = col[0].last;
  typedef double v4 __attribute__((vector_size(32)));
  const v4 dt = {cor.dt, cor.dt, cor.dt, cor.dt};
  const v4 omg = {cor.omg, cor.omg, cor.omg, cor.omg};
  const v4 esp2 = {cor.esp2, cor.esp2, cor.esp2, cor.esp2};
  const v4 zero = {0, 0, 0, 0};
  const v4 two = {2, 2, 2, 2};
  v4 vdxi, vdxc0, vdxc1, vdyj, vdyc0, vdyc1, vcij;
  std::memcpy(&vdxi, dxi, sizeof vdxi);
  std::memcpy(&vdxc0, dxc0, sizeof vdxc0);
  std::memcpy(&vdxc1, dxc1, sizeof vdxc1);
  std::memcpy(&vdyj, dyj, sizeof vdyj);
  std::memcpy(&vdyc0, dyc0, sizeof vdyc0);
  std::memcpy(&vdyc1, dyc1, sizeof vdyc1);
  std::memcpy(&vcij, cij, sizeof vcij);
  for (int k = k0; k <= k1; ++k) {
    std::size_t c[G];
    v4 u0, u1, v0, v1, w0, w1, p0, body, dzk, dzc0k, dzc1k, czk;
    for (int g = 0; g < G; ++g) {
      const int kg = k - g;
      c[g] = col[g].c0 + static_cast<std::size_t>(kg - 1);
      u0[g] = cor.u[c[g]];
      u1[g] = cor.u[c[g] + si];
      v0[g] = cor.v[c[g]];
      v1[g] = cor.v[c[g] + sj];
      w0[g] = cor.w[c[g]];
      w1[g] = cor.w[c[g] + 1];
      p0[g] = cor.p[c[g]];
      body[g] = cor.fl[c[g]] != 0 ? 1.0 : 0.0;
      dzk[g] = cor.dz[kg];
      dzc0k[g] = cor.dzc[kg];
      dzc1k[g] = cor.dzc[kg + 1];
      czk[g] = cor.cz[kg];
    }
    v4 D = (u1 - u0) / vdxi + (v1 - v0) / vdyj + (w1 - w0) / dzk;
    const v4 cc = vcij + czk;
    D = body != zero ? zero : D;
    const v4 dp = -omg * D / (two * dt * cc);
    const v4 absD = D < zero ? -D : D;
    p0 = absD >= esp2 ? p0 + dp : p0;
    const v4 u1n = u1 + dp * dt / vdxc1;
    u1 = last ? u1 : u1n;
    u0 = u0 - dp * dt / vdxc0;
    v1 = v1 + dp * dt / vdyc1;
    v0 = v0 - dp * dt / vdyc0;
    w1 = w1 + dp * dt / dzc1k;
    w0 = w0 - dp * dt / dzc0k;
    for (int g = 0; g < G; ++g) {
      cor.p[c[g]] = p0[g];
      cor.u[c[g] + si] = u1[g];
      cor.u[c[g]] = u0[g];
      cor.v[c[g] + sj] = v1[g];
      cor.v[c[g]] = v0[g];
      cor.w[c[g] + 1] = w1[g];
      cor.w[c[g]] = w0[g];
    }
  }
}

}  // namespace

// The in-place correction sweep in its defining order: i outermost, then j,
// k innermost; every cell sees the faces already corrected before it.
void correction_sweep_in_order(Store& s, double esp2, const std::vector<double>& cxy, const std::vector<double>& cz) {
  const Corrector cor = make_corrector(s, esp2, cz);
  for (int i = s.is; i <= s.ie - 1; ++i)
    for (int j = s.js; j <= s.je - 1; ++j) {
      const Corrector::Column col = column(s, cxy, i, j);
      for (int k = s.ks; k <= s.ke - 1; ++k) cor.cell(col, k);
    }
}

// The same sweep as a wavefront: a cell reads only faces last written by
// its low neighbours in i, j and k, so cell (j + g, k - g) of a group of
// four columns is ready together with cell (j, k).  Running the four
// columns with a lag of one layer each gives every cell exactly the inputs
// of the ordered sweep (bit for bit) while four independent chains of
// divisions overlap.
void correction_sweep(Store& s, double esp2, const std::vector<double>& cxy, const std::vector<double>& cz) {
  constexpr int G = 4;
  const Corrector cor = make_corrector(s, esp2, cz);
  const int ks = s.ks, ke = s.ke;
  const int nk = ke - ks;
  for (int i = s.is; i <= s.ie - 1; ++i)
    for (int j0 = s.js; j0 <= s.je - 1; j0 += G) {
      const int ng = std::min(G, s.je - j0);
      Corrector::Column col[G];
      for (int g = 0; g < ng; ++g) col[g] = column(s, cxy, i, j0 + g);
      if (ng < G || nk < G) {
        for (int g = 0; g < ng; ++g)
          for (int k = ks; k <= ke - 1; ++k) cor.cell(col[g], k);
        continue;
      }
      // ramp in, steady part with all four columns busy, ramp out
      for (int t = 0; t < G - 1; ++t)
        for (int g = 0; g <= t; ++g) cor.cell(col[g], ks + t - g);
      steady(cor, col, ks + G - 1, ke - 1);
      for (int t = 1; t < G; ++t)
        for (int g = t; g < G; ++g) cor.cell(col[g], ke - 1 + t - g);
    }
}

namespace {
}  // namespace

// HSMAC pressure-velocity correction.
// 1. Tolerance ramp: esp2 = sesp rnc^(nn2-1), falling from sesp to esp over
//    ic3 steps after step ic2.
// 2. Repeat until max|D| < esp2 (or itmax): scan the divergence (k outer,
//    i inner, the first largest wins), then one in-place sweep (i outer,
//    k inner) that adds dp = -omg D / (2 dt c) to the cell pressure (only
//    where |D| >= esp2) and moves the six faces; restore the inflow column,
//    clear body cells, z walls.
// 3. dtmin from the largest signed u/dx, v/dy, w/dz and delm.
// 4. Boundary values with the outflow uu kept.
void hsmac2(Store& s, double& dtmin) {
  const int is = s.is, ie = s.ie, js = s.js, je = s.je, ks = s.ks, ke = s.ke;
  auto& uu = s.uu;
  auto& vv = s.vv;
  auto& ww = s.ww;
  auto& pp = s.pp;
  const auto &dx = s.dx, &dy = s.dy, &dz = s.dz, &dxc = s.dxc, &dyc = s.dyc, &dzc = s.dzc;

  s.iter = 0;
  double esp2 = s.esp;
  read_esp2(s);
  say(fmt::Line() << "esp esp2=" << s.esp << esp2);
  say(fmt::Line() << "ic2 ic3 sesp" << s.ic2 << s.ic3 << s.sesp);

  int nn2 = s.nn - s.ic2;
  if (nn2 <= 1) nn2 = 1;
  if (nn2 >= s.ic3) nn2 = s.ic3;
  const double rnc = std::pow(s.esp / s.sesp, 1.0 / (s.ic3 - 1));
  esp2 = s.sesp * std::pow(rnc, nn2 - 1);
  say(fmt::Line() << "nn   =" << s.nn);
  say(fmt::Line() << "nn2  =" << nn2);
  say(fmt::Line() << "rnc  =" << rnc);
  say(fmt::Line() << "sesp =" << s.sesp);
  say(fmt::Line() << "esp  =" << s.esp);
  say(fmt::Line() << "esp2 = " << esp2);

  // c = 1/(dxc dxc) + 1/(dyc dyc) + 1/(dzc dzc): the x and y parts summed
  // once per column, the z part per layer (the same operations as per cell)
  std::vector<double>& cxy = s.work_cxy;
  std::vector<double>& cz = s.work_cz;
  cxy.resize(static_cast<std::size_t>(s.iflag.ni()) * s.iflag.nj());
  cz.resize(static_cast<std::size_t>(s.iflag.nk()) + 1);
  for (int i = is; i <= ie - 1; ++i)
    for (int j = js; j <= je - 1; ++j)
      cxy[static_cast<std::size_t>(i) * s.iflag.nj() + j - 1] = 1 / (dxc(i) * dxc(i + 1)) + 1 / (dyc(j) * dyc(j + 1));
  for (int k = ks; k <= ke - 1; ++k) cz[static_cast<std::size_t>(k)] = 1 / (dzc(k) * dzc(k + 1));

  double dm = 0;
  for (;;) {
    s.iter = s.iter + 1;
    if (s.iter > itmax) break;

    int li = 0, lj = 0, lk = 0;
    if (!scan(s, dm, li, lj, lk)) throw BlowUp{s.nn};
    if (dm < esp2) break;

    {
      TextWriter w("iter.dat", unit::iter, Mode::Unknown);
      w.line(fmt::I(s.iter, 10) + fmt::F(dm, 20, 10) + fmt::F(esp2, 20, 10) + fmt::I(s.ic2, 10));
      w.line(fmt::I(li, 5) + fmt::I(lj, 5) + fmt::I(lk, 5));
      w.close();
    }

    correction_sweep(s, esp2, cxy, cz);

    for (int k = ks; k <= ke - 1; ++k)
      for (int j = js; j <= je - 1; ++j) uu(is, j, k) = s.ub0(j, k);
    for (int k = ks; k <= ke - 1; ++k)
      for (int j = js; j <= je; ++j) vv(is, j, k) = s.vb0(j, k);
    for (int k = ks; k <= ke; ++k)
      for (int j = js; j <= je - 1; ++j) ww(is, j, k) = s.wb0(j, k);

    for (int k = ks; k <= ke - 1; ++k)
      for (int j = js; j <= je - 1; ++j)
        for (int i = is; i <= ie - 1; ++i)
          if (s.iflag(i, j, k) != 0) {
            uu(i, j, k) = 0;
            uu(i + 1, j, k) = 0;
            vv(i, j, k) = 0;
            vv(i, j + 1, k) = 0;
            ww(i, j, k) = 0;
            ww(i, j, k + 1) = 0;
            pp(i, j, k) = 0;
          }
    if (s.izper != 0)
      for (int i = is; i <= ie - 1; ++i)
        for (int j = js; j <= je - 1; ++j) {
          ww(i, j, ks) = 0;
          ww(i, j, ke) = 0;
        }
  }
  say(fmt::Line() << "Iteration =" << s.iter);
  say(fmt::Line() << "esp , dm  =" << s.esp << dm);

  double r = 0;
  for (int i = is; i <= ie - 1; ++i)
    for (int j = js; j <= je - 1; ++j)
      for (int k = ks; k <= ke - 1; ++k) {
        r = std::max(r, uu(i, j, k) / dx(i));
        r = std::max(r, vv(i, j, k) / dy(j));
        r = std::max(r, ww(i, j, k) / dz(k));
      }
  r = std::max(1 / s.delm, r);
  dtmin = 1 / r;
  say(fmt::Line() << "max dt  =" << dtmin);

  s.iobu = 0;
  s.iobv = 1;
  s.iobw = 1;
  uvwbdy(s);
  prsbdy(s);
}

}  // namespace qv
