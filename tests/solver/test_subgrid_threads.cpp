// The eddy viscosity and the statistics sums divide their sweeps among
// threads; every value must be the same on any number of threads, and the
// body clean-up must touch every body face and ghost the full sweeps do.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "output/output.hpp"
#include "solver/solver.hpp"
#include "support/case.hpp"

namespace {

qv::Store stretched_case(double ca1) {
  qv::Store s = qvt::tiny_store(16, 12, 9, 1.0, 1, 2);
  qvt::uneven_grid(s, 5, 0.1, 0.15, 0.2, 0.05);
  std::mt19937 g(6);
  std::uniform_real_distribution<double> d(-1, 1);
  s.run.Cs = 0.15;
  s.run.ca1 = ca1;
  for (qv::Field* f :
       {&s.flow.uu, &s.flow.vv, &s.flow.ww, &s.flow.nut, &s.stats.tauxy, &s.stats.tauyz, &s.stats.tauxz, &s.flow.pp})
    for (int i = 1; i <= f->ni(); ++i)
      for (int j = 1; j <= f->nj(); ++j)
        for (int k = 1; k <= f->nk(); ++k) (*f)(i, j, k) = d(g);
  // a body three cells thick in mid-section, and one on the low y wall
  // with its ghost rows flagged as the flag reader does
  for (int i = s.grid.is + 4; i <= s.grid.is + 6; ++i)
    for (int j = s.grid.js + 4; j <= s.grid.js + 6; ++j)
      for (int k = s.grid.ks + 2; k <= s.grid.ks + 4; ++k) s.flow.iflag(i, j, k) = 1;
  for (int i = s.grid.is + 9; i <= s.grid.is + 10; ++i)
    for (int k = s.grid.ks; k <= s.grid.ks + 1; ++k)
      for (int j = s.grid.js - 2; j <= s.grid.js + 1; ++j) s.flow.iflag(i, j, k) = 1;
  return s;
}


class Threads : public ::testing::Test {
 protected:
  void TearDown() override { omp_set_num_threads(before_); }
  const int before_ = omp_get_max_threads();
};

}  // namespace

TEST_F(Threads, EddyViscosityAndStressSumsDoNotDependOnTheThreadCount) {
  for (const double ca1 : {-1.0, 1.0}) {
    const qv::Store start = stretched_case(ca1);
    omp_set_num_threads(1);
    qv::Store one = start;
    qv::subgrid_viscosity(one);
    // more threads than some blocks have planes, too
    for (const int threads : {2, 3, 7, 20}) {
      omp_set_num_threads(threads);
      qv::Store s = start;
      qv::subgrid_viscosity(s);
      const char* names[] = {"nut", "tauxy", "tauyz", "tauxz", "uu", "vv", "ww"};
      const qv::Field* a[] = {&s.flow.nut, &s.stats.tauxy, &s.stats.tauyz, &s.stats.tauxz,
                              &s.flow.uu,  &s.flow.vv,     &s.flow.ww};
      const qv::Field* b[] = {&one.flow.nut, &one.stats.tauxy, &one.stats.tauyz, &one.stats.tauxz,
                              &one.flow.uu,  &one.flow.vv,     &one.flow.ww};
      for (int n = 0; n < 7; ++n) EXPECT_TRUE(qvt::same_bits(*a[n], *b[n])) << names[n] << ", threads " << threads;
    }
  }
}

// The clean-up before the viscosity: face rule at every body cell, then
// groups B, D and F at every fluid cell, k outer and i inner.
TEST_F(Threads, BodyCleanUpMatchesTheFullSweeps) {
  for (const double ca1 : {-1.0, 1.0}) {
    qv::Store s = stretched_case(ca1);
    qv::Store ref = s;
    for (int k = ref.grid.ks; k <= ref.grid.ke - 1; ++k)
      for (int j = ref.grid.js; j <= ref.grid.je - 1; ++j)
        for (int i = ref.grid.is; i <= ref.grid.ie - 1; ++i)
          if (ref.flow.iflag(i, j, k) != 0) qv::face_rule(ref, i, j, k);
    for (int k = ref.grid.ks; k <= ref.grid.ke - 1; ++k)
      for (int j = ref.grid.js; j <= ref.grid.je - 1; ++j)
        for (int i = ref.grid.is; i <= ref.grid.ie - 1; ++i)
          if (ref.flow.iflag(i, j, k) == 0) {
            for (int c = 0; c < 3; ++c) qv::reflect(ref, c, 1, i, j, k);
          }
    const qv::Store before = s;
    qv::subgrid_viscosity(s);
    EXPECT_TRUE(qvt::same_bits(s.flow.uu, ref.flow.uu)) << ca1;
    EXPECT_TRUE(qvt::same_bits(s.flow.vv, ref.flow.vv)) << ca1;
    EXPECT_TRUE(qvt::same_bits(s.flow.ww, ref.flow.ww)) << ca1;
    EXPECT_FALSE(qvt::same_bits(s.flow.uu, before.flow.uu));  // ghosts were written
  }
}

TEST_F(Threads, StatisticsSumsDoNotDependOnTheThreadCount) {
  const qv::Store start = stretched_case(-1);
  omp_set_num_threads(1);
  qv::Store one = start;
  qv::stats_accumulate(one);
  qv::stats_accumulate(one);
  omp_set_num_threads(3);
  qv::Store s = start;
  qv::stats_accumulate(s);
  qv::stats_accumulate(s);
  auto sums = [](const qv::Store& x) {
    return std::vector<const qv::Field*>{&x.stats.su,    &x.stats.sv,    &x.stats.sw,  &x.stats.suu,  &x.stats.svv,
                                         &x.stats.sww,   &x.stats.suv,   &x.stats.svw, &x.stats.swu,  &x.stats.sgs11,
                                         &x.stats.sgs22, &x.stats.sgs33, &x.stats.spm, &x.stats.spm2, &x.stats.snut};
  };
  const auto a = sums(s), b = sums(one);
  for (std::size_t n = 0; n < a.size(); ++n) EXPECT_TRUE(qvt::same_bits(*a[n], *b[n])) << n;
}
