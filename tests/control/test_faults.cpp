// Faults a run of days meets, through the real program: signals, a closed
// console, a file-size limit, a second run in the directory, a kill at any
// moment, a flow that blows up, bad values typed into the files read every
// step.  None may lose the run or leave a wrong restart pair.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <random>
#include <thread>

#include "io/format.hpp"
#include "support/case.hpp"
#include "support/running.hpp"

namespace fs = std::filesystem;
using qv::fmt::I;
using qvt::count;
using qvt::records;
using qvt::Running;

namespace {

void replace_file(const std::string& path, const std::string& text) {
  qvt::write_file(path + ".tmp", text);
  fs::rename(path + ".tmp", path);
}

std::string err_of(const std::string& dir) { return qvt::read_file(dir + "/console.err"); }

// The end-of-run files of a run that ended after n steps of dt = 0.01.
void expect_end_files(const std::string& dir, int n) {
  const auto fin = records(dir + "/final.dat");
  ASSERT_EQ(fin.r.size(), 10u);
  EXPECT_NEAR(fin.real(1, 3), n * 0.01, 1e-9);
  EXPECT_EQ(records(dir + "/stat.dat").r.size(), 20u);
  EXPECT_EQ(records(dir + "/vib.dat").r.size(), 7u);
  EXPECT_EQ(records(dir + "/body.dat").r.size(), 6u);
  EXPECT_TRUE(qvt::no_temporaries(dir));
}

}  // namespace

// SIGHUP (a closed terminal), and the signals a batch system sends before
// it kills (SIGXCPU, SIGUSR1, SIGUSR2, SIGALRM), end the run like SIGTERM:
// after the step in progress, every end-of-run file written, status 128 +
// the signal.
TEST(Faults, SignalsEndTheRunWithItsFiles) {
  for (int sig : {SIGHUP, SIGXCPU, SIGUSR1, SIGUSR2, SIGALRM}) {
    SCOPED_TRACE(sig);
    const std::string dir = qvt::temp_dir("signal");
    qvt::CaseSetup c;
    c.nt = 99999, c.nsmp = 0;
    qvt::write_case(dir, c);
    Running run(dir, "1.0\n");
    ASSERT_TRUE(run.wait_for(" nn = ", 2)) << run.out;
    ASSERT_EQ(kill(run.pid(), sig), 0);
    EXPECT_EQ(run.finish(), 128 + sig);
    const int n = qvt::last_step(run.out);
    expect_end_files(dir, n);
    // the headers give the steps made, which the statistics average over, not
    // the 99999 asked for: a chain weighs its segments by this count
    EXPECT_EQ(records(dir + "/final.dat").int32(1, 32), n);
    EXPECT_EQ(records(dir + "/stat.dat").int32(1, 32), n);
  }
}

// The reader of the console goes away (a dead `| tee`): the run goes on to
// its end and writes its files.
TEST(Faults, ClosedConsoleDoesNotEndTheRun) {
  const std::string dir = qvt::temp_dir("sigpipe");
  qvt::CaseSetup c;
  c.nt = 30;
  qvt::write_case(dir, c);
  Running run(dir, "1.0\n");
  ASSERT_TRUE(run.wait_for(" nn = ", 1)) << run.out;
  run.close_output();
  EXPECT_EQ(run.finish(), 0) << err_of(dir);
  EXPECT_NE(err_of(dir).find("standard output cannot be written"), std::string::npos);
  expect_end_files(dir, 30);
}

// A file-size limit makes the statistics write fail: the run says so and
// exits 2, the final pair and history are in place, no broken statistics
// file blocks a rerun.
TEST(Faults, FileSizeLimitFailsTheWriteNotTheRun) {
  const std::string dir = qvt::temp_dir("ulimit");
  qvt::CaseSetup c;
  c.nt = 3;
  qvt::write_case(dir, c);
  // 60 kB: the 34 kB final file fits, the 91 kB statistics file does not
  Running run(dir, "1.0\n", 60000);
  EXPECT_EQ(run.finish(), 2) << err_of(dir);
  EXPECT_NE(err_of(dir).find("error during write, unit 23, file stat.dat"), std::string::npos) << err_of(dir);
  EXPECT_FALSE(fs::exists(dir + "/stat.dat"));
  EXPECT_EQ(records(dir + "/final.dat").r.size(), 10u);
  EXPECT_EQ(records(dir + "/body.dat").r.size(), 6u);
  EXPECT_EQ(records(dir + "/vib.dat").r.size(), 7u);
  EXPECT_TRUE(qvt::no_temporaries(dir));
}

// A full disk, with outputs pointed at /dev/full (every write fails with
// ENOSPC): a write that fails in the loop, inside a step (iter.dat, fort.1,
// fort.2) or after it (change.out), ends the run after that step with its
// end-of-run files and status 2; the time series fails at start-up.
TEST(Faults, FullFileSystem) {
  const struct {
    const char* file;
    int unit;
  } outputs[] = {{"iter.dat", 17}, {"fort.1", 1}, {"fort.2", 2}, {"change.out", 19}, {"DAT/quivel_vib8.ts", 20}};
  for (const auto& o : outputs) {
    SCOPED_TRACE(o.file);
    const std::string dir = qvt::temp_dir("full");
    qvt::CaseSetup c;
    c.nt = 5;
    qvt::write_case(dir, c);
    fs::create_symlink("/dev/full", dir + "/" + o.file);
    std::string out;
    EXPECT_EQ(qvt::run_program(dir, "1.0\n", &out), 2) << err_of(dir);
    EXPECT_NE(err_of(dir).find("error during write, unit " + std::to_string(o.unit) + ", file " + o.file),
              std::string::npos)
        << err_of(dir);
    if (o.unit == 20) {
      EXPECT_EQ(count(out, "nn = "), 0);
      continue;
    }
    EXPECT_EQ(qvt::last_step(out), 1);
    expect_end_files(dir, 1);
  }
}

// One run per directory: a second one is refused at start-up and the first
// goes on undisturbed.
TEST(Faults, SecondRunInTheDirectoryIsRefused) {
  const std::string dir = qvt::temp_dir("twice");
  qvt::CaseSetup c;
  c.nt = 99999, c.nsmp = 0;
  qvt::write_case(dir, c);
  Running first(dir, "1.0\n");
  ASSERT_TRUE(first.wait_for(" nn = ", 1)) << first.out;
  const std::string cmd =
      "cd '" + dir + "' && timeout 30 '" QV_PROGRAM "' < console.in > second.out 2> second.err";
  const int rc = std::system(cmd.c_str());
  EXPECT_EQ(WEXITSTATUS(rc), 2);
  EXPECT_NE(qvt::read_file(dir + "/second.err").find("another run is using this directory"), std::string::npos);
  EXPECT_EQ(qvt::read_file(dir + "/second.out"), "");
  replace_file(dir + "/change.inf", I(1, 10) + "\r\n");
  EXPECT_EQ(first.finish(), 0) << err_of(dir);
  expect_end_files(dir, qvt::last_step(first.out));
}

// Killed without warning at any moment (here while snapshots and restart
// pairs are written every step): no snapshot is left partial, and once the
// program has started again the final field file, the body state and the
// saved body history are of one and the same instant.
TEST(Faults, KillAtAnyMomentLeavesAMatchingPair) {
  std::mt19937 rng(16);
  for (int trial = 0; trial < 6; ++trial) {
    SCOPED_TRACE(trial);
    const std::string dir = qvt::temp_dir("kill");
    qvt::CaseSetup c;
    c.nt = 60000, c.ifc = 1, c.nfl = 100, c.nsmp = 1, c.ndof = 1, c.yamp = 0.05, c.tfrc = 100;
    c.ykst = 10;
    qvt::write_case(dir, c);
    {
      Running run(dir, "1.0\n");
      ASSERT_TRUE(run.wait_for(" nn = ", 2 + trial)) << run.out;
      std::this_thread::sleep_for(std::chrono::microseconds(rng() % 20000));
      kill(run.pid(), SIGKILL);
      EXPECT_EQ(run.finish(), -SIGKILL);
    }
    // Starting again completes an interrupted commit (then this start is
    // refused, for the snapshots in the way), and leaves no temporary once
    // the names are cleared.
    EXPECT_EQ(qvt::run_program(dir, "1.0\n"), 2);
    fs::remove_all(dir + "/DAT");
    fs::create_directory(dir + "/DAT");
    EXPECT_EQ(qvt::run_program(dir, "1.0\n"), 2);
    // refused: it would overwrite the killed run's saved history
    EXPECT_NE(err_of(dir).find("vib.dat.ckpt holds what a killed run saved"), std::string::npos) << err_of(dir);
    EXPECT_TRUE(qvt::no_temporaries(dir));
    for (const auto& e : fs::directory_iterator(dir + "/DAT"))
      if (e.path().filename().string().rfind("snap", 0) == 0) {
        EXPECT_EQ(records(e.path()).r.size(), 10u) << e.path();
      }
    const auto fin = records(dir + "/final.dat");
    const auto body = records(dir + "/body.dat");
    const auto hist = records(dir + "/vib.dat.ckpt");
    ASSERT_EQ(fin.r.size(), 10u);
    ASSERT_EQ(body.r.size(), 6u);
    ASSERT_EQ(hist.r.size(), 7u);
    const int samples = hist.int32(0, 0);
    ASSERT_GE(samples, 1);
    EXPECT_NEAR(fin.real(1, 3), samples * 0.01, 1e-9);
    // the statistics so far belong to the same instant
    const auto stats = records(dir + "/stat.dat.ckpt");
    ASSERT_EQ(stats.r.size(), 20u);
    EXPECT_EQ(stats.int32(1, 32), samples);
    EXPECT_EQ(stats.real(1, 3), fin.real(1, 3));
    // the last history sample (yacc, yvel, ydis) is the stored body state
    EXPECT_EQ(hist.real(5, 3 * (samples - 1) + 2), body.real(2, 1));
    EXPECT_EQ(hist.real(5, 3 * (samples - 1) + 1), body.real(3, 1));
  }
}

// A flow that blows up is stopped before it is written: the run ends with
// status 4 and the final field file of the last snapshot holds a sane field.
TEST(Faults, BlowUpIsCaughtBeforeItIsWritten) {
  const std::string dir = qvt::temp_dir("blowup");
  qvt::CaseSetup c;
  c.dt = 0.5, c.nt = 60, c.ifc = 1, c.nfl = 100;
  qvt::write_case(dir, c);
  std::string out;
  ASSERT_EQ(qvt::run_program(dir, "1.0\n", &out), 4) << err_of(dir);
  EXPECT_NE(err_of(dir).find("the flow has blown up at step"), std::string::npos) << err_of(dir);
  const auto fin = records(dir + "/final.dat");
  ASSERT_EQ(fin.r.size(), 10u);
  for (std::size_t rec : {2u, 3u, 4u, 9u})
    for (std::size_t n = 0; n < fin.r[rec].size() / 8; ++n) {
      const double v = fin.real(rec, n);
      ASSERT_TRUE(std::isfinite(v)) << rec << " " << n;
      if (rec != 9) {
        ASSERT_LE(std::fabs(v), 100.0) << rec << " " << n;
      }
    }
  EXPECT_EQ(records(dir + "/body.dat").r.size(), 6u);
}

// Bad values typed into "change.inf" or "esp2.inf" while the run goes on are
// warned about on standard error and the last good values kept: a huge step
// count does not wrap into an immediate end, ic3 = 1 does not freeze the
// tolerance.
TEST(Faults, BadValuesDuringTheRunKeepTheLastGoodOnes) {
  const std::string dir = qvt::temp_dir("badvalues");
  qvt::CaseSetup c;
  c.nt = 99999, c.nsmp = 0;
  qvt::write_case(dir, c);
  Running run(dir, "1.0\n");
  ASSERT_TRUE(run.wait_for(" nn = ")) << run.out;
  replace_file(dir + "/change.inf", "3000000000\r\n");
  ASSERT_TRUE(run.wait_for_err("nt = 3000000000 out of range, unit 18, file change.inf; keeping nt = 99999"))
      << err_of(dir);
  replace_file(dir + "/esp2.inf", I(0, 10) + I(1, 10) + "   0.01000\r\n");
  ASSERT_TRUE(run.wait_for_err("ic3 = 1 must be at least 2, unit 16, file esp2.inf; keeping the last tolerance ramp"))
      << err_of(dir);
  const std::size_t from = run.out.size();
  ASSERT_TRUE(run.wait_for(" ic2 ic3 sesp", count(run.out, " ic2 ic3 sesp") + 1));
  EXPECT_NE(run.out.find(" ic2 ic3 sesp           0           5", from), std::string::npos);
  replace_file(dir + "/change.inf", I(1, 10) + "\r\n");
  EXPECT_EQ(run.finish(), 0) << err_of(dir);
  EXPECT_GT(qvt::last_step(run.out), 1);
}

// A snapshot name that turns out to exist only once "change.inf" has
// lengthened the run is skipped with a warning; the run goes on and ends
// normally, the existing file untouched.
TEST(Faults, SnapshotReachedLaterThatExistsIsSkipped) {
  const std::string dir = qvt::temp_dir("latesnap");
  qvt::CaseSetup c;
  c.nt = 3, c.ifc = 2, c.nfl = 3;
  qvt::write_case(dir, c);
  qvt::write_file(dir + "/change.inf", I(6, 10) + "\r\n");
  qvt::write_file(dir + "/DAT/snap002", "keep");
  std::string out;
  ASSERT_EQ(qvt::run_program(dir, "1.0\n", &out), 0) << err_of(dir);
  EXPECT_NE(err_of(dir).find("cannot overwrite existing file, unit 21, file DAT/snap002; snapshot 2 skipped"),
            std::string::npos)
      << err_of(dir);
  EXPECT_EQ(qvt::read_file(dir + "/DAT/snap002"), "keep");
  EXPECT_EQ(records(dir + "/DAT/snap003").r.size(), 10u);
  expect_end_files(dir, 6);
  EXPECT_FALSE(fs::exists(dir + "/vib.dat.ckpt"));  // a run that ended normally leaves no saved history
}

// A run killed without warning keeps the statistics of its steps up to its
// last snapshot instant: the saved file holds the bytes a run that ended at
// that step writes as its statistics file.
TEST(Faults, KilledRunKeepsItsStatisticsSoFar) {
  const std::string killed = qvt::temp_dir("killstat"), ended = qvt::temp_dir("endstat");
  qvt::CaseSetup c;
  c.nt = 99999, c.ifc = 3, c.nfl = 1, c.Cs = 0.1, c.rx = 1.1, c.ry = 1.05;  // one snapshot: step 3
  qvt::write_case(killed, c);
  {
    Running run(killed, "1.0\n");
    ASSERT_TRUE(run.wait_for(" nn = ", 5)) << run.out;
    kill(run.pid(), SIGKILL);
    EXPECT_EQ(run.finish(), -SIGKILL);
  }
  c.nt = 3;
  qvt::write_case(ended, c);
  ASSERT_EQ(qvt::run_program(ended, "1.0\n"), 0) << err_of(ended);
  EXPECT_FALSE(fs::exists(ended + "/stat.dat.ckpt"));  // removed by a run that ends
  ASSERT_TRUE(fs::exists(killed + "/stat.dat.ckpt"));
  EXPECT_FALSE(fs::exists(killed + "/stat.dat"));
  EXPECT_EQ(records(killed + "/stat.dat.ckpt").int32(1, 32), 3);
  EXPECT_TRUE(qvt::read_file(killed + "/stat.dat.ckpt") == qvt::read_file(ended + "/stat.dat"));
}

// A body one cell from the inflow face: the pressure iteration cannot meet
// its tolerance in any step, and the pressure grows while the velocities stay
// bounded.  Each step at the limit is reported, and the run stops as blown up
// before the pressure is written.  A case at the limit whose values stay
// bounded runs on to its end.
TEST(Faults, FailedPressureIterationIsReportedAndStopped) {
  const std::string dir = qvt::temp_dir("stuck");
  qvt::CaseSetup c;
  c.nt = 30, c.ifc = 1, c.nfl = 100, c.body_i0 = 1, c.body_i1 = 2, c.rx = 1.1;
  qvt::write_case(dir, c);
  // every pass rewrites iter.dat: here into /dev/null, for speed
  fs::create_symlink("/dev/null", dir + "/iter.dat");
  std::string out;
  EXPECT_EQ(qvt::run_program(dir, "1.0\n", &out), 4) << err_of(dir);
  const std::string err = err_of(dir);
  EXPECT_NE(err.find("warning: the pressure iteration of step 1 stopped at its limit of 5000 passes"), std::string::npos)
      << err;
  EXPECT_NE(err.find("the flow has blown up at step"), std::string::npos) << err;
  // The pressure grows by about 4e4 a step past the bound of 1.19e5 (1.19e5
  // at step 2, 1.6e5 at step 3, 4.4e5 at step 10, 1.2e6 at step 30): the stop
  // comes within the first ten steps whichever step first crosses, and the
  // set kept is the one of the step before, within the bound.
  const std::size_t at = err.find("blown up at step ");
  ASSERT_NE(at, std::string::npos) << err;
  const int n = std::stoi(err.substr(at + 17));
  EXPECT_LE(n, 10) << err;
  EXPECT_EQ(qvt::last_step(out), n - 1);
  char snap[32];
  std::snprintf(snap, sizeof snap, "/DAT/snap%03d", n);
  EXPECT_FALSE(fs::exists(dir + snap));  // nothing of the blown-up step written
  const std::size_t b = err.find("(the bound ", at);
  ASSERT_NE(b, std::string::npos) << err;
  const double pbound = std::stod(err.substr(b + 11));
  const auto fin = records(dir + "/final.dat");
  ASSERT_EQ(fin.r.size(), 10u);
  EXPECT_NEAR(fin.real(1, 3), (n - 1) * 0.01, 1e-9);
  double pmax = 0;
  for (std::size_t k = 0; k < fin.r[5].size() / 8; ++k) pmax = std::max(pmax, std::fabs(fin.real(5, k)));
  EXPECT_GT(pmax, 1e4);  // the pressure had grown, but not yet past the bound
  EXPECT_LE(pmax, pbound);

  // Slow but bounded: every step at the limit, values far inside their
  // bounds (|p| about 10): the run goes to its end.
  const std::string slow = qvt::temp_dir("slow");
  c = qvt::CaseSetup{};
  c.nt = 4, c.esp = 1e-5, c.omg = 0.005, c.sesp = 1e-5, c.ic3 = 2;  // tiny relaxation: every step at the limit
  qvt::write_case(slow, c);
  fs::create_symlink("/dev/null", slow + "/iter.dat");
  EXPECT_EQ(qvt::run_program(slow, "1.0\n", &out), 0) << err_of(slow);
  EXPECT_EQ(count(err_of(slow), "stopped at its limit"), 4) << err_of(slow);
  EXPECT_EQ(qvt::last_step(out), 4);
}

// A body that diverges cannot raise its own bound: the run stops early and
// the saved set holds no blown-up value.
TEST(Faults, DivergingBodyIsStoppedEarly) {
  const std::string dir = qvt::temp_dir("diverge");
  qvt::CaseSetup c;
  c.nt = 200, c.ifc = 1, c.nfl = 100, c.ndof = 1, c.amas = 0.001, c.ykst = 1, c.beta = 0.01;
  qvt::write_case(dir, c);
  std::string out;
  EXPECT_EQ(qvt::run_program(dir, "1.0\n", &out), 4) << err_of(dir);
  EXPECT_NE(err_of(dir).find("the flow has blown up at step"), std::string::npos) << err_of(dir);
  const auto fin = records(dir + "/final.dat");
  ASSERT_EQ(fin.r.size(), 10u);
  for (std::size_t rec : {2u, 3u, 4u, 5u})
    for (std::size_t n = 0; n < fin.r[rec].size() / 8; ++n) ASSERT_LE(std::fabs(fin.real(rec, n)), 1e4) << rec;
  const auto body = records(dir + "/body.dat");
  ASSERT_EQ(body.r.size(), 6u);
  EXPECT_LE(std::fabs(body.real(3, 1)), 100.0);
}

// The time-series row of a snapshot instant is written before the set of
// that instant: a set that fails (or a kill after it) never leaves the set
// without its row.
TEST(Faults, TimeSeriesRowComesBeforeTheSnapshotSet) {
  const std::string dir = qvt::temp_dir("tsrow");
  qvt::CaseSetup c;
  c.nt = 20, c.ifc = 10, c.nfl = 1;
  qvt::write_case(dir, c);
  fs::create_directory(dir + "/final.dat.part");  // the final field file of step 10 cannot be written
  std::string out;
  EXPECT_EQ(qvt::run_program(dir, "1.0\n", &out), 2) << err_of(dir);
  EXPECT_EQ(qvt::last_step(out), 10);
  EXPECT_NE(qvt::read_file(dir + "/DAT/quivel_vib8.ts").find("\n    10    0.1000"), std::string::npos)
      << qvt::read_file(dir + "/DAT/quivel_vib8.ts");
}

// ---------------------------------------------------------------- output locks
// Two runs never write one file.  A run that would write a file another
// live run writes, however its name reaches that file, is refused at
// start-up with the file named and status 2, before it writes or removes
// anything; the live run goes on undisturbed.  The locks go with a run
// killed without warning.

namespace {

// A 14-column file name of the parameter file.
void set_name(const std::string& dir, int line, int col, const std::string& name) {
  qvt::set_columns(dir + "/quivel_vib8.inf", line, col, qv::fmt::A(name, 14));
}

// The files of a folder (below it, links not followed) and their sizes,
// but the console.  A file with another name elsewhere (a hard link) is
// listed without its size: the live run it belongs to goes on writing it.
std::vector<std::pair<std::string, std::uintmax_t>> listing(const std::string& dir) {
  std::vector<std::pair<std::string, std::uintmax_t>> names;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    const std::string n = fs::relative(e.path(), dir).string();
    if (n.rfind("console.", 0) == 0) continue;
    const bool own = !e.is_symlink() && e.is_regular_file() && e.hard_link_count() == 1;
    names.emplace_back(n, own ? fs::file_size(e.path()) : 0);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Starts a long run in a, refuses a run in b with `refusal` on its standard
// error, leaving b and the live run's time series as they were; then kills
// the first run without warning, and a short run in b goes through.
void refused_while_live(const std::string& a, const std::string& b, const std::string& refusal) {
  replace_file(b + "/change.inf", I(3, 10) + "\r\n");  // short, should it not be refused
  Running first(a, "1.0\n");
  ASSERT_TRUE(first.wait_for(" nn = ", 11)) << first.out;
  const std::string series = qvt::read_file(a + "/DAT/quivel_vib8.ts");
  const auto before = listing(b);
  std::string out;
  EXPECT_EQ(qvt::run_program(b, "1.0\n", &out), 2) << err_of(b);
  EXPECT_NE(err_of(b).find(refusal), std::string::npos) << err_of(b);
  EXPECT_EQ(count(err_of(b), "\n"), 1) << err_of(b);
  EXPECT_EQ(listing(b), before);
  EXPECT_EQ(qvt::read_file(a + "/DAT/quivel_vib8.ts").rfind(series, 0), 0u);
  kill(first.pid(), SIGKILL);
  EXPECT_EQ(first.finish(), -SIGKILL);
  EXPECT_EQ(qvt::run_program(b, "1.0\n", &out), 0) << err_of(b);
  EXPECT_EQ(qvt::last_step(out), 3);
}

qvt::CaseSetup long_case() {
  qvt::CaseSetup c;
  c.nt = 99999, c.nsmp = 0;
  return c;
}

}  // namespace

// Two folders whose statistics file is one file, ../cstat.dat.
TEST(OutputLocks, SharedStatisticsFileIsRefused) {
  const std::string top = qvt::temp_dir("sharestat"), a = top + "/a", b = top + "/b";
  for (const std::string& d : {a, b}) {
    qvt::write_case(d, long_case());
    set_name(d, 1, 67, "../cstat.dat");
  }
  refused_while_live(a, b,
                     "run stopped: another run is writing the statistics file ../cstat.dat (" +
                         fs::canonical(top).string() + "/cstat.dat; it holds the lock on that file)");
  EXPECT_EQ(records(top + "/cstat.dat").r.size(), 20u);  // the second run's, once the first is gone
}

// Files reached through a symlinked directory, a symlink to a file and a
// hard link.
TEST(OutputLocks, FilesReachedThroughLinksAreRefused) {
  {
    SCOPED_TRACE("DAT a symlink to the other folder's DAT");
    const std::string top = qvt::temp_dir("linkdat"), a = top + "/a", b = top + "/b";
    for (const std::string& d : {a, b}) {
      qvt::write_case(d, long_case());
      set_name(d, 1, 51, "DAT/final.dat");
    }
    fs::remove_all(b + "/DAT");
    fs::create_directory_symlink("../a/DAT", b + "/DAT");
    refused_while_live(a, b, "another run is writing the final field file DAT/final.dat (" +
                                 fs::canonical(a).string() + "/DAT/final.dat;");
  }
  {
    SCOPED_TRACE("the time series a symlink to the other folder's");
    const std::string top = qvt::temp_dir("linkts"), a = top + "/a", b = top + "/b";
    for (const std::string& d : {a, b}) qvt::write_case(d, long_case());
    fs::create_symlink("../../a/DAT/quivel_vib8.ts", b + "/DAT/quivel_vib8.ts");  // dangling until a starts
    refused_while_live(a, b, "another run is writing the time series DAT/quivel_vib8.ts (" +
                                 fs::canonical(a).string() + "/DAT/quivel_vib8.ts;");
  }
  {
    SCOPED_TRACE("the time series a hard link to the other folder's");
    const std::string top = qvt::temp_dir("hardts"), a = top + "/a", b = top + "/b";
    for (const std::string& d : {a, b}) qvt::write_case(d, long_case());
    qvt::write_file(a + "/DAT/quivel_vib8.ts", "");
    fs::create_hard_link(a + "/DAT/quivel_vib8.ts", b + "/DAT/quivel_vib8.ts");
    refused_while_live(a, b, "another run is writing the time series DAT/quivel_vib8.ts (");
  }
}

// Distinct files in one shared directory, and a device both runs write
// (iter.dat on /dev/null): both runs go through side by side.
TEST(OutputLocks, DistinctFilesInOneDirectoryRunSideBySide) {
  const std::string top = qvt::temp_dir("sidebyside"), a = top + "/a", b = top + "/b";
  fs::create_directory(top + "/out");
  for (const std::string& d : {a, b}) {
    qvt::write_case(d, long_case());
    set_name(d, 1, 67, "../out/" + d.substr(d.size() - 1) + ".dat");
    set_name(d, 10, 35, "../out/v" + d.substr(d.size() - 1) + ".dat");
    fs::create_symlink("/dev/null", d + "/iter.dat");
  }
  Running first(a, "1.0\n");
  ASSERT_TRUE(first.wait_for(" nn = ", 1)) << first.out;
  replace_file(b + "/change.inf", I(3, 10) + "\r\n");
  std::string out;
  EXPECT_EQ(qvt::run_program(b, "1.0\n", &out), 0) << err_of(b);
  EXPECT_EQ(count(err_of(b), "another run"), 0) << err_of(b);
  EXPECT_EQ(records(top + "/out/b.dat").r.size(), 20u);
  EXPECT_EQ(records(top + "/out/vb.dat").r.size(), 7u);
  replace_file(a + "/change.inf", I(1, 10) + "\r\n");
  EXPECT_EQ(first.finish(), 0) << err_of(a);
  EXPECT_EQ(records(top + "/out/a.dat").r.size(), 20u);
  EXPECT_EQ(records(top + "/out/va.dat").r.size(), 7u);
}

// Memory that runs out at start-up (an address-space limit below what the
// store of a 101 x 81 x 31 grid needs) stops the run with a message and
// status 3, not an abort.
TEST(Faults, MemoryThatRunsOutAtStartUpStopsTheRun) {
  const std::string dir = qvt::temp_dir("memory");
  qvt::CaseSetup c;
  c.nx = 101, c.ny = 81, c.nz = 31, c.h = 0.1, c.nt = 1;
  qvt::write_case(dir, c);
  qvt::write_file(dir + "/console.in", "1.0\n");
  const std::string cmd = "cd '" + dir + "' && ulimit -v 60000 && OMP_NUM_THREADS=1 exec '" QV_PROGRAM
                          "' < console.in > console.out 2> console.err";
  const int rc = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(rc)) << err_of(dir);
  EXPECT_EQ(WEXITSTATUS(rc), 3) << err_of(dir);
  EXPECT_NE(err_of(dir).find("run stopped: out of memory"), std::string::npos) << err_of(dir);
}
