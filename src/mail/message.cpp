// The parts of a mail that need no network: its file names, addresses,
// server, headers and record.
#include <cstdio>
#include <ctime>
#include <random>

#include "console/codepage.h"
#include "console/cp437.h"
#include "console/text.h"
#include "mail/mail.h"

namespace {

bool allDigits(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// Characters a plain address may hold besides letters and digits.
bool addressCharacter(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return std::string(".-_+=!#$%&'*/?^`{|}~@").find(c) != std::string::npos;
}

bool plainAddress(const std::string& address) {
  std::string::size_type at = address.find('@');
  if (at == std::string::npos || at == 0 || at + 1 >= address.size() || address.find('@', at + 1) != std::string::npos)
    return false;
  if (address.size() > 254) return false;
  for (char c : address)
    if (!addressCharacter(c)) return false;
  return true;
}

std::string trimmed(const std::string& text) {
  std::string::size_type first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string twoDigits(int n) {
  char text[8];
  (void)std::snprintf(text, sizeof text, "%02d", n % 100);
  return text;
}

// UTF-16 (one unit per DOS byte, so no surrogates) as UTF-8.
std::string utf8Of(const std::u16string& units) {
  std::string out;
  for (char16_t unit : units) appendUtf8(out, unit);
  return out;
}

std::string base64Of(const std::string& bytes) {
  static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t at = 0; at < bytes.size(); at += 3) {
    unsigned n = static_cast<unsigned char>(bytes[at]) << 16;
    if (at + 1 < bytes.size()) n |= static_cast<unsigned char>(bytes[at + 1]) << 8;
    if (at + 2 < bytes.size()) n |= static_cast<unsigned char>(bytes[at + 2]);
    out += digits[(n >> 18) & 63];
    out += digits[(n >> 12) & 63];
    out += at + 1 < bytes.size() ? digits[(n >> 6) & 63] : '=';
    out += at + 2 < bytes.size() ? digits[n & 63] : '=';
  }
  return out;
}

// Header text with characters beyond ASCII as RFC 2047 encoded words of at
// most 45 bytes of UTF-8 each (never splitting a character), one a line.
std::string encodedWords(const std::string& utf8) {
  std::string out, word;
  auto flush = [&]() {
    if (word.empty()) return;
    if (!out.empty()) out += "\r\n ";
    out += "=?UTF-8?B?" + base64Of(word) + "?=";
    word.clear();
  };
  for (std::size_t at = 0; at < utf8.size();) {
    std::size_t length = 1;
    unsigned char lead = static_cast<unsigned char>(utf8[at]);
    if (lead >= 0xE0) length = 3;
    else if (lead >= 0xC0) length = 2;
    if (word.size() + length > 45) flush();
    word += utf8.substr(at, length);
    at += length;
  }
  flush();
  return out;
}

}  // namespace

bool parseAddresses(const std::string& text, std::vector<std::string>* addresses, std::string* bad) {
  addresses->clear();
  std::string::size_type at = 0;
  while (at <= text.size()) {
    std::string::size_type comma = text.find(',', at);
    std::string address = trimmed(text.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
    if (!plainAddress(address)) {
      *bad = address;
      addresses->clear();
      return false;
    }
    addresses->push_back(address);
    if (comma == std::string::npos) break;
    at = comma + 1;
  }
  return !addresses->empty();
}

bool serverUrl(const std::string& server, SmtpSecurity security, std::string* url) {
  std::string host = trimmed(server), port;
  std::string::size_type colon = host.rfind(':');
  if (colon != std::string::npos) {
    port = host.substr(colon + 1);
    host.resize(colon);
    if (!allDigits(port) || port.size() > 5 || std::stol(port) < 1 || std::stol(port) > 65535) return false;
  }
  if (host.empty() || host.size() > 253) return false;
  for (char c : host)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-'))
      return false;
  if (port.empty()) port = security == kSmtpTls ? "465" : security == kSmtpNone ? "25" : "587";
  *url = std::string(security == kSmtpTls ? "smtps://" : "smtp://") + host + ":" + port;
  return true;
}

std::string mailSubject(int slotNumber, const LocalTime& printed, const std::string& firstLine, int codePage) {
  const LocalTime& t = printed;
  std::string head = "Printout from printer #" + numberText(slotNumber) + ", " + numberText(t.year) + "-" +
                     twoDigits(t.month) + "-" + twoDigits(t.day) + " " + twoDigits(t.hour) + ":" +
                     twoDigits(t.minute) + ":" + twoDigits(t.second);
  std::string line = firstLine.substr(0, 200);
  bool ascii = true;
  for (char c : line)
    if (static_cast<unsigned char>(c) >= 0x80 || static_cast<unsigned char>(c) < 0x20) ascii = false;
  if (line.empty()) return head;
  if (ascii) return head + ": " + line;
  std::u16string units;
  std::string utf8 = codePageToUtf16(codePage, line, &units) ? utf8Of(units) : cp437ToUtf8(line);
  for (char& c : utf8)
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  return head + ":\r\n " + encodedWords(utf8);
}

std::string mailDate(long long secondsSince1970) {
  static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  // Days since 1970 to the civil date (proleptic Gregorian calendar).
  long long day = secondsSince1970 / 86400, second = secondsSince1970 % 86400;
  if (second < 0) {
    second += 86400;
    --day;
  }
  int weekday = static_cast<int>(((day % 7) + 11) % 7);  // 1970-01-01 was a Thursday
  long long z = day + 719468, era = (z >= 0 ? z : z - 146096) / 146097;
  long long doe = z - era * 146097, yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100), mp = (5 * doy + 2) / 153;
  int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1), m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  long long y = yoe + era * 400 + (m <= 2 ? 1 : 0);
  char text[48];
  (void)std::snprintf(text, sizeof text, "%s, %d %s %lld %02d:%02d:%02d +0000", days[weekday], d, months[m - 1], y,
                      static_cast<int>(second / 3600), static_cast<int>(second / 60 % 60),
                      static_cast<int>(second % 60));
  return text;
}

std::string newMessageId(const MailName& mail, const std::string& from) {
  std::string::size_type at = from.find('@');
  std::string domain = at == std::string::npos ? std::string("ferrin.invalid") : from.substr(at + 1);
  std::random_device device;
  char random[20];
  (void)std::snprintf(random, sizeof random, "%08x%08x", device(), device());
  std::string name = mailFileName(mail);
  return "<ferrin." + name.substr(0, name.size() - 4) + "." + random + "@" + domain + ">";
}

namespace {
const char* const kStateWords[] = {"no", "yes", "sent"};
}  // namespace

std::string recordText(const std::string& messageId, MailRecordState state) {
  return "message-id " + messageId + "\nhanded " + kStateWords[state] + "\n";
}

bool parseRecord(const std::string& text, std::string* messageId, MailRecordState* state) {
  const std::string idKey = "message-id ", handedKey = "\nhanded ";
  std::string::size_type end = text.find('\n');
  std::string::size_type at = text.find(handedKey);
  if (text.compare(0, idKey.size(), idKey) != 0 || end == std::string::npos || at != end) return false;
  *messageId = text.substr(idKey.size(), end - idKey.size());
  std::string value = text.substr(at + handedKey.size());
  bool known = false;
  for (int i = 0; i < 3; ++i)
    if (value == std::string(kStateWords[i]) + "\n") {
      *state = static_cast<MailRecordState>(i);
      known = true;
    }
  return known && messageId->size() > 2 && (*messageId)[0] == '<' && messageId->back() == '>' &&
         messageId->find_first_of("\r\n ") == std::string::npos;
}
