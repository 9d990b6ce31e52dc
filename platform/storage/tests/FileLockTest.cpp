#include "platform/storage/FileLock.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "platform/storage/FileError.h"
#include "platform/storage/tests/TempHome.h"

namespace {

class FileLockTest : public platform::storage_test::TempHome {
 protected:
  std::string lockPath() const { return path("data.lock"); }
};

TEST_F(FileLockTest, OneHolderAtATime) {
  platform::Error error;
  std::unique_ptr<platform::FileLock> first = platform::FileLock::tryLock(lockPath(), &error);
  ASSERT_TRUE(first);
  EXPECT_TRUE(std::filesystem::exists(lockPath()));
  // Nobody else can open it and hold the lock.
  EXPECT_EQ(std::filesystem::status(lockPath()).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

  // A second open of the same file does not get it, in this process or another.
  EXPECT_FALSE(platform::FileLock::tryLock(lockPath(), &error));
  ASSERT_TRUE(error.underlying());
  EXPECT_EQ(error.underlying()->code, EWOULDBLOCK);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(platform::FileLock::tryLock(lockPath()) ? 0 : 3);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_EQ(WEXITSTATUS(status), 3);

  // Released on destruction; the file stays.
  first.reset();
  EXPECT_TRUE(std::filesystem::exists(lockPath()));
  EXPECT_TRUE(platform::FileLock::tryLock(lockPath()));
}

TEST_F(FileLockTest, UnopenableFileFails) {
  platform::Error error;
  EXPECT_FALSE(platform::FileLock::tryLock(path("missing/folder/data.lock"), &error));
  EXPECT_EQ(error.domain, platform::FileError::kDomain);
}

}  // namespace
