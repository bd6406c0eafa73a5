// SPDX-License-Identifier: MIT
// planeconv on a terminal and when interrupted, run on a pseudo-terminal. A fifo among the
// inputs holds planeconv at a known point (it waits to read it) until the test feeds it, so
// nothing here depends on timing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <set>

#include "tests/planeconv/run_planeconv.h"
#include "tests/planeconv/test_pictures.h"

namespace fs = std::filesystem;

namespace {

const std::string kSamples = SAMPLES_DIR;

class PlaneconvTerminal : public ::testing::Test {
 protected:
  // Opens the fifo for writing: returns once planeconv has opened it to read, which with -j 1
  // is after every input before it is done.
  int waitForReader(const std::string& fifo) { return ::open(fifo.c_str(), O_WRONLY); }
  TempDir dir;
};

TEST_F(PlaneconvTerminal, AnInterruptLeavesFinishedOutputsAndNoTemporaryFile) {
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    const std::string run = dir.file("run" + std::to_string(signal));
    fs::create_directories(run);
    const std::string first = run + "/a.q", fifo = run + "/b.q", last = run + "/c.q";
    fs::copy_file(kSamples + "/gradient.q", first);
    fs::copy_file(kSamples + "/eight.q", last);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    Terminal terminal({"convert", first, fifo, last, "-d", run + "/out", "-j", "1"}, 80);
    const int feed = waitForReader(fifo);
    ASSERT_GE(feed, 0);
    terminal.signal(signal);
    Outcome outcome = terminal.finish();
    ::close(feed);
    EXPECT_EQ(outcome.signal, signal) << outcome.out;
    EXPECT_NE(outcome.out.find("converted 1 of 3 pictures"), std::string::npos) << outcome.out;
    EXPECT_TRUE(fs::exists(run + "/out/a.png"));
    EXPECT_FALSE(fs::exists(run + "/out/b.png"));
    EXPECT_FALSE(fs::exists(run + "/out/c.png")) << "no new file is started";
    expectNoTemporaries(run);
  }
}

// Many pictures on several threads, interrupted while the other threads write: whatever they
// were doing, no temporary file stays.
TEST_F(PlaneconvTerminal, AnInterruptOnManyThreadsLeavesNoTemporaryFile) {
  std::vector<std::string> arguments = {"convert"};
  for (int i = 0; i < 60; ++i) {
    const std::string name = dir.file("p" + std::to_string(i) + ".q");
    dir.write("p" + std::to_string(i) + ".q", qPicture(16, static_cast<unsigned>(i)));
    arguments.push_back(name);
    if (i == 4) {
      ASSERT_EQ(mkfifo(dir.file("wait.q").c_str(), 0600), 0);
      arguments.push_back(dir.file("wait.q"));
    }
  }
  arguments.insert(arguments.end(), {"-d", dir.file("out"), "-j", "4"});
  Terminal terminal(arguments, 80);
  const int feed = waitForReader(dir.file("wait.q"));
  terminal.signal(SIGINT);
  Outcome outcome = terminal.finish();
  ::close(feed);
  EXPECT_EQ(outcome.signal, SIGINT);
  EXPECT_NE(outcome.out.find("interrupted by SIGINT: converted "), std::string::npos)
      << outcome.out;
  expectNoTemporaries(dir.file(""));
  for (const auto& entry : fs::directory_iterator(dir.file("out")))
    EXPECT_GT(fs::file_size(entry.path()), 100u) << "every output left is whole";
}

TEST_F(PlaneconvTerminal, TheProgressBarFitsTheTerminalAndFollowsAResize) {
  const std::string fifo = dir.file("b.q");
  dir.write("a.q", qPicture(16, 1));
  dir.write("c.q", qPicture(16, 2));
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  Terminal terminal({"convert", dir.file("a.q"), fifo, dir.file("c.q"), "-j", "1"}, 100);
  const int feed = waitForReader(fifo);
  const std::string before = terminal.readAvailable();
  bool wide = false;
  for (const std::string& line : drawnLines(before)) {
    EXPECT_LT(line.size(), 100u) << line;
    wide = wide || line.size() >= 40;
  }
  EXPECT_TRUE(wide) << "at 100 columns the bar is wider than 40: " << before;

  terminal.resize(40);
  const Bytes q = qPicture(16, 3);
  ASSERT_EQ(::write(feed, q.data(), q.size()), static_cast<ssize_t>(q.size()));
  ::close(feed);
  Outcome outcome = terminal.finish();
  EXPECT_EQ(outcome.exitCode, 0) << outcome.out;
  const std::string after = outcome.out.substr(before.size());
  int bars = 0;
  for (const std::string& line : drawnLines(after)) {
    if (line.find("pictures") == std::string::npos || line.find("converted") == 0) continue;
    ++bars;
    EXPECT_LT(line.size(), 40u) << line;
  }
  EXPECT_GT(bars, 0) << after;

  // At 50 columns from the start, and at 12, every drawing fits.
  for (int columns : {50, 12}) {
    Terminal narrow({"convert", dir.file("a.q"), dir.file("c.q"), "-d", dir.file("n"), "--force"},
                    columns);
    Outcome run = narrow.finish();
    EXPECT_EQ(run.exitCode, 0);
    for (const std::string& line : drawnLines(run.out)) {
      if (line.find("converted") != std::string::npos) continue;  // the summary, not a bar
      EXPECT_LT(line.size(), static_cast<std::size_t>(columns)) << line;
    }
  }
}

TEST_F(PlaneconvTerminal, QuietShowsNothingButErrors) {
  dir.write("a.q", qPicture(16, 1));
  Terminal quiet({"convert", dir.file("a.q"), "-q", "-d", dir.file("out")}, 80);
  Outcome run = quiet.finish();
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, "");
  Terminal failing({"convert", dir.file("missing.q"), "--quiet"}, 80);
  run = failing.finish();
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.out.find("missing.q: cannot open"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("converted"), std::string::npos) << run.out;
}

TEST_F(PlaneconvTerminal, StandardOutputOnATerminalIsRefused) {
  Terminal terminal({"convert", kSamples + "/eight.q", "-o", "-"}, 80);
  Outcome run = terminal.finish();
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.out.find("standard output is a terminal"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("PNG"), std::string::npos);
}

// Before the first picture is converted, a terminal shows what planeconv is doing from the
// start (finding the pictures, checking their outputs), on lines that fit; quiet shows
// nothing, and a pipe never gets those lines.
TEST_F(PlaneconvTerminal, FindingThePicturesShowsFromTheStart) {
  fs::create_directories(dir.file("in/sub"));
  for (int i = 0; i < 4; ++i)
    dir.write("in/sub/p" + std::to_string(i) + ".q", qPicture(16, static_cast<unsigned>(i)));
  Terminal terminal({"convert", "-r", dir.file("in"), "-d", dir.file("out"), "-j", "1024"}, 60);
  Outcome run = terminal.finish();
  EXPECT_EQ(run.exitCode, 0) << run.out;
  bool finding = false, checking = false;
  const std::set<std::string> steps = {"finding pictures", "reading the list of pictures",
                                       "naming the outputs", "checking the companion files",
                                       "looking for finished outputs"};
  for (const std::string& line : drawnLines(run.out)) {
    const std::string step = line.substr(0, line.find(": "));
    if (!steps.contains(step)) continue;
    EXPECT_LT(line.size(), 60u) << line;
    finding = finding || step == "finding pictures";
    checking = checking || step == "looking for finished outputs";
  }
  EXPECT_TRUE(finding) << run.out;
  EXPECT_TRUE(checking) << run.out;
  EXPECT_NE(run.out.find("-j 1024 is more than the"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("converted 4 of 4 pictures"), std::string::npos) << run.out;

  Terminal quiet({"convert", "-q", "-r", dir.file("in"), "-d", dir.file("q"), "-j", "1024"}, 60);
  Outcome silent = quiet.finish();
  EXPECT_EQ(silent.exitCode, 0);
  EXPECT_EQ(silent.out, "");
  EXPECT_EQ(fs::file_size(dir.file("q/in/sub/p3.png")),
            fs::file_size(dir.file("out/in/sub/p3.png")));

  Outcome piped = planeconv({"convert", "-r", dir.file("in"), "-d", dir.file("out"), "--force"});
  EXPECT_EQ(piped.exitCode, 0);
  EXPECT_EQ(piped.err.find("finding"), std::string::npos) << piped.err;
  EXPECT_EQ(piped.err.find("\r"), std::string::npos) << piped.err;
}

}  // namespace
