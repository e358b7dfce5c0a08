// The mail queue in the folder "mail-waiting": mails join it here, from the
// printouts' copies; the mailer (mail/mail.h) empties it.
#include "spool/mailqueue.h"

#include <algorithm>
#include <atomic>
#include <cstdio>

#include "config/slots.h"
#include "files/errors.h"
#include "files/fs.h"
#include "files/spoolfile.h"

namespace {

std::atomic<bool> mailWoken{false};
// The numbering of new mails: watchers of several printers queue mails.
ProcessLock MailQueueLock;

bool allDigits(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

int numberAt(const std::string& text, std::size_t at, std::size_t count) {
  return std::stoi(text.substr(at, count));
}

std::string stemOf(const std::string& name) { return name.substr(0, name.size() - 4); }

}  // namespace

bool parseMailName(const std::string& name, MailName* mail) {
  // NNNNNN-P-YYYYMMDD-HHMMSS.prn
  if (name.size() != 28 || name.compare(24, 4, ".prn") != 0 || name[6] != '-' || name[8] != '-' || name[17] != '-')
    return false;
  if (!allDigits(name.substr(0, 6)) || !allDigits(name.substr(7, 1)) || !allDigits(name.substr(9, 8)) ||
      !allDigits(name.substr(18, 6)))
    return false;
  mail->number = static_cast<unsigned long>(std::stol(name.substr(0, 6)));
  mail->slotNumber = name[7] - '0';
  LocalTime& t = mail->printed;
  t.year = numberAt(name, 9, 4);
  t.month = numberAt(name, 13, 2);
  t.day = numberAt(name, 15, 2);
  t.hour = numberAt(name, 18, 2);
  t.minute = numberAt(name, 20, 2);
  t.second = numberAt(name, 22, 2);
  return mail->slotNumber < kSlotCount;
}

std::string mailFileName(const MailName& mail) {
  char text[40];
  const LocalTime& t = mail.printed;
  (void)std::snprintf(text, sizeof text, "%06lu-%d-%04d%02d%02d-%02d%02d%02d.prn", mail.number % 1000000,
                      mail.slotNumber % 10, t.year % 10000, t.month % 100, t.day % 100, t.hour % 100,
                      t.minute % 100, t.second % 100);
  return text;
}

std::string mailQueuePath(const std::string& name) { return std::string(kMailFolder) + "/" + name; }
std::string mailRecordPath(const std::string& name) {
  return std::string(kMailFolder) + "/." + stemOf(name) + ".record";
}
std::string mailPdfPath(const std::string& name) { return std::string(kMailFolder) + "/." + stemOf(name) + ".pdf"; }

std::vector<std::string> queuedMails() {
  std::vector<std::string> names, mails;
  if (fsListFolder(kMailFolder, &names) != 0) return mails;
  MailName mail;
  for (const std::string& name : names)
    if (parseMailName(name, &mail)) mails.push_back(name);
  std::sort(mails.begin(), mails.end());
  return mails;
}

int moveByName(const std::string& from, const std::string& to) {
  clearError();
  openSpoolFile(from);
  if (lastError() == 0) moveSpoolFile(to);
  int code = lastError();
  closeSpoolFile();
  clearError();
  return code;
}

int queueMail(const std::string& copyPath, int slotNumber) {
  LockGuard lock(MailQueueLock);
  int code = fsCreateFolder(kMailFolder);
  if (code != 0) return code;
  unsigned long highest = 0;
  MailName mail;
  for (const std::string& name : queuedMails())
    if (parseMailName(name, &mail) && mail.number > highest) highest = mail.number;
  mail.number = highest + 1;
  mail.slotNumber = slotNumber;
  mail.printed = localTimeNow();
  code = moveByName(copyPath, mailQueuePath(mailFileName(mail)));
  // Its new name on the disk before the copy's old one can go.
  if (code == 0) code = fsSyncFolder(kMailFolder);
  return code;
}

void wakeMailer() { mailWoken = true; }

bool takeMailWake() { return mailWoken.exchange(false); }

void settleMailAtStart() {
  std::vector<std::string> names;
  if (fsListFolder(kMailFolder, &names, true) != 0) return;
  std::vector<std::string> mails = queuedMails();
  for (const std::string& name : names) {
    if (name.empty() || name[0] != '.') continue;
    // Each hidden file is a mail's PDF or record ("." + stem + ending), or
    // one half written (".new"); the PDFs are made again.
    std::string::size_type dot = name.find('.', 1);
    std::string stem = name.substr(1, dot == std::string::npos ? std::string::npos : dot - 1);
    std::string ending = dot == std::string::npos ? std::string() : name.substr(dot);
    bool mailThere = std::find(mails.begin(), mails.end(), stem + ".prn") != mails.end();
    if (ending == ".pdf" || ending == ".record.new" || (ending == ".record" && !mailThere))
      (void)fsDeleteLeftover(std::string(kMailFolder) + "/" + name);
  }
}

