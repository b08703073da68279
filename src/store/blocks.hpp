// A block of a field as one record of a record file.
#pragma once

#include <string_view>

#include "io/files.hpp"
#include "store/layouts.hpp"
#include "store/store.hpp"

namespace qv {

// A whole record holding the block i1..i2, j1..j2, k1..k2 of a field, i fastest.
void write_block(RecordWriter& w, const Field& f, int i1, int i2, int j1, int j2, int k1, int k2);
// Reads the next record into the block i1..i2, j1..j2, k1..k2, i fastest.
void read_block(RecordReader& r, Field& f, int i1, int i2, int j1, int j2, int k1, int k2);

// The array of the store that a layout's block record names.
const Field& named_field(const Store& s, std::string_view name);
Field& named_field(Store& s, std::string_view name);
// The body triple a "3d" record of a layout names ("xacc yacc tacc" is acc,
// "xdis1 ydis1 tdis1" first_dis, ...); nullptr for any other record.
const Dof3* named_triple(const Body& b, std::string_view names);
Dof3* named_triple(Body& b, std::string_view names);
// The block record `rec` of a layout for the store's box, with f as its array.
void write_block(RecordWriter& w, const Field& f, const Store& s, const RecordLayout& rec);
void read_block(RecordReader& r, Field& f, const Store& s, const RecordLayout& rec);
// Its size in bytes.
std::size_t block_bytes(const Store& s, const RecordLayout& rec);

}  // namespace qv
