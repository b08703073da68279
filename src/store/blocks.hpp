// A block of a field as one record of a record file.
#pragma once

#include "io/files.hpp"
#include "store/store.hpp"

namespace qv {

// A whole record holding the block i1..i2, j1..j2, k1..k2 of a field, i fastest.
void write_block(RecordWriter& w, const Field& f, int i1, int i2, int j1, int j2, int k1, int k2);
// Reads the next record into the block i1..i2, j1..j2, k1..k2, i fastest.
void read_block(RecordReader& r, Field& f, int i1, int i2, int j1, int j2, int k1, int k2);

}  // namespace qv
