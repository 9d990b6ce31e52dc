// FaultySqliteFileSystem: an SQLite file system (VFS) over the real one that
// can fail on command, to show what the database does on a full disk or a
// read-only folder without needing either. Installed as SQLite's default
// while it lives; faults are off until set.
//
//   FaultySqliteFileSystem faults;
//   faults.failWritesWith(SQLITE_FULL);        // every write: disk full
//   faults.failNewFilesWith(SQLITE_CANTOPEN);  // journals cannot be made
#pragma once

#include <sqlite3.h>

#include <atomic>
#include <cstring>

namespace measurementtest {

class FaultySqliteFileSystem {
 public:
  FaultySqliteFileSystem() {
    m_real = sqlite3_vfs_find(nullptr);
    m_vfs = *m_real;
    m_vfs.zName = "measurement-test-faults";
    m_vfs.szOsFile = static_cast<int>(sizeof(File)) + m_real->szOsFile;
    m_vfs.pAppData = this;
    m_vfs.xOpen = &FaultySqliteFileSystem::open;
    sqlite3_vfs_register(&m_vfs, 1);
  }
  ~FaultySqliteFileSystem() {
    sqlite3_vfs_unregister(&m_vfs);
    sqlite3_vfs_register(m_real, 1);
  }
  FaultySqliteFileSystem(const FaultySqliteFileSystem&) = delete;
  FaultySqliteFileSystem& operator=(const FaultySqliteFileSystem&) = delete;

  void failWritesWith(int code) { m_writeFailure = code; }
  // Files other than the main database (journals) cannot be opened.
  void failNewFilesWith(int code) { m_openFailure = code; }

 private:
  // Our file: the io-method table first, then the real file's own object.
  struct File {
    sqlite3_file base;
    FaultySqliteFileSystem* owner;
    const sqlite3_io_methods* realMethods;
    sqlite3_io_methods methods;
    sqlite3_file* real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
  };

  static int open(sqlite3_vfs* vfs, const char* name, sqlite3_file* file, int flags, int* outFlags) {
    auto* self = static_cast<FaultySqliteFileSystem*>(vfs->pAppData);
    auto* ours = reinterpret_cast<File*>(file);
    std::memset(ours, 0, sizeof(File));
    if (self->m_openFailure != 0 && (flags & SQLITE_OPEN_MAIN_DB) == 0) return self->m_openFailure;
    const int result = self->m_real->xOpen(self->m_real, name, ours->real(), flags, outFlags);
    if (result != SQLITE_OK || ours->real()->pMethods == nullptr) return result;
    ours->owner = self;
    ours->realMethods = ours->real()->pMethods;
    ours->methods = *ours->realMethods;
    ours->methods.xClose = [](sqlite3_file* f) {
      auto* me = reinterpret_cast<File*>(f);
      return me->realMethods->xClose(me->real());
    };
    ours->methods.xRead = [](sqlite3_file* f, void* buffer, int amount, sqlite3_int64 offset) {
      auto* me = reinterpret_cast<File*>(f);
      return me->realMethods->xRead(me->real(), buffer, amount, offset);
    };
    ours->methods.xWrite = [](sqlite3_file* f, const void* buffer, int amount, sqlite3_int64 offset) {
      auto* me = reinterpret_cast<File*>(f);
      if (me->owner->m_writeFailure != 0) return me->owner->m_writeFailure.load();
      return me->realMethods->xWrite(me->real(), buffer, amount, offset);
    };
    ours->methods.xTruncate = [](sqlite3_file* f, sqlite3_int64 size) {
      auto* me = reinterpret_cast<File*>(f);
      return me->realMethods->xTruncate(me->real(), size);
    };
    ours->methods.xSync = [](sqlite3_file* f, int flags) {
      auto* me = reinterpret_cast<File*>(f);
      return me->realMethods->xSync(me->real(), flags);
    };
    ours->methods.xFileSize = [](sqlite3_file* f, sqlite3_int64* size) {
      auto* me = reinterpret_cast<File*>(f);
      return me->realMethods->xFileSize(me->real(), size);
    };
    ours->methods.xLock = [](sqlite3_file* f, int level) {
      auto* me = reinterpret_cast<File*>(f);
      return me->realMethods->xLock(me->real(), level);
    };
    ours->methods.xUnlock = [](sqlite3_file* f, int level) {
      auto* me = reinterpret_cast<File*>(f);
      return me->realMethods->xUnlock(me->real(), level);
    };
    ours->methods.xCheckReservedLock = [](sqlite3_file* f, int* out) {
      auto* me = reinterpret_cast<File*>(f);
      return me->realMethods->xCheckReservedLock(me->real(), out);
    };
    ours->methods.xFileControl = [](sqlite3_file* f, int op, void* arg) {
      auto* me = reinterpret_cast<File*>(f);
      return me->realMethods->xFileControl(me->real(), op, arg);
    };
    ours->methods.xSectorSize = [](sqlite3_file* f) {
      auto* me = reinterpret_cast<File*>(f);
      return me->realMethods->xSectorSize(me->real());
    };
    ours->methods.xDeviceCharacteristics = [](sqlite3_file* f) {
      auto* me = reinterpret_cast<File*>(f);
      return me->realMethods->xDeviceCharacteristics(me->real());
    };
    // Shared memory and memory mapping are not passed on (no WAL here).
    ours->methods.iVersion = 1;
    ours->base.pMethods = &ours->methods;
    return SQLITE_OK;
  }

  sqlite3_vfs* m_real = nullptr;
  sqlite3_vfs m_vfs{};
  std::atomic<int> m_writeFailure{0};
  std::atomic<int> m_openFailure{0};
};

}  // namespace measurementtest
