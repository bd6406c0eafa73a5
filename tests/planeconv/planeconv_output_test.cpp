// SPDX-License-Identifier: MIT
// planeconv never replaces or damages what the user did not ask to replace: outputs that are
// not regular files, inputs and their companions, two inputs to one output, a GRA picture's
// set written whole; errors give their first cause; odd inputs and options as users type them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "host/image_files.h"
#include "tests/planeconv/run_planeconv.h"
#include "tests/planeconv/test_pictures.h"

namespace fs = std::filesystem;

namespace {

const std::string kSamples = SAMPLES_DIR;

class PlaneconvOutput : public ::testing::Test {
 protected:
  std::string sample(const char* name) {
    fs::copy_file(kSamples + "/" + name, dir.file(name), fs::copy_options::overwrite_existing);
    return dir.file(name);
  }
  bool isPng(const std::string& path) {
    const Bytes bytes = fileBytes(path);
    return bytes.size() > 8 && bytes[1] == 'P' && bytes[2] == 'N' && bytes[3] == 'G';
  }
  TempDir dir;
};

TEST_F(PlaneconvOutput, OnlyRegularFilesAreReplaced) {
  const std::string q = sample("eight.q");
  ASSERT_EQ(mkfifo(dir.file("fifo.png").c_str(), 0600), 0);
  fs::create_directory(dir.file("folder.png"));
  fs::create_symlink(dir.file("fifo.png"), dir.file("link-to-fifo.png"));
  fs::create_symlink(dir.file("nothing.png"), dir.file("dangling.png"));
  struct Case {
    std::string output;
    std::string message;
  };
  std::vector<Case> cases = {
      {dir.file("fifo.png"), "fifo.png: is a fifo, not a regular file"},
      {dir.file("folder.png"), "folder.png: is a folder, not a regular file"},
      {dir.file("link-to-fifo.png"), "link-to-fifo.png: is a link to a fifo, not a regular file"},
      {dir.file("dangling.png"), "dangling.png: is a link to nothing"},
  };
  // A device of its own, like /dev/null, so that a planeconv that replaced it would not
  // replace the system's. Only root can make one.
  const bool device = ::mknod(dir.file("null.png").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
  if (device) {
    cases.push_back({dir.file("null.png"),
                     "null.png: is a device, not a regular file: only "
                     "regular files are replaced"});
    fs::create_symlink(dir.file("null.png"), dir.file("stdout.png"));
    cases.push_back({dir.file("stdout.png"), "stdout.png: is a link to a device"});
  }
  for (const Case& c : cases) {
    for (bool force : {false, true}) {
      std::vector<std::string> arguments = {"convert", q, "-o", c.output};
      if (force) arguments.push_back("--force");
      Outcome run = planeconv(arguments);
      EXPECT_EQ(run.exitCode, 1) << c.output;
      EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    }
  }
  struct stat st;
  if (device) {
    ASSERT_EQ(lstat(dir.file("null.png").c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode)) << "the device was replaced";
  }
  EXPECT_TRUE(fs::is_fifo(dir.file("fifo.png")));
  EXPECT_TRUE(fs::is_directory(dir.file("folder.png")));
  EXPECT_TRUE(fs::is_symlink(dir.file("link-to-fifo.png")));
  EXPECT_FALSE(fs::exists(dir.file("nothing.png")));

  // A link to a regular file is written through: the file it points to is replaced.
  dir.write("real.png", {'o', 'l', 'd'});
  fs::create_symlink("real.png", dir.file("link.png"));
  Outcome kept = planeconv({"convert", q, "-o", dir.file("link.png")});
  EXPECT_EQ(kept.exitCode, 0);
  EXPECT_NE(kept.err.find("link.png already exists (use --force to replace it)"), std::string::npos)
      << kept.err;
  EXPECT_EQ(fileBytes(dir.file("real.png")), (Bytes{'o', 'l', 'd'}));
  EXPECT_EQ(planeconv({"convert", q, "-o", dir.file("link.png"), "--force"}).exitCode, 0);
  EXPECT_TRUE(fs::is_symlink(dir.file("link.png")));
  EXPECT_TRUE(isPng(dir.file("real.png")));

  // Standard output on purpose: the PNG's bytes.
  Outcome out = planeconv({"convert", q, "-o", "-"});
  EXPECT_EQ(out.exitCode, 0);
  EXPECT_EQ(Bytes(out.out.begin(), out.out.end()), fileBytes(dir.file("real.png")));
  expectNoTemporaries(dir.file(""));
}

TEST_F(PlaneconvOutput, AnOutputIsNeverAnInputOrItsCompanion) {
  const std::string q = sample("eight.q");
  const std::string gra = sample("card.gra");
  sample("card.rgb");
  sample("card.e1");
  const Bytes original = fileBytes(q);
  ASSERT_EQ(::link(q.c_str(), dir.file("other-name.png").c_str()), 0);
  fs::create_symlink(dir.file("card.e1"), dir.file("plane.png"));
  struct Case {
    std::vector<std::string> arguments;
    std::string message;
  } cases[] = {
      {{"convert", q, "--format", "png", "-o", q, "--force"}, "eight.q: is the input"},
      {{"convert", q, "-o", dir.file("other-name.png"), "--force"}, "other-name.png: is the input"},
      {{"convert", gra, "--format", "png", "-o", dir.file("card.rgb"), "--force"},
       "card.rgb: is a companion file of " + gra},
      {{"convert", gra, "-o", dir.file("plane.png"), "--force"}, "plane.png: is a companion file"},
      {{"convert", q, gra, "--format", "png", "-d", dir.file("."), "--keep-extension", "--force"},
       ""},  // eight.q.png and card.gra.png: no clash
      {{"encode", dir.file("other-name.png"), dir.file("eight.q"), "--force"},
       "eight.q: is the input"},
  };
  for (const Case& c : cases) {
    Outcome run = planeconv(c.arguments);
    if (c.message.empty()) {
      EXPECT_EQ(run.exitCode, 0) << run.err;
      continue;
    }
    EXPECT_EQ(run.exitCode, 2) << c.arguments[3];
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("never writes over its inputs"), std::string::npos) << run.err;
  }
  EXPECT_EQ(fileBytes(q), original);
  EXPECT_EQ(fileBytes(dir.file("card.rgb")), fileBytes(kSamples + "/card.rgb"));
  EXPECT_EQ(fileBytes(dir.file("card.e1")), fileBytes(kSamples + "/card.e1"));
  expectNoTemporaries(dir.file(""));
}

TEST_F(PlaneconvOutput, TwoInputsToOneOutputAreRefusedBeforeAnyWork) {
  fs::create_directories(dir.file("a"));
  fs::create_directories(dir.file("b"));
  fs::copy_file(kSamples + "/plain.gra", dir.file("a/card.gra"));
  fs::copy_file(kSamples + "/card.gra", dir.file("b/card.gra"));
  Outcome folders =
      planeconv({"convert", dir.file("a/card.gra"), dir.file("b/card.gra"), "-d", dir.file("out")});
  EXPECT_EQ(folders.exitCode, 2);
  EXPECT_NE(folders.err.find(dir.file("a/card.gra") + " and " + dir.file("b/card.gra") +
                             " would both be written to " + dir.file("out/card.png")),
            std::string::npos)
      << folders.err;
  EXPECT_FALSE(fs::exists(dir.file("out")));

  dir.write("foo.gra", fileBytes(kSamples + "/plain.gra"));
  dir.write("foo.q", fileBytes(kSamples + "/gradient.q"));
  for (const char* force : {"--format=png", "--force"}) {
    Outcome same = planeconv({"convert", dir.file("foo.gra"), dir.file("foo.q"), force});
    EXPECT_EQ(same.exitCode, 2);
    EXPECT_NE(same.err.find("--keep-extension names them foo.gra.png and foo.q.png"),
              std::string::npos)
        << same.err;
    EXPECT_FALSE(fs::exists(dir.file("foo.png")));
  }
  // The way out, the same whatever the number of threads.
  for (const char* jobs : {"1", "8"}) {
    const std::string out = dir.file(std::string("j") + jobs);
    Outcome kept = planeconv({"convert", dir.file("foo.gra"), dir.file("foo.q"), "-d", out,
                              "--keep-extension", "-j", jobs});
    ASSERT_EQ(kept.exitCode, 0) << kept.err;
    EXPECT_TRUE(isPng(out + "/foo.gra.png"));
    EXPECT_TRUE(isPng(out + "/foo.q.png"));
  }
  EXPECT_EQ(fileBytes(dir.file("j1/foo.gra.png")), fileBytes(dir.file("j8/foo.gra.png")));
  EXPECT_EQ(fileBytes(dir.file("j1/foo.q.png")), fileBytes(dir.file("j8/foo.q.png")));
  EXPECT_NE(fileBytes(dir.file("j1/foo.gra.png")), fileBytes(dir.file("j1/foo.q.png")));
  // A file given twice is one input.
  Outcome twice =
      planeconv({"convert", dir.file("foo.q"), dir.file("./foo.q"), "-d", dir.file("t")});
  EXPECT_EQ(twice.exitCode, 0) << twice.err;
  EXPECT_NE(twice.err.find("converted 1 of 1 picture"), std::string::npos) << twice.err;
  expectNoTemporaries(dir.file(""));
}

// encode writes a GRA picture with the .rgb and .e1 it needs, all or nothing, and leaves no
// older fourth plane beside an 8-colour picture.
TEST_F(PlaneconvOutput, EncodeWritesAPicturesWholeSetOrNothing) {
  // A 16-colour and an 8-colour PNG, made by planeconv from pictures of the writers.
  const GraFiles sixteen = graPicture(11);
  dir.write("s.gra", sixteen.picture);
  dir.write("s.rgb", sixteen.palette);
  dir.write("s.e1", sixteen.fourthPlane);
  const GraFiles eight = graPicture(12, false);
  dir.write("e.gra", eight.picture);
  dir.write("e.rgb", eight.palette);
  ASSERT_EQ(planeconv({"convert", dir.file("s.gra"), dir.file("e.gra")}).exitCode, 0);

  ASSERT_EQ(planeconv({"encode", dir.file("s.png"), dir.file("art.gra")}).exitCode, 0);
  for (const char* name : {"art.gra", "art.rgb", "art.e1"}) EXPECT_TRUE(fs::exists(dir.file(name)));
  const Bytes oldPicture = fileBytes(dir.file("art.gra"));

  // An 8-colour picture over it: its old fourth plane is refused without --force ...
  Outcome refused = planeconv({"encode", dir.file("e.png"), dir.file("art.gra"), "--colors", "8"});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.err.find("art.e1: a fourth-plane file lies beside the new 8-colour picture"),
            std::string::npos)
      << refused.err;
  EXPECT_EQ(fileBytes(dir.file("art.gra")), oldPicture);
  // ... and removed with it, so the new picture decodes as drawn.
  Outcome forced =
      planeconv({"encode", dir.file("e.png"), dir.file("art.gra"), "--colors", "8", "--force"});
  ASSERT_EQ(forced.exitCode, 0) << forced.err;
  EXPECT_NE(forced.err.find("removed " + dir.file("art.e1")), std::string::npos) << forced.err;
  EXPECT_FALSE(fs::exists(dir.file("art.e1")));
  ASSERT_EQ(planeconv({"convert", dir.file("art.gra"), "-o", dir.file("art.png")}).exitCode, 0);
  EXPECT_EQ(fileBytes(dir.file("art.png")), fileBytes(dir.file("e.png")));

  // One file of the set cannot be written: nothing new stays, nothing old changes.
  ASSERT_EQ(planeconv({"encode", dir.file("s.png"), dir.file("art.gra"), "--force"}).exitCode, 0);
  const Bytes picture = fileBytes(dir.file("art.gra"));
  const Bytes palette = fileBytes(dir.file("art.rgb"));
  fs::remove(dir.file("art.e1"));
  fs::create_directory(dir.file("art.e1"));
  Outcome blocked = planeconv({"encode", dir.file("e.png"), dir.file("art.gra"), "--force"});
  EXPECT_EQ(blocked.exitCode, 1);
  EXPECT_NE(blocked.err.find("art.e1: is a folder"), std::string::npos) << blocked.err;
  EXPECT_EQ(fileBytes(dir.file("art.gra")), picture);
  EXPECT_EQ(fileBytes(dir.file("art.rgb")), palette);
  fs::create_directory(dir.file("new.e1"));
  EXPECT_EQ(planeconv({"encode", dir.file("s.png"), dir.file("new.gra")}).exitCode, 1);
  EXPECT_FALSE(fs::exists(dir.file("new.gra")));
  EXPECT_FALSE(fs::exists(dir.file("new.rgb")));
  // Existing files of the set without --force: nothing is written.
  fs::remove(dir.file("art.e1"));
  EXPECT_EQ(planeconv({"encode", dir.file("s.png"), dir.file("art.gra")}).exitCode, 1);
  EXPECT_FALSE(fs::exists(dir.file("art.e1")));
  expectNoTemporaries(dir.file(""));
}

TEST_F(PlaneconvOutput, ErrorsGiveTheirFirstCause) {
  const std::string q = sample("eight.q");
  dir.write("notes.txt", {'h', 'i'});
  fs::create_directories(dir.file("o/eight.png"));
  struct Case {
    std::vector<std::string> arguments;
    std::string message;
  } cases[] = {
      {{"convert", q, "-d", dir.file("o")}, "o/eight.png: is a folder, not a regular file"},
      {{"convert", q, "-d", dir.file("notes.txt/sub")},
       "cannot create the folder " + dir.file("notes.txt/sub") + " (Not a directory)"},
      // sysfs refuses new files even to root.
      {{"convert", q, "-o", "/sys/planeconv-test.png"},
       "cannot create a file in /sys (Permission denied)"},
  };
  for (const Case& c : cases) {
    Outcome run = planeconv(c.arguments);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
  }
  if (geteuid() != 0) {  // a read-only folder stops only other users than root
    fs::create_directory(dir.file("readonly"));
    fs::permissions(dir.file("readonly"), fs::perms::owner_read | fs::perms::owner_exec);
    Outcome run = planeconv({"convert", q, "-d", dir.file("readonly")});
    EXPECT_NE(run.err.find("(Permission denied)"), std::string::npos) << run.err;
    fs::permissions(dir.file("readonly"), fs::perms::owner_all);
  }
  expectNoTemporaries(dir.file(""));
}

TEST_F(PlaneconvOutput, FoldersAreReportedOrReadWithRecursive) {
  const std::string q = sample("eight.q");
  fs::create_directories(dir.file("tree/sub/deeper"));
  fs::copy_file(kSamples + "/gradient.q", dir.file("tree/top.q"));
  for (const char* name : {"card.gra", "card.rgb", "card.e1"})
    fs::copy_file(kSamples + "/" + name, dir.file(std::string("tree/sub/") + name));
  fs::copy_file(kSamples + "/plain.gra", dir.file("tree/sub/deeper/PLAIN.GRA"));
  dir.write("tree/notes.txt", {'x'});

  Outcome plain = planeconv({"convert", dir.file("tree"), q});
  EXPECT_EQ(plain.exitCode, 1);
  EXPECT_NE(plain.err.find("tree: is a folder; give -r"), std::string::npos) << plain.err;
  EXPECT_TRUE(fs::exists(dir.file("eight.png"))) << "the rest of the batch goes on";

  Outcome mirrored = planeconv({"convert", "-r", dir.file("tree"), "-d", dir.file("out")});
  EXPECT_EQ(mirrored.exitCode, 0) << mirrored.err;
  EXPECT_TRUE(isPng(dir.file("out/tree/top.png")));
  EXPECT_TRUE(isPng(dir.file("out/tree/sub/card.png")));
  EXPECT_TRUE(isPng(dir.file("out/tree/sub/deeper/PLAIN.png")));
  EXPECT_EQ(fileBytes(dir.file("out/tree/sub/card.png")).size(),
            fileBytes(dir.file("out/tree/sub/card.png")).size());
  ASSERT_EQ(planeconv({"convert", kSamples + "/card.gra", "-o", dir.file("card.png")}).exitCode, 0);
  EXPECT_EQ(fileBytes(dir.file("out/tree/sub/card.png")), fileBytes(dir.file("card.png")))
      << "the companions inside are used";
  Outcome beside = planeconv({"convert", "--recursive", dir.file("tree")});
  EXPECT_EQ(beside.exitCode, 0) << beside.err;
  EXPECT_TRUE(isPng(dir.file("tree/sub/deeper/PLAIN.png")));
  Outcome info = planeconv({"info", "-r", dir.file("tree")});
  EXPECT_EQ(info.exitCode, 0);
  EXPECT_NE(info.out.find("PLAIN.GRA"), std::string::npos);

  // Odd inputs end in a message and exit code 1, never in an exception or a signal.
  dir.write("empty.q", {});
  fs::create_symlink(dir.file("missing.q"), dir.file("dangling.q"));
  dir.write("new\nline.gra", {'W', 'E', 'D'});
  for (const std::string& odd :
       {dir.file("empty.q"), dir.file("dangling.q"), std::string("/dev/null"),
        dir.file("new\nline.gra"), std::string("/"), std::string("")}) {
    for (const char* command : {"info", "convert"}) {
      std::vector<std::string> arguments = {command, odd, "--as", "q"};
      if (std::string(command) == "convert")
        arguments.insert(arguments.end(), {"-d", dir.file("odd")});
      Outcome run = planeconv(arguments);
      EXPECT_EQ(run.signal, 0) << odd;
      EXPECT_EQ(run.exitCode, 1) << command << " " << odd << ": " << run.err;
      EXPECT_EQ(run.err.find("terminate"), std::string::npos) << run.err;
    }
  }
  expectNoTemporaries(dir.file(""));
}

TEST_F(PlaneconvOutput, TheFormatFollowsTheOutputName) {
  const std::string q = sample("gradient.q");
  ASSERT_EQ(planeconv({"convert", q, "-o", dir.file("x.bmp")}).exitCode, 0);
  EXPECT_EQ(fileBytes(dir.file("x.bmp"))[0], 'B');
  ASSERT_EQ(planeconv({"convert", q, "-o", dir.file("x.BMP"), "--format", "bmp"}).exitCode, 0);
  ASSERT_EQ(planeconv({"convert", q, "-o", dir.file("noextension")}).exitCode, 0);
  EXPECT_TRUE(isPng(dir.file("noextension")));
  ASSERT_EQ(planeconv({"convert", q, "-o", dir.file("x.dat"), "--format", "bmp"}).exitCode, 0);
  EXPECT_EQ(fileBytes(dir.file("x.dat"))[0], 'B');
  for (const std::vector<std::string>& wrong :
       {std::vector<std::string>{"-o", dir.file("y.png"), "--format", "bmp"},
        {"-o", dir.file("y.bmp"), "--format", "png"},
        {"-o", dir.file("y.jpg")}}) {
    std::vector<std::string> arguments = {"convert", q};
    arguments.insert(arguments.end(), wrong.begin(), wrong.end());
    Outcome run = planeconv(arguments);
    EXPECT_EQ(run.exitCode, 2) << wrong[1];
    EXPECT_FALSE(fs::exists(wrong[1]));
  }
}

TEST_F(PlaneconvOutput, OptionsAsUsersTypeThem) {
  const std::string q = sample("gradient.q");
  for (const char* jobs : {"2.5", "99999999999", "0", "1025", "-1", "", "4x", "+4"}) {
    Outcome run = planeconv({"convert", q, "-d", dir.file("j"), "-j", jobs});
    EXPECT_EQ(run.exitCode, 2) << jobs;
    EXPECT_NE(run.err.find("from 1 to 1024"), std::string::npos) << run.err;
  }
  for (const std::vector<std::string>& jobs :
       {std::vector<std::string>{"-j4"}, {"-j", "4"}, {"--jobs", "4"}, {"--jobs=1024"}}) {
    std::vector<std::string> arguments = {"convert", q, "-d", dir.file("j"), "--force"};
    arguments.insert(arguments.end(), jobs.begin(), jobs.end());
    EXPECT_EQ(planeconv(arguments).exitCode, 0) << jobs[0];
  }
  // After --, a name that starts with a dash is a file.
  fs::copy_file(q, dir.file("-odd.q"));
  Outcome dash = planeconv({"convert", "--", "-odd.q"}, inFolder(dir.file("")));
  EXPECT_EQ(dash.exitCode, 0) << dash.err;
  EXPECT_TRUE(fs::exists(dir.file("-odd.png")));

  for (const std::vector<std::string>& usage : {
           std::vector<std::string>{"convert", q, "-d", ""},
           {"convert", q, "-o", ""},
           {"convert", q, "--frobnicate"},
           {"convert", q, "-o"},
           {"convert", q, "-rq"},
           {"convert", q, "--force=yes"},
           {"info", q, "-o", dir.file("x.png")},
           {"encode", q, dir.file("x.q"), "-j", "2"},
           {"convert", q, q, "-o", dir.file("x.png")},
           {"convert", q, "-o", dir.file("x.png"), "-d", dir.file("d")},
           {"convert"},
           {"info"},
           {"encode", q},
           {"convert", q, "--as", "png"},
           {"convert", q, "--format", "gif"},
           {"encode", q, dir.file("x.q"), "--colors", "12"},
       }) {
    Outcome run = planeconv(usage);
    EXPECT_EQ(run.exitCode, 2) << usage.back();
  }

  // -o creates missing folders as -d does; neither creates one when nothing is written.
  EXPECT_EQ(planeconv({"convert", q, "-o", dir.file("new/deeper/x.png")}).exitCode, 0);
  EXPECT_TRUE(isPng(dir.file("new/deeper/x.png")));
  dir.write("bad.q", {1, 2, 3});
  EXPECT_EQ(planeconv({"convert", dir.file("bad.q"), "-o", dir.file("none/x.png")}).exitCode, 1);
  EXPECT_EQ(planeconv({"convert", dir.file("bad.q"), "-d", dir.file("nothing")}).exitCode, 1);
  EXPECT_FALSE(fs::exists(dir.file("none")));
  EXPECT_FALSE(fs::exists(dir.file("nothing")));
  EXPECT_FALSE(fs::exists(dir.file("d")));
  expectNoTemporaries(dir.file(""));
}

// What a re-run finds of an earlier run: each output's file, its time and its bytes.
struct Kept {
  ino_t inode = 0;
  timespec modified{};
  Bytes bytes;
  bool operator==(const Kept& other) const {
    return inode == other.inode && modified.tv_sec == other.modified.tv_sec &&
           modified.tv_nsec == other.modified.tv_nsec && bytes == other.bytes;
  }
};

std::map<std::string, Kept> keptBelow(const std::string& folder) {
  std::map<std::string, Kept> kept;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    struct stat st {};
    ::stat(entry.path().c_str(), &st);
    kept[entry.path().string()] = {st.st_ino, st.st_mtim, fileBytes(entry.path().string())};
  }
  return kept;
}

// A run over a folder that an earlier run finished finds every output before decoding
// anything, leaves them all as they are, says so once and succeeds; what is missing is
// converted; --force replaces them all; an output that can never be written is still an error.
TEST_F(PlaneconvOutput, ARerunLeavesFinishedOutputsAlone) {
  fs::create_directories(dir.file("in/sub"));
  for (int i = 0; i < 3; ++i)
    dir.write("in/p" + std::to_string(i) + ".q", qPicture(16, static_cast<unsigned>(i)));
  const GraFiles gra = graPicture(7);
  dir.write("in/sub/art.gra", gra.picture);
  dir.write("in/sub/art.rgb", gra.palette);
  dir.write("in/sub/art.e1", gra.fourthPlane);
  dir.write("in/sub/bare.gra", graPicture(8, false).picture);
  const std::vector<std::string> convert = {"convert", "-r", dir.file("in"), "-d", dir.file("out")};
  Outcome first = planeconv(convert);
  ASSERT_EQ(first.exitCode, 0) << first.err;
  const std::map<std::string, Kept> finished = keptBelow(dir.file("out"));
  ASSERT_EQ(finished.size(), 5u);

  Outcome again = planeconv(convert);
  EXPECT_EQ(again.exitCode, 0) << again.err;
  EXPECT_EQ(again.err,
            "left 5 pictures alone: their outputs already exist (use --force to replace them)\n");
  EXPECT_TRUE(keptBelow(dir.file("out")) == finished) << "an output was touched";
  EXPECT_EQ(planeconv(convert).exitCode, 0);
  Outcome quiet = planeconv({"convert", "-q", "-r", dir.file("in"), "-d", dir.file("out")});
  EXPECT_EQ(quiet.exitCode, 0);
  EXPECT_EQ(quiet.err, "");
  EXPECT_TRUE(keptBelow(dir.file("out")) == finished);

  // An interrupted run's missing output is made; the others stay as they are.
  const std::string missing = dir.file("out/in/sub/art.png");
  fs::remove(missing);
  Outcome resumed = planeconv(convert);
  EXPECT_EQ(resumed.exitCode, 0) << resumed.err;
  EXPECT_NE(resumed.err.find("left 4 pictures alone"), std::string::npos) << resumed.err;
  EXPECT_NE(resumed.err.find("converted 1 of 1 picture to PNG"), std::string::npos) << resumed.err;
  const std::map<std::string, Kept> now = keptBelow(dir.file("out"));
  for (const auto& [path, kept] : finished) {
    if (path != missing) {
      EXPECT_TRUE(now.at(path) == kept) << path;
    }
  }
  EXPECT_EQ(now.at(missing).bytes, finished.at(missing).bytes);

  // One output alone is named.
  Outcome one = planeconv({"convert", dir.file("in/p0.q"), "-o", dir.file("out/in/p0.png")});
  EXPECT_EQ(one.exitCode, 0);
  EXPECT_NE(one.err.find("p0.q alone: " + dir.file("out/in/p0.png") + " already exists"),
            std::string::npos)
      << one.err;

  // A folder where an output goes is no finished output: an error, found before decoding.
  fs::remove(dir.file("out/in/p1.png"));
  fs::create_directory(dir.file("out/in/p1.png"));
  Outcome blocked = planeconv(convert);
  EXPECT_EQ(blocked.exitCode, 1);
  EXPECT_NE(blocked.err.find("p1.q: " + dir.file("out/in/p1.png") + ": is a folder"),
            std::string::npos)
      << blocked.err;
  EXPECT_NE(blocked.err.find("left 4 pictures alone"), std::string::npos) << blocked.err;
  fs::remove(dir.file("out/in/p1.png"));

  const std::map<std::string, Kept> beforeForce = keptBelow(dir.file("out"));
  Outcome forced = planeconv({"convert", "-r", dir.file("in"), "-d", dir.file("out"), "--force"});
  EXPECT_EQ(forced.exitCode, 0) << forced.err;
  EXPECT_NE(forced.err.find("converted 5 of 5 pictures"), std::string::npos) << forced.err;
  EXPECT_EQ(forced.err.find("alone"), std::string::npos) << forced.err;
  for (const auto& [path, kept] : keptBelow(dir.file("out"))) {
    EXPECT_TRUE(finished.contains(path)) << path;
    if (beforeForce.contains(path)) {
      EXPECT_NE(kept.inode, beforeForce.at(path).inode) << path << " was not replaced";
    }
    if (finished.contains(path)) {
      EXPECT_EQ(kept.bytes, finished.at(path).bytes) << path;
    }
  }
  expectNoTemporaries(dir.file(""));
}

}  // namespace
