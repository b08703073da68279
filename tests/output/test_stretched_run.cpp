// A whole run on a grid stretched in x, y and z around a slip body three
// cells thick in every direction, once for every degree-of-freedom
// selector ndof.  The outputs are checked against values worked out here
// from the written files alone: the divergence of the final field, the
// body history against a Newmark step of the recorded loads, and the time
// series against the final field and the history.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "io/files.hpp"
#include "io/format.hpp"
#include "support/case.hpp"
#include "support/running.hpp"

namespace {

qvt::CaseSetup stretched_case(int ndof) {
  qvt::CaseSetup c;
  c.nx = 15, c.ny = 14, c.nz = 10;
  c.h = 0.1;
  c.rx = 1.1, c.ry = 1.15, c.rz = 1.2;
  c.iyper = 0, c.izper = 1;
  c.Re = 100, c.Cs = 0.1, c.dt = 0.004, c.esp = 0.001, c.omg = 1.5;
  c.ca1 = 1;  // slip body
  c.nt = 10;
  c.amas = 2, c.aitm = 0.5, c.xkst = 8, c.ykst = 6, c.tkst = 3;
  c.xh0 = 0.05, c.yh0 = 0.02, c.th0 = 0.1, c.beta = 0.25;
  c.ndof = ndof;
  c.nsmp = 1;
  // body cells (0-based): off the middle in y so that it feels a lift and a moment
  c.body_i0 = 3, c.body_i1 = 5, c.body_j0 = 3, c.body_j1 = 5, c.body_k0 = 2, c.body_k1 = 4;
  c.ic2 = 0, c.ic3 = 2, c.sesp = 0.01;  // esp2 = esp from step 2 on
  return c;
}

// The grid lines of axis.dat as written: x, then y, then z.
void read_axis(const std::string& path, const qvt::CaseSetup& c, std::vector<double>* x, std::vector<double>* y,
               std::vector<double>* z) {
  std::istringstream in(qvt::read_file(path));
  int n;
  in >> n >> n >> n;
  for (auto [v, m] : {std::pair{x, c.nx}, std::pair{y, c.ny}, std::pair{z, c.nz}}) {
    v->resize(static_cast<std::size_t>(m));
    for (double& a : *v) in >> a;
  }
  ASSERT_TRUE(in) << path;
}

// The records of a record file, each as its 64-bit reals.
std::vector<std::vector<double>> reals(const std::string& path) {
  const qvt::Rec r = qvt::records(path);
  std::vector<std::vector<double>> out(r.r.size());
  for (std::size_t n = 0; n < out.size(); ++n)
    for (std::size_t m = 0; m < r.r[n].size() / 8; ++m) out[n].push_back(r.real(n, m));
  return out;
}

// One Newmark-beta step (velocity weight 1/2) of m a + c v + k x = F.
struct State {
  double a = 0, v = 0, x = 0;
};
State newmark(State p, double F, double m, double k, double c, double dt, double beta) {
  const double xp = p.x + dt * p.v + (0.5 - beta) * dt * dt * p.a;
  const double a = (F - c * (p.v + 0.5 * dt * p.a) - k * xp) / (m + 0.5 * dt * c + beta * dt * dt * k);
  return {a, p.v + 0.5 * dt * (p.a + a), xp + beta * dt * dt * a};
}

bool moves(int ndof, int dof) {
  const bool m[7][3] = {{0, 0, 0}, {0, 1, 0}, {1, 0, 0}, {0, 0, 1}, {1, 1, 0}, {0, 1, 1}, {1, 1, 1}};
  return m[ndof][dof];
}

struct TsLine {
  int nn = 0;
  double t = 0, vin = 0, pfx = 0, pfy = 0, pft = 0, xdis = 0, ydis = 0;
};
// The time-series line of step nn.
TsLine ts_line(const std::string& dir, int nn) {
  const std::string ts = qvt::read_file(dir + "/DAT/quivel_vib8.ts");
  TsLine l;
  std::string key = "\n";
  key += qv::fmt::I(nn, 6);
  const std::size_t p = ts.find(key);
  EXPECT_NE(p, std::string::npos) << ts;
  if (p == std::string::npos) return l;
  std::istringstream in(ts.substr(p + 1, 88));
  in >> l.nn >> l.t >> l.vin >> l.pfx >> l.pfy >> l.pft >> l.xdis >> l.ydis;
  EXPECT_TRUE(in) << ts;
  return l;
}

}  // namespace

TEST(StretchedRun, EveryNdofKeepsTheFieldSolenoidalAndTheBodyOnItsNewmarkPath) {
  for (int ndof = 0; ndof <= 6; ++ndof) {
    SCOPED_TRACE("ndof " + std::to_string(ndof));
    const qvt::CaseSetup c = stretched_case(ndof);
    const std::string d = qvt::temp_dir("stretched");
    qvt::write_case(d, c);
    ASSERT_EQ(qvt::run_program(d, "1.0\n"), 0) << qvt::read_file(d + "/console.err");

    std::vector<double> x, y, z;
    read_axis(d + "/axis.dat", c, &x, &y, &z);
    // the grid is what the case asked for: growing widths, mirrored
    for (const auto* v : {&x, &y, &z}) {
      const std::size_t n = v->size();
      for (std::size_t m = 0; m < n; ++m) ASSERT_EQ((*v)[m], -(*v)[n - 1 - m]);
      ASSERT_GT((*v)[1] - (*v)[0], 1.5 * ((*v)[n / 2 + 1] - (*v)[n / 2]));
    }

    // 1. Every fluid cell off the periodic y rows holds its divergence
    //    below esp: (u(i+1) - u(i))/dx + (v(j+1) - v(j))/dy + (w(k+1) - w(k))/dz.
    const auto f = reals(d + "/final.dat");
    ASSERT_EQ(f.size(), 10u);
    const int nx = c.nx - 1, ny = c.ny - 1, nz = c.nz - 1;  // cells
    auto U = [&](int i, int j, int k) { return f[2][static_cast<std::size_t>(i + (nx + 2) * (j + ny * k))]; };
    auto V = [&](int i, int j, int k) { return f[3][static_cast<std::size_t>(i + (nx + 1) * (j + (ny + 1) * k))]; };
    auto W = [&](int i, int j, int k) { return f[4][static_cast<std::size_t>(i + (nx + 1) * (j + ny * k))]; };
    auto body = [&](int i, int j, int k) {
      return i >= c.body_i0 && i <= c.body_i1 && j >= c.body_j0 && j <= c.body_j1 && k >= c.body_k0 && k <= c.body_k1;
    };
    double dmax = 0;
    for (int k = 0; k < nz; ++k)
      for (int j = 1; j < ny - 1; ++j)
        for (int i = 0; i < nx; ++i) {
          if (body(i, j, k)) {
            // no flow through the body surface
            if (!body(i - 1, j, k)) {
              ASSERT_EQ(U(i, j, k), 0.0);
            }
            if (!body(i + 1, j, k)) {
              ASSERT_EQ(U(i + 1, j, k), 0.0);
            }
            if (!body(i, j - 1, k)) {
              ASSERT_EQ(V(i, j, k), 0.0);
            }
            if (!body(i, j + 1, k)) {
              ASSERT_EQ(V(i, j + 1, k), 0.0);
            }
            if (!body(i, j, k - 1)) {
              ASSERT_EQ(W(i, j, k), 0.0);
            }
            if (!body(i, j, k + 1)) {
              ASSERT_EQ(W(i, j, k + 1), 0.0);
            }
            continue;
          }
          const std::size_t a = static_cast<std::size_t>(i), b = static_cast<std::size_t>(j),
                            e = static_cast<std::size_t>(k);
          const double D = (U(i + 1, j, k) - U(i, j, k)) / (x[a + 1] - x[a]) +
                           (V(i, j + 1, k) - V(i, j, k)) / (y[b + 1] - y[b]) +
                           (W(i, j, k + 1) - W(i, j, k)) / (z[e + 1] - z[e]);
          dmax = std::max(dmax, std::fabs(D));
        }
    EXPECT_LT(dmax, c.esp);

    // 2. The body history: each moving degree of freedom follows a Newmark
    //    step of its recorded load from rest; the others stay at 0.
    const auto h = reals(d + "/vib.dat");
    ASSERT_EQ(h.size(), 7u);
    const std::size_t ns = static_cast<std::size_t>(c.nt);
    ASSERT_EQ(h[3].size(), 3 * ns);
    const double mass[3] = {c.amas, c.amas, c.aitm}, stiff[3] = {c.xkst, c.ykst, c.tkst};
    const double zeta[3] = {c.xh0, c.yh0, c.th0};
    for (int dof = 0; dof < 3; ++dof) {
      const double m = mass[dof], k = stiff[dof];
      const double damping = m * 2 * std::sqrt(k / m) * zeta[dof];
      State st;
      double largest = 0;
      for (std::size_t n = 0; n < ns; ++n) {
        const double F = h[3][3 * n + static_cast<std::size_t>(dof)];
        if (moves(ndof, dof)) {
          st = newmark(st, F, m, k, damping, c.dt, c.beta);
        }
        const std::vector<double>& rec = h[4 + static_cast<std::size_t>(dof)];
        const double got[3] = {rec[3 * n], rec[3 * n + 1], rec[3 * n + 2]};  // acc, vel, dis
        const double want[3] = {st.a, st.v, st.x};
        for (int q = 0; q < 3; ++q)
          ASSERT_NEAR(got[q], want[q], 1e-12 * (std::fabs(want[q]) + 1e-12)) << "dof " << dof << " sample " << n;
        largest = std::max(largest, std::fabs(F));
      }
      EXPECT_GT(largest, 1e-4) << "dof " << dof << ": the load must not vanish";
      if (moves(ndof, dof)) {
        EXPECT_NE(st.x, 0.0) << "dof " << dof;
      }
    }

    // 3. The time-series line of step 10: the loads and displacements of
    //    that step, as the history holds them.
    const TsLine ts = ts_line(d, 10);
    const std::size_t last = ns - 1;
    const double loads[5] = {h[3][3 * last], h[3][3 * last + 1], h[3][3 * last + 2], h[4][3 * last + 2],
                             h[5][3 * last + 2]};
    const double shown[5] = {ts.pfx, ts.pfy, ts.pft, ts.xdis, ts.ydis};
    for (int q = 0; q < 5; ++q) {
      EXPECT_NEAR(shown[q], loads[q], 5.1e-4 * std::fabs(loads[q])) << q;
    }
  }
}

// The same case with the rotation imposed, A sin(w t) with w = sqrt(tkst /
// aitm), for the whole run: the history holds exactly that motion, and the
// turning frame makes the inflow vary across the stream, so the time
// series' inflow velocity, taken one face behind the inflow face at
// (is+1, je/2, ke/2), differs from its neighbours.
TEST(StretchedRun, ImposedRotationAndTheTimeSeriesInflowProbe) {
  qvt::CaseSetup c = stretched_case(3);
  c.tamp = 0.3, c.tfrc = 1;
  const std::string d = qvt::temp_dir("stretched-imposed");
  qvt::write_case(d, c);
  ASSERT_EQ(qvt::run_program(d, "1.0\n"), 0) << qvt::read_file(d + "/console.err");
  const auto h = reals(d + "/vib.dat");
  ASSERT_EQ(h.size(), 7u);
  const double w = std::sqrt(c.tkst / c.aitm);
  for (std::size_t n = 0; n < static_cast<std::size_t>(c.nt); ++n) {
    const double t = c.dt * static_cast<double>(n + 1);
    EXPECT_NEAR(h[6][3 * n + 2], c.tamp * std::sin(w * t), 1e-12) << n;
    EXPECT_NEAR(h[6][3 * n + 1], w * c.tamp * std::cos(w * t), 1e-12) << n;
  }
  const auto f = reals(d + "/final.dat");
  ASSERT_EQ(f.size(), 10u);
  const int nx = c.nx - 1, ny = c.ny - 1;
  auto U = [&](int i, int j, int k) { return f[2][static_cast<std::size_t>(i + (nx + 2) * (j + ny * k))]; };
  const int jp = (c.ny + 2) / 2 - 3, kp = (c.nz + 2) / 2 - 3;  // je/2, ke/2 as 0-based cells
  const double probe = U(1, jp, kp);
  const TsLine ts = ts_line(d, 10);
  EXPECT_NEAR(ts.vin, probe, 5.1e-4 * std::fabs(probe));  // E12.4: four digits
  // the neighbouring faces read differently at that precision
  for (const double other : {U(0, jp, kp), U(2, jp, kp), U(1, jp + 1, kp), U(1, jp - 1, kp)}) {
    EXPECT_GT(std::fabs(other - probe), 2e-3 * std::fabs(probe));
  }
}
