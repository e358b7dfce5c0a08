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

}  // namespace

bool listCupsQueues(std::vector<CupsQueue>* queues) {
  queues->clear();
  http_t* http = connectScheduler(CUPS_QUERY_TIMEOUT_MS);
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
// own: the one the document went over is in the middle of a request.
void cancelJob(const std::string& name, int jobId) {
  http_t* http = connectScheduler(CUPS_QUERY_TIMEOUT_MS);
  if (http == nullptr) return;
  cups_dest_t* dest = lookUpDest(http, name);
  if (dest != nullptr) {
    cupsCancelDestJob(http, dest, jobId);
    cupsFreeDests(1, dest);
  }
  httpClose(http);
}

}  // namespace

bool findCupsQueue(const std::string& name, CupsMedia* media) {
  fallbackMedia(media);
  if (name.empty()) return false;
  http_t* http = connectScheduler(CUPS_QUERY_TIMEOUT_MS);
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

bool submitCupsJob(const std::string& name, const std::string& title, int pdfFd) {
  if (name.empty() || lseek(pdfFd, 0, SEEK_SET) != 0) return false;
  http_t* http = connectScheduler(CUPS_JOB_TIMEOUT_MS);
  if (http == nullptr) return false;
  bool ok = false;
  cups_dest_t* dest = lookUpDest(http, name);
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
