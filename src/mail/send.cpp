// One mail through libcurl: SMTP with STARTTLS, TLS or neither, a login
// where a user is set, and the message made by libcurl's MIME API (a text
// part and the PDF, base64). What the server answered is followed through
// libcurl's protocol trace, so that a failure is known to have come before
// the message was handed over (then it was not taken) or after (then it may
// have arrived).
#include <curl/curl.h>

#include <cstring>

#include "mail/mail.h"

namespace {

// The server's answers as the transfer goes.
struct Trace {
  bool dataAccepted = false;  // "354": the message itself is being sent
  bool answeredAfter = false; // an answer came after the message
  int lastCode = 0;
  std::string lastAnswer;
};

int traceCallback(CURL*, curl_infotype type, char* data, size_t size, void* context) {
  Trace* trace = static_cast<Trace*>(context);
  if (type != CURLINFO_HEADER_IN || size < 3) return 0;
  std::string line(data, size);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  if (line.size() < 3 || line[0] < '1' || line[0] > '5') return 0;
  int code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
  if (trace->dataAccepted) trace->answeredAfter = true;
  if (code == 354) trace->dataAccepted = true;
  // A reply of several lines ("250-...") is followed by its last one; the
  // first line of an answer is the one worth showing.
  if (code != trace->lastCode || line.size() < 4 || line[3] == ' ' || trace->lastAnswer.empty()) {
    if (line.size() > 300) line.resize(300);
    trace->lastAnswer = line;
  }
  trace->lastCode = code;
  return 0;
}

MailOutcome outcomeOf(CURLcode code, const Trace& trace) {
  if (code == CURLE_OK) return kMailSent;
  if (trace.dataAccepted && !trace.answeredAfter) return kMailMaybeTaken;
  int answer = trace.lastCode;
  if (code == CURLE_LOGIN_DENIED || answer == 535 || answer == 534 || answer == 530) return kMailLoginRefused;
  if (answer == 552 || trace.lastAnswer.find("5.3.4") != std::string::npos) return kMailTooBig;
  if (answer >= 500 && answer < 600) return kMailRefused;
  return kMailNotTaken;
}

struct Transfer {
  CURL* curl = nullptr;
  curl_mime* mime = nullptr;
  curl_slist* recipients = nullptr;
  curl_slist* headers = nullptr;
  ~Transfer() {
    curl_slist_free_all(recipients);
    curl_slist_free_all(headers);
    curl_mime_free(mime);
    if (curl != nullptr) curl_easy_cleanup(curl);
  }
};

// The message's body: its text, and the PDF as an attachment.
bool buildMime(Transfer& t, const MailMessage& message) {
  t.mime = curl_mime_init(t.curl);
  curl_mimepart* text = curl_mime_addpart(t.mime);
  curl_mimepart* pdf = curl_mime_addpart(t.mime);
  if (text == nullptr || pdf == nullptr) return false;
  bool ok = curl_mime_data(text, message.text.c_str(), CURL_ZERO_TERMINATED) == CURLE_OK &&
            curl_mime_type(text, "text/plain; charset=utf-8") == CURLE_OK &&
            curl_mime_encoder(text, "quoted-printable") == CURLE_OK &&
            curl_mime_filedata(pdf, message.pdfPath.c_str()) == CURLE_OK &&
            curl_mime_filename(pdf, message.pdfName.c_str()) == CURLE_OK &&
            curl_mime_type(pdf, "application/pdf") == CURLE_OK && curl_mime_encoder(pdf, "base64") == CURLE_OK;
  for (const std::string& header : {"Date: " + message.date, "From: " + message.from, "Subject: " + message.subject,
                                    "Message-ID: " + message.messageId}) {
    curl_slist* more = curl_slist_append(t.headers, header.c_str());
    if (more == nullptr) return false;
    t.headers = more;
  }
  std::string to;
  for (const std::string& address : message.to) {
    to += (to.empty() ? "To: " : ", ") + address;
    curl_slist* more = curl_slist_append(t.recipients, ("<" + address + ">").c_str());
    if (more == nullptr) return false;
    t.recipients = more;
  }
  curl_slist* more = curl_slist_append(t.headers, to.c_str());
  if (more == nullptr) return false;
  t.headers = more;
  return ok;
}

void setOptions(Transfer& t, const MailMessage& message, Trace* trace, char* error) {
  CURL* c = t.curl;
  (void)curl_easy_setopt(c, CURLOPT_URL, message.url.c_str());
  (void)curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  (void)curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);
  (void)curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 20L);
  (void)curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
  (void)curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, 60L);
  (void)curl_easy_setopt(c, CURLOPT_USE_SSL,
                         message.security == kSmtpStartTls ? static_cast<long>(CURLUSESSL_ALL)
                                                           : static_cast<long>(CURLUSESSL_NONE));
  if (!message.caFile.empty()) (void)curl_easy_setopt(c, CURLOPT_CAINFO, message.caFile.c_str());
  if (!message.user.empty()) {
    (void)curl_easy_setopt(c, CURLOPT_USERNAME, message.user.c_str());
    (void)curl_easy_setopt(c, CURLOPT_PASSWORD, message.password.c_str());
  }
  (void)curl_easy_setopt(c, CURLOPT_MAIL_FROM, ("<" + message.from + ">").c_str());
  (void)curl_easy_setopt(c, CURLOPT_MAIL_RCPT, t.recipients);
  (void)curl_easy_setopt(c, CURLOPT_HTTPHEADER, t.headers);
  (void)curl_easy_setopt(c, CURLOPT_MIMEPOST, t.mime);
  (void)curl_easy_setopt(c, CURLOPT_DEBUGFUNCTION, traceCallback);
  (void)curl_easy_setopt(c, CURLOPT_DEBUGDATA, trace);
  (void)curl_easy_setopt(c, CURLOPT_VERBOSE, 1L);
}

}  // namespace

MailResult sendMail(const MailMessage& message) {
  // libcurl's global set-up, once (the first call is made by the mailer
  // thread alone, before any other transfer).
  static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  MailResult result{kMailNotTaken, std::string()};
  Transfer t;
  if (ready) t.curl = curl_easy_init();
  if (t.curl == nullptr || !buildMime(t, message)) {
    result.answer = "libcurl could not be set up";
    return result;
  }
  Trace trace;
  char error[CURL_ERROR_SIZE];
  error[0] = '\0';
  setOptions(t, message, &trace, error);
  CURLcode code = curl_easy_perform(t.curl);
  result.outcome = outcomeOf(code, trace);
  if (result.outcome == kMailLoginRefused || result.outcome == kMailTooBig || result.outcome == kMailRefused)
    result.answer = trace.lastAnswer;
  if (result.answer.empty()) result.answer = error[0] != '\0' ? error : curl_easy_strerror(code);
  return result;
}
