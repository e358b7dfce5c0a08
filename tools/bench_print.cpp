// Printing speed and memory: lays out a long text (100,000 lines by default:
// mixed widths, box drawing, a form feed every 60 lines) through the
// printing layer into "Save as PDF", then the same text through a common
// text-to-PDF pipeline (iconv, paps, ps2pdf), and prints lines per second
// for both, their ratio and ferrin's peak memory. Then the same lines as a
// dot-matrix (ESC/P) report, with bold, underline and condensed lines,
// through controls=escp, against the plain text. Last a 100-page LaserJet
// report (PCL 5: columns placed by the cursor, bold, underline, compressed
// lines, a raster logo and a rule on every page) through controls=pcl,
// against the same 6,000 lines as plain text.
//
//   bench_print [lines] [peer command]
//
// Runs in the working directory; the PDF lands in ./printed. The peer
// command reads the code page 437 text on standard input and writes a PDF to
// the file named by $OUT.
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "files/errors.h"
#include "files/spoolfile.h"
#include "print/printer.h"
#include "spool/printout.h"

namespace {

const char kPeer[] =
    "iconv -f CP437 -t UTF-8 | paps --font='Liberation Mono 10' --paper=a4 | ps2pdf -sPAPERSIZE=a4 - \"$OUT\"";

// Line n of the text: receipts, tables with box drawing, long and empty
// lines, and a form feed at the end of every 60th line.
std::string makeLine(long n) {
  char buffer[256];
  switch (n % 8) {
    case 0: std::snprintf(buffer, sizeof buffer, "Item %06ld  Widget, blue ................ %9.2f", n, static_cast<double>(n) * 0.37); break;
    case 1: std::snprintf(buffer, sizeof buffer, "\xDA\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC2\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xBF"); break;
    case 2: std::snprintf(buffer, sizeof buffer, "\xB3 %06ld \xB3 Caf\x82 cr\x8Fme \xB3", n); break;
    case 3: std::snprintf(buffer, sizeof buffer, "\xC0\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC1\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xD9"); break;
    case 4: buffer[0] = '\0'; break;
    case 5: std::snprintf(buffer, sizeof buffer, "Total"); break;
    case 6: {
      std::string wide = "Report line " + std::to_string(n) + " ";
      while (wide.size() < 140) wide += "=-";
      std::snprintf(buffer, sizeof buffer, "%s", wide.c_str());
      break;
    }
    default: std::snprintf(buffer, sizeof buffer, "  \xB0\xB1\xB2 %ld \xDB\xDB", n * 7919 % 100000); break;
  }
  std::string line = buffer;
  if (n % 60 == 59) line += '\f';
  return line;
}

// The line as a dot-matrix report has it: item lines bold, totals
// underlined, the wide lines condensed.
std::string makeEscPLine(long n) {
  std::string line = makeLine(n);
  switch (n % 8) {
    case 0: return "\x1b" "E" + line + "\x1b" "F";
    case 5: return std::string("\x1b-\x01", 3) + line + std::string("\x1b-\x00", 3);
    case 6: return "\x0f" + line + "\x12";
    default: return line;
  }
}

// A page of the LaserJet report: a bold heading in PC-8, a rule, a logo of
// 120 x 40 dots at 150 dpi in PackBits, then the page's 60 lines, items in
// bold with their amounts placed in column 60, totals underlined, the wide
// lines in 16.67 pitch; a form feed at the end.
std::string makePclPage(long page) {
  const std::string esc = "";
  std::string out = esc + "&a0R" + esc + "(s3B" + "Stock report, page " + std::to_string(page + 1) + esc + "(s0B";
  out += esc + "*p0x60Y" + esc + "*c2400a4b0P";
  out += esc + "*p1800x0Y" + esc + "*t150R" + esc + "*r120S" + esc + "*r1A" + esc + "*b2M";
  for (int row = 0; row < 40; ++row) {
    const char packed[] = {static_cast<char>(-14), static_cast<char>(row % 2 != 0 ? 0xAA : 0xFF)};
    out += esc + "*b2W" + std::string(packed, 2);
  }
  out += esc + "*rC" + esc + "&a2R\r";
  for (long n = page * 60; n < page * 60 + 60; ++n) {
    std::string line = makeLine(n);
    if (!line.empty() && line.back() == '\f') line.pop_back();
    switch (n % 8) {
      case 0:
        out += esc + "(s3B" + line.substr(0, 40) + esc + "(s0B" + esc + "&a60C" + line.substr(40);
        break;
      case 5: out += esc + "&d0D" + line + esc + "&d@"; break;
      case 6: out += esc + "(s16.67H" + line + esc + "(s10H"; break;
      default: out += line; break;
    }
    out += "\r\n";
  }
  return out + "\f";
}

double seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

long peakKilobytes() {
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// The text file through the spool watcher's own print loop (read, echo,
// layout) into the printing layer.
bool printWithFerrin(const char* textFile, ControlCodes controls = kControlsPrint) {
  clearError();
  openSpoolFile(textFile);
  if (lastError() != 0) return false;
  JobOptions options;
  options.codePage = controls == kControlsEscP || controls == kControlsPcl ? 437 : 0;
  attachPrinter("Save as PDF", options);
  PrintLayout layout;
  layout.controls = controls;
  layout.fontname = "Courier New";
  layout.fontsize = 10;
  selectFont(layout.fontname, layout.fontsize);
  int printError = 0;
  int readError = printSpoolLines(layout, &printError);
  closeSpoolFile();
  clearError();
  detachPrinter();
  return readError == 0 && printError == 0 && lastError() == 0;
}

}  // namespace

int main(int argc, char** argv) {
  long lines = argc > 1 ? std::atol(argv[1]) : 100000;
  std::string peer = argc > 2 ? argv[2] : kPeer;
  if (lines <= 0) {
    std::fprintf(stderr, "usage: bench_print [lines] [peer command]\n");
    return 2;
  }

  // The same text for both, as a spool file; writing it is not timed. The
  // echo of every line goes to standard error, which is silenced.
  const char* textFile = "bench-text.txt";
  {
    std::ofstream out(textFile, std::ios::binary);
    for (long n = 0; n < lines; n++) out << makeLine(n) << "\r\n";
  }
  if (std::freopen("/dev/null", "w", stderr) == nullptr) return 1;

  auto start = std::chrono::steady_clock::now();
  bool printed = printWithFerrin(textFile);
  double ferrinSeconds = seconds(start);
  long peak = peakKilobytes();
  if (!printed) {
    std::printf("ferrin could not print into \"Save as PDF\" (error %d)\n", lastError());
    return 1;
  }

  // The ESC/P report.
  const char* escpFile = "bench-escp.prn";
  {
    std::ofstream out(escpFile, std::ios::binary);
    out << "\x1b@";
    for (long n = 0; n < lines; n++) out << makeEscPLine(n) << "\r\n";
  }
  start = std::chrono::steady_clock::now();
  bool escpPrinted = printWithFerrin(escpFile, kControlsEscP);
  double escpSeconds = seconds(start);
  std::remove(escpFile);
  if (!escpPrinted) {
    std::printf("ferrin could not print the ESC/P report into \"Save as PDF\" (error %d)\n", lastError());
    return 1;
  }

  // The LaserJet report of 100 pages, and its 6,000 lines as plain text.
  const long kPclPages = 100;
  const char* pclFile = "bench-pcl.prn";
  const char* pclTextFile = "bench-pcl-text.txt";
  {
    std::ofstream out(pclFile, std::ios::binary);
    out << "\x1b" "E" "\x1b&l26a0o6D" "\x1b(10U" "\x1b(s0p10h12v0s0b3T";
    for (long page = 0; page < kPclPages; ++page) out << makePclPage(page);
    std::ofstream text(pclTextFile, std::ios::binary);
    for (long n = 0; n < kPclPages * 60; n++) text << makeLine(n) << "\r\n";
  }
  // A tenth of a second is within the machine's noise: the fastest of five runs each.
  bool pclTextPrinted = true, pclPrinted = true;
  double pclTextSeconds = 1e9, pclSeconds = 1e9;
  for (int run = 0; run < 5; ++run) {
    start = std::chrono::steady_clock::now();
    pclTextPrinted = printWithFerrin(pclTextFile) && pclTextPrinted;
    pclTextSeconds = std::min(pclTextSeconds, seconds(start));
    start = std::chrono::steady_clock::now();
    pclPrinted = printWithFerrin(pclFile, kControlsPcl) && pclPrinted;
    pclSeconds = std::min(pclSeconds, seconds(start));
  }
  std::remove(pclFile);
  std::remove(pclTextFile);
  if (!pclPrinted || !pclTextPrinted) {
    std::printf("ferrin could not print the PCL report into \"Save as PDF\" (error %d)\n", lastError());
    return 1;
  }

  std::string command = "set -o pipefail; OUT=bench-peer.pdf; export OUT; (" + peer + ") < " + textFile;
  start = std::chrono::steady_clock::now();
  int status = std::system(("bash -c '" + [&] {
                              std::string quoted;
                              for (char c : command) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
                              return quoted;
                            }() + "'").c_str());
  double peerSeconds = seconds(start);
  std::remove(textFile);
  struct stat st;
  bool peerOk = status == 0 && stat("bench-peer.pdf", &st) == 0 && st.st_size > 0;
  std::remove("bench-peer.pdf");  // can be hundreds of megabytes

  double ferrinRate = static_cast<double>(lines) / ferrinSeconds;
  std::printf("lines:               %ld (%ld pages)\n", lines, (lines + 59) / 60);
  std::printf("ferrin:              %.2f s, %.0f lines/s\n", ferrinSeconds, ferrinRate);
  std::printf("ferrin peak memory:  %.1f MB (ru_maxrss)\n", static_cast<double>(peak) / 1024.0);
  std::printf("ferrin ESC/P:        %.2f s, %.0f lines/s, %.2fx the plain text's time\n", escpSeconds,
              static_cast<double>(lines) / escpSeconds, escpSeconds / ferrinSeconds);
  std::printf("ferrin PCL:          %ld pages in %.3f s, the same text plain %.3f s: %.2fx its time\n", kPclPages,
              pclSeconds, pclTextSeconds, pclSeconds / pclTextSeconds);
  std::printf("peak memory after:   %.1f MB (ru_maxrss)\n", static_cast<double>(peakKilobytes()) / 1024.0);
  if (!peerOk) {
    std::printf("peer:                failed (exit status %d): %s\n", status, peer.c_str());
    return 1;
  }
  double peerRate = static_cast<double>(lines) / peerSeconds;
  std::printf("peer:                %.2f s, %.0f lines/s (%s)\n", peerSeconds, peerRate, peer.c_str());
  std::printf("ratio ferrin/peer:   %.2f\n", ferrinRate / peerRate);
  return 0;
}
