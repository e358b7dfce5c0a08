// The parts of a mail made without the network: its names in the queue, the
// addresses and server ferrin.ini gives, the headers and the record. The
// sending itself is tested against a real server (tests/e2e/mail.sh).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mail/mail.h"

namespace {

// The value of an RFC 2047 header made of "=?UTF-8?B?...?=" words, decoded.
std::string decodedWords(const std::string& value) {
  static const std::string digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::string::size_type at = value.find("=?UTF-8?B?"); at != std::string::npos;
       at = value.find("=?UTF-8?B?", at)) {
    at += 10;
    std::string::size_type end = value.find("?=", at);
    unsigned bits = 0;
    int count = 0;
    for (char c : value.substr(at, end - at)) {
      if (c == '=') break;
      bits = (bits << 6) | static_cast<unsigned>(digits.find(c));
      count += 6;
      if (count >= 8) {
        count -= 8;
        out += static_cast<char>((bits >> count) & 0xFF);
      }
    }
    at = end;
  }
  return out;
}

TEST(MailMessage, QueueNamesRoundTripAndNothingElseIsAMail) {
  MailName mail{42, 1, LocalTime{2026, 12, 10, 9, 30, 5}};
  const std::string name = mailFileName(mail);
  EXPECT_EQ(name, "000042-1-20261210-093005.prn");
  MailName back{};
  ASSERT_TRUE(parseMailName(name, &back));
  EXPECT_EQ(back.number, 42u);
  EXPECT_EQ(back.slotNumber, 1);
  EXPECT_EQ(mailFileName(back), name);
  // The scratch PDF, the record and its half-written twin, a copy not yet
  // released, a printer number out of range, and a name one character off.
  for (const char* other : {".000042-1-20261210-093005.pdf", ".000042-1-20261210-093005.record",
                            ".000042-1-20261210-093005.record.new", "also-1-m-1-2-3-4.copy",
                            "000042-9-20261210-093005.prn", "000042-1-20261210-093005.prnx",
                            "00004a-1-20261210-093005.prn", "000042-1-2026121-0093005.prn"})
    EXPECT_FALSE(parseMailName(other, &back)) << other;
}

TEST(MailMessage, AddressesAndServerFromTheSettings) {
  std::vector<std::string> to;
  std::string bad;
  ASSERT_TRUE(parseAddresses(" owner@example.com ,office+till@shop.example ", &to, &bad));
  EXPECT_EQ(to, (std::vector<std::string>{"owner@example.com", "office+till@shop.example"}));
  // Nothing that could add a header or a recipient of its own.
  for (const char* hostile : {"", "owner", "@example.com", "owner@", "a@b@c", "owner@example.com,,x@y",
                              "owner@example.com\r\nBcc: x@y", "Owner <owner@example.com>", "a b@example.com",
                              "\"x\"@example.com"}) {
    EXPECT_FALSE(parseAddresses(hostile, &to, &bad)) << hostile;
    EXPECT_TRUE(to.empty()) << hostile;
  }
  ASSERT_FALSE(parseAddresses("good@example.com, bad address", &to, &bad));
  EXPECT_EQ(bad, "bad address");

  std::string url;
  ASSERT_TRUE(serverUrl("mail.example.com", kSmtpStartTls, &url));
  EXPECT_EQ(url, "smtp://mail.example.com:587");
  ASSERT_TRUE(serverUrl("mail.example.com", kSmtpTls, &url));
  EXPECT_EQ(url, "smtps://mail.example.com:465");
  ASSERT_TRUE(serverUrl(" 127.0.0.1:2525 ", kSmtpNone, &url));
  EXPECT_EQ(url, "smtp://127.0.0.1:2525");
  for (const char* hostile : {"", ":25", "host:", "host:0", "host:65536", "host:25x", "host/path", "user@host",
                              "host;rm", "host:25:26"})
    EXPECT_FALSE(serverUrl(hostile, kSmtpStartTls, &url)) << hostile;
}

TEST(MailMessage, SubjectDateIdAndRecord) {
  const LocalTime printed{2026, 12, 10, 9, 30, 5};
  EXPECT_EQ(mailSubject(1, printed, "End of day", 437), "Printout from printer #1, 2026-12-10 09:30:05: End of day");
  EXPECT_EQ(mailSubject(0, printed, "", 437), "Printout from printer #0, 2026-12-10 09:30:05");
  // A first line in code page 850 (0x81 u umlaut, 0x9C pound sign), long
  // enough to need several words: folded lines no longer than 78, and the
  // words give the line back in UTF-8.
  std::string line = "M\x81ller \x9C" "12.50";
  for (int i = 0; i < 4; ++i) line += " M\x81ller";
  std::string subject = mailSubject(1, printed, line, 850);
  const std::string head = "Printout from printer #1, 2026-12-10 09:30:05:\r\n ";
  ASSERT_EQ(subject.compare(0, head.size(), head), 0) << subject;
  for (std::string::size_type at = 0, end; at < subject.size(); at = end + 2) {
    end = subject.find("\r\n", at);
    if (end == std::string::npos) end = subject.size();
    EXPECT_LE(end - at, 78u) << subject;
  }
  std::string expected = "M\xC3\xBCller \xC2\xA3" "12.50";
  for (int i = 0; i < 4; ++i) expected += " M\xC3\xBCller";
  EXPECT_EQ(decodedWords(subject), expected);

  EXPECT_EQ(mailDate(1796895005), "Thu, 10 Dec 2026 09:30:05 +0000");
  EXPECT_EQ(mailDate(951868799), "Tue, 29 Feb 2000 23:59:59 +0000");
  EXPECT_EQ(mailDate(0), "Thu, 1 Jan 1970 00:00:00 +0000");

  MailName mail{7, 1, printed};
  std::string id = newMessageId(mail, "till@shop.example");
  EXPECT_EQ(id.compare(0, 32, "<ferrin.000007-1-20261210-093005"), 0) << id;
  EXPECT_EQ(id.substr(id.size() - 14), "@shop.example>");
  EXPECT_NE(id, newMessageId(mail, "till@shop.example")) << "two mails of the same name share an id";

  for (MailRecordState state : {kRecordWaiting, kRecordHanded, kRecordSent}) {
    std::string back;
    MailRecordState read = kRecordWaiting;
    ASSERT_TRUE(parseRecord(recordText(id, state), &back, &read));
    EXPECT_EQ(back, id);
    EXPECT_EQ(read, state);
  }
  std::string back;
  MailRecordState read;
  for (const char* broken : {"", "message-id <a@b>\n", "message-id <a@b>\nhanded maybe\n",
                             "message-id <a@b>\nhanded yes", "message-id a@b\nhanded yes\n",
                             "message-id <a@b>\r\nBcc: x\nhanded yes\n", "message-id <a@b> <c@d>\nhanded no\n"})
    EXPECT_FALSE(parseRecord(broken, &back, &read)) << broken;
}

}  // namespace
