// One drop of the pickup benchmark, timed from outside the running ferrin:
// writes a receipt under its spool name and watches (inotify, so that the
// watching costs no CPU that ferrin could use) for the moment ferrin has
// taken it and the moment it is printed.
//
//   bench_pickup <in-place|renamed> <receipt> <spool file> <pdf|gone>
//
// in-place: the spool file is opened, written and closed under its name, as
// DOS programs write; renamed: written beside the receipt and renamed into
// place. The clock starts when the close (or the rename) has returned.
//
// Taken: a hand-over record appears in the folder ".handover" beside the
// spool file. ferrin writes it only once it holds the file (POSIX: the lease
// check passed and the file is renamed aside; Windows: the exclusive open
// succeeded) and before any byte of it goes to the printer, so it marks the
// end of the pickup, a little late rather than early (the record is flushed
// to the disk first).
// Printed: pdf, a PDF appears in the folder "printed" ("Save as PDF" puts it
// there complete, by a link of a flushed file); gone, the spool file is
// deleted after its hand-over to the spooler. A PDF that is not complete when
// it appears fails the drop.
//
// Prints "<taken ms> <printed ms>" (fractions of a millisecond); "-" for a
// moment not seen. Exits 1 when the printout is not seen within 10 s.
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

double nowMilliseconds() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

bool endsWith(const std::string& s, const char* tail) {
  std::size_t n = std::strlen(tail);
  return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

bool readWhole(const char* path, std::string* bytes) {
  std::FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return false;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes->append(buffer, n);
  std::fclose(f);
  return true;
}

bool writeWhole(const std::string& path, const std::string& bytes) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  return close(fd) == 0 && ok;
}

// A PDF is complete when its last bytes are the end-of-file marker.
bool completePdf(const std::string& path) {
  std::string bytes;
  if (!readWhole(path.c_str(), &bytes)) return false;
  while (!bytes.empty() && (bytes.back() == '\n' || bytes.back() == '\r')) bytes.pop_back();
  return endsWith(bytes, "%%EOF");
}

int watchFolder(int fd, const std::string& folder, std::uint32_t events) {
  mkdir(folder.c_str(), 0775);  // ferrin makes it as well; already there is fine
  int wd = inotify_add_watch(fd, folder.c_str(), events);
  if (wd < 0) std::fprintf(stderr, "bench_pickup: cannot watch %s: %s\n", folder.c_str(), std::strerror(errno));
  return wd;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: bench_pickup <in-place|renamed> <receipt> <spool file> <pdf|gone>\n");
    return 2;
  }
  const std::string how = argv[1], spool = argv[3], done = argv[4];
  std::string receipt;
  if (!readWhole(argv[2], &receipt)) {
    std::fprintf(stderr, "bench_pickup: cannot read %s\n", argv[2]);
    return 2;
  }
  std::string::size_type slash = spool.rfind('/');
  std::string folder = slash == std::string::npos ? "." : spool.substr(0, slash);
  std::string base = slash == std::string::npos ? spool : spool.substr(slash + 1);

  int fd = inotify_init1(IN_CLOEXEC);
  if (fd < 0) return 2;
  int records = watchFolder(fd, folder + "/.handover", IN_MOVED_TO | IN_CREATE);
  int finished = done == "pdf" ? watchFolder(fd, folder + "/printed", IN_MOVED_TO | IN_CREATE)
                               : watchFolder(fd, folder, IN_DELETE | IN_MOVED_FROM);
  if (records < 0 || finished < 0) return 2;

  double start;
  if (how == "renamed") {
    std::string aside = std::string(argv[2]) + ".next";
    if (!writeWhole(aside, receipt) || rename(aside.c_str(), spool.c_str()) != 0) return 2;
    start = nowMilliseconds();
  } else {
    if (!writeWhole(spool, receipt)) return 2;
    start = nowMilliseconds();
  }

  double taken = -1, printed = -1;
  alignas(struct inotify_event) char buffer[8192];
  while (printed < 0) {
    double left = start + 10000 - nowMilliseconds();
    struct pollfd p = {fd, POLLIN, 0};
    if (left <= 0 || poll(&p, 1, static_cast<int>(left) + 1) <= 0) break;
    ssize_t n = read(fd, buffer, sizeof buffer);
    double at = nowMilliseconds() - start;
    for (ssize_t i = 0; i + static_cast<ssize_t>(sizeof(struct inotify_event)) <= n;) {
      const struct inotify_event* e = reinterpret_cast<const struct inotify_event*>(buffer + i);
      std::string name = e->len > 0 ? e->name : "";
      if (e->wd == records && taken < 0 && !name.empty() && !endsWith(name, ".new")) taken = at;
      if (e->wd == finished && printed < 0) {
        if (done == "pdf" ? name.compare(0, 6, "print-") == 0 && endsWith(name, ".pdf") : name == base) {
          printed = at;
          if (done == "pdf" && !completePdf(folder + "/printed/" + name)) {
            std::fprintf(stderr, "bench_pickup: %s appeared before it was complete\n", name.c_str());
            return 1;
          }
        }
      }
      i += static_cast<ssize_t>(sizeof(struct inotify_event) + e->len);
    }
  }
  if (taken < 0) std::printf("- ");
  else std::printf("%.1f ", taken);
  if (printed < 0) std::printf("-\n");
  else std::printf("%.1f\n", printed);
  return printed < 0 ? 1 : 0;
}
