#include "store/blocks.hpp"

#include <stdexcept>
#include <string>

namespace qv {
namespace {

struct Named {
  const char* name;
  Field Store::*field;
};
// Every array a record file holds.
constexpr Named kArrays[] = {
    {"uu", &Store::uu},       {"vv", &Store::vv},       {"ww", &Store::ww},       {"pp", &Store::pp},
    {"fu", &Store::fu},       {"fv", &Store::fv},       {"fw", &Store::fw},       {"nut", &Store::nut},
    {"pm", &Store::pm},       {"su", &Store::su},       {"sv", &Store::sv},       {"sw", &Store::sw},
    {"suu", &Store::suu},     {"svv", &Store::svv},     {"sww", &Store::sww},     {"suv", &Store::suv},
    {"svw", &Store::svw},     {"swu", &Store::swu},     {"sgs11", &Store::sgs11}, {"sgs22", &Store::sgs22},
    {"sgs33", &Store::sgs33}, {"spm", &Store::spm},     {"spm2", &Store::spm2},   {"snut", &Store::snut},
    {"tauxy", &Store::tauxy}, {"tauyz", &Store::tauyz}, {"tauxz", &Store::tauxz}, {"fxn", &Store::fxn},
    {"fyn", &Store::fyn},
};

}  // namespace

Field& named_field(Store& s, std::string_view name) {
  for (const Named& a : kArrays)
    if (name == a.name) return s.*a.field;
  throw std::logic_error("no array " + std::string(name) + " in the store");
}

const Field& named_field(const Store& s, std::string_view name) { return named_field(const_cast<Store&>(s), name); }

void write_block(RecordWriter& w, const Field& f, const Store& s, const RecordLayout& rec) {
  write_block(w, f, s.is, s.ie + rec.di, s.js, s.je + rec.dj, s.ks, s.ke + rec.dk);
}

void read_block(RecordReader& r, Field& f, const Store& s, const RecordLayout& rec) {
  read_block(r, f, s.is, s.ie + rec.di, s.js, s.je + rec.dj, s.ks, s.ke + rec.dk);
}

std::size_t block_bytes(const Store& s, const RecordLayout& rec) {
  return static_cast<std::size_t>(s.ie + rec.di - s.is + 1) * (s.je + rec.dj - s.js + 1) * (s.ke + rec.dk - s.ks + 1) *
         8;
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
