// The tuned explicit terms must give the recipe's result bit for bit: every
// f, every ghost velocity and every nut copy, on any number of threads.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>

#include "solver/momentum.hpp"
#include "solver/solver.hpp"
#include "support/case.hpp"

namespace {

// Random velocities and viscosity over the whole box, ghosts included,
// with some exact zeros (a = 0 takes the backward set), and some
// subnormal, tiny and huge velocities, whose quotients and overflows the
// lanes must round as the recipe does.
void fill_random(qv::Store& s, unsigned seed) {
  std::mt19937 g(seed);
  std::uniform_real_distribution<double> d(-1, 1);
  long n = 0;
  for (qv::Field* f : {&s.flow.uu, &s.flow.vv, &s.flow.ww, &s.flow.nut})
    for (int i = 1; i <= f->ni(); ++i)
      for (int j = 1; j <= f->nj(); ++j)
        for (int k = 1; k <= f->nk(); ++k) {
          const double v = d(g);
          double& q = (*f)(i, j, k);
          q = f == &s.flow.nut ? 0.01 * (v + 1) : (std::abs(v) < 0.05 ? 0.0 : v);
          if (f == &s.flow.nut) continue;
          ++n;
          if (n % 97 == 0) q = v * 1e-310;
          if (n % 89 == 0) q = v * 1e-250;
          if (n % 211 == 0) q = v * 1.7e308;
        }
}

// Bodies three to four cells thick: one in the middle of the section over
// part of the layers, one on the bottom and low-y walls, and a single
// cell, so that columns hold near and far points and the stencils meet
// body cells from every side.
void bodies(qv::Store& s) {
  for (int i = s.grid.is + 4; i <= s.grid.is + 6; ++i)
    for (int j = s.grid.js + 4; j <= s.grid.js + 7; ++j)
      for (int k = s.grid.ks + 3; k <= std::min(s.grid.ks + 6, s.grid.ke - 1); ++k) s.flow.iflag(i, j, k) = 1;
  for (int i = s.grid.is + 10; i <= s.grid.is + 12; ++i)
    for (int j = s.grid.js; j <= s.grid.js + 2; ++j)
      for (int k = s.grid.ks; k <= s.grid.ks + 2; ++k) s.flow.iflag(i, j, k) = 1;
  s.flow.iflag(s.grid.is + 15, s.grid.je - 3, s.grid.ke - 4) = 1;
}

// The kernel from start against the recipe's result ref, on the program's
// path on 1, 2 and 3 threads and on every instruction set this processor
// has.
void expect_same_as_recipe(const qv::Store& start, const qv::Store& ref, const std::string& what) {
  struct Path {
    int threads;
    bool pick;
    qv::mom::Isa isa;
  };
  const Path paths[] = {{1, true, {}},
                        {2, true, {}},
                        {3, true, {}},
                        {2, false, qv::mom::Isa::plain},
                        {2, false, qv::mom::Isa::avx2},
                        {2, false, qv::mom::Isa::avx512}};
  const int threads_before = omp_get_max_threads();
  for (const Path& p : paths) {
    if (!p.pick && p.isa == qv::mom::Isa::avx2 && !__builtin_cpu_supports("avx2")) continue;
    if (!p.pick && p.isa == qv::mom::Isa::avx512 && !__builtin_cpu_supports("avx512f")) continue;
    qv::Store s = start;
    omp_set_num_threads(p.threads);
    if (p.pick)
      qv::momentum_terms(s);
    else
      qv::mom::momentum_terms_on(s, p.isa);
    const char* names[] = {"fu", "fv", "fw", "uu", "vv", "ww", "nut"};
    const qv::Field* mine[] = {&s.flow.fu, &s.flow.fv, &s.flow.fw, &s.flow.uu, &s.flow.vv, &s.flow.ww, &s.flow.nut};
    const qv::Field* theirs[] = {&ref.flow.fu, &ref.flow.fv, &ref.flow.fw, &ref.flow.uu,
                                 &ref.flow.vv, &ref.flow.ww, &ref.flow.nut};
    for (int n = 0; n < 7; ++n)
      EXPECT_TRUE(qvt::same_bits(*mine[n], *theirs[n]))
          << names[n] << ": " << what << ", threads " << p.threads << ", path "
          << (p.pick ? -1 : static_cast<int>(p.isa));
  }
  omp_set_num_threads(threads_before);
}

}  // namespace

TEST(MomentumKernel, MatchesTheRecipeBitForBitOnAnyThreadCount) {
  // layer counts: long columns (with a partial last group of eight), and
  // columns too short for the lanes
  const int layers[] = {14, 5};
  for (const int nz : layers)
    for (const int per : {0, 1})
      for (const double ca1 : {-1.0, 1.0}) {
        qv::Store ref = qvt::tiny_store(20, 14, nz, 1.0, per, per);
        qvt::uneven_grid(ref, 3, 0.1, 0.12, 0.2, 0.04);
        fill_random(ref, 11u + static_cast<unsigned>(nz + per));
        bodies(ref);
        ref.run.ca1 = ca1;
        ref.run.Re = 700;
        const qv::Store start = ref;
        qv::momentum_terms_in_order(ref);
        expect_same_as_recipe(start, ref, "nz " + std::to_string(nz) + ", walls " + std::to_string(per) +
                                              ", ca1 " + std::to_string(ca1));
        // the ghosts and copies were really exercised
        EXPECT_FALSE(qvt::same_bits(ref.flow.uu, start.flow.uu));
        EXPECT_FALSE(qvt::same_bits(ref.flow.nut, start.flow.nut));
      }
}

// A section long in x, so that planes far from the body run beside the
// near points, with a body two cells thick in x: rule A of a near point
// then writes the fluid-side face of the body's far side, which far points
// three planes on read, so those planes must wait.  Then a section with no
// body, where every plane is far.
TEST(MomentumKernel, PlanesFarFromTheBodyWaitForNothingTheyRead) {
  for (const bool with_body : {true, false}) {
    qv::Store ref = qvt::tiny_store(48, 12, 14, 1.0, 1, 0);
    qvt::uneven_grid(ref, 5, 0.1, 0.12, 0.2, 0.04);
    fill_random(ref, 23u);
    if (with_body)
      for (int i = ref.grid.is + 20; i <= ref.grid.is + 21; ++i)
        for (int j = ref.grid.js + 3; j <= ref.grid.js + 6; ++j)
          for (int k = ref.grid.ks; k <= ref.grid.ke - 1; ++k) ref.flow.iflag(i, j, k) = 1;
    ref.run.Re = 700;
    const qv::Store start = ref;
    qv::momentum_terms_in_order(ref);
    expect_same_as_recipe(start, ref, with_body ? "body in the middle" : "no body");
    EXPECT_EQ(qvt::same_bits(ref.flow.uu, start.flow.uu), !with_body);
  }
}
