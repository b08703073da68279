#include "store/store.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace qv {

template <class T>
void Field3<T>::out_of_range(int i, int j, int k) const {
  std::fprintf(stderr, "index (%d,%d,%d) outside the store box (%d,%d,%d)\n", i, j, k, ni_, nj_, nk_);
  std::abort();
}
template class Field3<double>;
template class Field3<std::int32_t>;

bool fits_store(int nx, int ny, int nz) {
  return nx >= 1 && ny >= 1 && nz >= 1 && nx + 4 <= kMaxI && ny + 4 <= kMaxJ && nz + 4 <= kMaxK;
}

void Store::allocate() {
  const int ni = grid.ie + 2, nj = grid.je + 2, nk = grid.ke + 2;
  Flow& f = flow;
  Statistics& st = stats;
  Scratch& w = work;
  for (Field* a : {&f.uu,     &f.vv,     &f.ww,     &f.pp,     &f.nut,  &f.fu,    &f.fv,    &f.fw,   &f.fu0,  &f.fv0,
                   &f.fw0,    &f.fxn,    &f.fyn,    &f.fxn0,   &f.fyn0, &w.un,    &w.vn,    &w.wn,   &w.pn,   &st.tauxy,
                   &st.tauyz, &st.tauxz, &st.su,    &st.sv,    &st.sw,  &st.suu,  &st.svv,  &st.sww, &st.suv, &st.svw,
                   &st.swu,   &st.sgs11, &st.sgs22, &st.sgs33, &st.spm, &st.spm2, &st.snut, &w.pm})
    a->allocate(ni, nj, nk);
  grid.delta.allocate(ni, nj, nk);
  grid.delta_node.allocate(ni, nj, nk);
  f.iflag.allocate(ni, nj, nk);
  w.near_body.allocate(ni, nj, nk);
  for (Plane* p : {&f.ub0, &f.vb0, &f.wb0}) p->allocate(nj, nk);
  w.work_cxy.assign(static_cast<std::size_t>(ni) * nj, 0.0);
  w.work_cz.assign(static_cast<std::size_t>(nk) + 1, 0.0);
  w.work_skew.assign(Scratch::kSkewTables * 8 * static_cast<std::size_t>(grid.ke - grid.ks + 16) +
                        Scratch::kPlaneValues * static_cast<std::size_t>(ni),
                    1.0);
  w.work_lanes.size_for(*this);
  w.work_progress.assign(static_cast<std::size_t>(ni), 0);
  w.work_weights.assign(6 * static_cast<std::size_t>(kMaxI + 1), Scratch::CubicWeights{});
  body.fhist.assign(3 * static_cast<std::size_t>(kHistoryStart), 0.0);
  body.bhist.assign(9 * static_cast<std::size_t>(kHistoryStart), 0.0);
}

bool history_room(Body& b) {
  const std::size_t n = static_cast<std::size_t>(b.nsample) + 1;
  if (3 * n <= b.fhist.size()) return true;
  if (b.nsample >= kMaxSamples) return false;
  const std::size_t room = std::min(2 * (b.fhist.size() / 3), static_cast<std::size_t>(kMaxSamples));
  try {
    b.fhist.resize(3 * room, 0.0);
    b.bhist.resize(9 * room, 0.0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

void initarr(Store& s) {
  Flow& f = s.flow;
  Statistics& st = s.stats;
  Grid& g = s.grid;
  Scratch& w = s.work;
  for (Field* a : {&st.su, &st.sv, &st.sw, &st.suu, &st.svv, &st.sww, &st.suv, &st.svw, &st.swu, &st.sgs11, &st.sgs22,
                   &st.sgs33, &st.spm, &st.spm2, &st.snut, &st.tauxy, &st.tauyz, &st.tauxz})
    a->zero();
  for (Line* l : {&g.x, &g.dx, &g.dxc, &g.y, &g.dy, &g.dyc, &g.z, &g.dz, &g.dzc}) l->zero();
  for (Field* a :
       {&f.uu, &f.vv, &f.ww, &f.pp, &w.un, &w.vn, &w.wn, &w.pn, &f.fu0, &f.fv0, &f.fw0, &f.fu, &f.fv, &f.fw, &f.nut})
    a->zero();
  f.iflag.zero();
  std::fill(s.body.fhist.begin(), s.body.fhist.end(), 0.0);
  std::fill(s.body.bhist.begin(), s.body.bhist.end(), 0.0);
  for (Field* a : {&f.fxn0, &f.fyn0, &f.fxn, &f.fyn}) a->zero();
}

BodyBox body_box(const Flags& f) {
  int i0 = f.ni() + 1, i1 = 0, j0 = f.nj() + 1, j1 = 0, k0 = f.nk() + 1, k1 = 0;
  const std::int32_t* d = f.data();
  const int ni = f.ni(), nj = f.nj(), nk = f.nk();
#pragma omp parallel for schedule(static) reduction(min : i0, j0, k0) reduction(max : i1, j1, k1)
  for (int i = 1; i <= ni; ++i)
    for (int j = 1; j <= nj; ++j) {
      const std::int32_t* col = d + f.index(i, j, 1);
      for (int k = 1; k <= nk; ++k)
        if (col[k - 1] != 0) {
          i0 = std::min(i0, i), i1 = std::max(i1, i);
          j0 = std::min(j0, j), j1 = std::max(j1, j);
          k0 = std::min(k0, k), k1 = std::max(k1, k);
        }
    }
  return {i0, i1, j0, j1, k0, k1};
}

}  // namespace qv
