// The CUPS scheduler as ferrin uses it: list the queues, read a queue's
// default paper, hand a finished PDF over as one job. Every call runs on a
// connection of its own with a connect time-out and a bound on each wait, so
// a scheduler that is down or does not answer never holds ferrin up for long.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct CupsQueue {
  std::string name;
  std::string deviceUri;  // empty when the scheduler does not say
};

// Paper and unprintable border in hundredths of a millimetre.
struct CupsMedia {
  int width;
  int length;
  int left;
  int top;
  int right;
  int bottom;
};

// Bounds, in milliseconds: connecting, and each wait for the scheduler.
const int kCupsConnectTimeoutMs = 2000;
const int kCupsQueryTimeoutMs = 3000;
const int kCupsJobTimeoutMs = 20000;

// The scheduler's queues in its own order. False when it cannot be reached
// or did not answer in time.
bool listCupsQueues(std::vector<CupsQueue>* queues);

// True when the scheduler knows the queue. media receives its default paper,
// or A4 with a quarter-inch border when the queue reports none.
bool findCupsQueue(const std::string& name, CupsMedia* media);

// Document formats ferrin sends.
extern const char* const kCupsFormatPdf;  // a laid-out document
extern const char* const kCupsFormatRaw;  // bytes for the printer as they are

// Sends the document read from the open file descriptor (from its start) to
// the queue as one job with the given title and format. True only when the
// scheduler accepted the whole document.
//
// digest identifies the document by what was drawn on it (not by the PDF's
// bytes, which carry a creation date), or by a raw document's bytes. When the whole document went over but
// the scheduler gave no answer and the job could not be cancelled, it may
// print all the same: the call fails and remembers the job with the digest.
// When the same document comes again for the queue, the scheduler is first
// asked about that job: if it still has it or has printed it, the call
// succeeds without sending anything; if the job is gone, cancelled or
// aborted, the document is sent; if the scheduler does not answer, the call
// fails and the job stays remembered.
//
// identity, when not empty, goes with the job as the attribute
// "ferrin-printout", by which findCupsJob finds it again. *uncertain is set
// when the call failed but the job may print all the same. copies above 1
// goes with the job as its option "copies": the queue prints it that often.
bool submitCupsJob(const std::string& name, const std::string& title, const char* format, int fd,
                   std::uint64_t digest, const std::string& identity, bool* uncertain, int copies = 1);

// What the scheduler knows of the job that carried an identity.
enum CupsJobFinding {
  kCupsJobPending,    // it holds its document and is waiting or printing
  kCupsJobFinished,   // it printed the document, or a person cancelled the job
  kCupsJobMissing,    // no such job, one without its document, or one the scheduler aborted: it did not print
  kCupsJobNoHistory,  // not found, and the scheduler keeps no finished jobs to look in
  kCupsJobNoAnswer    // the scheduler could not be asked
};
// Asks the scheduler for the queue's jobs, finished ones included, in one
// bounded request.
CupsJobFinding findCupsJob(const std::string& name, const std::string& identity);
