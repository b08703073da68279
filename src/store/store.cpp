#include "store/store.hpp"

#include <cstdio>
#include <cstdlib>
#include <new>
#include <algorithm>

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
  const int ni = ie + 2, nj = je + 2, nk = ke + 2;
  for (Field* f : {&uu, &vv, &ww, &pp, &nut, &fu, &fv, &fw, &fu0, &fv0, &fw0, &fxn, &fyn, &fxn0,
                   &fyn0, &un, &vn, &wn, &pn, &tauxy, &tauyz, &tauxz, &su, &sv, &sw, &suu, &svv,
                   &sww, &suv, &svw, &swu, &sgs11, &sgs22, &sgs33, &spm, &spm2, &snut, &pm})
    f->allocate(ni, nj, nk);
  iflag.allocate(ni, nj, nk);
  near_body.allocate(ni, nj, nk);
  for (Plane* p : {&ub0, &vb0, &wb0}) p->allocate(nj, nk);
  work_cxy.assign(static_cast<std::size_t>(ni) * nj, 0.0);
  work_cz.assign(static_cast<std::size_t>(nk) + 1, 0.0);
  work_skew.assign(kSkewTables * 8 * static_cast<std::size_t>(ke - ks + 16), 1.0);
  work_lanes.size_for(*this);
  work_progress.assign(static_cast<std::size_t>(ni), 0);
  work_weights.assign(6 * static_cast<std::size_t>(kMaxI + 1), CubicWeights{});
  fhist.assign(3 * static_cast<std::size_t>(kHistoryStart), 0.0);
  bhist.assign(9 * static_cast<std::size_t>(kHistoryStart), 0.0);
}

bool history_room(Store& s) {
  const std::size_t n = static_cast<std::size_t>(s.nsample) + 1;
  if (3 * n <= s.fhist.size()) return true;
  if (s.nsample >= kMaxSamples) return false;
  const std::size_t room = std::min(2 * (s.fhist.size() / 3), static_cast<std::size_t>(kMaxSamples));
  try {
    s.fhist.resize(3 * room, 0.0);
    s.bhist.resize(9 * room, 0.0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

void initarr(Store& s) {
  for (Field* f : {&s.su, &s.sv, &s.sw, &s.suu, &s.svv, &s.sww, &s.suv, &s.svw, &s.swu, &s.sgs11,
                   &s.sgs22, &s.sgs33, &s.spm, &s.spm2, &s.snut, &s.tauxy, &s.tauyz, &s.tauxz})
    f->zero();
  for (Line* l : {&s.x, &s.dx, &s.dxc, &s.y, &s.dy, &s.dyc, &s.z, &s.dz, &s.dzc}) l->zero();
  for (Field* f : {&s.uu, &s.vv, &s.ww, &s.pp, &s.un, &s.vn, &s.wn, &s.pn, &s.fu0, &s.fv0, &s.fw0,
                   &s.fu, &s.fv, &s.fw, &s.nut})
    f->zero();
  s.iflag.zero();
  std::fill(s.fhist.begin(), s.fhist.end(), 0.0);
  std::fill(s.bhist.begin(), s.bhist.end(), 0.0);
  for (Field* f : {&s.fxn0, &s.fyn0, &s.fxn, &s.fyn}) f->zero();
}

}  // namespace qv
