// Printouts mailed as PDFs: a printer's section with mailto= has every
// printout of that printer mailed, laid out as "Save as PDF" lays it out,
// through the server of smtp= (libcurl: SMTP, STARTTLS or TLS, login, MIME).
//
// A mail is a printout too, kept in the folder "mail-waiting" until the
// server has taken it, sent one at a time and in order, across restarts:
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
// remove). A mail the server refuses as too big cannot be
// sent: its printout and PDF move into "mail-refused".
#pragma once

#include <string>
#include <vector>

#include "config/slots.h"

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

// The mailer's thread: sends the queued mails until ferrin stops.
void runMailer(int unused);

// --- The message, without the network (mail/message.cpp) ---------------

// A mail's file name taken apart; false for any other name.
struct MailName {
  unsigned long number;
  int slotNumber;
  LocalTime printed;
};
bool parseMailName(const std::string& name, MailName* mail);
std::string mailFileName(const MailName& mail);

// The addresses of mailto= (separated by commas, blanks around them
// allowed); false when one is not a plain address (local@domain, printable
// ASCII without blanks, quotes, brackets or commas), with *bad that one.
bool parseAddresses(const std::string& text, std::vector<std::string>* addresses, std::string* bad);

// The server of smtp= as libcurl's URL for the security asked for, the port
// that security's usual one where none is given (587, 465, 25); false for
// a value that is not HOST or HOST:PORT.
bool serverUrl(const std::string& server, SmtpSecurity security, std::string* url);

// "Printout from printer #N, YYYY-MM-DD HH:MM:SS: first line" as the
// header's value: ASCII as it is; with other characters (the first line is
// in code page `codePage`, made UTF-8) as RFC 2047 words, folded.
std::string mailSubject(int slotNumber, const LocalTime& printed, const std::string& firstLine, int codePage);

// RFC 5322's date of a moment (seconds since 1970, UTC).
std::string mailDate(long long secondsSince1970);

// A new Message-ID, "<...@domain>", the domain that of `from`.
std::string newMessageId(const MailName& mail, const std::string& from);

// What a mail's record says: not handed over yet (or known not taken), being
// handed over (the answer not known), or taken by the server (its files are
// only left to remove).
enum MailRecordState { kRecordWaiting, kRecordHanded, kRecordSent };
// The record's text and back; false for a record that is not one.
std::string recordText(const std::string& messageId, MailRecordState state);
bool parseRecord(const std::string& text, std::string* messageId, MailRecordState* state);

// --- Sending (mail/send.cpp) -------------------------------------------

enum MailOutcome {
  kMailSent,           // the server took it
  kMailNotTaken,       // not taken, try again later (no connection, a 4xx answer, TLS failing)
  kMailMaybeTaken,     // the message was handed over and no answer came: it may have arrived
  kMailLoginRefused,   // the login was refused
  kMailTooBig,         // refused for its size
  kMailRefused,        // refused for good otherwise (a 5xx answer: a sender or recipient refused)
};

struct MailMessage {
  std::string url;                      // serverUrl
  SmtpSecurity security;
  std::string user, password, caFile;   // "" for none
  std::string from;
  std::vector<std::string> to;
  std::string subject, date, messageId;
  std::string text;                     // the message's text part
  std::string pdfPath, pdfName;         // the attachment: the file, and the name the mail gives it
};

struct MailResult {
  MailOutcome outcome;
  std::string answer;  // the server's last answer, or what failed before one came
};

// Sends the message: one connection, one mail. Blocks (bounded: 20 s to
// connect, a transfer that stalls for 60 s is given up).
MailResult sendMail(const MailMessage& message);
