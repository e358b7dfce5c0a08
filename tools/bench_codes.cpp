// The cost of codes on receipts: a run of receipts (items, a total, a
// thank-you line, the cut) printed through controls=escpos into "Save as
// PDF", then the same receipts each with ten codes besides (EAN-13, UPC-A,
// EAN-8, CODE39, ITF, CODABAR, CODE93, CODE128, a QR code and a PDF417
// code); prints both times, their ratio (the target: under 2) and the peak
// memory. Then the same receipts in Star Line Mode through controls=star,
// without codes and with the nine codes Star's commands have (all but
// PDF417), against ESC/POS with the same nine: the ratios (the target: no
// more than 1, Star no slower than ESC/POS). Each is printed three times,
// in turn, and the fastest run counts: the machine's other work only ever
// adds time.
//
//   bench_codes [receipts]     (default 200)
//
// Runs in the working directory; the PDFs land in ./printed (fifteen of them).
#include <sys/resource.h>

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

std::string barCode(int m, const std::string& data) {
  return std::string("\x1dk") + static_cast<char>(m) + static_cast<char>(data.size()) + data;
}

std::string symbol(int cn, int fn, const std::string& data) {
  const std::size_t length = data.size() + 2;
  return std::string("\x1d(k") + static_cast<char>(length & 0xFF) + static_cast<char>(length >> 8) +
         static_cast<char>(cn) + static_cast<char>(fn) + data;
}

// Receipt n, with or without its codes (PDF417 among them or not).
std::string makeReceipt(long n, bool codes, bool pdf417 = true) {
  std::string r = "\x1b@\x1b" "a\x01\x1d!\x11SHOP\x1d!";
  r += std::string(1, '\0') + "\n\x1b" "a" + std::string(1, '\0');
  for (int item = 0; item < 20; ++item) {
    char line[64];
    std::snprintf(line, sizeof line, "Item %02d  Widget %05ld      %8.2f\n", item, n, (item + 1) * 1.25);
    r += line;
  }
  r += "\x1b" "E\x01TOTAL          262.50\x1b" "E" + std::string(1, '\0') + "\n";
  if (codes) {
    const std::string number = std::to_string(100000 + n % 900000);
    r += "\x1b" "a\x01\x1dH\x02\x1dh\x50\x1dw\x02";
    r += barCode(67, "400638" + number);           // EAN-13, the check digit added
    r += barCode(65, "01234" + number);            // UPC-A
    r += barCode(68, "9" + number);                // EAN-8
    r += barCode(69, "R-" + number);               // CODE39
    r += barCode(70, "00" + number);               // ITF
    r += barCode(71, "A" + number + "B");          // CODABAR
    r += barCode(72, "TILL 3 " + number);          // CODE93
    r += barCode(73, "{BReceipt " + number);       // CODE128
    r += symbol(49, 67, "\x04") + symbol(49, 80, "0https://shop.example/r/" + number) + symbol(49, 81, "0");
    if (pdf417)
      r += symbol(48, 67, "\x02") + symbol(48, 80, "0RECEIPT " + number + " TOTAL 262.50") + symbol(48, 81, "0");
  }
  r += "Thank you\n\x1d" "VA" + std::string(1, '\0');
  return r;
}

std::string starBarCode(int type, const std::string& data) {
  return std::string("\x1b" "b") + static_cast<char>(type) + "\x02\x01\x50" + data + "\x1e";
}

// The same receipt n in Star Line Mode, its codes the nine Star has.
std::string makeStarReceipt(long n, bool codes) {
  std::string r = "\x1b@\x1b\x1d" "a\x01\x1bi\x01\x01SHOP\x1bi";
  r += std::string(2, '\0') + "\n\x1b\x1d" "a" + std::string(1, '\0');
  for (int item = 0; item < 20; ++item) {
    char line[64];
    std::snprintf(line, sizeof line, "Item %02d  Widget %05ld      %8.2f\n", item, n, (item + 1) * 1.25);
    r += line;
  }
  r += "\x1b" "ETOTAL          262.50\x1b" "F\n";
  if (codes) {
    const std::string number = std::to_string(100000 + n % 900000);
    r += "\x1b\x1d" "a\x01";
    r += starBarCode(3, "400638" + number);  // EAN-13
    r += starBarCode(1, "01234" + number);   // UPC-A
    r += starBarCode(2, "9" + number);       // EAN-8
    r += starBarCode(4, "R-" + number);      // CODE39
    r += starBarCode(5, "00" + number);      // ITF
    r += starBarCode(8, "A" + number + "B"); // NW-7
    r += starBarCode(7, "TILL 3 " + number); // CODE93
    r += starBarCode(6, "Receipt " + number);  // CODE128
    const std::string url = "https://shop.example/r/" + number;
    r += std::string("\x1b\x1dyS2\x04\x1b\x1dyD1") + '\0' + static_cast<char>(url.size()) + '\0' + url +
         "\x1b\x1dyP";
  }
  r += "Thank you\n\x1b" "d0";
  return r;
}

double printReceipts(const char* file, ControlCodes controls, bool* ok) {
  auto start = std::chrono::steady_clock::now();
  clearError();
  openSpoolFile(file);
  JobOptions options;
  options.codePage = 437;
  options.receiptPaperMm = 80;
  attachPrinter("Save as PDF", options);
  PrintLayout layout;
  layout.controls = controls;
  layout.codePage = 437;
  int printError = 0;
  int readError = printSpoolLines(layout, &printError);
  closeSpoolFile();
  clearError();
  detachPrinter();
  *ok = readError == 0 && printError == 0 && lastError() == 0;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The fastest of three runs of each file, printed in turn, each round
// starting at another file: a file printed later in a round would pay for
// the PDFs saved before it.
struct Timed {
  const char* file;
  ControlCodes controls;
  double seconds = 0;
  bool ok = true;
};

void timeRuns(std::vector<Timed>& runs) {
  for (int run = 0; run < 3; ++run) {
    for (std::size_t i = 0; i < runs.size(); ++i) {
      Timed& t = runs[(i + static_cast<std::size_t>(run) * 2) % runs.size()];
      bool ok = false;
      const double seconds = printReceipts(t.file, t.controls, &ok);
      t.ok = t.ok && ok;
      t.seconds = run == 0 ? seconds : std::min(t.seconds, seconds);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const long receipts = argc > 1 ? std::atol(argv[1]) : 200;
  if (receipts <= 0) {
    std::fprintf(stderr, "usage: bench_codes [receipts]\n");
    return 2;
  }
  std::vector<Timed> runs = {{"bench-plain.prn", kControlsEscPos}, {"bench-codes.prn", kControlsEscPos},
                             {"bench-nine.prn", kControlsEscPos},  {"bench-star-plain.prn", kControlsStar},
                             {"bench-star-nine.prn", kControlsStar}};
  {
    std::ofstream plain(runs[0].file, std::ios::binary), codes(runs[1].file, std::ios::binary),
        nine(runs[2].file, std::ios::binary), starPlain(runs[3].file, std::ios::binary),
        starNine(runs[4].file, std::ios::binary);
    for (long n = 0; n < receipts; ++n) {
      plain << makeReceipt(n, false);
      codes << makeReceipt(n, true);
      nine << makeReceipt(n, true, false);
      starPlain << makeStarReceipt(n, false);
      starNine << makeStarReceipt(n, true);
    }
  }
  if (std::freopen("/dev/null", "w", stderr) == nullptr) return 1;  // the echo
  timeRuns(runs);
  bool ok = true;
  for (const Timed& t : runs) {
    ok = ok && t.ok;
    std::remove(t.file);
  }
  if (!ok) {
    std::printf("ferrin could not print the receipts into \"Save as PDF\"\n");
    return 1;
  }
  const double n = static_cast<double>(receipts);
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  std::printf("receipts:            %ld\n", receipts);
  std::printf("without codes:       %.2f s, %.1f ms a receipt\n", runs[0].seconds, runs[0].seconds * 1000 / n);
  std::printf("with ten codes:      %.2f s, %.1f ms a receipt\n", runs[1].seconds, runs[1].seconds * 1000 / n);
  std::printf("ratio:               %.2f (target: under 2)\n", runs[1].seconds / runs[0].seconds);
  std::printf("Star, no codes:      %.2f s, %.2f of ESC/POS (target: at most 1)\n", runs[3].seconds,
              runs[3].seconds / runs[0].seconds);
  std::printf("Star, nine codes:    %.2f s, %.2f of ESC/POS with the same nine (target: at most 1)\n",
              runs[4].seconds, runs[4].seconds / runs[2].seconds);
  std::printf("peak memory:         %.1f MB (ru_maxrss)\n", static_cast<double>(usage.ru_maxrss) / 1024.0);
  return 0;
}
