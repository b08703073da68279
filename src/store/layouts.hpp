// The record files' layouts, one table each, record by record.  A record is
// either a list of items (its names, and their kinds as a struct-style code:
// "6i" six 32-bit integers, "4d4i" four reals then four integers) or the
// block of one array over is..ie+di, js..je+dj, ks..ke+dk, i fastest.
// tools/qvtools/layouts.py holds the same tables for the readers.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace qv {

inline constexpr const char* kBlock = "";  // the kind code of a block record

struct RecordLayout {
  const char* names;
  const char* items;  // kBlock for a block
  int di = 0, dj = 0, dk = 0;
  bool block() const { return items[0] == '\0'; }
};

// Final field file and snapshots (a snapshot holds pm in place of pp).
inline constexpr RecordLayout kFieldFile[] = {
    {"is ie js je ks ke", "6i"},
    {"Re Cs dt t nt iyper izper iter", "4d4i"},
    {"uu", kBlock, 1, -1, -1},
    {"vv", kBlock, 0, 0, -1},
    {"ww", kBlock, 0, -1, 0},
    {"pp", kBlock, 0, -1, -1},
    {"fu", kBlock, 0, 0, 0},
    {"fv", kBlock, 0, 0, 0},
    {"fw", kBlock, 0, 0, 0},
    {"nut", kBlock, 0, -1, -1},
};

// Statistics file.
inline constexpr RecordLayout kStatisticsFile[] = {
    {"is ie js je ks ke", "6i"},
    {"Re Cs dt t nt iyper izper iter", "4d4i"},
    {"su", kBlock, 0, 0, 0},
    {"sv", kBlock, 0, 0, 0},
    {"sw", kBlock, 0, 0, 0},
    {"suu", kBlock, 0, 0, 0},
    {"svv", kBlock, 0, 0, 0},
    {"sww", kBlock, 0, 0, 0},
    {"suv", kBlock, 0, 0, 0},
    {"svw", kBlock, 0, 0, 0},
    {"swu", kBlock, 0, 0, 0},
    {"sgs11", kBlock, 0, 0, 0},
    {"sgs22", kBlock, 0, 0, 0},
    {"sgs33", kBlock, 0, 0, 0},
    {"spm", kBlock, 0, -1, -1},
    {"spm2", kBlock, 0, -1, -1},
    {"snut", kBlock, 0, 0, 0},
    {"tauxy", kBlock, 0, 0, 0},
    {"tauyz", kBlock, 0, 0, 0},
    {"tauxz", kBlock, 0, 0, 0},
};

// Body-state file (its first record has no je).
inline constexpr RecordLayout kBodyStateFile[] = {
    {"is ie js ks ke", "5i"},
    {"xacc yacc tacc", "3d"},
    {"xdis ydis tdis", "3d"},
    {"xvel yvel tvel", "3d"},
    {"fxn", kBlock, 0, 0, 0},
    {"fyn", kBlock, 0, 0, 0},
};

// Body history: "*" repeats the items once per sample (nsample of them).
inline constexpr RecordLayout kHistoryFile[] = {
    {"nsample tsmp beta", "idd"},
    {"xdis1 ydis1 tdis1", "3d"},
    {"xvel1 yvel1 tvel1", "3d"},
    {"pfx pfy pft", "3d*"},
    {"xacc xvel xdis", "3d*"},
    {"yacc yvel ydis", "3d*"},
    {"tacc tvel tdis", "3d*"},
};

// The items of a record's kind code ("4d4i": four reals, four integers; a
// "*" repeating them per sample is not counted).
struct ItemCount {
  std::size_t reals = 0, ints = 0;
  std::size_t bytes() const { return reals * 8 + ints * 4; }
};
inline ItemCount item_count(const char* code) {
  ItemCount c;
  std::size_t n = 0;
  for (const char* p = code; *p != '\0'; ++p) {
    if (*p >= '0' && *p <= '9') {
      n = n * 10 + static_cast<std::size_t>(*p - '0');
    } else if (*p == 'd' || *p == 'i') {
      (*p == 'd' ? c.reals : c.ints) += n == 0 ? 1 : n;
      n = 0;
    }
  }
  return c;
}

// The record of `layout` named `name` (0-based); the count when none is.
inline std::size_t record_of(std::span<const RecordLayout> layout, std::string_view name) {
  std::size_t n = 0;
  while (n < layout.size() && name != layout[n].names) ++n;
  return n;
}

}  // namespace qv
