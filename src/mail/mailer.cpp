// The mail queue and the thread that empties it: the oldest mail first, one
// at a time, each laid out as a PDF, recorded, handed to the server, then
// removed. Trouble is said once, with what to do; the mails wait meanwhile.
#include <algorithm>
#include <cstring>
#include <ctime>

#include "config/pdfname.h"
#include "config/profile.h"
#include "console/console.h"
#include "console/text.h"
#include "files/errors.h"
#include "files/fs.h"
#include "files/spoolfile.h"
#include "mail/mail.h"
#include "spool/pdfcopy.h"
#include "spool/printout.h"

namespace {

// The first delay after a mail could not be sent, doubled up to the last.
const unsigned kFirstRetryMilliseconds = 2000;
const unsigned kLongestRetryMilliseconds = 60000;
// A refusal (the login, a sender or recipient) is tried again when the
// slot's mail settings change, or after this long.
const unsigned long long kRefusedRetryMilliseconds = 30ull * 60 * 1000;

std::string stemOf(const std::string& name) { return name.substr(0, name.size() - 4); }

std::string slotText(int slotNumber) { return "Printer #" + numberText(slotNumber) + ": "; }
std::string errorText(int code) { return code != 0 ? " (error " + numberText(code) + ")" : ""; }

std::string timeText(const LocalTime& t) {
  char text[40];
  (void)std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year % 10000, t.month % 100,
                      t.day % 100, t.hour % 100, t.minute % 100, t.second % 100);
  return text;
}

struct MailerMemory {
  std::string said;                   // the trouble last said, by its kind and server
  unsigned long long nextTry = 0;     // monotonic milliseconds
  unsigned retryDelay = 0;
  bool refused = false;               // waiting for the settings below to change
  MailSettings refusedWith;
  unsigned long long refusedUntil = 0;
  std::string pdfMade;                // the mail whose PDF this run laid out
  bool outage = false;                // a mail could not be sent: said when all are
};

void sayOnce(MailerMemory& memory, const std::string& key, const std::string& message) {
  if (memory.said == key) return;
  memory.said = key;
  writeOutputLine(message);
}

void retryLater(MailerMemory& memory) {
  memory.retryDelay = memory.retryDelay == 0 ? kFirstRetryMilliseconds
                                             : std::min(memory.retryDelay * 2, kLongestRetryMilliseconds);
  memory.nextTry = monotonicMilliseconds() + memory.retryDelay;
}

std::string waitingText(std::size_t count) {
  return count == 1 ? std::string("it waits in the folder ") + kMailFolder
                    : "it waits with " + numberText(static_cast<long long>(count) - 1) + " more in the folder " +
                          kMailFolder;
}

// The message's addresses and server from the slot's settings; the trouble
// said (and the mail left waiting) when they cannot serve.
bool messageSettings(MailerMemory& memory, const MailName& mail, const PrinterSlot& slot, MailMessage* message) {
  const MailSettings& m = slot.options.mail;
  std::string head = slotText(mail.slotNumber), bad, problem;
  std::vector<std::string> from;
  if (m.to[0] == '\0')
    problem = "mails of this printer wait in the folder " + std::string(kMailFolder) +
              ", but ferrin.ini no longer sets mailto for it. Set mailto again, or delete them there.";
  else if (!parseAddresses(m.to, &message->to, &bad))
    problem = "ferrin.ini sets mailto to \"" + std::string(m.to) + "\", where \"" + bad +
              "\" is not a mail address, so mails wait in the folder " + kMailFolder + ". Correct it in ferrin.ini.";
  else if (!parseAddresses(m.from[0] != '\0' ? m.from : message->to.front(), &from, &bad) || from.size() != 1)
    problem = "ferrin.ini sets mailfrom to \"" + std::string(m.from) + "\", which is not one mail address, so mails"
              " wait in the folder " + kMailFolder + ". Correct it in ferrin.ini.";
  else if (m.server[0] == '\0')
    problem = "no mail server is set, so mails wait in the folder " + std::string(kMailFolder) +
              ". Set smtp in ferrin.ini to the server's name (HOST or HOST:PORT).";
  else if (!serverUrl(m.server, m.security, &message->url))
    problem = "ferrin.ini sets smtp to \"" + std::string(m.server) + "\", which is not HOST or HOST:PORT, so mails"
              " wait in the folder " + kMailFolder + ". Correct it in ferrin.ini.";
  else if (m.user[0] != '\0' && m.password[0] != '\0' && profileReadableByOthers())
    problem = "ferrin.ini may be read by other users, so ferrin does not use the smtppassword in it, and mails wait"
              " in the folder " + std::string(kMailFolder) + ". Make the file readable by its owner alone"
              " (chmod 600 ferrin.ini), or change the password and keep it out of the file.";
  if (!problem.empty()) {
    sayOnce(memory, "settings\n" + problem, head + problem);
    return false;
  }
  message->from = from.front();
  message->security = m.security;
  message->user = m.user;
  message->password = m.user[0] != '\0' ? m.password : "";
  message->caFile = m.ca;
  return true;
}

// The printout's first line of text, and the PDF's name in the mail.
void describePrintout(const std::string& name, const MailName& mail, const PrinterSlot& slot, MailMessage* message) {
  clearError();
  openSpoolFile(mailQueuePath(name));
  std::string first = lastError() == 0 ? firstLineOfText(peekSpoolFile(4096)) : std::string();
  closeSpoolFile();
  clearError();
  message->subject = mailSubject(mail.slotNumber, mail.printed, first, slotCodePage(slot));
  std::string pattern = slot.options.pdfName[0] != '\0' ? slot.options.pdfName : "print-%Y%m%d-%H%M%S-%n";
  std::string pdfName = expandPdfName(pattern, mail.printed, mail.slotNumber, fileNameText(first));
  pdfName = pdfName.substr(pdfName.find_last_of('/') + 1);
  char counter[8];
  (void)std::snprintf(counter, sizeof counter, "%03lu", mail.number % 1000);
  for (std::string::size_type at = pdfName.find(kPdfCounterMark); at != std::string::npos;
       at = pdfName.find(kPdfCounterMark))
    pdfName.replace(at, 1, counter);
  message->pdfName = pdfName + ".pdf";
  message->date = mailDate(static_cast<long long>(std::time(nullptr)));
  message->text = "Printout from printer #" + numberText(mail.slotNumber) + ", printed " + timeText(mail.printed) +
                  ", as a PDF: " + message->pdfName + "\r\n";
  message->pdfPath = mailPdfPath(name);
}

// Removes a sent mail's files; the record last, once it says "sent", so that
// nothing of it is sent again.
void removeSent(const std::string& name) {
  (void)fsDeleteFile(mailQueuePath(name));
  (void)fsSyncFolder(kMailFolder);
  (void)fsDeleteFile(mailPdfPath(name));
  (void)fsDeleteFile(mailRecordPath(name));
}

// A mail refused as too big: its printout and its PDF into "mail-refused".
void setAsideTooBig(MailerMemory& memory, const std::string& name, const MailName& mail, const MailMessage& message,
                    const std::string& answer) {
  std::string kept = std::string(kMailRefusedFolder) + "/" + stemOf(name);
  int code = fsCreateFolder(kMailRefusedFolder);
  if (code == 0) code = moveByName(mailPdfPath(name), kept + ".pdf");
  if (code == 0) (void)fsSyncFolder(kMailRefusedFolder);
  if (code == 0) code = moveByName(mailQueuePath(name), kept + ".prn");
  if (code != 0) {
    sayOnce(memory, "refused-folder", slotText(mail.slotNumber) + "a mail the server refused as too big could not be"
            " moved into the folder " + kMailRefusedFolder + errorText(code) + ", so it waits in the folder " +
            kMailFolder + ". Check that ferrin may write its folder.");
    retryLater(memory);
    return;
  }
  (void)fsSyncFolder(kMailRefusedFolder);
  (void)fsSyncFolder(kMailFolder);
  (void)fsDeleteFile(mailRecordPath(name));
  writeOutputLine(slotText(mail.slotNumber) + "the mail server " + message.url + " refused the mail of the printout of " +
                  timeText(mail.printed) + " as too big (" + answer + "). Its PDF is kept as " + kept +
                  ".pdf: send it another way, or have the server take larger mails.");
}

// What the server's answer means for the mail, and what is said.
bool settleOutcome(MailerMemory& memory, const std::string& name, const MailName& mail, const PrinterSlot& slot,
                   const MailMessage& message, const MailResult& result, bool maybeTwice, std::size_t queued) {
  std::string head = slotText(mail.slotNumber), of = "the mail of the printout of " + timeText(mail.printed);
  const std::string record = mailRecordPath(name);
  if (result.outcome == kMailSent) {
    // Once the server has it, nothing of it may be sent again.
    (void)fsWriteFileSafely(record, recordText(message.messageId, kRecordSent));
    removeSent(name);
    std::string to;
    for (const std::string& address : message.to) to += (to.empty() ? "" : ", ") + address;
    writeOutputLine(head + "the printout of " + timeText(mail.printed) + " was mailed to " + to + "." +
                    (maybeTwice ? " It may arrive twice, since an earlier try was cut off after the server had been"
                                  " handed the message; both have the same Message-ID." : ""));
    memory.said.clear();
    memory.retryDelay = 0;
    return true;
  }
  if (result.outcome == kMailTooBig) {
    setAsideTooBig(memory, name, mail, message, result.answer);
    return true;
  }
  if (result.outcome != kMailMaybeTaken) (void)fsWriteFileSafely(record, recordText(message.messageId, kRecordWaiting));
  memory.outage = true;
  if (result.outcome == kMailLoginRefused || result.outcome == kMailRefused) {
    memory.refused = true;
    memory.refusedWith = slot.options.mail;
    memory.refusedUntil = monotonicMilliseconds() + kRefusedRetryMilliseconds;
    std::string what = result.outcome == kMailLoginRefused
                           ? "refused the login of " + message.user + " (" + result.answer +
                                 "). Check smtpuser and smtppassword in ferrin.ini: "
                           : "refused " + of + " (" + result.answer + "). Check mailto and mailfrom in ferrin.ini: ";
    sayOnce(memory, "refused\n" + message.url + result.answer,
            head + "the mail server " + message.url + " " + what + waitingText(queued) +
                " and is sent once the server takes it.");
    return false;
  }
  std::string why = result.outcome == kMailMaybeTaken
                        ? " stopped answering while it was handed " + of + " (" + result.answer +
                              "), so it is sent again when the server answers, and may arrive twice (with the same"
                              " Message-ID); "
                        : " could not take " + of + " (" + result.answer + "), so ";
  sayOnce(memory, "down\n" + message.url,
          head + "the mail server " + message.url + why + waitingText(queued) +
              ". ferrin tries again by itself and sends the mails in order when the server answers.");
  retryLater(memory);
  return false;
}

// Lays the mail's printout out as its PDF (once a run), records the
// hand-over and sends it. True when the mail has left the queue.
bool sendQueued(MailerMemory& memory, const std::string& name, const MailName& mail, const PrinterSlot& slot,
                MailMessage& message, std::size_t queued) {
  std::string record, head = slotText(mail.slotNumber);
  MailRecordState state = kRecordWaiting;
  bool known = fsReadSmallFile(mailRecordPath(name), 1024, &record) == 0 &&
               parseRecord(record, &message.messageId, &state);
  if (known && state == kRecordSent) {
    removeSent(name);
    return true;
  }
  if (!known) message.messageId = newMessageId(mail, message.from);
  describePrintout(name, mail, slot, &message);
  if (memory.pdfMade != name && !layOutPdfCopy(mail.slotNumber, mailQueuePath(name), message.pdfPath)) {
    int code = lastError();
    sayOnce(memory, "pdf\n" + name, head + "the printout of " + timeText(mail.printed) + " could not be laid out as a"
            " PDF for its mail" + errorText(code) + ", so " + waitingText(queued) + " and is tried again." +
            (code == kErrorDiskFull ? " Make room on the disk." : ""));
    retryLater(memory);
    return false;
  }
  memory.pdfMade = name;
  int code = fsWriteFileSafely(mailRecordPath(name), recordText(message.messageId, kRecordHanded));
  if (code != 0) {
    sayOnce(memory, "record", head + "the record of a mail could not be written in the folder " +
            std::string(kMailFolder) + errorText(code) + ", so " + waitingText(queued) +
            ". Check that ferrin may write its folder.");
    retryLater(memory);
    return false;
  }
  MailResult result = sendMail(message);
  return settleOutcome(memory, name, mail, slot, message, result, known && state == kRecordHanded, queued);
}

// Sends the oldest mail when it is due. True when it left the queue, so
// that the next one is looked at at once.
bool mailOne(MailerMemory& memory) {
  std::vector<std::string> mails = queuedMails();
  if (mails.empty()) {
    if (memory.outage) writeOutputLine(std::string("The waiting mails have been sent."));
    memory.outage = false;
    memory.said.clear();
    return false;
  }
  unsigned long long now = monotonicMilliseconds();
  if (now < memory.nextTry) return false;
  MailName mail;
  (void)parseMailName(mails.front(), &mail);
  PrinterSlot slot = slotSnapshot(mail.slotNumber);
  if (memory.refused && now < memory.refusedUntil &&
      std::memcmp(&memory.refusedWith, &slot.options.mail, sizeof memory.refusedWith) == 0)
    return false;
  memory.refused = false;
  MailMessage message;
  if (!messageSettings(memory, mail, slot, &message)) {
    memory.outage = true;
    return false;
  }
  if (!beginWork()) return false;
  bool sent = sendQueued(memory, mails.front(), mail, slot, message, mails.size());
  endWork();
  return sent;
}

}  // namespace

void runMailer(int) {
  MailerMemory memory;
  for (;;) {
    if (mailOne(memory)) continue;
    for (int i = 0; i < 20 && !takeMailWake(); ++i) pause(100);
  }
}
