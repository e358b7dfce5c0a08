// The file-system calls behind spool file access. fs_win32.cpp and
// fs_posix.cpp implement them; each takes the process-wide FileSystemLock
// around every single platform call it makes. Results are the error codes of
// files/errors.h, 0 for success.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "files/errors.h"

typedef struct FsFileObject* FsFile;

// What identifies one version of a file: when any field differs, the file
// was replaced or changed.
struct FileStamp {
  std::uint64_t identity;  // inode or file index; 0 where the platform has none
  std::uint64_t size;
  std::int64_t modified;   // last write time in the platform's finest unit
  std::int64_t changed;    // status change (POSIX) or creation time (Windows)
};

bool operator==(const FileStamp& a, const FileStamp& b);
inline bool operator!=(const FileStamp& a, const FileStamp& b) { return !(a == b); }

// Opens an existing spool file for reading so that no other process writes it
// while it is read. Fails with kErrorAccess while another process still has the file
// open for writing. On POSIX a copy left half printed (see fsTakeFile) is
// opened in preference to the file of that name.
int fsOpenSpoolFile(const std::string& name, FsFile* file);

// Reads up to `size` bytes at `offset`; *count gets the number read, 0 at the
// end of the data.
int fsReadAt(FsFile file, std::uint64_t offset, unsigned char* buffer, unsigned size, unsigned* count);

int fsFileSize(FsFile file, std::uint64_t* size);

int fsFileStampOf(FsFile file, FileStamp* stamp);

// The file's permission bits (0777 where the platform has none).
int fsFileMode(FsFile file, unsigned* mode);

// Makes the open file the process's own before it is printed. On POSIX it is
// renamed to a hidden in-progress name in the same folder, so that a new file
// of the spool name can be written meanwhile and a printout cut off by a
// crash is found and printed on the next start. On Windows the exclusive open
// already holds the file: nothing to do.
int fsTakeFile(FsFile file);

// Deletes the open file and closes it. On POSIX the file is taken first, and
// only the very file that was read is deleted (a file written in its place
// since is left alone). On Windows the file is closed and deleted by name
// (the exclusive open keeps anyone else from it until the close).
int fsRemoveFile(FsFile file);

void fsCloseFile(FsFile file);

// The stamp of what fsOpenSpoolFile would open by this name, without opening
// it. kErrorFileNotFound when there is nothing.
int fsFileStamp(const std::string& name, FileStamp* stamp);

// Moves the open file to `target` (a path in the same folder tree, on the
// same volume) without copying and without replacing a file already there
// (kErrorAccess when one is). The file stays open either way. On Windows the rename
// goes through the open handle, so that no other file can be moved in its
// place.
int fsMoveFile(FsFile file, const std::string& target);

// True when the folder part of the name, with every link in it followed,
// lies inside the working folder (a name without a folder always does).
bool fsFolderInside(const std::string& name);

// Creates the folder when it is not there yet.
int fsCreateFolder(const std::string& name);

// The names of the regular files in the folder (no hidden files unless
// asked for, no folders, no links). kErrorPathNotFound when the folder is missing.
int fsListFolder(const std::string& folder, std::vector<std::string>* names, bool withHidden = false);

// --- Files ferrin writes itself (the journal) ------------------------------

// Creates a new file for writing; kErrorAccess when one of that name is there
// already.
// The file can be moved with fsMoveFile and is closed with fsCloseFile.
int fsCreateNewFile(const std::string& name, FsFile* file);

// Writes all of the bytes at the end of a file made by fsCreateNewFile.
int fsWriteFile(FsFile file, const unsigned char* bytes, unsigned size);

// Waits until what was written to the file is on the disk.
int fsSyncFile(FsFile file);

// Opens an existing plain file for reading only (fsReadAt, fsFileSize,
// fsCloseFile), without the spool file's hold on it. Links are refused.
int fsOpenReadFile(const std::string& name, FsFile* file);

// Adds the text at the end of the file, creating the file when it is not
// there, in one write.
int fsAppendToFile(const std::string& name, const std::string& text);

// Deletes a file by name.
int fsDeleteFile(const std::string& name);

// Deletes a file that a run cut off while writing it left behind (made by
// fsCreateNewFile and never closed): not while another process still has it
// open for writing (kErrorAccess then).
int fsDeleteLeftover(const std::string& name);

// Removes an empty folder.
int fsRemoveFolder(const std::string& name);

// The names of the folders in the folder (no hidden ones, no links).
// kErrorPathNotFound when the folder is missing.
int fsListSubfolders(const std::string& folder, std::vector<std::string>* names);

// --- Small files of ferrin's own (records that must survive a crash) ---

// Writes the bytes as the whole content of path so that a crash at any
// moment leaves either the old content or the new one, never a part: they go
// into the file path + ".new", which is synced and then renamed over path,
// and the folder is synced after the rename (POSIX). kErrorDiskFull when the
// disk is full.
int fsWriteFileSafely(const std::string& path, const std::string& bytes);

// The whole content of a small file (at most `limit` bytes are read).
int fsReadSmallFile(const std::string& path, std::size_t limit, std::string* bytes);

// Waits until what was written to the file of that name, by whichever
// process, is on the disk.
int fsSyncFileByName(const std::string& path);

// Makes the renames and deletions done in the folder durable (POSIX: fsync
// of the folder; Windows commits them with each call: nothing to do).
int fsSyncFolder(const std::string& folder);
