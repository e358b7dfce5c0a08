// Hand-over records: what a watcher is handing to which printer, noted on
// disk before the hand-over begins and removed once its outcome is known.
// A record that outlives its run (a crash, a kill, a stop, or a hand-over
// whose answer never came) says that the printout may already have reached
// its printer: before it is printed again, the printer is asked for the
// document of the record's identity.
//
// Records lie in the hidden folder ".handover", one small file per hand-over
// named by its identity. A record belongs to the printout file whose stamp it
// holds (file identity, size and modification time, which a rename keeps) and
// whose first bytes it knows by a digest, so it follows the file into the
// waiting queue and never applies to another file that happens to get the
// same name, or the same file written anew.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "files/fs.h"

const char kHandOverFolder[] = ".handover";

struct HandOver {
  std::string identity;   // carried by the document to the printer
  std::string printer;    // the printer it was handed to
  FileStamp file = {0, 0, 0, 0};  // the printout's file
  std::uint64_t content = 0;      // a digest of its first bytes (see contentDigest)
  std::int64_t began = 0;  // seconds since 1970
  std::string journal;     // the printout's copy in the journal, when it has one
  // For a printer that forgets a job once it printed it (a Windows printer,
  // see printerFindsPrintedDocuments), which cannot be asked later by the
  // identity, the record notes (byJob) the spooler's number of the job, once
  // the document started and before its first page (0 until then), and
  // whether the end of the document returned, noted before the printed copy
  // is deleted. A record without byJob (another printer's, or one written
  // before records noted jobs) has neither.
  bool byJob = false;
  std::uint32_t job = 0;
  bool ended = false;
};

// A new identity, unique to this hand-over: time, process and a counter,
// in letters, digits and '-'.
std::string newHandOverIdentity();

// Notes the hand-over on disk, durably, before it begins. 0 or the error
// code of the write (kErrorDiskFull: the disk is full).
int recordHandOver(const HandOver& handOver);

// Notes the job number the document of the hand-over got, or that the end
// of its document returned, in its record: rewritten whole and synced, as
// recordHandOver writes it. 0 or the error code of the write; on an error
// the record stays as it was.
int noteHandOverJob(HandOver* handOver, std::uint32_t job);
int noteHandOverEnded(HandOver* handOver);
// Notes the journal copy the printout is kept with now, likewise: a run
// that takes up a cut-off hand-over may have had to keep a new copy.
int noteHandOverJournal(HandOver* handOver, const std::string& copy);

// A digest of a printout's first bytes (64-bit FNV-1a).
std::uint64_t contentDigest(const std::string& head);
// How many first bytes the digest covers.
const std::size_t kDigestBytes = 4096;

// The records of the file with that stamp and content digest.
std::vector<HandOver> handOversOf(const FileStamp& file, std::uint64_t content);

// The hand-over is settled: its record goes.
void resolveHandOver(const HandOver& handOver);

// Removes the records whose printout is gone: neither under any of the spool
// names nor in the waiting queue. For the start, before any watcher runs.
void sweepHandOvers(const std::vector<std::string>& spoolNames);

// The record of that identity; false when there is none.
bool readHandOver(const std::string& identity, HandOver* handOver);

// --- Delivery confirmation ---
// A printout handed to a printer that can confirm delivery (a CUPS queue)
// is not deleted at once: it is moved (renamed, never copied) into the folder
// "sent" as "<spool name>.<identity>" and kept, with its record, until the
// printer reports its job finished. If the printer loses the job (a scheduler
// that died before it saved it) the printout goes back into the waiting
// queue and is printed once more.
const char kSentFolder[] = "sent";

// The name a printout is kept under in the folder "sent".
std::string sentPath(const std::string& spoolName, const std::string& identity);
// The printouts of a spool name kept in "sent", as paths, with the identity
// each was handed over with.
std::vector<std::pair<std::string, std::string>> sentPrintouts(const std::string& spoolName);
