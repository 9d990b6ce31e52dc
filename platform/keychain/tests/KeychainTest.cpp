#include "platform/keychain/Keychain.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/storage/FileError.h"
#include "platform/storage/FileSystem.h"
#include "platform/storage/StandardFolders.h"
#include "testing/Fixtures.h"
#include "testing/LogCapture.h"
#include "testing/TempHome.h"
#include "testing/ScopedEnvironment.h"

namespace platform {
namespace {

Bytes bytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

mode_t modeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

KeychainQuery addQuery(std::string service, std::string account, std::string data,
                       std::string generic = {}, std::string group = {}) {
  KeychainQuery q = KeychainQuery::genericPassword(std::move(service), std::move(account), std::move(generic));
  if (!group.empty()) q.accessGroup = std::move(group);
  q.valueData = bytes(data);
  q.accessible = KeychainAccessibility::AfterFirstUnlockThisDeviceOnly;
  return q;
}

KeychainQuery readQuery(std::string service, std::string account, std::string generic = {}) {
  KeychainQuery q = KeychainQuery::genericPassword(std::move(service), std::move(account), std::move(generic));
  q.returnData = true;
  q.matchLimitOne = true;
  return q;
}

std::vector<std::string> itemFiles(const std::string& root) {
  std::vector<std::string> out;
  if (auto names = fs::contentsOfDirectory(root); names.ok()) {
    for (const auto& n : *names) {
      if (n.ends_with(".item")) out.push_back(fs::joinPath(root, n));
    }
  }
  return out;
}

class KeychainTest : public ::testing::Test {
 protected:
  void TearDown() override { Keychain::clearFaults(); }

  testkit::TempHome home;
  std::string root = home.file("chain/keychain");
  Keychain keychain{root};
};

TEST_F(KeychainTest, FolderIs0700AndItemFiles0600EvenWhenFoundWider) {
  ASSERT_FALSE(fs::createDirectory(root, true, 0755));
  ASSERT_EQ(keychain.add(addQuery("svc", "acct", "secret")), kKeychainSuccess);
  EXPECT_EQ(modeOf(root), 0700u);
  auto files = itemFiles(root);
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(modeOf(files[0]), 0600u);

  // A file whose mode was widened is restricted again by the next write.
  ASSERT_EQ(::chmod(files[0].c_str(), 0644), 0);
  ASSERT_EQ(keychain.update(readQuery("svc", "acct"), bytes("new")), kKeychainSuccess);
  EXPECT_EQ(modeOf(files[0]), 0600u);
}

TEST_F(KeychainTest, OpeningAFolderFoundWiderRestrictsItAndItsItemsBeforeAnyWrite) {
  ASSERT_EQ(keychain.add(addQuery("svc", "acct", "secret")), kKeychainSuccess);
  ASSERT_EQ(::chmod(root.c_str(), 0755), 0);
  ASSERT_EQ(::chmod(itemFiles(root)[0].c_str(), 0644), 0);
  // A root this process never opened: a plain read finds it as it is.
  const std::string moved = home.file("other/keychain");
  ASSERT_FALSE(fs::createDirectory(fs::parentPath(moved)));
  ASSERT_FALSE(fs::moveItem(root, moved));
  Keychain reader(moved);
  EXPECT_EQ(reader.copyMatching(readQuery("svc", "acct")).status, kKeychainSuccess);
  EXPECT_EQ(modeOf(moved), 0700u);
  EXPECT_EQ(modeOf(itemFiles(moved)[0]), 0600u);
}

TEST_F(KeychainTest, ReadsOfAMissingRootCreateNothing) {
  EXPECT_EQ(keychain.copyMatching(readQuery("svc", "acct")).status, kKeychainItemNotFound);
  EXPECT_EQ(keychain.remove(readQuery("svc", "acct")), kKeychainItemNotFound);
  EXPECT_FALSE(fs::exists(root));
}

TEST_F(KeychainTest, StatusCodesOfASequenceOfOperations) {
  struct Step {
    const char* what;
    std::function<KeychainStatus()> run;
    KeychainStatus expected;
  };
  Keychain& k = keychain;
  std::vector<Step> steps = {
      {"copy absent", [&] { return k.copyMatching(readQuery("s", "a")).status; }, kKeychainItemNotFound},
      {"update absent", [&] { return k.update(readQuery("s", "a"), bytes("x")); }, kKeychainItemNotFound},
      {"delete absent", [&] { return k.remove(readQuery("s", "a")); }, kKeychainItemNotFound},
      {"add", [&] { return k.add(addQuery("s", "a", "one")); }, kKeychainSuccess},
      {"add again", [&] { return k.add(addQuery("s", "a", "two")); }, kKeychainDuplicateItem},
      // The generic attribute is not part of an item's identity.
      {"add with other generic", [&] { return k.add(addQuery("s", "a", "two", "g")); }, kKeychainDuplicateItem},
      {"add in other group", [&] { return k.add(addQuery("s", "a", "grp", {}, "group.x")); }, kKeychainSuccess},
      {"add other account", [&] { return k.add(addQuery("s", "b", "three")); }, kKeychainSuccess},
      {"copy present", [&] { return k.copyMatching(readQuery("s", "a")).status; }, kKeychainSuccess},
      {"update present", [&] { return k.update(readQuery("s", "b"), bytes("3")); }, kKeychainSuccess},
      {"delete all of service", [&] { return k.remove(readQuery("s", "*")); }, kKeychainSuccess},
      {"copy after delete", [&] { return k.copyMatching(readQuery("s", "")).status; }, kKeychainItemNotFound},
      {"delete again", [&] { return k.remove(readQuery("s", "a")); }, kKeychainItemNotFound},
  };
  for (const auto& step : steps) EXPECT_EQ(step.run(), step.expected) << step.what;
  EXPECT_TRUE(itemFiles(root).empty());
}

TEST_F(KeychainTest, QueriesLeaveOutWildcardsAndMatchGivenAttributes) {
  ASSERT_EQ(keychain.add(addQuery("svc1", "acct1", "d1", "gen.a")), kKeychainSuccess);
  ASSERT_EQ(keychain.add(addQuery("svc2", "acct2", "d2", "gen.b", "group.b")), kKeychainSuccess);

  struct Case {
    KeychainQuery query;
    std::optional<std::string> data;
  };
  auto withGroup = [](KeychainQuery q, std::string g) { q.accessGroup = std::move(g); return q; };
  std::vector<Case> cases = {
      {readQuery("svc1", "acct1"), "d1"},
      {readQuery("svc1", "*"), "d1"},
      {readQuery("", "acct2"), "d2"},
      {readQuery("*", "*", "gen.b"), "d2"},
      {readQuery("svc1", "acct1", "gen.b"), std::nullopt},
      {readQuery("svc1", "acct2"), std::nullopt},
      {withGroup(readQuery("svc2", "acct2"), "group.b"), "d2"},
      {withGroup(readQuery("svc2", "acct2"), "group.other"), std::nullopt},
      {withGroup(readQuery("svc1", "acct1"), ""), "d1"},
      {KeychainQuery::key(bytes("svc1")), std::nullopt},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    cases[i].query.returnData = true;
    auto result = keychain.copyMatching(cases[i].query);
    if (cases[i].data) {
      EXPECT_EQ(result.status, kKeychainSuccess) << i;
      EXPECT_EQ(result.data, bytes(*cases[i].data)) << i;
    } else {
      EXPECT_EQ(result.status, kKeychainItemNotFound) << i;
      EXPECT_FALSE(result.data) << i;
    }
  }
  // Without return-data the status is reported but no data.
  KeychainQuery noData = readQuery("svc1", "acct1");
  noData.returnData = false;
  auto result = keychain.copyMatching(noData);
  EXPECT_EQ(result.status, kKeychainSuccess);
  EXPECT_FALSE(result.data);
  // A wildcard read returns the oldest match, one item only.
  EXPECT_EQ(keychain.copyMatching(readQuery("*", "*")).data, bytes("d1"));
}

TEST_F(KeychainTest, CopyAllMatchingAnswersEveryMatchOldestFirst) {
  auto texts = [](const KeychainReadAllResult& result) {
    std::vector<std::string> out;
    for (const Bytes& data : result.data) out.emplace_back(data.begin(), data.end());
    return out;
  };
  EXPECT_EQ(keychain.copyAllMatching(readQuery("*", "*")).status, kKeychainItemNotFound);
  ASSERT_EQ(keychain.add(addQuery("s1", "app", "one", "gen")), kKeychainSuccess);
  ASSERT_EQ(keychain.add(addQuery("s2", "app", "two", "gen")), kKeychainSuccess);
  ASSERT_EQ(keychain.add(addQuery("s3", "other", "three", "gen")), kKeychainSuccess);
  ASSERT_EQ(keychain.add(addQuery("s4", "app", "four", "other-gen")), kKeychainSuccess);

  KeychainReadAllResult all = keychain.copyAllMatching(readQuery("*", "app", "gen"));
  EXPECT_EQ(all.status, kKeychainSuccess);
  std::vector<std::string> found = texts(all);
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(texts(keychain.copyAllMatching(readQuery("s3", "*"))), std::vector<std::string>{"three"});
  EXPECT_EQ(keychain.copyAllMatching(readQuery("*", "*")).data.size(), 4u);
  EXPECT_EQ(keychain.copyAllMatching(readQuery("s9", "*")).status, kKeychainItemNotFound);

  Keychain::injectFault(kKeychainInteractionNotAllowed, 1, KeychainOperation::CopyMatching);
  KeychainReadAllResult refused = keychain.copyAllMatching(readQuery("*", "*"));
  EXPECT_EQ(refused.status, kKeychainInteractionNotAllowed);
  EXPECT_TRUE(refused.data.empty());
}

TEST_F(KeychainTest, UpdateReplacesDataOnlyAndSurvivesANewInstance) {
  ASSERT_EQ(keychain.add(addQuery("svc", "acct", "old", "gen", "grp")), kKeychainSuccess);
  auto before = keychain.copyMatchingItem(readQuery("svc", "acct"));
  ASSERT_EQ(before.status, kKeychainSuccess);

  KeychainQuery update = readQuery("svc", "acct");
  update.accessible = KeychainAccessibility::WhenUnlocked;  // set only on creation: ignored
  ASSERT_EQ(keychain.update(update, bytes("new")), kKeychainSuccess);

  auto after = Keychain(root).copyMatchingItem(readQuery("svc", "acct"));
  ASSERT_EQ(after.status, kKeychainSuccess);
  EXPECT_EQ(after.item->data, bytes("new"));
  EXPECT_EQ(after.item->accessible, KeychainAccessibility::AfterFirstUnlockThisDeviceOnly);
  EXPECT_EQ(after.item->generic, "gen");
  EXPECT_EQ(after.item->accessGroup, "grp");
  EXPECT_EQ(after.item->service, "svc");
  EXPECT_EQ(after.item->account, "acct");
  // Stored dates keep microseconds; the 2001-based plist form may move the last bit.
  EXPECT_NEAR(after.item->creationDate, before.item->creationDate, 1e-6);
  EXPECT_EQ(itemFiles(root).size(), 1u);
}

TEST_F(KeychainTest, InjectedFaultsAnswerWithoutTouchingStorage) {
  // Next operation of any kind.
  Keychain::injectFault(-34018);
  EXPECT_EQ(keychain.add(addQuery("s", "a", "d")), -34018);
  EXPECT_TRUE(itemFiles(root).empty());
  ASSERT_EQ(keychain.add(addQuery("s", "a", "d")), kKeychainSuccess);

  // The next two reads only; other kinds pass.
  Keychain::injectFault(kKeychainInteractionNotAllowed, 2, KeychainOperation::CopyMatching);
  EXPECT_EQ(keychain.update(readQuery("s", "a"), bytes("e")), kKeychainSuccess);
  EXPECT_EQ(keychain.copyMatching(readQuery("s", "a")).status, kKeychainInteractionNotAllowed);
  EXPECT_FALSE(keychain.copyMatching(readQuery("s", "a")).data);
  EXPECT_EQ(keychain.copyMatching(readQuery("s", "a")).data, bytes("e"));

  // Every delete until cleared; the item stays.
  Keychain::injectFault(kKeychainIOError, Keychain::kForever, KeychainOperation::Delete);
  EXPECT_EQ(keychain.remove(readQuery("s", "a")), kKeychainIOError);
  EXPECT_EQ(keychain.remove(readQuery("s", "a")), kKeychainIOError);
  Keychain::clearFaults();
  EXPECT_EQ(keychain.copyMatching(readQuery("s", "a")).status, kKeychainSuccess);
  EXPECT_EQ(keychain.remove(readQuery("s", "a")), kKeychainSuccess);

  // Faults apply to every instance, in the order they were queued.
  Keychain::injectFault(-1);
  Keychain::injectFault(-2);
  EXPECT_EQ(Keychain(home.file("other")).remove(readQuery("x", "y")), -1);
  EXPECT_EQ(keychain.copyMatching(readQuery("x", "y")).status, -2);
  EXPECT_EQ(keychain.copyMatching(readQuery("x", "y")).status, kKeychainItemNotFound);
}

TEST_F(KeychainTest, KeyItemsByApplicationTag) {
  const Bytes publicTag = bytes("com.example.keypair.public-com.tavix.app");
  const Bytes privateTag = bytes("com.example.keypair.private-com.tavix.app");
  KeychainQuery seed = KeychainQuery::key(publicTag);
  seed.valueData = bytes("PUBLIC-KEY");
  ASSERT_EQ(keychain.add(seed), kKeychainSuccess);
  EXPECT_EQ(keychain.add(seed), kKeychainDuplicateItem);
  seed.applicationTag = privateTag;
  ASSERT_EQ(keychain.add(seed), kKeychainSuccess);
  // A generic password with the tag's text as service is another item.
  ASSERT_EQ(keychain.add(addQuery(std::string(publicTag.begin(), publicTag.end()), "", "pw")), kKeychainSuccess);

  KeychainQuery read = KeychainQuery::key(publicTag);
  read.returnData = true;
  auto found = keychain.copyMatching(read);
  EXPECT_EQ(found.status, kKeychainSuccess);
  EXPECT_EQ(found.data, bytes("PUBLIC-KEY"));

  EXPECT_EQ(keychain.remove(KeychainQuery::key(publicTag)), kKeychainSuccess);
  EXPECT_EQ(keychain.remove(KeychainQuery::key(publicTag)), kKeychainItemNotFound);
  EXPECT_EQ(keychain.copyMatching(KeychainQuery::key(privateTag)).status, kKeychainSuccess);
  EXPECT_EQ(itemFiles(root).size(), 2u);
}

TEST_F(KeychainTest, MalformedItemFilesAreSkippedAndKept) {
  testkit::LogCapture logs;
  ASSERT_EQ(keychain.add(addQuery("s", "a", "good")), kKeychainSuccess);
  // Plain junk, a list with U+0000 in a string (once an abort of every
  // query, since each scan reads every file) and 130 bytes of shared
  // references that expand to millions of objects.
  std::vector<std::string> junk = {fs::joinPath(root, "0000.item"), fs::joinPath(root, "0001.item"),
                                   fs::joinPath(root, "0002.item")};
  ASSERT_FALSE(fs::writeFile(junk[0], std::string_view("not a property list"), 0600));
  ASSERT_FALSE(fs::writeFile(junk[1], testkit::fixture("platform/storage/tests/fixtures/string-with-nul.plist")));
  ASSERT_FALSE(fs::writeFile(junk[2], testkit::fixture("platform/storage/tests/fixtures/shared-references.plist")));

  EXPECT_EQ(keychain.copyMatching(readQuery("*", "*")).data, bytes("good"));
  EXPECT_EQ(keychain.remove(readQuery("*", "*")), kKeychainSuccess);
  for (const std::string& file : junk) EXPECT_TRUE(fs::exists(file)) << file;
  EXPECT_TRUE(logs.contains("malformed keychain item"));
}

TEST_F(KeychainTest, OpeningTheFolderRemovesItsStaleTemporaryItemFiles) {
  // What writes killed between the temporary file and the rename left: full
  // copies of items, which would outlive the items themselves.
  ASSERT_FALSE(fs::createDirectory(root, true, 0700));
  const std::string item = "0123456789abcdef0123456789abcdef01234567.item";
  const std::vector<testkit::Leftover> leftovers = {
      {"." + item + ".Ab12Cd", 3600, true},
      {"." + item + ".Qw34Er", 3600, true},
      {"." + item + ".Xy98Zw", 0, false},     // a write that may still be going on
      {".notes.txt.Ab12Cd", 3600, false},     // not an item's
      {"." + item + ".Ab12C", 3600, false},   // not the temporary-name pattern
  };
  testkit::writeLeftovers(root, leftovers);
  EXPECT_EQ(keychain.copyMatching(readQuery("s", "a")).status, kKeychainItemNotFound);
  testkit::expectLeftoversCleaned(root, leftovers);
}

TEST_F(KeychainTest, StorageFailuresCarryTheSystemError) {
  // A write that fails at the disk: the errno and its text come back.
  std::optional<Error> cause;
  fs::testing::failAtomicWritesBeforeRename(1);
  EXPECT_EQ(keychain.add(addQuery("s", "a", "x"), &cause), kKeychainIOError);
  ASSERT_TRUE(cause);
  EXPECT_EQ(FileError::posixCode(*cause), EIO);
  EXPECT_EQ(keychainCauseText(*cause), std::strerror(EIO));

  // A root below a plain file: no folder can be made there.
  ASSERT_FALSE(fs::writeFile(home.file("plain"), std::string_view("x")));
  Keychain blocked(home.file("plain/sub/keychain"));
  cause.reset();
  EXPECT_EQ(blocked.add(addQuery("s", "a", "x"), &cause), kKeychainNotAvailable);
  ASSERT_TRUE(cause);
  EXPECT_EQ(FileError::posixCode(*cause), ENOTDIR);
  KeychainReadResult read = blocked.copyMatching(readQuery("s", "a"));
  EXPECT_EQ(read.status, kKeychainItemNotFound);
  EXPECT_FALSE(read.cause);
}

TEST_F(KeychainTest, DefaultRootFollowsEnvironment) {
  Keychain defaults;
  testkit::ScopedEnvironment environment;
  environment.unset(Keychain::kRootEnvironmentVariable);
  EXPECT_EQ(defaults.root(), home.dataHome() + "/" + StandardFolders::bundleIdentifier() + "/keychain");
  environment.set(Keychain::kRootEnvironmentVariable, root);
  EXPECT_EQ(defaults.root(), root);
  ASSERT_EQ(Keychain::shared()->add(addQuery("s", "a", "env")), kKeychainSuccess);
  EXPECT_EQ(keychain.copyMatching(readQuery("s", "a")).data, bytes("env"));
}

TEST_F(KeychainTest, ConcurrentWritersKeepEveryItem) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([this, t] {
      for (int i = 0; i < 10; ++i) {
        std::string account = std::to_string(t) + "-" + std::to_string(i);
        EXPECT_EQ(Keychain(root).add(addQuery("svc", account, account)), kKeychainSuccess);
        EXPECT_EQ(keychain.update(readQuery("svc", account), bytes(account + "!")), kKeychainSuccess);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(itemFiles(root).size(), 40u);
  EXPECT_EQ(keychain.copyMatching(readQuery("svc", "3-9")).data, bytes("3-9!"));
}

}  // namespace
}  // namespace platform
