#include "store/lanes.hpp"

#include <algorithm>

#include "store/store.hpp"

namespace qv {

void LaneFields::size_for(const Store& s) {
  const int ncol_new = s.grid.je - s.grid.js;
  const int nb_new = (ncol_new + 7) / 8 + 1;  // the blocks with cells, and the neighbour of the last
  const int S_new = s.grid.ke - s.grid.ks + 1;
  // the sweep's last step, (ie - is) S + 6, reads uu S positions on
  const std::size_t len_new = static_cast<std::size_t>(s.grid.ie - s.grid.is + 1) * S_new + 7;
  const std::size_t per = static_cast<std::size_t>(nb_new) * len_new * 8;
  if (is == s.grid.is && js == s.grid.js && ks == s.grid.ks && nb == nb_new && S == S_new && len == len_new &&
      ncol == ncol_new && per == per_)
    return;
  is = s.grid.is, js = s.grid.js, ks = s.grid.ks;
  nk = S_new - 1;
  S = S_new;
  ncol = ncol_new;
  nb = nb_new;
  len = len_new;
  per_ = per;
  mem_.assign(4 * per, 0.0);
  body_.assign(per / 8, 0);
  steps_done.assign(static_cast<std::size_t>(nb) * kCountStride, 0);
}

namespace {

const Field& store_field(const Store& s, LaneFields::Which w) {
  return w == LaneFields::kU   ? s.flow.uu
         : w == LaneFields::kV ? s.flow.vv
         : w == LaneFields::kW ? s.flow.ww
                               : s.flow.pp;
}

// Calls f(i, j, k) over the part of a field the passes read or write.
template <class F>
void over_range(const Store& s, LaneFields::Which w, F&& f) {
  const int i1 = w == LaneFields::kU ? s.grid.ie : s.grid.ie - 1;
  const int j1 = w == LaneFields::kV ? s.grid.je : s.grid.je - 1;
  const int k1 = w == LaneFields::kW ? s.grid.ke : s.grid.ke - 1;
  for (int i = s.grid.is; i <= i1; ++i)
    for (int j = s.grid.js; j <= j1; ++j)
      for (int k = s.grid.ks; k <= k1; ++k) f(i, j, k);
}

}  // namespace

void LaneFields::gather(const Store& s) {
  size_for(s);
  for (const Which w : {kU, kV, kW, kP}) {
    const Field& q = store_field(s, w);
    double* d = field(w);
    over_range(s, w, [&](int i, int j, int k) { d[index(i, j, k)] = q(i, j, k); });
  }
  std::fill(body_.begin(), body_.end(), std::uint8_t{0});
  over_range(s, kP, [&](int i, int j, int k) {
    if (s.flow.iflag(i, j, k) != 0) body_[index(i, j, k) / 8] |= static_cast<std::uint8_t>(1u << ((j - js) % 8));
  });
}

void LaneFields::scatter(Store& s) const {
  for (const Which w : {kU, kV, kW, kP}) {
    Field& q = w == kU ? s.flow.uu : w == kV ? s.flow.vv : w == kW ? s.flow.ww : s.flow.pp;
    const double* d = field(w);
    over_range(s, w, [&](int i, int j, int k) { q(i, j, k) = d[index(i, j, k)]; });
  }
}

}  // namespace qv
