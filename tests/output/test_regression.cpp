// The program's result bits on a small coupled case, pinned: a change meant
// to make the code faster (or clearer) must not change one bit of them.
// After a change that is meant to alter results, record the new values
// (QV_PRINT_HASHES=1 prints them) and say why in the commit.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "support/case.hpp"

namespace {

std::uint64_t fnv1a(const std::string& bytes) {
  std::uint64_t h = 1469598103934665603ull;
  for (unsigned char c : bytes) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

}  // namespace

TEST(Regression, SmallCoupledCaseKeepsItsBits) {
  const std::string dir = qvt::temp_dir("regression");
  qvt::CaseSetup c;  // 17 x 13 x 3 grid lines, a 2 x 2 body
  c.iyper = 0;
  c.izper = 2;
  c.Cs = 0.1;
  c.nt = 20;
  c.ndof = 6;
  c.amas = 2, c.aitm = 0.5, c.xkst = 3, c.ykst = 3, c.tkst = 1;
  c.yamp = 0.02, c.tfrc = 0.1;
  c.ifc = 10, c.nfl = 1;
  qvt::write_case(dir, c);
  ASSERT_EQ(qvt::run_program(dir, "1.0\n"), 0);
  const char* files[] = {"final.dat", "stat.dat", "vib.dat", "body.dat", "DAT/snap001", "fort.1"};
  const std::uint64_t expected[] = {0x4226979d43eaaf6cull, 0x5c1b6c2735c39f2eull, 0x21d0163c79cf52c7ull,
                                      0x662795b5b6c99fe4ull, 0xc9fb4416ef8439d2ull, 0xe9cd4f2728d4bf17ull};
  for (std::size_t n = 0; n < sizeof files / sizeof *files; ++n) {
    const std::uint64_t h = fnv1a(qvt::read_file(dir + "/" + files[n]));
    if (std::getenv("QV_PRINT_HASHES")) std::printf("%s 0x%016llxull\n", files[n], static_cast<unsigned long long>(h));
    EXPECT_EQ(h, expected[n]) << files[n] << " changed";
  }
}
