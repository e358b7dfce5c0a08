// The system calls behind the POSIX file layer, as one table of function
// pointers. fs_posix.cpp calls the file system only through this table, so a
// test can replace a single entry (to make the Nth read, rename, unlink or
// open fail with a chosen errno) and put it back afterwards.
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>

struct PosixFileCalls {
  int (*open)(const char* path, int flags, mode_t mode);
  int (*close)(int fd);
  ssize_t (*pread)(int fd, void* buffer, size_t size, off_t offset);
  int (*fstat)(int fd, struct stat* st);
  int (*lstat)(const char* path, struct stat* st);
  // Renames without replacing an existing target (EEXIST when there is one).
  int (*renameNoReplace)(const char* from, const char* to);
  int (*unlink)(const char* path);
  int (*mkdir)(const char* path, mode_t mode);
  int (*flock)(int fd, int operation);
  DIR* (*opendir)(const char* path);
  struct dirent* (*readdir)(DIR* dir);
  int (*closedir)(DIR* dir);
  ssize_t (*write)(int fd, const void* buffer, size_t size);
  int (*fsync)(int fd);
  int (*rmdir)(const char* path);
  int (*rename)(const char* from, const char* to);
  // fcntl(F_SETLEASE): a read lease (F_RDLCK) fails with EAGAIN while any
  // process has the file open for writing; EINVAL where there are no leases.
  int (*setLease)(int fd, int type);
};

// The entries in use; posixFileCallsDefault holds the real calls.
extern PosixFileCalls posixFileCalls;
extern const PosixFileCalls posixFileCallsDefault;
