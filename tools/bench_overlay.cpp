// The cost of a form (overlay): an A4 form at 300 dpi (2480 x 3508 pixels,
// boxes and ruled lines, written as a PNG by cairo, so without a resolution
// of its own: 300 dpi), decoded once and again from memory, then reports of
// 1 and of N pages (60 lines a page) printed into "Save as PDF" with and
// without the form. Prints the decode times, the cost of the form on the
// first page (where the PDF stores the image) and per page after it, and the
// PDFs' sizes.
//
//   bench_overlay [pages]     (default 50)
//
// Runs in the working directory; the PDFs land in ./printed.
#include <cairo.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "console/console.h"
#include "files/errors.h"
#include "files/spoolfile.h"
#include "print/overlay.h"
#include "print/printer.h"
#include "spool/printout.h"

namespace {

double seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A form: a frame, a header box, and ruled lines with columns.
bool writeForm(const char* path) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 2480, 3508);
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
  cairo_set_line_width(cr, 4);
  cairo_rectangle(cr, 120, 120, 2240, 3268);
  cairo_rectangle(cr, 120, 120, 2240, 400);
  cairo_stroke(cr);
  cairo_set_line_width(cr, 2);
  for (int y = 600; y < 3300; y += 60) {
    cairo_move_to(cr, 120, y);
    cairo_line_to(cr, 2360, y);
  }
  for (int x : {400, 1600, 2000}) {
    cairo_move_to(cr, x, 520);
    cairo_line_to(cr, x, 3388);
  }
  cairo_stroke(cr);
  cairo_set_source_rgb(cr, 0.85, 0.85, 0.85);
  cairo_rectangle(cr, 124, 124, 2232, 392);
  cairo_fill(cr);
  cairo_destroy(cr);
  bool ok = cairo_surface_write_to_png(surface, path) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(surface);
  return ok;
}

void writeReport(const char* path, int pages) {
  std::ofstream out(path, std::ios::binary);
  for (int p = 0; p < pages; ++p)
    for (int n = 0; n < 60; ++n) {
      out << "Invoice line " << p * 60 + n << "   Widget, blue   " << (p * 60 + n) * 37 % 10000 << ".00";
      out << (n == 59 && p + 1 < pages ? "\f\r\n" : "\r\n");
    }
}

// Seconds to print the report, with the form or without.
double printReport(const char* report, const OverlayChoice& overlay) {
  auto start = std::chrono::steady_clock::now();
  clearError();
  openSpoolFile(report);
  JobOptions options;
  options.overlay = overlay;
  attachPrinter("Save as PDF", options);
  PrintLayout layout;
  layout.fontname = "Courier New";
  layout.fontsize = 10;
  selectFont(layout.fontname, layout.fontsize);
  int printError = 0;
  std::string echo;
  captureConsole(nullptr, &echo);
  int readError = printSpoolLines(layout, &printError);
  captureConsole(nullptr, nullptr);
  closeSpoolFile();
  clearError();
  detachPrinter();
  if (readError != 0 || printError != 0 || lastError() != 0) {
    std::fprintf(stderr, "printing failed\n");
    std::exit(1);
  }
  return seconds(start);
}

// The best of three runs.
double bestOf(const char* report, const OverlayChoice& overlay) {
  double best = 1e9;
  for (int i = 0; i < 3; ++i) best = std::min(best, printReport(report, overlay));
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  int pages = argc > 1 ? std::atoi(argv[1]) : 50;
  if (pages < 2) pages = 2;
  if (!writeForm("form.png")) return 1;
  std::string why;
  auto start = std::chrono::steady_clock::now();
  OverlayChoice form;
  form.image = loadOverlay("form.png", &why);
  double decode = seconds(start);
  if (form.image == nullptr) {
    std::fprintf(stderr, "the form cannot be used: %s\n", why.c_str());
    return 1;
  }
  start = std::chrono::steady_clock::now();
  loadOverlay("form.png", &why);
  double kept = seconds(start);
  writeReport("one.txt", 1);
  writeReport("many.txt", pages);
  OverlayChoice none;
  double plainOne = bestOf("one.txt", none), plainMany = bestOf("many.txt", none);
  double formOne = bestOf("one.txt", form), formMany = bestOf("many.txt", form);
  std::printf("form: %d x %d pixels at %.0f dpi\n", form.image->width, form.image->height, form.image->dpiX);
  std::printf("decoding the form: %.1f ms; taking it again unchanged: %.3f ms\n", decode * 1e3, kept * 1e3);
  std::printf("1 page: %.1f ms without the form, %.1f ms with it\n", plainOne * 1e3, formOne * 1e3);
  std::printf("%d pages: %.1f ms without the form, %.1f ms with it\n", pages, plainMany * 1e3, formMany * 1e3);
  std::printf("the form on the first page: %.1f ms\n", (formOne - plainOne) * 1e3);
  std::printf("the form per page after the first: %.2f ms\n",
              ((formMany - formOne) - (plainMany - plainOne)) * 1e3 / (pages - 1));
  return 0;
}
