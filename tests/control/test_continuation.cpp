// Exact continuation: a chain of segments, each continuing the state the
// one before saved ("continue.inf"), gives every output byte of one
// unbroken run, wherever the segments were stopped.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "io/format.hpp"
#include "support/case.hpp"
#include "support/running.hpp"

namespace fs = std::filesystem;
using qvt::read_file;
using qvt::Running;

namespace {

// A coupled LES case on a stretched grid with a body three cells thick:
// the eddy viscosity, the frame terms of the rotation, the statistics, the
// history sampling, the snapshot schedule, the tolerance ramp and a probe
// all carry state from step to step.
qvt::CaseSetup chain_case() {
  qvt::CaseSetup c;
  c.nx = 19, c.ny = 15, c.nz = 4;
  c.rx = 1.08, c.ry = 1.1;
  c.iyper = 0;
  c.Cs = 0.15;
  c.nt = 70;
  c.ndof = 6;
  c.amas = 4, c.aitm = 2, c.xkst = 6, c.ykst = 5, c.tkst = 3, c.yh0 = 0.01;
  c.yamp = 0.05, c.tfrc = 0.3;
  c.nsmp = 3;
  c.ifc = 9, c.nfl = 20;
  c.body_i0 = 6, c.body_i1 = 8, c.body_j0 = 5, c.body_j1 = 7;
  c.ic2 = 0, c.ic3 = 40, c.sesp = 0.05;
  return c;
}

void write_chain_case(const std::string& dir) {
  qvt::write_case(dir, chain_case());
  qvt::write_file(dir + "/probes.inf", "# behind the body\n1.2 0.1 0.2\n");
}

// The console of the steps: after the start-up lines up to the last "nn = ".
std::string steps_text(const std::string& out) {
  std::size_t a = out.find("time series will be output in");
  if (a == std::string::npos) a = out.find("continuing exactly after step");
  a = out.find('\n', a) + 1;
  const std::size_t b = out.find('\n', out.rfind(" nn = ")) + 1;
  return out.substr(a, b - a);
}

// The segment that continues the one just stopped in dir: the restart pair
// and the saved state as inputs; the stopped segment's statistics file
// (over its own steps) is put aside.
void continue_in_place(const std::string& dir, int segment) {
  qvt::set_columns(dir + "/quivel_vib8.inf", 1, 35, qv::fmt::A("final.dat", 14));
  qvt::set_columns(dir + "/quivel_vib8.inf", 10, 3, qv::fmt::A("body.dat", 14));
  fs::rename(dir + "/stat.dat", dir + "/stat.dat.segment" + std::to_string(segment));
  qvt::write_file(dir + "/continue.inf", "body.dat.state\n");
}

// Every file of a directory tree, by its path below the directory.
std::map<std::string, std::string> tree(const std::string& dir) {
  std::map<std::string, std::string> m;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file()) m[fs::relative(e.path(), dir).string()] = read_file(e.path().string());
  return m;
}

// A run stopped by SIGTERM once it has shown `steps` more steps.
std::string run_until_signal(const std::string& dir, const std::string& console, int steps) {
  Running run(dir, console);
  EXPECT_TRUE(run.wait_for(" nn = ", steps)) << read_file(dir + "/console.err");
  EXPECT_EQ(kill(run.pid(), SIGTERM), 0);
  EXPECT_EQ(run.finish(), 128 + SIGTERM) << read_file(dir + "/console.err");
  return run.out;
}

}  // namespace

// One thread: the bytes do not depend on it (tests/output/test_threads.cpp),
// and a machine shared with other builds makes idle threads costly.
class ExactContinuation : public ::testing::Test {
 protected:
  void SetUp() override { setenv("OMP_NUM_THREADS", "1", 1); }
};

TEST_F(ExactContinuation, AChainOfSegmentsIsTheUnbrokenRun) {
  const std::string whole = qvt::temp_dir("whole");
  write_chain_case(whole);
  std::string out_whole;
  ASSERT_EQ(qvt::run_program(whole, "1.0\n", &out_whole), 0) << read_file(whole + "/console.err");

  const std::string chain = qvt::temp_dir("chain");
  write_chain_case(chain);
  std::vector<std::string> outs;
  outs.push_back(run_until_signal(chain, "1.0\n", 15));
  const int stop1 = qvt::last_step(outs.back());
  continue_in_place(chain, 1);
  outs.push_back(run_until_signal(chain, "1.0\n0\n", 20));
  const int stop2 = qvt::last_step(outs.back());
  continue_in_place(chain, 2);
  std::string out3;
  ASSERT_EQ(qvt::run_program(chain, "1.0\n0\n", &out3), 0) << read_file(chain + "/console.err");
  outs.push_back(out3);
  ASSERT_LT(stop1, stop2);
  ASSERT_LT(stop2, 70) << "the second segment should have been stopped before the end";
  EXPECT_EQ(read_file(chain + "/console.err"), "");

  // every output file, byte for byte
  const auto a = tree(whole), b = tree(chain);
  for (const auto& [name, bytes] : a) {
    if (name.rfind("console.", 0) == 0 || name == "quivel_vib8.inf") continue;
    ASSERT_TRUE(b.count(name)) << name << " is missing from the chain";
    EXPECT_TRUE(b.at(name) == bytes) << name << " differs (segments stopped after steps " << stop1 << " and "
                                     << stop2 << ")";
  }
  for (const auto& [name, bytes] : b) {
    if (!a.count(name)) {
      EXPECT_TRUE(name.rfind("console.", 0) == 0 || name == "continue.inf" ||
                  name.rfind("stat.dat.segment", 0) == 0)
          << "the chain left " << name;
    }
  }

  // the console of the steps, and the start and end of the run
  std::string joined;
  for (const std::string& o : outs) joined += steps_text(o);
  EXPECT_TRUE(joined == steps_text(out_whole));
  EXPECT_EQ(outs[0].substr(0, outs[0].find("time series will be output in")),
            out_whole.substr(0, out_whole.find("time series will be output in")));
  EXPECT_EQ(out3.substr(out3.rfind(" nn = ")), out_whole.substr(out_whole.rfind(" nn = ")));
}

// A state that does not belong to the restart pair is refused before any
// step; without "continue.inf" a restart is a new run, as always.
TEST_F(ExactContinuation, AStateOfAnotherInstantIsRefused) {
  const std::string dir = qvt::temp_dir("state-mismatch");
  qvt::CaseSetup c = chain_case();
  c.nt = 20, c.ifc = 0, c.nfl = 0;
  qvt::write_case(dir, c);
  ASSERT_EQ(qvt::run_program(dir, "1.0\n"), 0);
  fs::copy_file(dir + "/body.dat.state", dir + "/early.state");
  qvt::write_file(dir + "/change.inf", qv::fmt::I(25, 10) + "\r\n");
  continue_in_place(dir, 1);
  fs::rename(dir + "/continue.inf", dir + "/later.inf");
  std::string out;
  ASSERT_EQ(qvt::run_program(dir, "1.0\n0\n", &out), 0) << read_file(dir + "/console.err");
  EXPECT_EQ(qvt::last_step(out), 25);  // a new run: its own step count
  EXPECT_EQ(qvt::count(read_file(dir + "/DAT/quivel_vib8.ts"), "#start at t="), 2);

  fs::rename(dir + "/stat.dat", dir + "/stat2.dat");
  qvt::write_file(dir + "/continue.inf", "early.state\n");
  EXPECT_EQ(qvt::run_program(dir, "1.0\n0\n", &out), 2);
  const std::string err = read_file(dir + "/console.err");
  EXPECT_NE(err.find("the continuation state early.state was saved at t = 0.2"), std::string::npos) << err;
  EXPECT_NE(err.find("the input field file holds t = 0.45"), std::string::npos) << err;
  EXPECT_EQ(out.find("itm2c nn2 nn ="), std::string::npos);
}
