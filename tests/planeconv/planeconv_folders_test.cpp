// SPDX-License-Identifier: MIT
// Folders among the inputs, as users give them: a folder without -r is told to need -r and is no
// failed picture; with -r, links by a picture's name that lead nowhere are reported as failed
// pictures (exit 1), never as an empty folder; a folder inside that cannot be read is named
// with its own cause while the rest is converted.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "tests/planeconv/run_planeconv.h"

namespace fs = std::filesystem;

namespace {

const std::string kSamples = SAMPLES_DIR;

class PlaneconvFolders : public ::testing::Test {
 protected:
  TempDir dir;
};

TEST_F(PlaneconvFolders, AFolderWithoutRecursiveAsksForItAndIsNoFailedPicture) {
  fs::create_directories(dir.file("photos"));
  fs::copy_file(kSamples + "/eight.q", dir.file("photos/eight.q"));
  fs::copy_file(kSamples + "/gradient.q", dir.file("gradient.q"));
  const struct {
    std::vector<std::string> arguments;
    std::string summary;  // empty: none expected
  } cases[] = {
      {{"convert", dir.file("photos"), dir.file("gradient.q"), "-d", dir.file("out")},
       "converted 1 of 1 picture to PNG"},
      {{"convert", dir.file("photos"), "-d", dir.file("out")}, ""},
      {{"info", dir.file("photos"), dir.file("gradient.q")}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.arguments));
    const Outcome run = planeconv(c.arguments);
    EXPECT_EQ(run.exitCode, 1) << "nothing of the folder was done";
    EXPECT_NE(run.err.find(dir.file("photos") + ": is a folder; give -r for the pictures inside\n"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(run.err.find("failed"), std::string::npos) << "a folder is no failed picture";
    if (!c.summary.empty()) {
      EXPECT_NE(run.err.find(c.summary), std::string::npos) << run.err;
    }
  }
  EXPECT_TRUE(fs::exists(dir.file("out/gradient.png"))) << "the rest of the batch goes on";
  EXPECT_FALSE(fs::exists(dir.file("out/eight.png")));
}

TEST_F(PlaneconvFolders, DanglingLinksInsideAreFailedPictures) {
  fs::create_directories(dir.file("links/sub"));
  fs::create_symlink("/nonexistent/a.gra", dir.file("links/a.gra"));
  fs::create_symlink("nowhere.q", dir.file("links/sub/b.q"));
  fs::create_symlink("nowhere.txt", dir.file("links/notes.txt"));  // no picture's name: ignored
  for (const char* command : {"convert", "info"}) {
    SCOPED_TRACE(command);
    const Outcome run = planeconv({command, "-r", dir.file("links")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find(dir.file("links/a.gra") +
                           ": is a link to /nonexistent/a.gra, which does not exist"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find(dir.file("links/sub/b.q") + ": is a link to nowhere.q"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(run.err.find("notes.txt"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("no GRA or Q pictures inside"), std::string::npos) << run.err;
  }
  EXPECT_NE(planeconv({"convert", "-r", dir.file("links")}).err.find("converted 0 of 2 pictures"),
            std::string::npos);

  // Beside a picture that converts, the links still fail the run.
  fs::copy_file(kSamples + "/eight.q", dir.file("links/eight.q"));
  const Outcome mixed = planeconv({"convert", "-r", dir.file("links"), "-d", dir.file("out")});
  EXPECT_EQ(mixed.exitCode, 1);
  EXPECT_NE(mixed.err.find("converted 1 of 3 pictures to PNG"), std::string::npos) << mixed.err;
  EXPECT_TRUE(fs::exists(dir.file("out/links/eight.png")));

  // A folder with nothing to convert stays a note and no failure.
  fs::create_directories(dir.file("empty"));
  const Outcome empty = planeconv({"convert", "-r", dir.file("empty")});
  EXPECT_EQ(empty.exitCode, 0);
  EXPECT_NE(empty.err.find("no GRA or Q pictures inside"), std::string::npos) << empty.err;
}

// A folder below that cannot be read is named with its cause, and the walk goes on. Root reads
// every folder, so this runs for other users only.
TEST_F(PlaneconvFolders, AnUnreadableFolderInsideIsNamedWithItsCause) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every folder";
  fs::create_directories(dir.file("tree/closed"));
  fs::create_directories(dir.file("tree/open"));
  fs::copy_file(kSamples + "/eight.q", dir.file("tree/open/eight.q"));
  fs::copy_file(kSamples + "/gradient.q", dir.file("tree/closed/gradient.q"));
  fs::permissions(dir.file("tree/closed"), fs::perms::none);
  const Outcome run = planeconv({"convert", "-r", dir.file("tree"), "-d", dir.file("out")});
  fs::permissions(dir.file("tree/closed"), fs::perms::owner_all);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find(dir.file("tree/closed") + ": cannot read the folder (Permission denied)"),
            std::string::npos)
      << run.err;
  EXPECT_TRUE(fs::exists(dir.file("out/tree/open/eight.png")));
}

}  // namespace
