#include "store/lanes.hpp"

#include <algorithm>

#include "store/store.hpp"

namespace qv {

void LaneFields::size_for(const Store& s) {
  const int nb_new = (s.je - s.js + 1 + 7) / 8 + 1;  // columns js..je, and a neighbour block
  const int nm_new = s.ke - s.ks + 9;                // up to lane 7's top face, and one more read
  const std::size_t per = static_cast<std::size_t>(s.ie - s.is + 1) * nb_new * nm_new * 8;
  if (is == s.is && js == s.js && ks == s.ks && nb == nb_new && nm == nm_new && ncol == s.je - s.js &&
      per == per_)
    return;
  is = s.is, js = s.js, ks = s.ks;
  nk = s.ke - s.ks;
  ncol = s.je - s.js;
  nb = nb_new, nm = nm_new;
  per_ = per;
  mem_.assign(4 * per, 0.0);
  body_.assign(per / 8, 0);
}

namespace {

const Field& store_field(const Store& s, LaneFields::Which w) {
  return w == LaneFields::kU ? s.uu : w == LaneFields::kV ? s.vv : w == LaneFields::kW ? s.ww : s.pp;
}

// Calls f(i, j, k) over the part of a field the passes read or write.
template <class F>
void over_range(const Store& s, LaneFields::Which w, F&& f) {
  const int i1 = w == LaneFields::kU ? s.ie : s.ie - 1;
  const int j1 = w == LaneFields::kV ? s.je : s.je - 1;
  const int k1 = w == LaneFields::kW ? s.ke : s.ke - 1;
  for (int i = s.is; i <= i1; ++i)
    for (int j = s.js; j <= j1; ++j)
      for (int k = s.ks; k <= k1; ++k) f(i, j, k);
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
    if (s.iflag(i, j, k) != 0) body_[index(i, j, k) / 8] |= static_cast<std::uint8_t>(1u << ((j - js) % 8));
  });
}

void LaneFields::scatter(Store& s) const {
  for (const Which w : {kU, kV, kW, kP}) {
    Field& q = w == kU ? s.uu : w == kV ? s.vv : w == kW ? s.ww : s.pp;
    const double* d = field(w);
    over_range(s, w, [&](int i, int j, int k) { q(i, j, k) = d[index(i, j, k)]; });
  }
}

}  // namespace qv
