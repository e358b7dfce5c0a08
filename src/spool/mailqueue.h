// The mail queue: a printout of a slot with mailto= becomes a mail (see
// spool/alsoto.h), and a mail is a printout too, kept in the folder
// "mail-waiting" until the server has taken it, sent by the mailer
// (mail/mail.h) one at a time and in order, across restarts:
//   NNNNNN-P-YYYYMMDD-HHMMSS.prn   the printout's bytes (mail number, printer
//                                  number, when it was printed)
//   .NNNNNN-....record             its Message-ID, and how far its sending
//                                  went (MailRecordState)
//   .NNNNNN-....pdf                the PDF while it is being mailed
// The record is written, synced, before each hand-over and says "handed"
// until the server's answer is known. A run that ends (a crash, a power cut)
// before that answer leaves it so: the next try sends the mail again with
// the same Message-ID and says that it may arrive twice; every other outcome
// sends it exactly once (a record saying "sent" leaves only files to
// remove). A mail the server refuses as too big cannot be sent: its
// printout and PDF move into "mail-refused".
#pragma once

#include <string>
#include <vector>

#include "platform/system.h"

const char kMailFolder[] = "mail-waiting";
const char kMailRefusedFolder[] = "mail-refused";

// Moves a copy of slot slotNumber's printout (made whole and synced, see
// spool/alsoto.h) into the mail queue as its newest mail, named with the
// time now. 0 or the error code (files/errors.h).
int queueMail(const std::string& copyPath, int slotNumber);

// Tells the mailer that a mail has joined the queue.
void wakeMailer();

// For the start, before the mailer runs: scratch files of a run cut off
// (PDFs, half-written records, records of mails already gone) are removed.
void settleMailAtStart();

// A mail's file name taken apart; false for any other name.
struct MailName {
  unsigned long number;
  int slotNumber;
  LocalTime printed;
};
bool parseMailName(const std::string& name, MailName* mail);
std::string mailFileName(const MailName& mail);

// Paths in the queue of a mail's file name: the mail, its record and its PDF.
std::string mailQueuePath(const std::string& name);
std::string mailRecordPath(const std::string& name);
std::string mailPdfPath(const std::string& name);

// The queued mails' file names, oldest first.
std::vector<std::string> queuedMails();

// Moves a file by name, never over another (the spool file layer holds it
// while it moves). 0 or the error code.
int moveByName(const std::string& from, const std::string& to);

// True once after wakeMailer.
bool takeMailWake();
