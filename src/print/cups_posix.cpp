#include "print/cups_posix.h"

#include <cups/cups.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// Called by libcups when a wait for the scheduler has run out: giving up
// makes the call in progress fail instead of waiting again.
int giveUpWaiting(http_t*, void*) { return 0; }

// A fresh connection to the scheduler the environment names (CUPS_SERVER,
// client.conf, or the local default), bounded as described above.
http_t* connectScheduler(int waitMs) {
  http_t* http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                              CUPS_CONNECT_TIMEOUT_MS, nullptr);
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

// Cancels a job whose document did not get through, on a connection of its
// own: the one the document went over is in the middle of a request.
void cancelJob(const std::string& name, int jobId) {
  http_t* http = connectScheduler(CUPS_QUERY_TIMEOUT_MS);
  if (http == nullptr) return;
  cups_dest_t* dest = cupsGetNamedDest(http, name.c_str(), nullptr);
  if (dest != nullptr) {
    cupsCancelDestJob(http, dest, jobId);
    cupsFreeDests(1, dest);
  }
  httpClose(http);
}

}  // namespace

bool listCupsQueues(std::vector<CupsQueue>* queues) {
  queues->clear();
  http_t* http = connectScheduler(CUPS_QUERY_TIMEOUT_MS);
  if (http == nullptr) return false;
  cups_dest_t* dests = nullptr;
  int count = cupsGetDests2(http, &dests);
  bool ok = count > 0 || requestSucceeded();
  for (int i = 0; i < count; i++) {
    // Instances are the user's saved option sets for a queue, not printers.
    if (dests[i].instance != nullptr) continue;
    CupsQueue queue;
    queue.name = dests[i].name;
    const char* uri = cupsGetOption("device-uri", dests[i].num_options, dests[i].options);
    if (uri == nullptr || *uri == '\0')
      uri = cupsGetOption("printer-uri-supported", dests[i].num_options, dests[i].options);
    if (uri != nullptr) queue.deviceUri = uri;
    queues->push_back(queue);
  }
  cupsFreeDests(count, dests);
  httpClose(http);
  return ok;
}

bool findCupsQueue(const std::string& name, CupsMedia* media) {
  fallbackMedia(media);
  if (name.empty()) return false;  // an empty name would mean the default queue
  http_t* http = connectScheduler(CUPS_QUERY_TIMEOUT_MS);
  if (http == nullptr) return false;
  cups_dest_t* dest = cupsGetNamedDest(http, name.c_str(), nullptr);
  bool found = dest != nullptr;
  if (found) {
    cups_dinfo_t* info = cupsCopyDestInfo(http, dest);
    cups_size_t size;
    std::memset(&size, 0, sizeof size);
    if (info != nullptr && cupsGetDestMediaDefault(http, dest, info, 0, &size) && size.width > 0 &&
        size.length > 0) {
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

bool submitCupsJob(const std::string& name, const std::string& title, int pdfFd) {
  if (name.empty() || lseek(pdfFd, 0, SEEK_SET) != 0) return false;
  http_t* http = connectScheduler(CUPS_JOB_TIMEOUT_MS);
  if (http == nullptr) return false;
  bool ok = false;
  cups_dest_t* dest = cupsGetNamedDest(http, name.c_str(), nullptr);
  cups_dinfo_t* info = dest != nullptr ? cupsCopyDestInfo(http, dest) : nullptr;
  int jobId = 0;
  if (info != nullptr &&
      cupsCreateDestJob(http, dest, info, &jobId, title.c_str(), 0, nullptr) <= IPP_STATUS_OK_EVENTS_COMPLETE &&
      jobId > 0) {
    if (cupsStartDestDocument(http, dest, info, jobId, title.c_str(), CUPS_FORMAT_PDF, 0, nullptr, 1) ==
        HTTP_STATUS_CONTINUE) {
      bool written = true;
      char buffer[65536];
      for (;;) {
        ssize_t n = read(pdfFd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
          written = false;
          break;
        }
        if (n == 0) break;
        if (cupsWriteRequestData(http, buffer, static_cast<size_t>(n)) != HTTP_STATUS_CONTINUE) {
          written = false;
          break;
        }
      }
      if (written) {
        ipp_status_t status = cupsFinishDestDocument(http, dest, info);
        ok = status <= IPP_STATUS_OK_EVENTS_COMPLETE;
      }
    }
    if (!ok) cancelJob(name, jobId);
  }
  cupsFreeDestInfo(info);
  if (dest != nullptr) cupsFreeDests(1, dest);
  httpClose(http);
  return ok;
}
