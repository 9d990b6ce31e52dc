#include <sys/stat.h>
#include <unistd.h>

#include <map>

#include "platform/storage/FileError.h"
#include "platform/storage/FileSystem.h"
#include "platform/storage/StandardFolders.h"
#include "platform/storage/tests/TempHome.h"

namespace platform::storage_test {
namespace {

using FileSystemTest = TempHome;

std::string readText(const std::string& p) { return fs::readTextFile(p).valueOr("<unreadable>"); }

TEST_F(FileSystemTest, MoveOntoExistingFileFailsAndLeavesBothIntact) {
  ASSERT_FALSE(fs::writeFile(path("a"), std::string_view("first")));
  ASSERT_FALSE(fs::writeFile(path("b"), std::string_view("second")));
  std::optional<Error> error = fs::moveItem(path("a"), path("b"));
  ASSERT_TRUE(error);
  EXPECT_TRUE(FileError::isFileExists(*error)) << error->description();
  EXPECT_EQ(readText(path("a")), "first");
  EXPECT_EQ(readText(path("b")), "second");

  // A folder onto an existing folder fails too; a move to a free name works.
  ASSERT_FALSE(fs::createDirectory(path("d1/x")));
  ASSERT_FALSE(fs::createDirectory(path("d2")));
  EXPECT_TRUE(fs::moveItem(path("d1"), path("d2")));
  EXPECT_TRUE(fs::isDirectory(path("d1/x")));
  EXPECT_FALSE(fs::moveItem(path("a"), path("c")));
  EXPECT_FALSE(fs::exists(path("a")));
  EXPECT_EQ(readText(path("c")), "first");

  std::optional<Error> missing = fs::moveItem(path("nope"), path("z"));
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->code, FileError::kNoSuchFile);
}

TEST_F(FileSystemTest, AtomicWriteInterruptedBeforeRenameKeepsOldFile) {
  const std::string target = path("state.plist");
  ASSERT_FALSE(fs::writeFileAtomically(target, std::string_view("old contents")));
  ASSERT_FALSE(fs::setPermissions(target, 0600));

  fs::testing::failAtomicWritesBeforeRename(1);
  EXPECT_TRUE(fs::writeFileAtomically(target, std::string_view("new contents that never land")));
  EXPECT_EQ(readText(target), "old contents");
  // The interrupted write left its hidden temporary file behind.
  auto names = fs::contentsOfDirectory(m_root);
  ASSERT_TRUE(names);
  EXPECT_EQ(names->size(), 2u);

  // The next write succeeds, replaces the file and keeps its permissions.
  ASSERT_FALSE(fs::writeFileAtomically(target, std::string_view("new")));
  EXPECT_EQ(readText(target), "new");
  EXPECT_EQ(fs::attributes(target)->permissions, 0600u);
}

TEST_F(FileSystemTest, MissingItemsHaveDistinguishableCodes) {
  struct Case {
    const char* what;
    std::optional<Error> error;
    int64_t code;
  };
  std::vector<Case> cases = {
      {"read", fs::readFile(path("missing")).errorOrNone(), FileError::kReadNoSuchFile},
      {"list", fs::contentsOfDirectory(path("missing")).errorOrNone(), FileError::kReadNoSuchFile},
      {"remove", fs::removeItem(path("missing")), FileError::kNoSuchFile},
      {"attributes", fs::attributes(path("missing")).errorOrNone(), FileError::kNoSuchFile},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(c.error) << c.what;
    EXPECT_EQ(c.error->code, c.code) << c.what;
    EXPECT_TRUE(FileError::isNoSuchFile(*c.error)) << c.what;
    EXPECT_EQ(FileError::posixCode(*c.error), ENOENT) << c.what;
  }
}

TEST_F(FileSystemTest, CreateDirectoryRemoveAndAttributes) {
  ASSERT_FALSE(fs::createDirectory(path("a/b/c")));
  EXPECT_FALSE(fs::createDirectory(path("a/b/c")));  // already there: success
  std::optional<Error> strict = fs::createDirectory(path("a/b/c"), false);
  ASSERT_TRUE(strict);
  EXPECT_EQ(strict->code, FileError::kWriteFileExists);
  ASSERT_FALSE(fs::writeFile(path("a/file"), std::string_view("x")));
  EXPECT_TRUE(fs::createDirectory(path("a/file/sub")));  // a file is in the way

  std::string big(5000, 'x');
  ASSERT_FALSE(fs::writeFile(path("a/b/big"), big));
  auto attrs = fs::attributes(path("a/b/big"));
  ASSERT_TRUE(attrs);
  EXPECT_EQ(attrs->size, 5000u);
  EXPECT_TRUE(attrs->isRegularFile);
  EXPECT_GT(attrs->creationDate, 1.0e9);
  EXPECT_FALSE(fs::excludeFromBackup(path("a/b/big")));

  ASSERT_FALSE(fs::removeItem(path("a")));
  EXPECT_FALSE(fs::exists(path("a")));
}

TEST_F(FileSystemTest, RestrictToOwnerTakesGroupAndOthersBitsOnly) {
  ASSERT_FALSE(fs::createDirectory(path("d"), true, 0755));
  ASSERT_FALSE(fs::setPermissions(path("d"), 0755));
  const struct {
    const char* name;
    mode_t before, after;
  } files[] = {{"d/wide", 0644, 0600}, {"d/private", 0600, 0600}, {"d/readonly", 0444, 0400}, {"d/exec", 0775, 0700}};
  for (const auto& f : files) {
    ASSERT_FALSE(fs::writeFile(path(f.name), std::string_view("x")));
    ASSERT_FALSE(fs::setPermissions(path(f.name), f.before));
    EXPECT_FALSE(fs::restrictToOwner(path(f.name))) << f.name;
    EXPECT_EQ(fs::attributes(path(f.name))->permissions, static_cast<uint32_t>(f.after)) << f.name;
  }
  EXPECT_FALSE(fs::restrictToOwner(path("d")));
  EXPECT_EQ(fs::attributes(path("d"))->permissions, 0700u);
  // A link is not followed; a missing item is no error.
  ASSERT_EQ(::symlink(path("d/wide").c_str(), path("link").c_str()), 0);
  ASSERT_FALSE(fs::setPermissions(path("d/wide"), 0644));
  EXPECT_FALSE(fs::restrictToOwner(path("link")));
  EXPECT_EQ(fs::attributes(path("d/wide"))->permissions, 0644u);
  EXPECT_FALSE(fs::restrictToOwner(path("missing")));

  // A store's file before its library opens it: created 0600, else restricted.
  EXPECT_FALSE(fs::ensurePrivateFile(path("d/new.db")));
  EXPECT_EQ(fs::attributes(path("d/new.db"))->permissions, 0600u);
  EXPECT_EQ(fs::attributes(path("d/new.db"))->size, 0u);
  EXPECT_FALSE(fs::ensurePrivateFile(path("d/wide")));
  EXPECT_EQ(fs::attributes(path("d/wide"))->permissions, 0600u);
  EXPECT_EQ(readText(path("d/wide")), "x");
  EXPECT_TRUE(fs::ensurePrivateFile(path("no-folder/new.db")));
}

TEST_F(FileSystemTest, WalkSkipsHiddenItemsAndGoesOnPastUnreadableFolders) {
  ASSERT_FALSE(fs::createDirectory(path("w/sub")));
  ASSERT_FALSE(fs::createDirectory(path("w/.hidden")));
  ASSERT_FALSE(fs::createDirectory(path("w/locked")));
  ASSERT_FALSE(fs::writeFile(path("w/one"), std::string_view("1")));
  ASSERT_FALSE(fs::writeFile(path("w/sub/two"), std::string_view("22")));
  ASSERT_FALSE(fs::writeFile(path("w/.hidden/three"), std::string_view("333")));
  ASSERT_FALSE(fs::writeFile(path("w/.dot"), std::string_view("4444")));
  ASSERT_FALSE(fs::writeFile(path("w/locked/five"), std::string_view("55555")));
  ASSERT_FALSE(fs::setPermissions(path("w/locked"), 0));
  bool root = ::geteuid() == 0;

  std::map<std::string, uint64_t> files;
  int errors = 0;
  fs::walk(path("w"), [&](const fs::WalkEntry& e) {
    if (e.isRegularFile) files[e.path.substr(m_root.size() + 3)] = e.size;
  }, [&](const Error&) { ++errors; });
  fs::setPermissions(path("w/locked"), 0755);

  std::map<std::string, uint64_t> expected = {{"one", 1}, {"sub/two", 2}};
  if (root) {
    expected["locked/five"] = 5;
  }
  EXPECT_EQ(files, expected);
  EXPECT_EQ(errors, root ? 0 : 1);
}

TEST_F(FileSystemTest, ListWithCreationDatesAndTemporaryFiles) {
  ASSERT_FALSE(fs::writeFile(path("x"), std::string_view("")));
  auto temp = fs::createTemporaryFile(m_root, "download");
  ASSERT_TRUE(temp);
  EXPECT_EQ(fs::attributes(*temp)->permissions, 0600u);
  auto entries = fs::contentsOfDirectoryWithDates(m_root);
  ASSERT_TRUE(entries);
  ASSERT_EQ(entries->size(), 2u);
  for (const auto& e : *entries) {
    EXPECT_TRUE(e.creationDate.has_value()) << e.name;
  }
}

TEST_F(FileSystemTest, StandardFoldersFollowTheEnvironment) {
  StandardFolders::setBundleIdentifier("com.example.test");
  EXPECT_EQ(StandardFolders::applicationSupport(), path(".local/share/com.example.test"));
  EXPECT_EQ(StandardFolders::caches(), path(".cache/com.example.test"));
  EXPECT_EQ(StandardFolders::preferences(), path(".config/com.example.test/Preferences"));
  ::setenv("XDG_DATA_HOME", path("data").c_str(), 1);
  ::setenv("XDG_CACHE_HOME", "relative/is/ignored", 1);
  EXPECT_EQ(StandardFolders::applicationSupport(), path("data/com.example.test"));
  EXPECT_EQ(StandardFolders::documents(), path("data/com.example.test/Documents"));
  EXPECT_EQ(StandardFolders::caches(), path(".cache/com.example.test"));
  StandardFolders::setBundleIdentifier("");
  EXPECT_EQ(StandardFolders::bundleIdentifier(), "com.tavix.app");

  struct Case {
    const char* in;
    std::string out;
  };
  for (const Case& c : {Case{"~", m_root}, Case{"~/Movies/a.mp4", m_root + "/Movies/a.mp4"},
                        Case{"~other/x", "~other/x"}, Case{"/abs/~/x", "/abs/~/x"}, Case{"", ""}}) {
    EXPECT_EQ(StandardFolders::expandTilde(c.in), c.out) << c.in;
  }
}

// A preferences file name gets ".plist" only when it lacks that extension;
// a naive "ends with" or "contains a dot" check gets these cases wrong.
TEST(PathHelpersTest, ExtensionOfLastComponentAndAppending) {
  struct Case {
    const char* path;
    const char* extension;
    const char* appended;
  };
  for (const Case& c : {Case{"/p/com.example.plist", "plist", "/p/com.example.plist.plist"},
                        Case{"/p/com.example", "example", "/p/com.example.plist"},
                        Case{"/a.d/file", "", "/a.d/file.plist"}, Case{"/p/.hidden", "", "/p/.hidden.plist"},
                        Case{"/p/dir/", "", "/p/dir.plist"}, Case{"name.", "", "name..plist"},
                        Case{"/", "", "/"}, Case{"", "", ""}, Case{"/p/..", "", "/p/.."}}) {
    EXPECT_EQ(fs::pathExtension(c.path), c.extension) << c.path;
    EXPECT_EQ(fs::appendingPathExtension(c.path, "plist"), c.appended) << c.path;
  }
  EXPECT_EQ(fs::appendingPathExtension("/p/x", ""), "/p/x");
}

}  // namespace
}  // namespace platform::storage_test
