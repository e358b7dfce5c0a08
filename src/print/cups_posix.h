// The CUPS scheduler as ferrin uses it: list the queues, read a queue's
// default paper, hand a finished PDF over as one job. Every call runs on a
// connection of its own with a connect time-out and a bound on each wait, so
// a scheduler that is down or does not answer never holds ferrin up for long.
#pragma once

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
const int CUPS_CONNECT_TIMEOUT_MS = 2000;
const int CUPS_QUERY_TIMEOUT_MS = 3000;
const int CUPS_JOB_TIMEOUT_MS = 20000;

// The scheduler's queues in its own order. False when it cannot be reached
// or did not answer in time.
bool listCupsQueues(std::vector<CupsQueue>* queues);

// True when the scheduler knows the queue. media receives its default paper,
// or A4 with a quarter-inch border when the queue reports none.
bool findCupsQueue(const std::string& name, CupsMedia* media);

// Sends the PDF read from the open file descriptor (from its start) to the
// queue as one job with the given title. True only when the scheduler
// accepted the whole document.
bool submitCupsJob(const std::string& name, const std::string& title, int pdfFd);
