// Every output byte is the same for any number of threads: a small coupled
// case with every kind of body freedom, run on 1, 2 and 3 threads, then
// continued from its final files on each, all files compared byte for byte.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "io/format.hpp"
#include "support/case.hpp"

namespace fs = std::filesystem;

namespace {

// Every file under dir, by relative path.
std::map<std::string, std::string> contents(const std::string& dir) {
  std::map<std::string, std::string> m;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file()) m[fs::relative(e.path(), dir).string()] = qvt::read_file(e.path().string());
  return m;
}

int run_with_threads(const std::string& dir, const std::string& console, int threads) {
  ::setenv("OMP_NUM_THREADS", std::to_string(threads).c_str(), 1);
  ::setenv("QV_CELLS_PER_THREAD", "1", 1);  // divide even this small grid
  const int rc = qvt::run_program(dir, console);
  ::unsetenv("OMP_NUM_THREADS");
  ::unsetenv("QV_CELLS_PER_THREAD");
  return rc;
}

// The finished case continues from its final field and body state.
void continue_from_final(const std::string& dir) {
  std::string inf = qvt::read_file(dir + "/quivel_vib8.inf");
  auto swap = [&](const std::string& from, const std::string& to) {
    const std::size_t at = inf.find(qv::fmt::A(from, 14));
    ASSERT_NE(at, std::string::npos) << from;
    inf.replace(at, 14, qv::fmt::A(to, 14));
  };
  swap("fffff", "final.dat");
  swap("body0.dat", "body.dat");
  qvt::write_file(dir + "/quivel_vib8.inf", inf);
  fs::remove(dir + "/stat.dat");
  for (const auto& e : fs::directory_iterator(dir + "/DAT"))
    if (e.path().filename().string().rfind("snap", 0) == 0) fs::remove(e.path());
}

}  // namespace

TEST(Threads, EveryOutputByteIsTheSameForAnyThreadCount) {
  for (int ndof = 0; ndof <= 6; ++ndof) {
    qvt::CaseSetup c;
    // enough layers and columns for the widest vector sweep (two groups of
    // eight columns and a remainder), a body three cells thick in x and y
    c.nx = 12, c.ny = 20, c.nz = 18;
    c.h = 0.2;
    c.body_i0 = 3, c.body_i1 = 5, c.body_j0 = 8, c.body_j1 = 10;
    c.izper = 2, c.ca2 = 0;
    c.Cs = 0.1, c.Re = 1000;
    c.nt = 3, c.nsmp = 1, c.ifc = 2, c.nfl = 1;
    c.esp = 0.003;
    c.ndof = ndof;
    c.amas = 2, c.aitm = 1, c.xkst = 3, c.ykst = 5, c.tkst = 2, c.yh0 = 0.01;
    c.xamp = 0.02, c.yamp = 0.05, c.tamp = 0.03, c.tfrc = 0.02;
    std::map<std::string, std::string> first[2];
    for (int threads : {1, 2, 3}) {
      const std::string dir = qvt::temp_dir("threads");
      qvt::write_case(dir, c);
      ASSERT_EQ(run_with_threads(dir, "1.0\n", threads), 0) << qvt::read_file(dir + "/console.err");
      const auto run1 = contents(dir);
      continue_from_final(dir);
      ASSERT_EQ(run_with_threads(dir, "1.0\n0\n", threads), 0) << qvt::read_file(dir + "/console.err");
      const auto run2 = contents(dir);
      fs::remove_all(dir);
      if (threads == 1) {
        first[0] = run1;
        first[1] = run2;
        continue;
      }
      for (int r = 0; r < 2; ++r) {
        const auto& now = r == 0 ? run1 : run2;
        ASSERT_EQ(now.size(), first[r].size());
        for (const auto& [name, bytes] : first[r])
          EXPECT_TRUE(now.count(name) && now.at(name) == bytes)
              << name << " differs, ndof " << ndof << ", " << threads << " threads, run " << r + 1;
      }
    }
  }
}
