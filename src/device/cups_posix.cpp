#include "device/cups_posix.h"

#include <cups/cups.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <mutex>

namespace {

// The job attribute that carries a printout's identity. The scheduler keeps
// an attribute it does not know with the job and reports it when asked.
const char kIdentityAttribute[] = "ferrin-printout";

// Called by libcups when a wait for the scheduler has run out: giving up
// makes the call in progress fail instead of waiting again.
int giveUpWaiting(http_t*, void*) { return 0; }

// A fresh connection to the scheduler the environment names (CUPS_SERVER,
// client.conf, or the local default), bounded as described above.
http_t* connectScheduler(int waitMs) {
  http_t* http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                              kCupsConnectTimeoutMs, nullptr);
  if (http != nullptr) httpSetTimeout(http, waitMs / 1000.0, giveUpWaiting, nullptr);
  return http;
}

bool requestSucceeded() { return cupsLastError() <= IPP_STATUS_OK_EVENTS_COMPLETE; }

void fallbackMedia(CupsMedia* media) {
  // A4 with a quarter-inch border.
  media->width = 21000;
  media->length = 29700;
  media->left = media->top = media->right = media->bottom = 635;
}

}  // namespace

bool listCupsQueues(std::vector<CupsQueue>* queues) {
  queues->clear();
  http_t* http = connectScheduler(kCupsQueryTimeoutMs);
  if (http == nullptr) return false;
  // One CUPS-Get-Printers request: a single bounded wait.
  ipp_t* request = ippNewRequest(IPP_OP_CUPS_GET_PRINTERS);
  static const char* const wanted[] = {"printer-name", "device-uri", "printer-uri-supported"};
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 3, nullptr, wanted);
  ipp_t* response = cupsDoRequest(http, request, "/");
  bool ok = response != nullptr && requestSucceeded();
  if (ok) {
    CupsQueue queue;
    std::string supportedUri;
    for (ipp_attribute_t* a = ippFirstAttribute(response);; a = ippNextAttribute(response)) {
      // Each printer's attributes form one group; a group ends at a
      // separator (no name) or at the end of the response.
      if (a == nullptr || ippGetName(a) == nullptr) {
        if (!queue.name.empty()) {
          if (queue.deviceUri.empty()) queue.deviceUri = supportedUri;
          queues->push_back(queue);
        }
        queue = CupsQueue();
        supportedUri.clear();
        if (a == nullptr) break;
        continue;
      }
      if (ippGetGroupTag(a) != IPP_TAG_PRINTER) continue;
      const char* value = ippGetString(a, 0, nullptr);
      if (value == nullptr) continue;
      std::string name = ippGetName(a);
      if (name == "printer-name") queue.name = value;
      else if (name == "device-uri") queue.deviceUri = value;
      else if (name == "printer-uri-supported") supportedUri = value;
    }
  }
  ippDelete(response);
  httpClose(http);
  return ok;
}

namespace {

// The queue as a destination that libcups can send jobs to, built from one
// Get-Printer-Attributes request (libcups' own look-up may go on to search
// the network without any bound). Nullptr when the scheduler does not know
// the queue.
cups_dest_t* lookUpDest(http_t* http, const std::string& name) {
  char uri[HTTP_MAX_URI];
  if (httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0, "/printers/%s",
                       name.c_str()) != HTTP_URI_STATUS_OK)
    return nullptr;
  ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
  static const char* const wanted[] = {"printer-name", "printer-uri-supported"};
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2, nullptr, wanted);
  ipp_t* response = cupsDoRequest(http, request, "/");
  cups_dest_t* dest = nullptr;
  if (response != nullptr && requestSucceeded()) {
    ipp_attribute_t* found = ippFindAttribute(response, "printer-name", IPP_TAG_NAME);
    ipp_attribute_t* supported = ippFindAttribute(response, "printer-uri-supported", IPP_TAG_URI);
    if (found != nullptr && name == ippGetString(found, 0, nullptr)) {
      int count = cupsAddDest(name.c_str(), nullptr, 0, &dest);
      cups_dest_t* added = cupsGetDest(name.c_str(), nullptr, count, dest);
      if (added != nullptr) {
        added->num_options = cupsAddOption("printer-uri-supported",
                                           supported != nullptr ? ippGetString(supported, 0, nullptr) : uri,
                                           added->num_options, &added->options);
      }
    }
  }
  ippDelete(response);
  return dest;
}

// Cancels a job whose document did not get through, on a connection of its
// own: the one the document went over is in the middle of a request. True
// when the scheduler says the job is cancelled.
bool cancelJob(const std::string& name, int jobId) {
  http_t* http = connectScheduler(kCupsQueryTimeoutMs);
  if (http == nullptr) return false;
  bool cancelled = false;
  cups_dest_t* dest = lookUpDest(http, name);
  if (dest != nullptr) {
    cancelled = cupsCancelDestJob(http, dest, jobId) <= IPP_STATUS_OK_EVENTS_COMPLETE;
    cupsFreeDests(1, dest);
  }
  httpClose(http);
  return cancelled;
}

// The path of the queue's URI, which libcups wants for the response to a
// document (it posts there again if the scheduler asks for credentials).
std::string destResource(cups_dest_t* dest) {
  const char* uri = cupsGetOption("printer-uri-supported", dest->num_options, dest->options);
  char scheme[32], user[256], host[256], resource[1024];
  int port = 0;
  if (uri == nullptr || httpSeparateURI(HTTP_URI_CODING_ALL, uri, scheme, sizeof scheme, user, sizeof user, host,
                                        sizeof host, &port, resource, sizeof resource) < HTTP_URI_STATUS_OK)
    return "/";
  return resource;
}

// Jobs whose whole document reached the scheduler without an answer coming
// back, and that could not be cancelled: the scheduler may still print them
// (it keeps its jobs across a restart), so the same document is not sent
// again before it has said what became of the job. Shared by the printing
// threads; each entry goes when its document comes again and the scheduler
// answers.
struct UncertainJob {
  std::string queue;
  std::uint64_t digest;
  int jobId;
};

std::mutex uncertainMutex;
std::vector<UncertainJob> uncertainJobs;
// A document is kept and tried again until it is settled, so only a few are
// ever waiting; the bound keeps a run of abandoned ones from piling up.
const size_t kMaxUncertainJobs = 64;

bool findUncertainJob(const std::string& queue, std::uint64_t digest, int* jobId) {
  std::lock_guard<std::mutex> guard(uncertainMutex);
  for (const UncertainJob& job : uncertainJobs) {
    if (job.queue == queue && job.digest == digest) {
      *jobId = job.jobId;
      return true;
    }
  }
  return false;
}

void forgetUncertainJob(const std::string& queue, std::uint64_t digest) {
  std::lock_guard<std::mutex> guard(uncertainMutex);
  for (size_t i = 0; i < uncertainJobs.size(); i++) {
    if (uncertainJobs[i].queue == queue && uncertainJobs[i].digest == digest) {
      uncertainJobs.erase(uncertainJobs.begin() + static_cast<std::ptrdiff_t>(i));
      return;
    }
  }
}

void rememberUncertainJob(const std::string& queue, std::uint64_t digest, int jobId) {
  forgetUncertainJob(queue, digest);
  std::lock_guard<std::mutex> guard(uncertainMutex);
  if (uncertainJobs.size() >= kMaxUncertainJobs) uncertainJobs.erase(uncertainJobs.begin());
  uncertainJobs.push_back(UncertainJob{queue, digest, jobId});
}

// The jobs this process created, by the identity they carry, so that the
// confirmation of a printout kept in "sent" asks for its one job instead of
// listing the queue's history. Bounded: a job not found here is looked for in
// the queue's list of jobs.
struct KnownJob {
  std::string identity;
  int jobId;
};
std::mutex knownMutex;
std::vector<KnownJob> knownJobs;
const std::size_t kMaxKnownJobs = 256;

void rememberJob(const std::string& identity, int jobId) {
  std::lock_guard<std::mutex> guard(knownMutex);
  if (knownJobs.size() >= kMaxKnownJobs) knownJobs.erase(knownJobs.begin());
  knownJobs.push_back(KnownJob{identity, jobId});
}

int knownJobOf(const std::string& identity) {
  std::lock_guard<std::mutex> guard(knownMutex);
  for (const KnownJob& job : knownJobs)
    if (job.identity == identity) return job.jobId;
  return 0;
}

// What the scheduler says about a job it was handed earlier.
enum JobFate {
  JOB_TAKEN,     // waiting, held, printing, stopped or printed: it has the document
  JOB_GONE,      // unknown to it, cancelled or aborted: the document did not print
  JOB_NO_ANSWER  // not reached, or no clear answer
};

JobFate askJobFate(const std::string& queue, int jobId) {
  http_t* http = connectScheduler(kCupsQueryTimeoutMs);
  if (http == nullptr) return JOB_NO_ANSWER;
  char uri[HTTP_MAX_URI];
  httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0, "/jobs/%d", jobId);
  ipp_t* request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  static const char* const wanted[] = {"job-state", "job-printer-uri"};
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2, nullptr, wanted);
  ipp_t* response = cupsDoRequest(http, request, "/");
  ipp_status_t status = response != nullptr ? ippGetStatusCode(response) : IPP_STATUS_ERROR_INTERNAL;
  JobFate fate = JOB_NO_ANSWER;
  if (response != nullptr && status == IPP_STATUS_ERROR_NOT_FOUND) {
    fate = JOB_GONE;
  } else if (response != nullptr && status <= IPP_STATUS_OK_EVENTS_COMPLETE) {
    ipp_attribute_t* state = ippFindAttribute(response, "job-state", IPP_TAG_ENUM);
    ipp_attribute_t* printer = ippFindAttribute(response, "job-printer-uri", IPP_TAG_URI);
    const char* printerUri = printer != nullptr ? ippGetString(printer, 0, nullptr) : nullptr;
    std::string suffix = "/" + queue;
    std::string path = printerUri != nullptr ? printerUri : "";
    // A scheduler that lost its jobs hands their numbers out again: a job of
    // another queue under this number is not the one sent.
    bool sameQueue =
        path.size() > suffix.size() && path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0;
    if (state != nullptr && printerUri != nullptr) {
      switch (ippGetInteger(state, 0)) {
        case IPP_JSTATE_PENDING:
        case IPP_JSTATE_HELD:
        case IPP_JSTATE_PROCESSING:
        case IPP_JSTATE_STOPPED:
        case IPP_JSTATE_COMPLETED: fate = sameQueue ? JOB_TAKEN : JOB_GONE; break;
        case IPP_JSTATE_CANCELED:
        case IPP_JSTATE_ABORTED: fate = JOB_GONE; break;
        default: break;
      }
    }
  }
  ippDelete(response);
  httpClose(http);
  return fate;
}

}  // namespace

bool findCupsQueue(const std::string& name, CupsMedia* media) {
  fallbackMedia(media);
  if (name.empty()) return false;
  http_t* http = connectScheduler(kCupsQueryTimeoutMs);
  if (http == nullptr) return false;
  cups_dest_t* dest = lookUpDest(http, name);
  bool found = dest != nullptr;
  if (found) {
    cups_dinfo_t* info = cupsCopyDestInfo(http, dest);
    cups_size_t size;
    std::memset(&size, 0, sizeof size);
    // The queue's media-default names its paper; libcups' own default
    // falls back to Letter when the destination carries no media option.
    ipp_attribute_t* preset = info != nullptr ? cupsFindDestDefault(http, dest, info, CUPS_MEDIA) : nullptr;
    const char* paper = preset != nullptr ? ippGetString(preset, 0, nullptr) : nullptr;
    bool known = info != nullptr && ((paper != nullptr && cupsGetDestMediaByName(http, dest, info, paper, 0, &size)) ||
                                     cupsGetDestMediaDefault(http, dest, info, 0, &size));
    if (known && size.width > 0 && size.length > 0) {
      media->width = size.width;
      media->length = size.length;
      media->left = size.left;
      media->top = size.top;
      media->right = size.right;
      media->bottom = size.bottom;
    }
    cupsFreeDestInfo(info);
    cupsFreeDests(1, dest);
  }
  httpClose(http);
  return found;
}

namespace {

// True when the document need not be sent (again): the scheduler still has
// or has printed the job an earlier attempt left uncertain. *mustFail is set
// when the scheduler cannot say, so that nothing is sent this time.
bool earlierJobTaken(const std::string& name, std::uint64_t digest, bool* mustFail) {
  *mustFail = false;
  int earlierJob = 0;
  if (!findUncertainJob(name, digest, &earlierJob)) return false;
  JobFate fate = askJobFate(name, earlierJob);
  if (fate == JOB_NO_ANSWER) {
    *mustFail = true;
    return false;
  }
  forgetUncertainJob(name, digest);
  return fate == JOB_TAKEN;
}

// Streams the document of the created job, read from the file descriptor,
// and waits for the scheduler's reply. *unanswered is set when the whole
// document went over and no reply came back. True when the scheduler
// accepted it.
bool sendDocument(http_t* http, cups_dest_t* dest, cups_dinfo_t* info, int jobId, const std::string& title,
                  const char* format, int fd, bool* unanswered) {
  *unanswered = false;
  if (cupsStartDestDocument(http, dest, info, jobId, title.c_str(), format, 0, nullptr, 1) != HTTP_STATUS_CONTINUE)
    return false;
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    if (cupsWriteRequestData(http, buffer, static_cast<size_t>(n)) != HTTP_STATUS_CONTINUE) return false;
  }
  // The scheduler's reply to the document. An IPP status in it is a clear
  // answer either way; no reply at all (connection closed, wait run out)
  // leaves open whether it will print the job.
  ipp_t* response = cupsGetResponse(http, destResource(dest).c_str());
  *unanswered = response == nullptr;
  bool ok = response != nullptr && requestSucceeded();
  ippDelete(response);
  return ok;
}

}  // namespace

const char* const kCupsFormatPdf = CUPS_FORMAT_PDF;
const char* const kCupsFormatRaw = CUPS_FORMAT_RAW;

bool submitCupsJob(const std::string& name, const std::string& title, const char* format, int fd,
                   std::uint64_t digest, const std::string& identity, bool* uncertain, int copies) {
  *uncertain = false;
  if (name.empty() || lseek(fd, 0, SEEK_SET) != 0) return false;
  bool mustFail = false;
  if (earlierJobTaken(name, digest, &mustFail)) return true;
  if (mustFail) return false;
  http_t* http = connectScheduler(kCupsJobTimeoutMs);
  if (http == nullptr) return false;
  bool ok = false;
  cups_dest_t* dest = lookUpDest(http, name);
  cups_dinfo_t* info = dest != nullptr ? cupsCopyDestInfo(http, dest) : nullptr;
  int jobId = 0;
  int optionCount = 0;
  cups_option_t* options = nullptr;
  if (!identity.empty()) optionCount = cupsAddOption(kIdentityAttribute, identity.c_str(), optionCount, &options);
  if (copies > 1) optionCount = cupsAddOption("copies", std::to_string(copies).c_str(), optionCount, &options);
  if (info != nullptr &&
      cupsCreateDestJob(http, dest, info, &jobId, title.c_str(), optionCount, options) <=
          IPP_STATUS_OK_EVENTS_COMPLETE &&
      jobId > 0) {
    bool unanswered = false;
    ok = sendDocument(http, dest, info, jobId, title, format, fd, &unanswered);
    if (!identity.empty()) rememberJob(identity, jobId);
    if (!ok && !cancelJob(name, jobId) && unanswered) {
      rememberUncertainJob(name, digest, jobId);
      *uncertain = true;
    }
  }
  cupsFreeOptions(optionCount, options);
  cupsFreeDestInfo(info);
  if (dest != nullptr) cupsFreeDests(1, dest);
  httpClose(http);
  return ok;
}

namespace {

// Whether the scheduler keeps finished jobs: it reports at least one
// completed job of any queue. Without that history a job that printed and
// one that never arrived look the same.
bool keepsJobHistory(http_t* http) {
  ipp_t* request = ippNewRequest(IPP_OP_GET_JOBS);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, "ipp://localhost/");
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "completed");
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "limit", 1);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "job-id");
  ipp_t* response = cupsDoRequest(http, request, "/");
  bool kept = response != nullptr && requestSucceeded() && ippFindAttribute(response, "job-id", IPP_TAG_INTEGER);
  ippDelete(response);
  return kept;
}

}  // namespace

namespace {

// What the attributes of the jobs in a response (each job one group) say
// about the job that carries the identity.
struct JobsSeen {
  bool seen = false, kept = false, finished = false;
  std::vector<int> empty;  // jobs of the identity left waiting without a document
};

JobsSeen jobsCarrying(ipp_t* response, const std::string& identity) {
  JobsSeen found;
  int state = 0, documents = 0, jobId = 0;
  std::string carried;
  for (ipp_attribute_t* a = ippFirstAttribute(response);; a = ippNextAttribute(response)) {
    // Each job's attributes form one group.
    if (a == nullptr || ippGetName(a) == nullptr) {
      if (carried == identity) {
        found.seen = true;
        // The job holds the document only once the whole of it arrived: a
        // job whose sender was cut off before or while sending it has
        // none, and prints nothing. Aborted by the scheduler itself: it
        // will not print. Cancelled by a person: done, as they wanted.
        if (documents > 0 && state != IPP_JSTATE_ABORTED) found.kept = true;
        if (documents > 0 && (state == IPP_JSTATE_COMPLETED || state == IPP_JSTATE_CANCELED)) found.finished = true;
        // A job left waiting for a document that never comes.
        if (documents == 0 && state <= IPP_JSTATE_STOPPED && jobId > 0) found.empty.push_back(jobId);
      }
      carried.clear();
      state = documents = jobId = 0;
      if (a == nullptr) break;
      continue;
    }
    std::string attribute = ippGetName(a);
    if (attribute == "job-state") state = ippGetInteger(a, 0);
    else if (attribute == "job-id") jobId = ippGetInteger(a, 0);
    else if (attribute == "number-of-documents") documents = ippGetInteger(a, 0);
    else if (attribute == kIdentityAttribute && ippGetString(a, 0, nullptr) != nullptr)
      carried = ippGetString(a, 0, nullptr);
  }
  return found;
}

const char* const kJobAttributesWanted[] = {"job-id", "job-state", "number-of-documents", kIdentityAttribute};

// The job this process created with that identity, asked for by its number:
// true with *finding set when the scheduler still has it and it carries the
// identity. Anything else (a scheduler that lost its jobs hands their
// numbers out again) is left to the list of the queue's jobs.
bool findKnownJob(http_t* http, const std::string& identity, CupsJobFinding* finding) {
  int jobId = knownJobOf(identity);
  if (jobId <= 0) return false;
  char uri[HTTP_MAX_URI];
  httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0, "/jobs/%d", jobId);
  ipp_t* request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 4, nullptr,
                kJobAttributesWanted);
  ipp_t* response = cupsDoRequest(http, request, "/");
  bool answered = false;
  if (response != nullptr && requestSucceeded()) {
    JobsSeen seen = jobsCarrying(response, identity);
    // Only a clear answer is taken: a job that holds its document. One
    // without is left to the full look, which also cancels it.
    if (seen.seen && seen.kept) {
      *finding = seen.finished ? kCupsJobFinished : kCupsJobPending;
      answered = true;
    }
  }
  ippDelete(response);
  return answered;
}

}  // namespace

CupsJobFinding findCupsJob(const std::string& name, const std::string& identity) {
  http_t* http = connectScheduler(kCupsQueryTimeoutMs);
  if (http == nullptr) return kCupsJobNoAnswer;
  CupsJobFinding finding = kCupsJobNoAnswer;
  if (findKnownJob(http, identity, &finding)) {
    httpClose(http);
    return finding;
  }
  char uri[HTTP_MAX_URI];
  httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0, "/printers/%s",
                   name.c_str());
  ipp_t* request = ippNewRequest(IPP_OP_GET_JOBS);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "all");
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 4, nullptr,
                kJobAttributesWanted);
  ipp_t* response = cupsDoRequest(http, request, "/");
  if (response != nullptr && requestSucceeded()) {
    JobsSeen seen = jobsCarrying(response, identity);
    if (seen.finished) finding = kCupsJobFinished;
    else if (seen.kept) finding = kCupsJobPending;
    else if (seen.seen) finding = kCupsJobMissing;
    else finding = keepsJobHistory(http) ? kCupsJobMissing : kCupsJobNoHistory;
    // Cancelled so that it does not hold the queue until the scheduler
    // gives up on it.
    if (!seen.kept)
      for (int id : seen.empty) cancelJob(name, id);
  }
  ippDelete(response);
  httpClose(http);
  return finding;
}
