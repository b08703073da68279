// The tuned statistics sums must give the recipe's node velocities,
// modified pressures and sums bit for bit, on every instruction set this
// processor has and any number of threads.
#include <gtest/gtest.h>
#include <omp.h>

#include <random>
#include <vector>

#include "output/statistics.hpp"
#include "support/case.hpp"

namespace {

// A stretched grid with random faces, pressure, viscosity, sums and node
// velocities (the sums read node velocities one plane beyond the last
// node, which no step writes).
qv::Store random_case(int nz, unsigned seed) {
  qv::Store s = qvt::tiny_store(15, 11, nz, 1.0, 1, 2);
  qvt::uneven_grid(s, seed, 0.1, 0.15, 0.2, 0.05);
  std::mt19937 g(seed);
  std::uniform_real_distribution<double> d(-1, 1);
  s.run.Cs = 0.13;
  auto& st = s.stats;
  for (qv::Field* f : {&s.flow.uu, &s.flow.vv, &s.flow.ww, &s.flow.pp, &s.flow.nut, &s.work.un, &s.work.vn,
                       &s.work.wn, &s.work.pm, &st.su, &st.sv, &st.sw, &st.suu, &st.svv, &st.sww, &st.suv, &st.svw,
                       &st.swu, &st.sgs11, &st.sgs22, &st.sgs33, &st.spm, &st.spm2, &st.snut})
    for (int i = 1; i <= f->ni(); ++i)
      for (int j = 1; j <= f->nj(); ++j)
        for (int k = 1; k <= f->nk(); ++k) (*f)(i, j, k) = d(g);
  return s;
}

std::vector<const qv::Field*> results(const qv::Store& x) {
  const auto& st = x.stats;
  return {&x.work.un, &x.work.vn, &x.work.wn, &x.work.pm, &st.su,    &st.sv,    &st.sw,   &st.suu, &st.svv,
          &st.sww,    &st.suv,    &st.svw,    &st.swu,    &st.sgs11, &st.sgs22, &st.sgs33, &st.spm, &st.spm2,
          &st.snut};
}

}  // namespace

TEST(StatisticsKernel, MatchesTheRecipeBitForBit) {
  const int threads_before = omp_get_max_threads();
  std::vector<qv::Isa> isas = {qv::Isa::plain};
  if (__builtin_cpu_supports("avx2")) isas.push_back(qv::Isa::avx2);
  if (__builtin_cpu_supports("avx512f")) isas.push_back(qv::Isa::avx512);
  // columns of eight cells (nine nodes), of whole and part groups of
  // eight, and too short for the lanes
  for (const int nz : {8, 16, 13, 21, 7}) {
    const qv::Store start = random_case(nz, 11u + static_cast<unsigned>(nz));
    qv::Store ref = start;
    qv::stats::accumulate_in_order(ref);
    qv::stats::accumulate_in_order(ref);
    for (const qv::Isa isa : isas)
      for (const int threads : {1, 2, 3}) {
        omp_set_num_threads(threads);
        qv::Store s = start;
        qv::stats::accumulate_on(s, isa);
        qv::stats::accumulate_on(s, isa);
        const auto got = results(s), want = results(ref);
        for (std::size_t n = 0; n < got.size(); ++n)
          EXPECT_TRUE(qvt::same_bits(*got[n], *want[n])) << "layers " << nz << ", instruction set "
                                                         << static_cast<int>(isa) << ", threads " << threads
                                                         << ", result " << n;
      }
  }
  omp_set_num_threads(threads_before);
}
