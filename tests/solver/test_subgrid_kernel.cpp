// The tuned eddy viscosity must give the recipe's nut and stress sums bit
// for bit, on every instruction set this processor has and any number of
// threads.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <random>

#include "solver/subgrid.hpp"
#include "support/case.hpp"

namespace {

// A stretched grid; random velocities, viscosity (the kernel reads the nut
// of body cells, which the reflections have set) and stress sums; a body
// three cells thick over part of the layers, one on the low y wall and
// bottom, and a single cell at the top, so that columns hold body cells at
// their ends, in their middle and in their last group of eight.
qv::Store random_case(int nz, double ca1, unsigned seed) {
  qv::Store s = qvt::tiny_store(17, 12, nz, 1.0, 1, 2);
  qvt::uneven_grid(s, seed, 0.1, 0.15, 0.2, 0.05);
  std::mt19937 g(seed);
  std::uniform_real_distribution<double> d(-1, 1);
  s.run.Cs = 0.13;
  s.run.ca1 = ca1;
  for (qv::Field* f : {&s.flow.uu, &s.flow.vv, &s.flow.ww, &s.flow.nut, &s.stats.tauxy, &s.stats.tauyz,
                       &s.stats.tauxz})
    for (int i = 1; i <= f->ni(); ++i)
      for (int j = 1; j <= f->nj(); ++j)
        for (int k = 1; k <= f->nk(); ++k) (*f)(i, j, k) = d(g);
  const qv::Grid& gr = s.grid;
  for (int i = gr.is + 4; i <= gr.is + 6; ++i)
    for (int j = gr.js + 4; j <= gr.js + 6; ++j)
      for (int k = gr.ks + 2; k <= std::min(gr.ks + 4, gr.ke - 1); ++k) s.flow.iflag(i, j, k) = 1;
  for (int i = gr.is + 9; i <= gr.is + 11; ++i)
    for (int j = gr.js - 2; j <= gr.js + 1; ++j)
      for (int k = gr.ks - 2; k <= gr.ks + 1; ++k) s.flow.iflag(i, j, k) = 1;
  s.flow.iflag(gr.is + 13, gr.je - 2, gr.ke - 1) = 1;
  return s;
}

bool same_result(const qv::Store& a, const qv::Store& b) {
  return qvt::same_bits(a.flow.nut, b.flow.nut) && qvt::same_bits(a.stats.tauxy, b.stats.tauxy) &&
         qvt::same_bits(a.stats.tauyz, b.stats.tauyz) && qvt::same_bits(a.stats.tauxz, b.stats.tauxz);
}

}  // namespace

TEST(EddyViscosityKernel, MatchesTheRecipeBitForBit) {
  const int threads_before = omp_get_max_threads();
  std::vector<qv::Isa> isas = {qv::Isa::plain};
  if (__builtin_cpu_supports("avx2")) isas.push_back(qv::Isa::avx2);
  if (__builtin_cpu_supports("avx512f")) isas.push_back(qv::Isa::avx512);
  // columns of one, two and a part group of eight cells, and too short
  for (const int nz : {8, 16, 13, 21, 5})
    for (const double ca1 : {-1.0, 1.0}) {
      const qv::Store start = random_case(nz, ca1, 7u + static_cast<unsigned>(nz));
      qv::Store ref = start;
      qv::sgs::eddy_viscosity_in_order(ref);
      for (const qv::Isa isa : isas)
        for (const int threads : {1, 2, 3, 20}) {
          omp_set_num_threads(threads);
          qv::Store s = start;
          qv::sgs::eddy_viscosity_on(s, isa);
          EXPECT_TRUE(same_result(s, ref)) << "layers " << nz << ", ca1 " << ca1 << ", instruction set "
                                           << static_cast<int>(isa) << ", threads " << threads;
        }
    }
  omp_set_num_threads(threads_before);
}
