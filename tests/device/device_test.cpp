// The real POSIX printer device: PDFs written through "Save as PDF" and
// through the queue of a private CUPS scheduler, read back with poppler's
// tools; the printer list with the scheduler up, down and silent.
#include <cups/cups.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "console/codepage.h"
#include "device/device.h"
#include "device/printers.h"
#include "files/errors.h"
#include "print/rawprint.h"

namespace {

std::string run(const std::string& command) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  pclose(pipe);
  return output;
}

bool haveTool(const std::string& tool) { return !run("command -v " + tool + " 2>/dev/null").empty(); }

void needTools(std::initializer_list<const char*> tools) {
  for (const char* tool : tools)
    ASSERT_TRUE(haveTool(tool)) << tool << " is missing: run scripts/install-deps.sh";
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> listFolder(const std::string& folder) {
  std::vector<std::string> names;
  std::istringstream in(run("ls -A '" + folder + "' 2>/dev/null"));
  for (std::string line; std::getline(in, line);) names.push_back(line);
  return names;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Points the CUPS client code of this thread at another scheduler.
void useScheduler(const std::string& socketPath) {
  setenv("CUPS_SERVER", socketPath.c_str(), 1);
  cupsSetServer(nullptr);
}

// A private working directory per test (the "printed" folder lands there).
class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("LC_ALL", "C", 1);  // A4 paper for "Save as PDF"
    char pattern[] = "/tmp/ferrin-device.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    chmod(pattern, 0755);  // the scheduler's filters run as another user
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    previousDir = cwd;
    ASSERT_EQ(chdir(dir.c_str()), 0);
    useScheduler(dir + "/no-scheduler.sock");
  }
  void TearDown() override {
    if (!previousDir.empty()) (void)!chdir(previousDir.c_str());
    if (!dir.empty() && getenv("KEEP_DEVICE_TEST") == nullptr) run("rm -rf '" + dir + "'");
  }
  std::string dir;
  std::string previousDir;
};

LogFont courier(int height) {
  LogFont lf;
  std::memset(&lf, 0, sizeof lf);
  lf.lfHeight = height;
  lf.lfWeight = 400;
  lf.lfCharSet = 1;
  std::strcpy(lf.lfFaceName, "Courier New");
  return lf;
}

struct PrintResult {
  int endDoc = -1;
  TextMetrics metrics{};
  int horzRes = 0;
  int vertRes = 0;
  int dpi = 0;
};

enum class Ending { EndDoc, AbortDoc };

struct PrintOptions {
  int fontHeight = -83;
  // AbortDoc leaves the last page open and throws the document away; endDoc
  // then holds AbortDoc's result.
  Ending ending = Ending::EndDoc;
  int codePage = 0;           // not 0: lines converted and drawn with TextOutW
  unsigned fileMode = 0777;   // not 0777: passed on before StartDoc
  std::string name;           // not empty: the saved PDF's name, passed on before StartDoc
};

// Prints pages of lines the way the printing layer does: settings read at
// open, ResetDC and a fresh font selection before every page, lines one
// cell height plus external leading apart.
PrintResult printPages(const std::string& printer, const std::vector<std::vector<std::string>>& pages,
                       const PrintOptions& options = PrintOptions()) {
  const int fontHeight = options.fontHeight;
  const Ending ending = options.ending;
  PrintResult result;
  PrinterHandle handle = nullptr;
  if (!deviceOpenPrinter(printer.c_str(), &handle)) return result;
  std::vector<unsigned char> settings(static_cast<size_t>(deviceDocumentProperties(handle, printer.c_str(), nullptr, 0)));
  EXPECT_GT(deviceDocumentProperties(handle, printer.c_str(), settings.data(), kDeviceDmOutBuffer), 0);
  deviceClosePrinter(handle);
  DeviceContext dc = deviceCreateDC(printer.c_str(), settings.data());
  EXPECT_NE(dc, nullptr);
  if (dc == nullptr) return result;
  if (options.fileMode != 0777) EXPECT_TRUE(deviceSetDocumentFileMode(dc, options.fileMode));
  if (!options.name.empty()) EXPECT_TRUE(deviceSetDocumentName(dc, options.name.c_str()));
  EXPECT_GT(deviceStartDoc(dc, "Print job"), 0);
  result.dpi = deviceGetDeviceCaps(dc, kDeviceLogPixelsY);
  result.horzRes = deviceGetDeviceCaps(dc, kDeviceHorzRes);
  result.vertRes = deviceGetDeviceCaps(dc, kDeviceVertRes);
  LogFont lf = courier(fontHeight);
  FontHandle font = deviceCreateFontIndirect(&lf);
  EXPECT_NE(font, nullptr);
  FontHandle initial = deviceSelectObject(dc, font);
  EXPECT_NE(initial, nullptr);
  EXPECT_TRUE(deviceGetTextMetrics(dc, &result.metrics));
  int pitch = result.metrics.tmHeight + result.metrics.tmExternalLeading;
  for (const auto& page : pages) {
    EXPECT_EQ(deviceResetDC(dc, settings.data()), dc);
    deviceSelectObject(dc, font);
    deviceSetTextColor(dc, 0);
    deviceSetBkColor(dc, 0xFFFFFF);
    deviceSetBkMode(dc, kDeviceTransparent);
    EXPECT_GT(deviceStartPage(dc), 0);
    EXPECT_NE(deviceSetTextAlign(dc, kDeviceTaUpdateCp), kDeviceAlignError);
    int y = 0;
    deviceMoveTo(dc, 0, 0);
    for (const std::string& line : page) {
      if (!line.empty()) {
        if (options.codePage != 0) {
          std::u16string wide;
          EXPECT_TRUE(codePageToUtf16(options.codePage, line, &wide));
          EXPECT_TRUE(deviceTextOutW(dc, 0, 0, wide.data(), static_cast<int>(wide.size())));
        } else {
          EXPECT_TRUE(deviceTextOut(dc, 0, 0, line.data(), static_cast<int>(line.size())));
        }
        int x = -1, cy = -1;
        EXPECT_TRUE(deviceGetCurrentPosition(dc, &x, &cy));
        EXPECT_EQ(cy, y);
      }
      y += pitch;
      deviceMoveTo(dc, 0, y);
    }
    if (ending == Ending::EndDoc || &page != &pages.back()) EXPECT_GT(deviceEndPage(dc), 0);
  }
  result.endDoc = ending == Ending::EndDoc ? deviceEndDoc(dc) : deviceAbortDoc(dc);
  deviceSelectObject(dc, initial);
  EXPECT_TRUE(deviceDeleteDC(dc));
  EXPECT_TRUE(deviceDeleteObject(font));
  return result;
}

std::vector<std::string> pdfsIn(const std::string& folder) {
  std::vector<std::string> pdfs;
  for (const std::string& name : listFolder(folder))
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".pdf") == 0) pdfs.push_back(folder + "/" + name);
  return pdfs;
}

std::string pdfInfo(const std::string& pdf, const std::string& field) {
  std::istringstream in(run("pdfinfo '" + pdf + "' 2>/dev/null"));
  for (std::string line; std::getline(in, line);) {
    if (line.compare(0, field.size() + 1, field + ":") == 0) {
      size_t start = line.find_first_not_of(' ', field.size() + 1);
      return start == std::string::npos ? "" : line.substr(start);
    }
  }
  return "";
}

// The top of each word's box (points) for the words of the first page.
std::vector<std::pair<std::string, double>> wordTops(const std::string& pdf) {
  std::vector<std::pair<std::string, double>> words;
  std::string html = run("pdftotext -f 1 -l 1 -bbox '" + pdf + "' - 2>/dev/null");
  std::regex word("<word xMin=\"[0-9.]+\" yMin=\"([0-9.]+)\"[^>]*>([^<]*)</word>");
  for (std::sregex_iterator it(html.begin(), html.end(), word), end; it != end; ++it)
    words.emplace_back((*it)[2].str(), std::stod((*it)[1].str()));
  return words;
}

const char kBoxLine[] = "\xDA\xC4\xC4\xBF total \xB3 12.50 \xB3";  // code page 437 box drawing

// --- a private CUPS scheduler -------------------------------------------

struct Scheduler {
  std::string dir;
  pid_t pid = -1;
};

std::string schedulerFailure;

bool startScheduler(const std::string& dir, Scheduler* s) {
  std::string cupsd = run("command -v cupsd || ls /usr/sbin/cupsd 2>/dev/null");
  if (cupsd.empty() || !haveTool("lpadmin")) {
    schedulerFailure = "cupsd or lpadmin is missing: run scripts/install-deps.sh";
    return false;
  }
  cupsd = cupsd.substr(0, cupsd.find('\n'));
  s->dir = dir;
  run("mkdir -p '" + dir + "'/spool '" + dir + "'/cache '" + dir + "'/state '" + dir + "'/log '" + dir +
      "'/temp '" + dir + "'/out && chown root:lp '" + dir + "/spool' 2>/dev/null; chmod 0710 '" + dir +
      "/spool'; chmod 0777 '" + dir + "/out'");
  std::ofstream(dir + "/cupsd.conf") << "Listen " << dir << "/cups.sock\nLogLevel warn\nPrintcap " << dir
                                     << "/printcap\nBrowsing Off\nWebInterface No\nDefaultAuthType None\n"
                                        "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                                        "<Location /admin>\n  Order allow,deny\n  Allow all\n</Location>\n"
                                        "<Policy default>\n  <Limit All>\n    Order deny,allow\n    Allow all\n"
                                        "  </Limit>\n</Policy>\n";
  std::ofstream(dir + "/cups-files.conf") << "ServerRoot " << dir << "\nRequestRoot " << dir << "/spool\nTempDir "
                                          << dir << "/temp\nCacheDir " << dir << "/cache\nStateDir " << dir
                                          << "/state\nAccessLog " << dir << "/log/access_log\nErrorLog " << dir
                                          << "/log/error_log\nPageLog " << dir
                                          << "/log/page_log\nFileDevice Yes\nSandboxing Relaxed\n";
  s->pid = fork();
  if (s->pid == 0) {
    std::string conf = dir + "/cupsd.conf", files = dir + "/cups-files.conf";
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    execl(cupsd.c_str(), "cupsd", "-f", "-c", conf.c_str(), "-s", files.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  useScheduler(dir + "/cups.sock");
  std::string env = "CUPS_SERVER='" + dir + "/cups.sock' ";
  for (int i = 0; i < 200; i++) {
    if (run(env + "lpstat -r 2>/dev/null").find("is running") != std::string::npos) return true;
    usleep(100000);
  }
  schedulerFailure = "the private CUPS scheduler did not start (see " + dir + "/log/error_log)";
  return false;
}

void stopScheduler(Scheduler* s) {
  if (s->pid > 0) {
    kill(s->pid, SIGTERM);
    waitpid(s->pid, nullptr, 0);
    s->pid = -1;
  }
}

bool addPdfQueue(const Scheduler& s, const std::string& queue) {
  std::string out = run("CUPS_SERVER='" + s.dir + "/cups.sock' lpadmin -p " + queue + " -E -v 'file://" + s.dir +
                        "/out/" + queue + ".pdf' -P /usr/share/ppd/cupsfilters/Generic-PDF_Printer-PDF.ppd"
                        " -o PageSize=A4 2>&1 && echo added");
  return out.find("added") != std::string::npos;
}

// Waits until the queue has no job left to do; the titles of its jobs.
std::vector<std::string> finishedJobTitles(const std::string& queue) {
  std::vector<std::string> titles;
  for (int i = 0; i < 600; i++) {
    cups_job_t* jobs = nullptr;
    int active = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, queue.c_str(), 0, CUPS_WHICHJOBS_ACTIVE);
    cupsFreeJobs(active, jobs);
    if (active == 0) break;
    usleep(100000);
  }
  cups_job_t* jobs = nullptr;
  int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, queue.c_str(), 0, CUPS_WHICHJOBS_ALL);
  for (int i = 0; i < count; i++) titles.push_back(jobs[i].title);
  cupsFreeJobs(count, jobs);
  return titles;
}

}  // namespace

TEST_F(DeviceTest, SaveAsPdfWritesOneTitledPdfWithPagesAndLinesInOrder) {
  needTools({"pdfinfo", "pdftotext"});
  std::string longLine(200, 'W');
  PrintResult r = printPages("Save as PDF", {{"first line", kBoxLine, "", "tab\there", longLine}, {"page two"}});
  EXPECT_GT(r.endDoc, 0);
  // 600 dots per inch, A4 less a quarter inch all round.
  EXPECT_EQ(r.dpi, 600);
  EXPECT_EQ(r.horzRes, 4961 - 300);
  EXPECT_EQ(r.vertRes, 7016 - 300);
  // Courier New 10 pt as Windows measures it.
  EXPECT_EQ(r.metrics.tmAscent, 69);
  EXPECT_EQ(r.metrics.tmDescent, 25);
  EXPECT_EQ(r.metrics.tmHeight, 94);
  EXPECT_EQ(r.metrics.tmExternalLeading, 0);

  std::vector<std::string> pdfs = pdfsIn("printed");
  ASSERT_EQ(pdfs.size(), 1u) << "expected one PDF in printed/";
  EXPECT_EQ(listFolder("printed").size(), 1u) << "scratch files left behind";
  EXPECT_EQ(pdfInfo(pdfs[0], "Title"), "Print job");
  EXPECT_EQ(pdfInfo(pdfs[0], "Pages"), "2");
  EXPECT_EQ(pdfInfo(pdfs[0], "Page size"), "595.276 x 841.89 pts (A4)");

  std::string text = run("pdftotext -fixed 6 '" + pdfs[0] + "' - 2>/dev/null");
  size_t first = text.find("first line");
  size_t box = text.find("\u250C\u2500\u2500\u2510 total \u2502 12.50 \u2502");
  size_t tab = text.find("tab\u25CBhere");  // the tab byte is drawn as its glyph, not expanded
  size_t feed = text.find('\f');
  size_t two = text.find("page two");
  ASSERT_NE(first, std::string::npos) << text;
  ASSERT_NE(box, std::string::npos) << text;
  ASSERT_NE(tab, std::string::npos) << text;
  ASSERT_NE(two, std::string::npos) << text;
  EXPECT_LT(first, box);
  EXPECT_LT(box, tab);
  EXPECT_LT(tab, feed);
  EXPECT_LT(feed, two);
  // The long line is cut at the right edge of the printable area: 4661 dots
  // hold 93 whole characters of 50 dots and part of one more.
  std::smatch ws;
  ASSERT_TRUE(std::regex_search(text, ws, std::regex("W+")));
  EXPECT_GE(ws.length(0), 93);
  EXPECT_LE(ws.length(0), 94);
}

// A form under two pages of an A4 document and of a receipt: the PDF holds
// the image once; on receipt paper it makes the receipt no longer than its
// text, and the text is drawn over it.
TEST_F(DeviceTest, ColourBitmapIsStoredOnceAndLengthensNoReceipt) {
  needTools({"pdfinfo", "pdfimages", "pdftotext"});
  std::vector<unsigned char> bits(200 * 1200 * 4, 0x80);
  const ColorBitmapInfo info = {200, 1200};
  for (bool roll : {false, true}) {
    DeviceContext dc = deviceCreateDC("Save as PDF", nullptr);
    ASSERT_NE(dc, nullptr);
    if (roll) ASSERT_TRUE(deviceSetRollPaper(dc, 8000, 7200));
    ASSERT_GT(deviceStartDoc(dc, "Print job"), 0);
    for (int page = 0; page < 2; ++page) {
      ASSERT_GT(deviceStartPage(dc), 0);
      // 200 x 1200 pixels as 400 x 2400 dots: 4 inches tall, from the paper's corner.
      EXPECT_EQ(deviceStretchColorBitmap(dc, -150, -150, 400, 2400, &info, bits.data()), 1200);
      EXPECT_TRUE(deviceTextOut(dc, 0, 0, "TOTAL", 5));
      ASSERT_GT(deviceEndPage(dc), 0);
    }
    ASSERT_GT(deviceEndDoc(dc), 0);
    deviceDeleteDC(dc);
  }
  std::vector<std::string> pdfs = pdfsIn("printed");
  ASSERT_EQ(pdfs.size(), 2u);
  for (const std::string& pdf : pdfs) {
    std::string images = run("pdfimages -list '" + pdf + "' | awk 'NR > 2 { print $1, $4, $5, $11 }'");
    std::istringstream lines(images);
    std::vector<std::string> list;
    for (std::string line; std::getline(lines, line);) list.push_back(line);
    ASSERT_EQ(list.size(), 2u) << images;
    EXPECT_EQ(list[0].substr(2), list[1].substr(2)) << "one image object for both pages: " << images;
    EXPECT_EQ(list[0].substr(0, 10), "1 200 1200") << images;
    EXPECT_EQ(run("pdftotext '" + pdf + "' - | grep -c TOTAL"), "2\n");
  }
  EXPECT_EQ(pdfInfo(pdfs[0], "Page size"), "595.276 x 841.89 pts (A4)");
  // The receipt: 80 mm wide, its length its one line and the white above
  // and below (well under the 4 inches of the form).
  std::string size = pdfInfo(pdfs[1], "Page size");
  double width = 0, height = 0;
  ASSERT_EQ(std::sscanf(size.c_str(), "%lf x %lf", &width, &height), 2) << size;
  EXPECT_NEAR(width, 226.77, 0.1);
  EXPECT_LT(height, 72.0) << size;
}

TEST_F(DeviceTest, LinePitchAndLeftEdgeFollowTheFontMetrics) {
  needTools({"pdftotext"});
  std::vector<std::string> lines;
  for (int i = 0; i < 50; i++) lines.push_back("line" + std::to_string(i));
  PrintResult r = printPages("Save as PDF", {lines});
  ASSERT_GT(r.endDoc, 0);
  std::vector<std::string> pdfs = pdfsIn("printed");
  ASSERT_EQ(pdfs.size(), 1u);
  auto words = wordTops(pdfs[0]);
  ASSERT_EQ(words.size(), 50u);
  const double pitch = 94 * 72.0 / 600;  // tmHeight in points
  for (size_t i = 0; i < words.size(); i++) {
    EXPECT_EQ(words[i].first, "line" + std::to_string(i));
    // No drift: line n lies exactly n pitches below line 0.
    EXPECT_NEAR(words[i].second - words[0].second, static_cast<double>(i) * pitch, 0.02) << "line " << i;
  }
  // The first line's top at the top of the printable area (a quarter inch).
  double topOfCell = words[0].second;
  EXPECT_NEAR(topOfCell, 18.0, 2.0);
}

TEST_F(DeviceTest, ASecondDocumentNeverOverwritesAnEarlierFile) {
  ASSERT_GT(printPages("Save as PDF", {{"document one"}}).endDoc, 0);
  std::vector<std::string> firstPdfs = pdfsIn("printed");
  ASSERT_EQ(firstPdfs.size(), 1u);
  std::string firstContent = readFile(firstPdfs[0]);
  // Files already holding the names this second and the next would get.
  std::vector<std::string> taken;
  for (int ahead = 0; ahead < 2; ahead++) {
    time_t t = time(nullptr) + ahead;
    struct tm local;
    localtime_r(&t, &local);
    char stamp[32];
    strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    for (int n = 1; n <= 3; n++) {
      char name[96];
      std::snprintf(name, sizeof name, "printed/print-%s-%03d.pdf", stamp, n);
      if (access(name, F_OK) == 0) continue;
      std::ofstream(name) << "keep me";
      taken.push_back(name);
    }
  }
  ASSERT_GT(printPages("Save as PDF", {{"document two"}}).endDoc, 0);
  ASSERT_GT(printPages("Save as PDF", {{"document three"}}).endDoc, 0);
  EXPECT_EQ(readFile(firstPdfs[0]), firstContent);
  for (const std::string& name : taken) EXPECT_EQ(readFile(name), "keep me") << name;
  int real = 0;
  for (const std::string& pdf : pdfsIn("printed"))
    if (readFile(pdf) != "keep me") real++;
  EXPECT_EQ(real, 3);
}

// Named PDFs (pdfname): folders made inside "printed", a taken name never
// overwritten but counted on, a name that would leave the folder refused, a
// linked folder not followed, and a saved PDF found again by its identity
// in the folders, as a restart after a crash looks for it.
TEST_F(DeviceTest, NamedPdfsGoIntoTheirFoldersNeverOverAnotherAndAreFoundAgain) {
  needTools({"pdftotext"});
  const long long since = static_cast<long long>(time(nullptr));
  PrintOptions counted;
  counted.name = std::string("2026-12/10-Total-") + kDeviceCounterMark;
  deviceSetNextDocumentIdentity("named-one");
  ASSERT_GT(printPages("Save as PDF", {{"first named"}}, counted).endDoc, 0);
  ASSERT_EQ(readFile("printed/2026-12/10-Total-001.pdf").compare(0, 5, "%PDF-"), 0) << run("find printed");
  std::ofstream("printed/2026-12/10-Total-002.pdf") << "keep me";
  deviceSetNextDocumentIdentity("named-two");
  ASSERT_GT(printPages("Save as PDF", {{"second named"}}, counted).endDoc, 0);
  EXPECT_EQ(readFile("printed/2026-12/10-Total-002.pdf"), "keep me");
  EXPECT_NE(run("pdftotext printed/2026-12/10-Total-003.pdf -").find("second named"), std::string::npos);

  // Without a counter in the name, a taken one gets -002.
  PrintOptions fixed;
  fixed.name = "a/b/c/report";
  ASSERT_GT(printPages("Save as PDF", {{"report one"}}, fixed).endDoc, 0);
  ASSERT_GT(printPages("Save as PDF", {{"report two"}}, fixed).endDoc, 0);
  EXPECT_NE(run("pdftotext printed/a/b/c/report.pdf -").find("report one"), std::string::npos);
  EXPECT_NE(run("pdftotext printed/a/b/c/report-002.pdf -").find("report two"), std::string::npos);
  // Folders made long ago: a PDF saved deep inside changes only the time of
  // its own folder, and is found all the same.
  for (const char* folder : {"printed/a", "printed/a/b", "printed/a/b/c"}) {
    struct timeval old[2] = {{since - 7200, 0}, {since - 7200, 0}};
    ASSERT_EQ(utimes(folder, old), 0);
  }
  deviceSetNextDocumentIdentity("named-deep");
  ASSERT_GT(printPages("Save as PDF", {{"report three"}}, fixed).endDoc, 0);
  EXPECT_EQ(deviceFindDocument("Save as PDF", "named-deep", since), kDeviceDocumentFinished);

  // Names that would leave the folder are refused at once.
  DeviceContext dc = deviceCreateDC("Save as PDF", nullptr);
  ASSERT_NE(dc, nullptr);
  for (const char* bad : {"../out", "a/../../out", "/tmp/out", "a//b", ""}) EXPECT_FALSE(deviceSetDocumentName(dc, bad)) << bad;
  EXPECT_TRUE(deviceDeleteDC(dc));
  // A folder that is a link elsewhere is not followed: the usual name.
  ASSERT_EQ(mkdir("outside", 0755), 0);
  ASSERT_EQ(symlink("../outside", "printed/linked"), 0);
  PrintOptions linked;
  linked.name = "linked/x";
  ASSERT_GT(printPages("Save as PDF", {{"not outside"}}, linked).endDoc, 0);
  EXPECT_TRUE(listFolder("outside").empty());
  ASSERT_EQ(pdfsIn("printed").size(), 1u) << run("ls -A printed");

  EXPECT_EQ(deviceFindDocument("Save as PDF", "named-one", since), kDeviceDocumentFinished);
  EXPECT_EQ(deviceFindDocument("Save as PDF", "named-two", since), kDeviceDocumentFinished);
  EXPECT_EQ(deviceFindDocument("Save as PDF", "named-three", since), kDeviceDocumentNotFound);
  // Saved before the hand-over began: not this one's.
  EXPECT_EQ(deviceFindDocument("Save as PDF", "named-one", since + 3600), kDeviceDocumentNotFound);
}

TEST_F(DeviceTest, EndDocFailsWhenThePdfCannotBeStored) {
  // A plain file where the folder should be: nothing can be stored, even by
  // root.
  std::ofstream("printed") << "not a folder";
  EXPECT_EQ(printPages("Save as PDF", {{"lost line"}}).endDoc, 0);
  EXPECT_EQ(readFile("printed"), "not a folder");
}

TEST_F(DeviceTest, ADocumentWithoutPagesWritesNoFile) {
  PrinterHandle handle = nullptr;
  ASSERT_TRUE(deviceOpenPrinter("Save as PDF", &handle));
  deviceClosePrinter(handle);
  DeviceContext dc = deviceCreateDC("Save as PDF", nullptr);
  ASSERT_NE(dc, nullptr);
  ASSERT_GT(deviceStartDoc(dc, "Print job"), 0);
  EXPECT_GT(deviceEndDoc(dc), 0);
  EXPECT_TRUE(deviceDeleteDC(dc));
  EXPECT_TRUE(pdfsIn("printed").empty());
}

TEST_F(DeviceTest, FontHeightsFollowWindowsRules) {
  // Negative: character height; positive: cell height.
  LogFont byEm = courier(-83), byCell = courier(94);
  FontHandle a = deviceCreateFontIndirect(&byEm), b = deviceCreateFontIndirect(&byCell);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  DeviceContext dc = deviceCreateDC("Save as PDF", nullptr);
  ASSERT_NE(dc, nullptr);
  TextMetrics ma{}, mb{};
  FontHandle initial = deviceSelectObject(dc, a);
  ASSERT_TRUE(deviceGetTextMetrics(dc, &ma));
  deviceSelectObject(dc, b);
  ASSERT_TRUE(deviceGetTextMetrics(dc, &mb));
  EXPECT_EQ(ma.tmHeight, 94);
  EXPECT_EQ(mb.tmHeight, 94);
  // The current position advances by the text's width: 5 cells of 50 dots.
  ASSERT_GT(deviceStartDoc(dc, "Print job"), 0);
  ASSERT_GT(deviceStartPage(dc), 0);
  deviceSetTextAlign(dc, kDeviceTaUpdateCp);
  deviceMoveTo(dc, 10, 20);
  ASSERT_TRUE(deviceTextOut(dc, 0, 0, "\t\x01\x0C\r\n", 5));
  int x = 0, y = 0;
  deviceGetCurrentPosition(dc, &x, &y);
  EXPECT_EQ(x, 10 + 5 * 50);
  EXPECT_EQ(y, 20);
  deviceEndPage(dc);
  deviceEndDoc(dc);
  deviceSelectObject(dc, initial);
  deviceDeleteDC(dc);
  deviceDeleteObject(a);
  deviceDeleteObject(b);
}

TEST_F(DeviceTest, UnknownPrinterFailsFastWithoutAScheduler) {
  auto start = std::chrono::steady_clock::now();
  PrinterHandle handle = reinterpret_cast<PrinterHandle>(1);
  EXPECT_FALSE(deviceOpenPrinter("NoSuchPrinter", &handle));
  EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(deviceCreateDC("NoSuchPrinter", nullptr), nullptr);
  EXPECT_LT(secondsSince(start), 2.0);
  // Only the built-in printer is listed, at once.
  start = std::chrono::steady_clock::now();
  std::vector<PrinterEntry> printers = enumeratePrinters(6);
  EXPECT_LT(secondsSince(start), 2.0);
  ASSERT_EQ(printers.size(), 1u);
  EXPECT_EQ(printers[0].name, "Save as PDF");
  EXPECT_EQ(printers[0].port, "printed/");
}

TEST_F(DeviceTest, ASilentSchedulerDoesNotHoldUpTheListOrThePrinter) {
  // Accepts connections (the backlog does) and never answers.
  int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::string path = dir + "/silent.sock";
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 16), 0);
  useScheduler(path);
  auto start = std::chrono::steady_clock::now();
  std::vector<PrinterEntry> printers = enumeratePrinters(6);
  double listSeconds = secondsSince(start);
  start = std::chrono::steady_clock::now();
  PrinterHandle handle = nullptr;
  EXPECT_FALSE(deviceOpenPrinter("Receipt", &handle));
  double openSeconds = secondsSince(start);
  close(listener);
  ASSERT_EQ(printers.size(), 1u);
  EXPECT_EQ(printers[0].name, "Save as PDF");
  EXPECT_LT(listSeconds, 5.0) << "list";
  EXPECT_LT(openSeconds, 5.0) << "open";
}

TEST_F(DeviceTest, CupsQueueGetsOneJobNamedPrintJob) {
  needTools({"pdfinfo", "pdftotext"});
  Scheduler scheduler;
  ASSERT_TRUE(startScheduler(dir + "/cups", &scheduler)) << schedulerFailure;
  struct Stop {
    Scheduler* s;
    ~Stop() { stopScheduler(s); }
  } stop{&scheduler};
  ASSERT_TRUE(addPdfQueue(scheduler, "Receipt")) << "could not add a PDF queue (cups-filters missing?)";
  ASSERT_TRUE(addPdfQueue(scheduler, "Office"));

  // The list: "Save as PDF" first, then the queues with their device URIs.
  std::vector<PrinterEntry> printers = enumeratePrinters(6);
  ASSERT_EQ(printers.size(), 3u);
  EXPECT_EQ(printers[0].name, "Save as PDF");
  EXPECT_EQ(printers[1].name, "Office");
  EXPECT_EQ(printers[1].port, "file://" + scheduler.dir + "/out/Office.pdf");
  EXPECT_EQ(printers[2].name, "Receipt");
  EXPECT_EQ(printers[2].port, "file://" + scheduler.dir + "/out/Receipt.pdf");

  auto start = std::chrono::steady_clock::now();
  PrinterHandle handle = nullptr;
  EXPECT_FALSE(deviceOpenPrinter("NoSuchQueue", &handle));
  EXPECT_LT(secondsSince(start), 2.0);

  PrintResult r = printPages("Receipt", {{"receipt line one", kBoxLine}, {"second page"}});
  EXPECT_GT(r.endDoc, 0);
  EXPECT_EQ(r.dpi, 600);
  // The queue's A4 paper less the border its driver declares.
  EXPECT_NEAR(r.horzRes, 4961 - 150 - 150, 5);
  EXPECT_NEAR(r.vertRes, 7016 - 300 - 300, 5);
  std::vector<std::string> titles = finishedJobTitles("Receipt");
  ASSERT_EQ(titles.size(), 1u);
  EXPECT_EQ(titles[0], "Print job");
  EXPECT_TRUE(pdfsIn("printed").empty()) << "a CUPS job must not also go to printed/";

  std::string pdf = scheduler.dir + "/out/Receipt.pdf";
  for (int i = 0; i < 100 && access(pdf.c_str(), R_OK) != 0; i++) usleep(100000);
  EXPECT_EQ(pdfInfo(pdf, "Pages"), "2");
  std::string text = run("pdftotext -layout '" + pdf + "' - 2>/dev/null");
  size_t one = text.find("receipt line one"), box = text.find("\u250C\u2500\u2500\u2510"),
         feed = text.find('\f'), two = text.find("second page");
  ASSERT_NE(one, std::string::npos) << text;
  ASSERT_NE(box, std::string::npos) << text;
  ASSERT_NE(two, std::string::npos) << text;
  EXPECT_LT(one, box);
  EXPECT_LT(box, feed);
  EXPECT_LT(feed, two);

  // A stopped scheduler: the list falls back to "Save as PDF" at once, and a
  // document for the queue is not reported as handed over.
  ASSERT_TRUE(deviceOpenPrinter("Receipt", &handle));
  std::vector<unsigned char> settings(static_cast<size_t>(deviceDocumentProperties(handle, "Receipt", nullptr, 0)));
  ASSERT_GT(deviceDocumentProperties(handle, "Receipt", settings.data(), kDeviceDmOutBuffer), 0);
  deviceClosePrinter(handle);
  stopScheduler(&scheduler);
  DeviceContext dc = deviceCreateDC("Receipt", settings.data());
  ASSERT_NE(dc, nullptr);
  ASSERT_GT(deviceStartDoc(dc, "Print job"), 0);
  ASSERT_GT(deviceStartPage(dc), 0);
  EXPECT_TRUE(deviceTextOut(dc, 0, 0, "lost", 4));
  EXPECT_GT(deviceEndPage(dc), 0);
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(deviceEndDoc(dc), 0);
  EXPECT_LT(secondsSince(start), 5.0);
  deviceDeleteDC(dc);
  start = std::chrono::steady_clock::now();
  printers = enumeratePrinters(6);
  EXPECT_LT(secondsSince(start), 2.0);
  ASSERT_EQ(printers.size(), 1u);
  EXPECT_EQ(printers[0].name, "Save as PDF");
}

TEST_F(DeviceTest, AbandonedDocumentLeavesNoFileAndNoJob) {
  // Save as PDF, with the scratch file in the folder and, when the folder
  // cannot be written, in the temporary folder: neither keeps anything.
  std::string tmp = dir + "/tmp";
  ASSERT_EQ(mkdir(tmp.c_str(), 0700), 0);
  setenv("TMPDIR", tmp.c_str(), 1);
  const std::vector<std::vector<std::string>> pages = {{"page one", kBoxLine}, {"page two, still open"}};
  PrintOptions aborted;
  aborted.ending = Ending::AbortDoc;
  EXPECT_GT(printPages("Save as PDF", pages, aborted).endDoc, 0);
  EXPECT_TRUE(listFolder("printed").empty()) << "left in printed/: " << run("ls -A printed");
  EXPECT_TRUE(listFolder(tmp).empty());
  // A plain file where the folder should be sends the scratch file to TMPDIR.
  ASSERT_EQ(rmdir("printed"), 0);
  std::ofstream("printed") << "not a folder";
  EXPECT_GT(printPages("Save as PDF", pages, aborted).endDoc, 0);
  EXPECT_TRUE(listFolder(tmp).empty());
  EXPECT_EQ(readFile("printed"), "not a folder");

  // A CUPS queue gets no job for it; the document after it is the queue's
  // only job.
  needTools({"pdftotext"});
  Scheduler scheduler;
  ASSERT_TRUE(startScheduler(dir + "/cups", &scheduler)) << schedulerFailure;
  struct Stop {
    Scheduler* s;
    ~Stop() { stopScheduler(s); }
  } stop{&scheduler};
  ASSERT_TRUE(addPdfQueue(scheduler, "Receipt")) << "could not add a PDF queue (cups-filters missing?)";
  EXPECT_GT(printPages("Receipt", pages, aborted).endDoc, 0);
  EXPECT_TRUE(finishedJobTitles("Receipt").empty());
  EXPECT_GT(printPages("Receipt", {{"handed over"}}).endDoc, 0);
  EXPECT_EQ(finishedJobTitles("Receipt").size(), 1u);
  std::string pdf = scheduler.dir + "/out/Receipt.pdf";
  for (int i = 0; i < 100 && access(pdf.c_str(), R_OK) != 0; i++) usleep(100000);
  std::string text = run("pdftotext '" + pdf + "' - 2>/dev/null");
  EXPECT_NE(text.find("handed over"), std::string::npos) << text;
  EXPECT_EQ(text.find("page one"), std::string::npos) << text;
  EXPECT_TRUE(listFolder(tmp).empty());
  unsetenv("TMPDIR");
}

TEST_F(DeviceTest, WideTextInCodePagesComesBackAsItsCharacters) {
  needTools({"pdftotext"});
  // Code page 437 box drawing and blocks on one page, Czech letters of code
  // page 852 with the same font on the next: the characters, and the same
  // 50-dot advance as the byte path, so columns still line up.
  PrintOptions cp437, cp852;
  cp437.codePage = 437;
  cp852.codePage = 852;
  ASSERT_GT(printPages("Save as PDF", {{"\xDA\xC4\xBF \xB3 \xC0\xC4\xD9 \xDB\xB2", "12345678901|"}}, cp437).endDoc, 0);
  ASSERT_GT(printPages("Save as PDF", {{"\x9F\xD8\xFD\xE7\xA7\x85|", "123456|"}}, cp852).endDoc, 0);
  std::vector<std::string> pdfs = pdfsIn("printed");
  ASSERT_EQ(pdfs.size(), 2u);
  std::sort(pdfs.begin(), pdfs.end());
  std::string boxes = run("pdftotext -fixed 6 '" + pdfs[0] + "' - 2>/dev/null");
  std::string czech = run("pdftotext -fixed 6 '" + pdfs[1] + "' - 2>/dev/null");
  EXPECT_NE(boxes.find("\u250C\u2500\u2510 \u2502 \u2514\u2500\u2518 \u2588\u2593\n"), std::string::npos) << boxes;
  EXPECT_NE(czech.find("\u010D\u011B\u0159\u0161\u017E\u016F|\n"), std::string::npos) << czech;
  // Columns: the bar after six wide characters sits where the bar after six
  // digits does.
  std::string html = run("pdftotext -bbox '" + pdfs[1] + "' - 2>/dev/null");
  std::regex right("xMax=\"([0-9.]+)\"[^>]*>([^<]*)</word>");
  std::vector<double> ends;
  for (std::sregex_iterator it(html.begin(), html.end(), right), end; it != end; ++it)
    ends.push_back(std::stod((*it)[1].str()));
  ASSERT_EQ(ends.size(), 2u) << html;
  EXPECT_NEAR(ends[0], ends[1], 0.05) << html;
}

TEST_F(DeviceTest, SavedPdfHasNoWiderModeThanThePrintoutsSource) {
  // The usual mode is 0666 less the umask the process started with (0644
  // under 022); from here on the umask would allow anything.
  const mode_t processMask = umask(0);
  struct RestoreMask {
    mode_t mask;
    ~RestoreMask() { umask(mask); }
  } restore{processMask};
  const mode_t usual = 0666 & ~processMask;
  auto modeOfOnlyPdf = [](mode_t* mode) {
    std::vector<std::string> pdfs = pdfsIn("printed");
    struct stat st;
    bool one = pdfs.size() == 1u && stat(pdfs[0].c_str(), &st) == 0;
    *mode = one ? (st.st_mode & 07777) : 0;
    if (one) unlink(pdfs[0].c_str());
    return one;
  };
  const struct {
    unsigned fileMode;
    mode_t expected;
  } cases[] = {{0640, 0640 & usual}, {0666, usual}, {0777, usual}, {0604, 0604 & usual}, {0, 0}};
  for (const auto& c : cases) {
    PrintOptions options;
    options.fileMode = c.fileMode;
    ASSERT_GT(printPages("Save as PDF", {{"private"}}, options).endDoc, 0) << std::oct << c.fileMode;
    mode_t mode = 0;
    ASSERT_TRUE(modeOfOnlyPdf(&mode)) << std::oct << c.fileMode;
    EXPECT_EQ(mode, c.expected) << std::oct << c.fileMode;
  }

  // A document laid out in the temporary folder (no "printed" folder could
  // be made at StartDoc) and copied in at EndDoc gets the same mode.
  std::ofstream("printed.tmp") << "in the way";
  ASSERT_EQ(rename("printed", "printed.away"), 0);
  ASSERT_EQ(rename("printed.tmp", "printed"), 0);
  DeviceContext dc = deviceCreateDC("Save as PDF", nullptr);
  ASSERT_NE(dc, nullptr);
  EXPECT_TRUE(deviceSetDocumentFileMode(dc, 0600));
  ASSERT_GT(deviceStartDoc(dc, "Print job"), 0);
  ASSERT_GT(deviceStartPage(dc), 0);
  EXPECT_TRUE(deviceTextOut(dc, 0, 0, "copied", 6));
  ASSERT_EQ(unlink("printed"), 0);
  ASSERT_EQ(rename("printed.away", "printed"), 0);
  EXPECT_GT(deviceEndDoc(dc), 0);
  deviceDeleteDC(dc);
  mode_t mode = 0;
  ASSERT_TRUE(modeOfOnlyPdf(&mode));
  EXPECT_EQ(mode, 0600 & usual);
  EXPECT_TRUE(listFolder("printed").empty()) << "scratch files left behind";
}

namespace {

// A network printer on a loopback port that keeps every byte each
// connection brings, as a receipt printer on port 9100 would print them.
struct LoopbackPrinter {
  int listener = -1;
  int port = 0;
  std::mutex mutex;
  std::vector<std::string> received;  // one entry per connection, under the mutex
  std::thread thread;
  std::atomic<bool> stop{false};
};

std::vector<std::string> receivedSoFar(LoopbackPrinter* p) {
  std::lock_guard<std::mutex> guard(p->mutex);
  return p->received;
}

bool startLoopbackPrinter(LoopbackPrinter* p) {
  p->listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (p->listener < 0 || bind(p->listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(p->listener, 4) != 0 || getsockname(p->listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    return false;
  p->port = ntohs(address.sin_port);
  p->thread = std::thread([p] {
    while (!p->stop) {
      pollfd ready{p->listener, POLLIN, 0};
      if (poll(&ready, 1, 100) <= 0) continue;
      int connection = accept(p->listener, nullptr, nullptr);
      if (connection < 0) continue;
      std::string bytes;
      char buffer[65536];
      ssize_t n;
      while ((n = read(connection, buffer, sizeof buffer)) > 0) bytes.append(buffer, static_cast<size_t>(n));
      close(connection);
      std::lock_guard<std::mutex> guard(p->mutex);
      p->received.push_back(bytes);
    }
  });
  return true;
}

void stopLoopbackPrinter(LoopbackPrinter* p) {
  p->stop = true;
  if (p->thread.joinable()) p->thread.join();
  if (p->listener >= 0) close(p->listener);
}

}  // namespace

TEST_F(DeviceTest, RawDocumentReachesANetworkPrinterByteForByte) {
  std::string ticket = "\x1B@\x1B!\x08TOTAL 12.50\n\x1DV\x00";
  for (int i = 0; i < 256; i++) ticket += static_cast<char>(i);
  for (int i = 0; i < 200000; i++) ticket += static_cast<char>((i * 131) ^ (i >> 9));

  // "Save as PDF" takes no raw data: 73, and nothing is stored.
  printRawDocument("Save as PDF", ticket);
  EXPECT_EQ(lastError(), kPrinterRawRefused);
  EXPECT_TRUE(listFolder("printed").empty());
  clearError();

  LoopbackPrinter printer;
  ASSERT_TRUE(startLoopbackPrinter(&printer));
  struct StopPrinter {
    LoopbackPrinter* p;
    ~StopPrinter() { stopLoopbackPrinter(p); }
  } stopPrinter{&printer};
  Scheduler scheduler;
  ASSERT_TRUE(startScheduler(dir + "/cups", &scheduler)) << schedulerFailure;
  struct Stop {
    Scheduler* s;
    ~Stop() { stopScheduler(s); }
  } stop{&scheduler};
  std::string added = run("CUPS_SERVER='" + scheduler.dir + "/cups.sock' lpadmin -p Ticket -E -v socket://127.0.0.1:" +
                          std::to_string(printer.port) + " -m raw 2>&1 && echo added");
  ASSERT_NE(added.find("added"), std::string::npos) << added;

  printRawDocument("Ticket", ticket);
  EXPECT_EQ(lastError(), 0);
  EXPECT_EQ(finishedJobTitles("Ticket"), std::vector<std::string>{"Print job"});
  for (int i = 0; i < 100 && receivedSoFar(&printer).empty(); i++) usleep(100000);
  stopLoopbackPrinter(&printer);
  std::vector<std::string> received = receivedSoFar(&printer);
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].size(), ticket.size());
  EXPECT_TRUE(received[0] == ticket) << "the bytes arrived changed";
}
