// Whole runs of the program: continuing a run from its final field and body
// state files, and the refusals, warnings and interruptions of a long run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>

#include "io/files.hpp"
#include "io/format.hpp"
#include "support/case.hpp"
#include "support/running.hpp"

namespace fs = std::filesystem;
using qvt::count;
using qvt::set_columns;
using qvt::last_step;
using qvt::no_temporaries;
using qvt::Rec;
using qvt::records;
using qvt::Running;

namespace {

// Turns a finished case into one that continues it: the final field file as
// input, the body-state file just written as nfile0, no statistics file.
void continue_from_final(const std::string& dir) {
  set_columns(dir + "/quivel_vib8.inf", 1, 35, qv::fmt::A("final.dat", 14));
  set_columns(dir + "/quivel_vib8.inf", 10, 3, qv::fmt::A("body.dat", 14));
  fs::remove(dir + "/stat.dat");
}

// Replaces a file in one step so the running program never sees it half-written.
void replace_file(const std::string& path, const std::string& text) {
  qvt::write_file(path + ".tmp", text);
  fs::rename(path + ".tmp", path);
}

}  // namespace

// ------------------------------------------------------------ continuing a run

// Ten steps, then ten more from the final field file and the body state:
// the second run starts at the stored time, appends to the time series and
// takes its first Newmark step from the stored body state.
TEST(ContinuedRun, StartsWhereTheFirstEnded) {
  const std::string dir = qvt::temp_dir("restart");
  qvt::CaseSetup c;
  c.nt = 10;
  c.ndof = 4;
  c.amas = 2, c.xkst = 3, c.ykst = 5;
  c.nsmp = 1;
  qvt::write_case(dir, c);
  ASSERT_EQ(qvt::run_program(dir, "1.0\n"), 0);
  const Rec body1 = records(dir + "/body.dat");
  const Rec final1 = records(dir + "/final.dat");
  ASSERT_EQ(body1.r.size(), 6u);
  ASSERT_EQ(final1.r.size(), 10u);
  EXPECT_NEAR(final1.real(1, 3), 0.1, 1e-12);
  const double a0 = body1.real(1, 0), d0 = body1.real(2, 0), v0 = body1.real(3, 0);
  ASSERT_NE(d0, 0.0);
  ASSERT_NE(v0, 0.0);

  continue_from_final(dir);
  std::string out;
  ASSERT_EQ(qvt::run_program(dir, "1.0\n0\n", &out), 0) << qvt::read_file(dir + "/console.err");
  EXPECT_NE(out.find(" input file = final.dat"), std::string::npos);
  const std::size_t t2 = out.find(" t2 =");
  ASSERT_NE(t2, std::string::npos);
  EXPECT_NEAR(std::stod(out.substr(t2 + 5, 30)), final1.real(1, 3), 1e-13);
  const std::size_t T = out.find(" T =");
  ASSERT_NE(T, std::string::npos);
  EXPECT_NEAR(std::stod(out.substr(T + 4, 30)), final1.real(1, 3), 1e-13);
  EXPECT_EQ(count(out, "itm2c nn2 nn ="), 10);

  const Rec final2 = records(dir + "/final.dat");
  EXPECT_NEAR(final2.real(1, 3), 0.2, 1e-12);
  const std::string ts = qvt::read_file(dir + "/DAT/quivel_vib8.ts");
  EXPECT_EQ(count(ts, "#start at t="), 2);
  EXPECT_NE(ts.find("\r\n    10    0.1000"), std::string::npos);
  EXPECT_NE(ts.find("\r\n    10    0.2000"), std::string::npos);

  // first sample of the second run: its x triple and load continue the stored state
  const Rec vib2 = records(dir + "/vib.dat");
  ASSERT_EQ(vib2.r.size(), 7u);
  EXPECT_EQ(vib2.int32(0, 0), 10);
  const double F = vib2.real(3, 0);
  const double a = vib2.real(4, 0), v = vib2.real(4, 1), d = vib2.real(4, 2);
  const double dt = 0.01, beta = 0.25, M = 2, K = 3;
  const double R = F - K * (d0 + dt * v0 + (0.5 - beta) * (dt * dt) * a0);
  EXPECT_NEAR(a, R / (M + beta * (dt * dt) * K), 1e-12 * (1 + std::fabs(a)));
  EXPECT_NEAR(v, v0 + 0.5 * dt * (a0 + a), 1e-14);
  EXPECT_NEAR(d, d0 + dt * v0 + (0.5 - beta) * (dt * dt) * a0 + beta * (dt * dt) * a, 1e-14);
  // state after step 1 of the second run (vibration history records 2 and 3)
  EXPECT_EQ(vib2.real(1, 0), d);
  EXPECT_EQ(vib2.real(2, 0), v);
  EXPECT_TRUE(no_temporaries(dir));
}

// A continued run with ndof = 0 writes back the body state it was given.
TEST(ContinuedRun, FixedBodyKeepsStoredState) {
  const std::string dir = qvt::temp_dir("restart-fixed");
  qvt::CaseSetup c;
  c.nt = 3;
  c.ndof = 6;
  qvt::write_case(dir, c);
  ASSERT_EQ(qvt::run_program(dir, "1.0\n"), 0);
  const Rec body1 = records(dir + "/body.dat");
  continue_from_final(dir);
  set_columns(dir + "/quivel_vib8.inf", 14, 11, qv::fmt::I(0, 5));
  ASSERT_EQ(qvt::run_program(dir, "1.0\n1\n"), 0) << qvt::read_file(dir + "/console.err");
  const Rec body2 = records(dir + "/body.dat");
  ASSERT_EQ(body2.r.size(), 6u);
  for (std::size_t n = 0; n < 4; ++n) EXPECT_EQ(body2.r[n], body1.r[n]) << "record " << n + 1;
  EXPECT_NE(body1.real(3, 2), 0.0) << "the stored rotation should be non-trivial";
}

// ------------------------------------------------------------ refusals at start-up

// Everything the run will need later is checked before the first step: the
// run stops with the file layer's message and a non-zero status.
TEST(Refusals, StopBeforeTheFirstStep) {
  struct Case {
    const char* what;
    std::function<void(const std::string&, qvt::CaseSetup&)> before;  // may edit the case
    std::function<void(const std::string&)> after;                    // edits the written case
    const char* message;
  };
  const Case cases[] = {
      {"no DAT directory", nullptr, [](const std::string& d) { fs::remove_all(d + "/DAT"); },
       "file not found, unit 20, file DAT/quivel_vib8.ts"},
      {"empty esp2.inf", nullptr, [](const std::string& d) { qvt::write_file(d + "/esp2.inf", ""); },
       "end-of-file during read, unit 16, file esp2.inf"},
      {"missing esp2.inf", nullptr, [](const std::string& d) { fs::remove(d + "/esp2.inf"); },
       "file not found, unit 16, file esp2.inf"},
      {"non-numeric esp2.inf", nullptr,
       [](const std::string& d) { qvt::write_file(d + "/esp2.inf", "         0         5     abcde\r\n"); },
       "input conversion error, unit 16, file esp2.inf"},
      {"empty change.inf", nullptr, [](const std::string& d) { qvt::write_file(d + "/change.inf", ""); },
       "end-of-file during read, unit 18, file change.inf"},
      {"non-numeric change.inf", nullptr,
       [](const std::string& d) { qvt::write_file(d + "/change.inf", "     lots\r\n"); },
       "input conversion error, unit 18, file change.inf"},
      {"existing statistics file", nullptr, [](const std::string& d) { qvt::write_file(d + "/stat.dat", "x"); },
       "cannot overwrite existing file, unit 23, file stat.dat"},
      {"existing snapshot the schedule reaches",
       [](const std::string&, qvt::CaseSetup& c) { c.ifc = 2, c.nfl = 3, c.nt = 5; },
       [](const std::string& d) { qvt::write_file(d + "/DAT/snap002", "x"); },
       "cannot overwrite existing file, unit 21, file DAT/snap002"},
      {"body history beyond its record", [](const std::string&, qvt::CaseSetup& c) { c.nt = 99999, c.nsmp = 1; },
       [](const std::string& d) { qvt::write_file(d + "/change.inf", "2000000000\r\n"); },
       "run stopped: change.inf, nt = 2000000000 with nsmp = 1"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    const std::string dir = qvt::temp_dir("refuse");
    qvt::CaseSetup c;
    if (k.before) k.before(dir, c);
    qvt::write_case(dir, c);
    if (k.after) k.after(dir);
    std::string out;
    const int rc = qvt::run_program(dir, "1.0\n", &out);
    EXPECT_NE(rc, 0);
    EXPECT_EQ(count(out, "itm2c nn2 nn ="), 0);
    EXPECT_NE(qvt::read_file(dir + "/console.err").find(k.message), std::string::npos)
        << qvt::read_file(dir + "/console.err");
    EXPECT_FALSE(fs::exists(dir + "/final.dat"));
  }
}

// What keeps within the limits is not refused: a snapshot name beyond the
// schedule may exist, and nt / nsmp = 70000 is accepted.
TEST(Refusals, BoundariesAccepted) {
  const std::string dir = qvt::temp_dir("accept");
  qvt::CaseSetup c;
  c.ifc = 2, c.nfl = 3, c.nt = 5;  // snapshots at steps 2 and 4 only
  qvt::write_case(dir, c);
  qvt::write_file(dir + "/DAT/snap003", "keep");
  std::string out;
  ASSERT_EQ(qvt::run_program(dir, "1.0\n", &out), 0) << qvt::read_file(dir + "/console.err");
  EXPECT_EQ(count(out, "itm2c nn2 nn ="), 5);
  EXPECT_EQ(qvt::read_file(dir + "/DAT/snap003"), "keep");
  EXPECT_EQ(records(dir + "/DAT/snap002").r.size(), 10u);

  const std::string d2 = qvt::temp_dir("accept-cap");
  qvt::CaseSetup c2;
  c2.nt = 70000, c2.nsmp = 1;
  qvt::write_case(d2, c2);
  qvt::write_file(d2 + "/change.inf", qv::fmt::I(1, 10) + "\r\n");  // ends the run after one step
  ASSERT_EQ(qvt::run_program(d2, "1.0\n", &out), 0) << qvt::read_file(d2 + "/console.err");
  EXPECT_EQ(count(out, "itm2c nn2 nn ="), 1);
}

// ------------------------------------------------------------ during the run

// A tolerance or change file that becomes unreadable while the program runs
// only warns; the values read last stay in force and the run completes.
TEST(RunningProgram, UnreadableInputFilesWarn) {
  for (const std::string victim : {"change.inf", "esp2.inf"}) {
    SCOPED_TRACE(victim);
    const std::string dir = qvt::temp_dir("warn");
    qvt::CaseSetup c;
    c.nt = 99999, c.nsmp = 0;
    qvt::write_case(dir, c);
    Running run(dir, "1.0\n");
    ASSERT_TRUE(run.wait_for(" nn = ")) << run.out;
    replace_file(dir + "/" + victim, "garbage\r\n");
    const std::string warning = "warning: input conversion error, unit " +
                                std::string(victim == "esp2.inf" ? "16" : "18") + ", file " + victim;
    ASSERT_TRUE(run.wait_for_err(warning)) << qvt::read_file(dir + "/console.err");
    if (victim == "esp2.inf") {
      // the tolerance ramp read last is still printed
      const std::size_t w = run.out.size();
      ASSERT_TRUE(run.wait_for(" ic2 ic3 sesp", count(run.out, " ic2 ic3 sesp") + 1));
      EXPECT_NE(run.out.find(" ic2 ic3 sesp           0           5", w), std::string::npos);
    }
    fs::remove(dir + "/" + victim);  // missing: reported, not created
    ASSERT_TRUE(run.wait_for_err("warning: file not found, unit"));
    EXPECT_FALSE(fs::exists(dir + "/" + victim));
    if (victim == "esp2.inf") replace_file(dir + "/esp2.inf", qv::fmt::I(0, 10) + qv::fmt::I(5, 10) + "   0.01000\r\n");
    replace_file(dir + "/change.inf", qv::fmt::I(1, 10) + "\r\n");
    EXPECT_EQ(run.finish(), 0) << qvt::read_file(dir + "/console.err");
    const int n = last_step(run.out);
    EXPECT_GT(n, 1);
    EXPECT_EQ(records(dir + "/stat.dat").r.size(), 20u);
    EXPECT_EQ(records(dir + "/body.dat").r.size(), 6u);
    EXPECT_TRUE(no_temporaries(dir));
  }
}

// SIGTERM ends the run after the step in progress, with every end-of-run
// file complete, and a non-zero status.
TEST(RunningProgram, TerminationSignalWritesEndOfRunFiles) {
  const std::string dir = qvt::temp_dir("sigterm");
  qvt::CaseSetup c;
  c.nt = 99999, c.nsmp = 2, c.ndof = 4;
  qvt::write_case(dir, c);
  Running run(dir, "1.0\n");
  ASSERT_TRUE(run.wait_for(" nn = ", 3)) << run.out;
  ASSERT_EQ(kill(run.pid(), SIGTERM), 0);
  const int rc = run.finish();
  EXPECT_NE(rc, 0);
  EXPECT_GT(rc, 0) << "the program should end itself, not die of the signal";
  const int n = last_step(run.out);
  ASSERT_GE(n, 3);
  EXPECT_EQ(count(run.out, "itm2c nn2 nn ="), n);
  EXPECT_NE(run.out.find("rstt ="), std::string::npos);

  const Rec fin = records(dir + "/final.dat");
  ASSERT_EQ(fin.r.size(), 10u);
  EXPECT_NEAR(fin.real(1, 3), n * 0.01, 1e-9);
  const Rec st = records(dir + "/stat.dat");
  ASSERT_EQ(st.r.size(), 20u);
  EXPECT_NEAR(st.real(1, 3), n * 0.01, 1e-9);
  const Rec vib = records(dir + "/vib.dat");
  ASSERT_EQ(vib.r.size(), 7u);
  EXPECT_EQ(vib.int32(0, 0), n / 2);
  EXPECT_EQ(vib.r[4].size(), 24u * static_cast<std::size_t>(n / 2));
  const Rec body = records(dir + "/body.dat");
  ASSERT_EQ(body.r.size(), 6u);
  EXPECT_TRUE(no_temporaries(dir));
}
