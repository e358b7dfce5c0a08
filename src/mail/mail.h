// Printouts mailed as PDFs: a printer's section with mailto= has every
// printout of that printer mailed, laid out as "Save as PDF" lays it out,
// through the server of smtp= (libcurl: SMTP, STARTTLS or TLS, login, MIME).
// The mails wait in the queue of spool/mailqueue.h until the server has
// taken them, and go one at a time, in order, across restarts.
#pragma once

#include <string>
#include <vector>

#include "config/slots.h"
#include "spool/mailqueue.h"

// The mailer's thread: sends the queued mails until ferrin stops.
void runMailer(int unused);

// --- The message, without the network (mail/message.cpp) ---------------

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
