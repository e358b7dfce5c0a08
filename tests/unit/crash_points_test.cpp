// Every point at which a crash or a power cut can stop a printout, tried in
// turn: whole printouts (fresh and from the waiting queue, laid out and raw,
// with and without the journal, with and without delivery confirmation) are
// run through the watcher and the recording printer device, and the run is
// ended at its Nth file-system call for every N until the printout is done.
// Then a new start with nothing but what is on the disk: each run must end
// with exactly one printout at the printer, one journal copy where the
// journal is on, and nothing left behind in ".handover", "sent", "waiting"
// or scratch files.
//
// The run is ended through the file layer's table of system calls, the
// POSIX one or the Windows one. On POSIX each point is also tried as a power
// cut: a crash after which the disk forgets what was not flushed. A small
// model of a disk keeps, per folder, the entries as they were when the
// folder was last synced, and per file the bytes it had when it was last
// synced; before the restart the run's folder is put back to that state.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "config/slots.h"
#include "console/console.h"
#include "fake/device_fake.h"
#include "files/errors.h"
#include "files/spoolfile.h"
#include "platform/system.h"
#include "print/printer_state.h"
#include "spool/cycle.h"
#include "spool/handover.h"
#include "spool/journal.h"
#include "spool/mailqueue.h"
#include "spool/watcher.h"
#include "unit/oldfile.h"
#include "unit/crashedrun.h"
#include "unit/tempdir.h"

#ifdef _WIN32
#include <windows.h>

#include "files/fs_calls_win32.h"
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "files/fs_calls_posix.h"
#endif

namespace fs = std::filesystem;

namespace {

const char kSpool[] = "WLSDFKJN.DRY";

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// --- The file-system calls, counted; the Nth one ends the run -------------

// The calls made since the run began.
struct CallCount {
  long calls = 0;
  long crashAt = 0;  // the call that ends the run; 0: none
  std::string log;   // the calls of the run, a line each
  // Per call, what had changed before it: on the disk (calls that write,
  // move, delete, make or sync) and at the printer (device calls). A crash
  // at a call where neither changed since the one before leaves the same
  // state as a crash there.
  long changes = 0;
  std::vector<std::pair<long, std::size_t>> before;
};

CallCount count;

void resetCount(long crashAt) { count = CallCount(); count.crashAt = crashAt; }

void countCall(const char* call, const std::string& what, bool changes) {
  ++count.calls;
  count.log += std::to_string(count.calls) + " " + call + " " + what + "\n";
  count.before.push_back(std::make_pair(count.changes, fakeDevice.calls.size()));
  if (changes) ++count.changes;
  if (count.crashAt != 0 && count.calls == count.crashAt) throw FakeCrash();
}

#ifdef _WIN32

// The handles the run holds, closed when it ends as the system closes them
// at the end of a process (a delete at close then takes place).
std::set<HANDLE> openFiles, openSearches;

HANDLE WINAPI countedCreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                 DWORD disposition, DWORD flags, HANDLE model) {
  countCall("CreateFile", name, disposition != OPEN_EXISTING || (access & (GENERIC_WRITE | DELETE)) != 0);
  HANDLE file = win32FileCallsDefault.CreateFileA(name, access, share, security, disposition, flags, model);
  if (file != INVALID_HANDLE_VALUE) openFiles.insert(file);
  return file;
}
BOOL WINAPI countedReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD got, LPOVERLAPPED overlapped) {
  countCall("ReadFile", "", false);
  return win32FileCallsDefault.ReadFile(file, buffer, size, got, overlapped);
}
DWORD WINAPI countedSetFilePointer(HANDLE file, LONG low, PLONG high, DWORD method) {
  countCall("SetFilePointer", "", false);
  return win32FileCallsDefault.SetFilePointer(file, low, high, method);
}
DWORD WINAPI countedGetFileSize(HANDLE file, LPDWORD high) {
  countCall("GetFileSize", "", false);
  return win32FileCallsDefault.GetFileSize(file, high);
}
BOOL WINAPI countedGetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION info) {
  countCall("GetFileInformationByHandle", "", false);
  return win32FileCallsDefault.GetFileInformationByHandle(file, info);
}
BOOL WINAPI countedSetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info, DWORD size) {
  countCall(kind == FileRenameInfo ? "rename by handle" : "delete by handle", "", true);
  return win32FileCallsDefault.SetFileInformationByHandle(file, kind, info, size);
}
// Closing never ends a run: it is called where nothing may throw.
BOOL WINAPI countedCloseHandle(HANDLE file) {
  openFiles.erase(file);
  return win32FileCallsDefault.CloseHandle(file);
}
HANDLE WINAPI countedFindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA found) {
  countCall("FindFirstFile", pattern, false);
  HANDLE search = win32FileCallsDefault.FindFirstFileA(pattern, found);
  if (search != INVALID_HANDLE_VALUE) openSearches.insert(search);
  return search;
}
BOOL WINAPI countedFindNextFileA(HANDLE search, LPWIN32_FIND_DATAA found) {
  countCall("FindNextFile", "", false);
  return win32FileCallsDefault.FindNextFileA(search, found);
}
BOOL WINAPI countedFindClose(HANDLE search) {
  openSearches.erase(search);
  return win32FileCallsDefault.FindClose(search);
}
BOOL WINAPI countedDeleteFileA(LPCSTR name) {
  countCall("DeleteFile", name, true);
  return win32FileCallsDefault.DeleteFileA(name);
}
BOOL WINAPI countedCreateDirectoryA(LPCSTR name, LPSECURITY_ATTRIBUTES security) {
  countCall("CreateDirectory", name, true);
  return win32FileCallsDefault.CreateDirectoryA(name, security);
}
DWORD WINAPI countedGetFullPathNameA(LPCSTR name, DWORD size, LPSTR path, LPSTR* part) {
  countCall("GetFullPathName", name, false);
  return win32FileCallsDefault.GetFullPathNameA(name, size, path, part);
}
DWORD WINAPI countedGetFinalPathNameByHandleA(HANDLE file, LPSTR path, DWORD size, DWORD flags) {
  countCall("GetFinalPathNameByHandle", "", false);
  return win32FileCallsDefault.GetFinalPathNameByHandleA(file, path, size, flags);
}
BOOL WINAPI countedWriteFile(HANDLE file, LPCVOID bytes, DWORD size, LPDWORD done, LPOVERLAPPED overlapped) {
  countCall("WriteFile", "", true);
  return win32FileCallsDefault.WriteFile(file, bytes, size, done, overlapped);
}
BOOL WINAPI countedFlushFileBuffers(HANDLE file) {
  countCall("FlushFileBuffers", "", true);
  return win32FileCallsDefault.FlushFileBuffers(file);
}
BOOL WINAPI countedRemoveDirectoryA(LPCSTR name) {
  countCall("RemoveDirectory", name, true);
  return win32FileCallsDefault.RemoveDirectoryA(name);
}
BOOL WINAPI countedMoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) {
  countCall("MoveFileEx", std::string(from) + " " + to, true);
  return win32FileCallsDefault.MoveFileExA(from, to, flags);
}

void installModelCalls(long crashAt) {
  resetCount(crashAt);
  win32FileCalls = Win32FileCalls{countedCreateFileA,      countedReadFile,        countedSetFilePointer,
                                  countedGetFileSize,      countedGetFileInformationByHandle,
                                  countedSetFileInformationByHandle, countedCloseHandle, countedFindFirstFileA,
                                  countedFindNextFileA,    countedFindClose,       countedDeleteFileA,
                                  countedCreateDirectoryA, countedGetFullPathNameA, countedGetFinalPathNameByHandleA,
                                  countedWriteFile,        countedFlushFileBuffers, countedRemoveDirectoryA,
                                  countedMoveFileExA};
}

// The process is gone: what it held open is closed.
void endProcess() {
  closeSpoolFile();
  for (HANDLE file : openFiles) win32FileCallsDefault.CloseHandle(file);
  for (HANDLE search : openSearches) win32FileCallsDefault.FindClose(search);
  openFiles.clear();
  openSearches.clear();
  endWork();
  printerState = PrinterState();
}

void restoreCalls() { win32FileCalls = win32FileCallsDefault; }
void beginRun(const fs::path&) {}
void endRun() {}
// The Windows file layer's renames and deletions are made durable by the
// system with each call; no model of a forgetting disk is kept for it.
const bool kPowerCuts = false;
// Windows printers do not confirm delivery (that is a CUPS queue's): the
// mixes with it are tried on POSIX only.
const int kMixes = 8;
const int kAlsoMixes = 4;
const bool kAlsoConfirmed = false;

#else

// --- A disk that forgets what was not flushed ------------------------------

struct DurableFile {
  std::string bytes;
  struct timespec modified;
};

struct DurableEntry {
  bool folder;
  ino_t inode;
};

// What the disk would hold after a power cut. Removed or replaced files are kept alive by a hard link in
// `kept`, so that a power cut brings them back as themselves (inode and
// modification time, which hand-over records go by).
struct ModelDisk {
  std::string root;  // the run's folder, absolute
  std::string kept;  // beside it
  std::map<std::string, std::map<std::string, DurableEntry>> folders;  // "." for the root
  std::map<ino_t, DurableFile> files;
  std::set<int> openFiles;
  std::set<DIR*> openFolders;
};

ModelDisk disk;

std::string relativeOf(const std::string& absolute) {
  if (absolute == disk.root) return ".";
  if (absolute.compare(0, disk.root.size() + 1, disk.root + "/") == 0) return absolute.substr(disk.root.size() + 1);
  return std::string();
}

std::string absoluteOf(const std::string& relative) {
  return relative == "." ? disk.root : disk.root + "/" + relative;
}

std::string pathOfDescriptor(int fd) {
  char link[PATH_MAX + 1];
  ssize_t n = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), link, PATH_MAX);
  return n > 0 ? std::string(link, static_cast<std::size_t>(n)) : std::string();
}

void noteFileFlushed(const std::string& absolute) {
  struct stat st;
  if (stat(absolute.c_str(), &st) != 0) return;
  disk.files[st.st_ino] = DurableFile{readAll(absolute), st.st_mtim};
}

std::map<std::string, DurableEntry> listingNow(const std::string& relative) {
  std::map<std::string, DurableEntry> entries;
  std::error_code error;
  for (const fs::directory_entry& e : fs::directory_iterator(absoluteOf(relative), error)) {
    struct stat st;
    if (lstat(e.path().c_str(), &st) != 0) continue;
    entries[e.path().filename().string()] = DurableEntry{S_ISDIR(st.st_mode), st.st_ino};
  }
  return entries;
}

// A synced folder: its entries as they are now. A file moved in from another
// folder or out to one is moved on the disk as one change, so both folders'
// entries change with it.
void noteFolderFlushed(const std::string& relative) {
  std::map<std::string, DurableEntry> now = listingNow(relative);
  std::map<std::string, DurableEntry>& before = disk.folders[relative];
  std::set<ino_t> inodesNow, inodesBefore;
  for (const auto& e : now) inodesNow.insert(e.second.inode);
  for (const auto& e : before) inodesBefore.insert(e.second.inode);
  for (auto& other : disk.folders) {
    if (other.first == relative) continue;
    // Moved in from there: gone there.
    for (auto it = other.second.begin(); it != other.second.end();)
      it = !it->second.folder && inodesNow.count(it->second.inode) && !inodesBefore.count(it->second.inode)
               ? other.second.erase(it)
               : std::next(it);
  }
  // Moved out to another folder: there now.
  for (const auto& e : before) {
    if (e.second.folder || inodesNow.count(e.second.inode)) continue;
    for (const fs::directory_entry& found : fs::recursive_directory_iterator(disk.root)) {
      struct stat st;
      if (found.is_directory() || lstat(found.path().c_str(), &st) != 0 || st.st_ino != e.second.inode) continue;
      std::string folder = relativeOf(found.path().parent_path().string());
      if (folder != relative) disk.folders[folder][found.path().filename().string()] = DurableEntry{false, st.st_ino};
    }
  }
  before = now;
}

void keepAlive(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return;
  std::string keep = disk.kept + "/" + std::to_string(st.st_ino);
  if (link(path.c_str(), keep.c_str()) != 0) return;  // kept already
}

void noteEverythingDurable() {
  disk.folders.clear();
  disk.files.clear();
  std::vector<std::string> pending{"."};
  while (!pending.empty()) {
    std::string folder = pending.back();
    pending.pop_back();
    disk.folders[folder] = listingNow(folder);
    for (const auto& e : disk.folders[folder]) {
      std::string inside = folder == "." ? e.first : folder + "/" + e.first;
      if (e.second.folder) pending.push_back(inside);
      else noteFileFlushed(absoluteOf(inside));
    }
  }
}

// Puts the run's folder back to what the disk would hold after a power cut.
void cutPower() {
  // Every file there is now stays reachable by its inode.
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(disk.root))
    if (!e.is_directory()) keepAlive(e.path().string());
  for (const fs::directory_entry& e : fs::directory_iterator(disk.root)) fs::remove_all(e.path());
  std::vector<std::string> pending{"."};
  while (!pending.empty()) {
    std::string folder = pending.back();
    pending.pop_back();
    for (const auto& e : disk.folders[folder]) {
      std::string inside = folder == "." ? e.first : folder + "/" + e.first;
      std::string path = absoluteOf(inside);
      if (e.second.folder) {
        mkdir(path.c_str(), 0755);
        pending.push_back(inside);
        continue;
      }
      if (link((disk.kept + "/" + std::to_string(e.second.inode)).c_str(), path.c_str()) != 0) continue;
      auto content = disk.files.find(e.second.inode);
      std::string bytes = content == disk.files.end() ? std::string() : content->second.bytes;
      if (readAll(path) == bytes) continue;
      int fd = open(path.c_str(), O_WRONLY | O_TRUNC);
      if (fd < 0) continue;
      if (!bytes.empty() && write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) ADD_FAILURE();
      if (content != disk.files.end()) {
        struct timespec times[2] = {{0, UTIME_OMIT}, content->second.modified};
        futimens(fd, times);
      }
      close(fd);
    }
  }
}

// --- The POSIX table, counted, with the model of the disk kept --------------

int modelOpen(const char* p, int flags, mode_t mode) {
  countCall("open", p, (flags & (O_CREAT | O_TRUNC | O_WRONLY | O_RDWR)) != 0);
  int fd = posixFileCallsDefault.open(p, flags, mode);
  if (fd >= 0) disk.openFiles.insert(fd);
  return fd;
}
// Closing never ends a run: it is called where nothing may throw.
int modelClose(int fd) {
  disk.openFiles.erase(fd);
  return posixFileCallsDefault.close(fd);
}
ssize_t modelPread(int fd, void* b, size_t n, off_t o) {
  countCall("pread", pathOfDescriptor(fd), false);
  return posixFileCallsDefault.pread(fd, b, n, o);
}
int modelFstat(int fd, struct stat* st) {
  countCall("fstat", pathOfDescriptor(fd), false);
  return posixFileCallsDefault.fstat(fd, st);
}
int modelLstat(const char* p, struct stat* st) {
  countCall("lstat", p, false);
  return posixFileCallsDefault.lstat(p, st);
}
int modelRenameNoReplace(const char* from, const char* to) {
  countCall("rename-no-replace", std::string(from) + " " + to, true);
  return posixFileCallsDefault.renameNoReplace(from, to);
}
int modelRename(const char* from, const char* to) {
  countCall("rename", std::string(from) + " " + to, true);
  keepAlive(to);
  return posixFileCallsDefault.rename(from, to);
}
int modelUnlink(const char* p) {
  countCall("unlink", p, true);
  keepAlive(p);
  return posixFileCallsDefault.unlink(p);
}
int modelMkdir(const char* p, mode_t m) {
  countCall("mkdir", p, true);
  return posixFileCallsDefault.mkdir(p, m);
}
int modelFlock(int fd, int operation) {
  if (!(operation & LOCK_UN)) countCall("flock", pathOfDescriptor(fd), false);
  return posixFileCallsDefault.flock(fd, operation);
}
DIR* modelOpendir(const char* p) {
  countCall("opendir", p, false);
  DIR* dir = posixFileCallsDefault.opendir(p);
  if (dir != nullptr) disk.openFolders.insert(dir);
  return dir;
}
struct dirent* modelReaddir(DIR* dir) {
  countCall("readdir", "", false);
  return posixFileCallsDefault.readdir(dir);
}
int modelClosedir(DIR* dir) {
  disk.openFolders.erase(dir);
  return posixFileCallsDefault.closedir(dir);
}
ssize_t modelWrite(int fd, const void* b, size_t n) {
  countCall("write", pathOfDescriptor(fd), true);
  return posixFileCallsDefault.write(fd, b, n);
}
int modelFsync(int fd) {
  countCall("fsync", pathOfDescriptor(fd), true);
  // The model is the disk's memory: the real disk is not waited for.
  struct stat st;
  if (fstat(fd, &st) != 0) return -1;
  std::string path = pathOfDescriptor(fd);
  std::string relative = relativeOf(path);
  if (!relative.empty()) {
    if (S_ISDIR(st.st_mode)) noteFolderFlushed(relative);
    else noteFileFlushed(path);
  }
  return 0;
}
int modelRmdir(const char* p) {
  countCall("rmdir", p, true);
  return posixFileCallsDefault.rmdir(p);
}

void installModelCalls(long crashAt) {
  resetCount(crashAt);
  posixFileCalls = PosixFileCalls{modelOpen,    modelClose,    modelPread,   modelFstat,  modelLstat,  modelRenameNoReplace,
                                  modelUnlink,  modelMkdir,    modelFlock,   modelOpendir, modelReaddir, modelClosedir,
                                  modelWrite,   modelFsync,    modelRmdir,   modelRename, posixFileCallsDefault.setLease};
}

// The process is gone: what it held open is closed, the real calls are back.
void endProcess() {
  closeSpoolFile();
  for (int fd : disk.openFiles) close(fd);
  for (DIR* dir : disk.openFolders) closedir(dir);
  disk.openFiles.clear();
  disk.openFolders.clear();
  endWork();
  printerState = PrinterState();
}

void restoreCalls() { posixFileCalls = posixFileCallsDefault; }

// The run's folder, for the model of the disk.
void beginRun(const fs::path& folder) {
  disk.root = fs::canonical(folder).string();
  disk.kept = disk.root + ".kept";
  fs::create_directory(disk.kept);
}
void endRun() { fs::remove_all(disk.kept); }
const bool kPowerCuts = true;
const int kMixes = 24;
const int kAlsoMixes = 4;
const bool kAlsoConfirmed = true;

#endif


// --- Whole printouts -------------------------------------------------------

struct Printout {
  bool queued;   // it waited in the queue before this run
  bool raw;      // mode=raw
  bool journal;  // journal=30
  bool confirm;  // the printer confirms delivery (the copy waits in "sent")
  bool lose;     // and its scheduler loses the first job it took
  bool also = false;  // alsoto=1: printer 1 ("Report", its own spool name) prints it too
  bool mail = false;  // mailto=: it joins the mail queue once printed
  std::string name() const {
    return std::string(queued ? "from the queue" : "fresh") + (raw ? ", raw" : ", laid out") +
           (journal ? ", journal" : "") + (confirm ? ", confirmed" : "") + (lose ? ", lost once" : "") +
           (also ? ", also on printer 1" : "") + (mail ? ", mailed" : "");
  }
};

const char kTargetSpool[] = "REPORT.PRN";

const char kText[] = "Total 12.50\r\n";

void writeSettings(const Printout& p, const char* printer) {
  std::ofstream ini("ferrin.ini", std::ios::binary | std::ios::trunc);
  ini << "[printer 0]\r\nprintername=" << printer << "\r\nfilename=" << kSpool << "\r\nfontname=Courier New\r\n"
      << "fontsize=10\r\n" << (p.raw ? "mode=raw\r\n" : "") << (p.journal ? "journal=30\r\n" : "")
      << (p.mail ? "mailto=owner@example.com\r\nsmtp=127.0.0.1:9\r\n" : "");
  // The further printer has settings of its own: laid out where printer 0
  // is raw, and the other way round.
  if (p.also)
    ini << "alsoto=1\r\n[printer 1]\r\nprintername=Report\r\nfilename=" << kTargetSpool << "\r\n"
        << (p.raw ? "" : "mode=raw\r\n") << (p.journal ? "journal=30\r\n" : "");
}

struct Session {
  WatcherMemory memory;
  WatcherMemory target;  // printer 1's watcher, with alsoto
  unsigned long long now = 1000000;
};

// Cycles until everything is settled; every timer is due at each cycle.
// The fake scheduler: a job it takes is pending for the first two cycles
// of a run, then finished; with `lose`, the first job it took is lost (a
// scheduler that died before it saved it).
void runCycles(const Printout& p, Session& run, int cycles) {
  for (int i = 0; i < cycles; ++i) {
    fakeDevice.jobsPending = p.confirm && i < 2;
    loadSlot(0);
    runWatcherCycle(0, run.memory, run.now);
    if (p.also) {
      loadSlot(1);
      runWatcherCycle(1, run.target, run.now);
    }
    run.now += 60000;
    if (!p.lose || !fakeDevice.lostIdentities.empty()) continue;
    for (const FakeDocument& d : fakeDevice.documents)
      if (d.reached && !d.identity.empty() && fakeDevice.lostIdentities.empty()) fakeDevice.lostIdentities.push_back(d.identity);
    for (const FakeRawJob& j : fakeDevice.rawJobs)
      if (j.reached && !j.identity.empty() && fakeDevice.lostIdentities.empty()) fakeDevice.lostIdentities.push_back(j.identity);
  }
}

void start(Session& run) {
  run.memory = WatcherMemory();
  run.target = WatcherMemory();
  cleanUpAtStart();
}

// The folder before the run: the spool file written, and for a queued
// printout, the run that queued it while its printer was missing.
void prepare(const Printout& p, Session& run) {
  installModelCalls(0);
  resetFakeDevice();
  fakeDevice.confirmsDelivery = p.confirm;
  writeSettings(p, p.queued ? "Nobody" : "Receipt");
  writeFile(kSpool, kText);
  if (p.queued) {
    start(run);
    runCycles(p, run, 1);
    writeSettings(p, "Receipt");
  }
}

// Every document or raw job the printers have, as its printer and text.
std::vector<std::string> reachedTexts() {
  std::vector<std::string> out, texts(fakeDevice.documents.size());
  for (const FakeText& t : fakeDevice.texts)
    if (t.document >= 1 && static_cast<std::size_t>(t.document) <= texts.size()) texts[t.document - 1] += t.text + "|";
  auto lost = [](const std::string& identity) {
    for (const std::string& l : fakeDevice.lostIdentities)
      if (l == identity) return true;
    return false;
  };
  for (std::size_t i = 0; i < fakeDevice.documents.size(); ++i)
    if (fakeDevice.documents[i].reached && !lost(fakeDevice.documents[i].identity))
      out.push_back(fakeDevice.documents[i].printer + ": " + texts[i]);
  for (const FakeRawJob& job : fakeDevice.rawJobs)
    if (job.reached && !lost(job.identity)) out.push_back(job.printer + ": " + job.data);
  std::sort(out.begin(), out.end());
  return out;
}

// The mails queued (their printouts' bytes), and whether each is a mail.
std::vector<std::string> queuedMailTexts() {
  std::vector<std::string> texts;
  if (!fs::exists(kMailFolder)) return texts;
  for (const fs::directory_entry& e : fs::directory_iterator(kMailFolder)) {
    MailName mail;
    bool isMail = parseMailName(e.path().filename().string(), &mail) && mail.slotNumber == 0;
    texts.push_back(isMail ? readAll(e.path().string()) : "not a mail: " + e.path().filename().string());
  }
  return texts;
}

// What is left in the folder, apart from ferrin.ini, the journal's own files,
// the queued mails and empty folders.
std::vector<std::string> leftBehind() {
  std::vector<std::string> left;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(".")) {
    std::string path = e.path().lexically_relative(".").generic_string();
    if (e.is_directory() || path == "ferrin.ini") continue;
    MailName mail;
    if (path.compare(0, sizeof kMailFolder, std::string(kMailFolder) + "/") == 0 &&
        parseMailName(path.substr(sizeof kMailFolder), &mail))
      continue;
    if (path.compare(0, 8, "journal/") == 0 && path.compare(0, 16, "journal/pending/") != 0) {
      std::string ending = path.size() > 4 ? path.substr(path.size() - 4) : path;
      if (ending == ".prn" || path.size() > 9 && path.compare(path.size() - 9, 9, "index.tsv") == 0) continue;
    }
    left.push_back(path);
  }
  return left;
}

std::vector<std::string> journalCopies() {
  std::vector<std::string> copies;
  if (!fs::exists(kJournalFolder)) return copies;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(kJournalFolder))
    if (e.path().extension() == ".prn") copies.push_back(e.path().string());
  return copies;
}

// Checks what one run left, with a trace of where it was cut off.
void expectOnePrintout(const Printout& p, const std::string& output, const std::string& where) {
  std::vector<std::string> expected{std::string("Receipt: ") + (p.raw ? kText : "Total 12.50|")};
  if (p.also) expected.push_back(std::string("Report: ") + (p.raw ? "Total 12.50|" : kText));
  EXPECT_EQ(reachedTexts(), expected) << where << "\n" << output << fakeCallLog();
  EXPECT_EQ(leftBehind(), std::vector<std::string>()) << where << "\n" << output;
  EXPECT_EQ(queuedMailTexts(), p.mail ? std::vector<std::string>{kText} : std::vector<std::string>())
      << where << "\n" << output;
  if (p.journal) {
    std::vector<std::string> copies = journalCopies();
    ASSERT_EQ(copies.size(), 1u) << where << "\n" << output;
    EXPECT_EQ(readAll(copies[0]), kText) << where;
  }
}

// The clock of the runs: the same second throughout a run, and for its
// restart, or the next second. Journal copies are named by the second, so a
// copy kept again after a power cut gets the name of the lost one, or not.
int clockSecond = 0;
LocalTime runClock() { return LocalTime{2026, 12, 10, 9, 30, clockSecond}; }

class CrashPointsTest : public ::testing::Test {
 public:
  std::string output, echo;
  LocalTime (*systemClock)() = nullptr;
  void SetUp() override {
    captureConsole(&output, &echo);
    systemClock = localTimeClock;
    localTimeClock = runClock;
  }
  void TearDown() override {
    captureConsole(nullptr, nullptr);
    restoreCalls();
    localTimeClock = systemClock;
    // The tests after this one begin as a fresh start would.
    TempWorkDir fresh;
    removeJournalLeftovers();
  }
};

// One run of a printout, ended at its Nth file call (with a power cut after
// it, or not), then started again (in the same second, or `later` in the
// next) and run until settled. False when the run made fewer than n calls:
// it was not cut off, and is checked as it stands.
bool cutOffAt(const Printout& p, long n, bool power, bool later, std::string& output) {
  std::string where = p.name() + (power ? ": power cut" : ": crash") + " at file call " + std::to_string(n) +
                      (later ? ", restarted a second later" : "");
  clockSecond = 0;
  TempWorkDir dir;
  beginRun(dir.path);
  output.clear();
  Session run;
  prepare(p, run);
  start(run);
#ifndef _WIN32
  noteEverythingDurable();
#endif
  installModelCalls(n);
  bool crashed = false;
  try {
    LeaksOfACrashedRun ignored;
    runCycles(p, run, 6);
  } catch (const FakeCrash&) {
    crashed = true;
  }
  endProcess();
  std::string calls = count.log;
  if (crashed) {
    restoreCalls();
#ifndef _WIN32
    if (power) cutPower();
#endif
    // The next start, with nothing remembered but the files.
    if (later) ++clockSecond;
    installModelCalls(0);
    Session again;
    start(again);
    runCycles(p, again, 6);
  }
  expectOnePrintout(p, output + calls, crashed ? where : p.name() + ", not cut off");
  endRun();
  return crashed;
}

TEST_F(CrashPointsTest, ACrashOrPowerCutAtEveryFileCallEndsInExactlyOnePrintout) {
  long points = 0, powerCuts = 0, calls = 0;
  // Every mix of the four, and those that confirm delivery once more with a
  // scheduler that loses the first job.
  // Then alsoto: printer 1 prints each printout too, with its own settings;
  // fresh and from the queue, laid out and raw, with and without the
  // journal, and on POSIX two of them with delivery confirmation. Then two
  // mailed.
  std::vector<Printout> mixes;
  for (int bits = 0; bits < kMixes; ++bits)
    mixes.push_back(Printout{(bits & 1) != 0, (bits & 2) != 0, (bits & 4) != 0, (bits & 8) != 0 || bits >= 16,
                             bits >= 16});
  for (int bits = 0; bits < kAlsoMixes; ++bits)
    mixes.push_back(Printout{(bits & 1) != 0, (bits & 2) != 0, (bits & 2) != 0,
                             kAlsoConfirmed && ((bits & 1) != 0) != ((bits & 2) != 0), false, true});
  // Mailed: fresh, laid out, with the journal and printer 1 too; and raw,
  // confirmed where confirmation is tried. Each ends with one mail queued.
  mixes.push_back(Printout{false, false, true, false, false, true, true});
  mixes.push_back(Printout{false, true, false, kAlsoConfirmed, false, false, true});
  for (const Printout& p : mixes) {
    // Uncut, for its calls; then cut off at each call that follows a change.
    ASSERT_FALSE(cutOffAt(p, 0, false, false, output));
    const long total = count.calls;
    const std::vector<std::pair<long, std::size_t>> before = count.before;
    EXPECT_GT(total, 40) << p.name() << ": a printout makes more file calls than that";
    calls += total;
    for (long n = 1; n <= total; ++n) {
      if (n > 1 && before[n - 1] == before[n - 2]) continue;
      // A crash; a power cut restarted in the same second, and in the next.
      for (int kind = 0; kind < 3; ++kind) {
        const bool power = kind > 0;
        if (power && !kPowerCuts) continue;
        ASSERT_TRUE(cutOffAt(p, n, power, kind == 2, output))
            << p.name() << ": fewer calls than " << n << " of " << total;
        ++points;
        powerCuts += power;
        if (HasFailure()) return;
      }
    }
  }
  std::printf("crash points: %ld file calls of %d printouts; cut off after each change, %ld runs, %ld of them"
              " with a power cut (half of those restarted a second later)\n", calls, static_cast<int>(mixes.size()), points, powerCuts);
}

}  // namespace

