#include "store/blocks.hpp"

#include <stdexcept>
#include <string>

namespace qv {
namespace {

template <class Group>
struct Named {
  const char* name;
  Field Group::*field;
};
// Every array a record file holds, by the group it lives in.
constexpr Named<Flow> kFlowArrays[] = {
    {"uu", &Flow::uu}, {"vv", &Flow::vv}, {"ww", &Flow::ww},   {"pp", &Flow::pp},   {"fu", &Flow::fu},
    {"fv", &Flow::fv}, {"fw", &Flow::fw}, {"nut", &Flow::nut}, {"fxn", &Flow::fxn}, {"fyn", &Flow::fyn},
};
constexpr Named<Statistics> kStatArrays[] = {
    {"su", &Statistics::su},       {"sv", &Statistics::sv},       {"sw", &Statistics::sw},
    {"suu", &Statistics::suu},     {"svv", &Statistics::svv},     {"sww", &Statistics::sww},
    {"suv", &Statistics::suv},     {"svw", &Statistics::svw},     {"swu", &Statistics::swu},
    {"sgs11", &Statistics::sgs11}, {"sgs22", &Statistics::sgs22}, {"sgs33", &Statistics::sgs33},
    {"spm", &Statistics::spm},     {"spm2", &Statistics::spm2},   {"snut", &Statistics::snut},
    {"tauxy", &Statistics::tauxy}, {"tauyz", &Statistics::tauyz}, {"tauxz", &Statistics::tauxz},
};
constexpr Named<Scratch> kWorkArrays[] = {{"pm", &Scratch::pm}};

template <class Group, std::size_t N>
Field* find(Group& g, const Named<Group> (&table)[N], std::string_view name) {
  for (const Named<Group>& a : table)
    if (name == a.name) return &(g.*a.field);
  return nullptr;
}

}  // namespace

Field& named_field(Store& s, std::string_view name) {
  if (Field* f = find(s.flow, kFlowArrays, name)) return *f;
  if (Field* f = find(s.stats, kStatArrays, name)) return *f;
  if (Field* f = find(s.work, kWorkArrays, name)) return *f;
  throw std::logic_error("no array " + std::string(name) + " in the store");
}

Dof3* named_triple(Body& b, std::string_view names) {
  const struct {
    const char* names;
    Dof3 Body::*triple;
  } triples[] = {
      {"pfx pfy pft", &Body::pf},     {"xacc yacc tacc", &Body::acc},          {"xdis ydis tdis", &Body::dis},
      {"xvel yvel tvel", &Body::vel}, {"xdis1 ydis1 tdis1", &Body::first_dis}, {"xvel1 yvel1 tvel1", &Body::first_vel}};
  for (const auto& t : triples)
    if (names == t.names) return &(b.*t.triple);
  return nullptr;
}

const Dof3* named_triple(const Body& b, std::string_view names) { return named_triple(const_cast<Body&>(b), names); }

const Field& named_field(const Store& s, std::string_view name) { return named_field(const_cast<Store&>(s), name); }

void write_block(RecordWriter& w, const Field& f, const Store& s, const RecordLayout& rec) {
  write_block(w, f, s.grid.is, s.grid.ie + rec.di, s.grid.js, s.grid.je + rec.dj, s.grid.ks, s.grid.ke + rec.dk);
}

void read_block(RecordReader& r, Field& f, const Store& s, const RecordLayout& rec) {
  read_block(r, f, s.grid.is, s.grid.ie + rec.di, s.grid.js, s.grid.je + rec.dj, s.grid.ks, s.grid.ke + rec.dk);
}

std::size_t block_bytes(const Store& s, const RecordLayout& rec) {
  return static_cast<std::size_t>(s.grid.ie + rec.di - s.grid.is + 1) * (s.grid.je + rec.dj - s.grid.js + 1) *
         (s.grid.ke + rec.dk - s.grid.ks + 1) * 8;
}

void write_block(RecordWriter& w, const Field& f, int i1, int i2, int j1, int j2, int k1, int k2) {
  const std::size_t n = static_cast<std::size_t>(i2 - i1 + 1) * (j2 - j1 + 1) * (k2 - k1 + 1);
  w.begin(n * 8);
  for (int k = k1; k <= k2; ++k)
    for (int j = j1; j <= j2; ++j)
      for (int i = i1; i <= i2; ++i) w.put(f.value_or_zero(i, j, k));
  w.end();
}

void read_block(RecordReader& r, Field& f, int i1, int i2, int j1, int j2, int k1, int k2) {
  r.next();
  const std::size_t n = static_cast<std::size_t>(i2 - i1 + 1) * (j2 - j1 + 1) * (k2 - k1 + 1);
  r.require(n * 8);
  for (int k = k1; k <= k2; ++k)
    for (int j = j1; j <= j2; ++j)
      for (int i = i1; i <= i2; ++i) f(i, j, k) = r.get_real();
}

}  // namespace qv
