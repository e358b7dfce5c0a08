#!/usr/bin/python3
"""A real SMTP server on the loopback address for the end-to-end tests, built
on aiosmtpd (Debian's python3-aiosmtpd, hence the system's Python).

    smtpd.py --out DIR [--port P] [--starttls CERT KEY | --tls CERT KEY]
             [--user U --password P] [--max-size N] [--fail-data-once]

Listens on 127.0.0.1:P (0, the default, takes a free port). Writes DIR/pid,
then DIR/port once it accepts connections. In DIR it keeps:

  mail-NNN.eml   every accepted message, the bytes of DATA as received
                 (NNN from 001, going on after the files already there);
  received.log   a line per accepted message:
                 NNN<TAB>Message-ID<TAB>envelope from<TAB>recipients (a,b);
  auth-attempts  a line per login tried: "ok" or "refused";
  dropped.log    with --fail-data-once, the line of the message whose
                 connection was dropped after its DATA, kept as dropped-NNN.eml.

Every file appears whole: each is written under a temporary name and renamed,
and a message's line in received.log is written before its mail-NNN.eml
appears, so a reader that sees the message sees its line too.

--starttls offers STARTTLS and refuses AUTH and MAIL before it; --tls speaks
TLS from the first byte (smtps). --user and --password require AUTH (PLAIN or
LOGIN) before MAIL. --max-size advertises SIZE N and refuses a bigger message.
--fail-data-once reads the first message's DATA whole and then drops the
connection without answering, as a server lost after taking the message
would. Ends on SIGTERM or SIGINT."""
import argparse
import asyncio
import email.parser
import logging
import os
import re
import signal
import ssl
import sys
import warnings

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

TOO_BIG = "552 5.3.4 Message too big for system"


def parse_args():
    parser = argparse.ArgumentParser(description="SMTP server for the end-to-end tests")
    parser.add_argument("--out", required=True, help="folder for the mail, logs, port and pid")
    parser.add_argument("--port", type=int, default=0, help="port on 127.0.0.1; 0 takes a free one")
    tls = parser.add_mutually_exclusive_group()
    tls.add_argument("--starttls", nargs=2, metavar=("CERT", "KEY"),
                     help="offer STARTTLS and require it before AUTH and MAIL")
    tls.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"), help="implicit TLS on the port")
    parser.add_argument("--user", help="require AUTH with this user name")
    parser.add_argument("--password", help="the password of --user")
    parser.add_argument("--max-size", type=int, help="advertise SIZE N and refuse bigger messages")
    parser.add_argument("--fail-data-once", action="store_true",
                        help="drop the connection after reading the first DATA, without an answer")
    args = parser.parse_args()
    if (args.user is None) != (args.password is None):
        parser.error("--user and --password go together")
    return args


def write_whole(path, data):
    """Writes the file under a temporary name and renames it, so that a reader
    sees it complete or not at all."""
    part = path + ".part"
    with open(part, "wb") as out:
        out.write(data)
    os.rename(part, path)


def append_line(path, line):
    # One write of a whole line to a file opened for appending.
    with open(path, "a", encoding="utf-8") as out:
        out.write(line + "\n")


def first_free_number(folder):
    """The number after the highest mail-NNN.eml already in the folder, so a
    server started again in the same folder overwrites nothing."""
    highest = 0
    for name in os.listdir(folder):
        match = re.fullmatch(r"mail-(\d+)\.eml", name)
        if match:
            highest = max(highest, int(match.group(1)))
    return highest + 1


def message_id(content):
    headers = email.parser.BytesHeaderParser().parsebytes(content)
    value = headers.get("Message-ID")
    return " ".join(str(value).split()) if value else "-"


class Handler:
    """Keeps the accepted messages and counts the logins."""

    def __init__(self, args):
        self.out = args.out
        self.user = args.user
        self.password = args.password
        self.drop_next = args.fail_data_once
        self.next_number = first_free_number(args.out)
        self.dropped = 0

    def authenticator(self, server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword)
              and self.user is not None
              and auth_data.login == self.user.encode()
              and auth_data.password == self.password.encode())
        append_line(os.path.join(self.out, "auth-attempts"), "ok" if ok else "refused")
        # Not handled here, a refusal gets aiosmtpd's answer
        # "535 5.7.8 Authentication credentials invalid".
        return AuthResult(success=ok, handled=False, auth_data=auth_data if ok else None)

    def record(self, number, envelope):
        return "%03d\t%s\t%s\t%s" % (number, message_id(envelope.original_content),
                                     envelope.mail_from, ",".join(envelope.rcpt_tos))

    async def handle_DATA(self, server, session, envelope):
        content = envelope.original_content
        if self.drop_next:
            self.drop_next = False
            self.dropped += 1
            write_whole(os.path.join(self.out, "dropped-%03d.eml" % self.dropped), content)
            append_line(os.path.join(self.out, "dropped.log"), self.record(self.dropped, envelope))
            # No answer: the connection goes, and aiosmtpd cancels this
            # handler when it notices.
            server.transport.abort()
            await asyncio.sleep(3600)
            return "421 4.3.0 Connection dropped"
        number = self.next_number
        self.next_number += 1
        path = os.path.join(self.out, "mail-%03d.eml" % number)
        with open(path + ".part", "wb") as out:
            out.write(content)
        append_line(os.path.join(self.out, "received.log"), self.record(number, envelope))
        os.rename(path + ".part", path)
        return "250 2.0.0 OK queued as %03d" % number


class Server(SMTP):
    """aiosmtpd's server, answering a message that is too big (by its SIZE
    parameter or by its data) with the enhanced status code 5.3.4."""

    async def push(self, status):
        if isinstance(status, str) and status.startswith(("552 Error: message size exceeds",
                                                          "552 Error: Too much mail data")):
            status = TOO_BIG
        await super().push(status)


def tls_context(cert_and_key):
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(*cert_and_key)
    return context


def server_factory(args, handler, loop):
    options = dict(
        hostname="localhost",
        ident="ferrin test SMTP server",
        data_size_limit=args.max_size,
        # Logins are allowed on a plain connection unless STARTTLS is
        # offered, in which case AUTH is advertised only after it.
        auth_require_tls=bool(args.starttls),
        auth_required=args.user is not None,
        authenticator=handler.authenticator,
        loop=loop,
    )
    if args.starttls:
        options.update(tls_context=tls_context(args.starttls), require_starttls=True)
    return lambda: Server(handler, **options)


async def serve(args):
    loop = asyncio.get_running_loop()
    handler = Handler(args)
    server = await loop.create_server(server_factory(args, handler, loop), host="127.0.0.1", port=args.port,
                                      ssl=tls_context(args.tls) if args.tls else None)
    stop = asyncio.Event()
    for signum in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(signum, stop.set)
    write_whole(os.path.join(args.out, "port"), str(server.sockets[0].getsockname()[1]).encode())
    await stop.wait()
    server.close()
    await server.wait_closed()


def main():
    args = parse_args()
    logging.basicConfig(level=logging.WARNING, format="smtpd: %(levelname)s %(name)s: %(message)s")
    # Logins on a plain connection are what the tests without TLS ask for:
    # aiosmtpd's warning about them at every connection, and the one about
    # its own use of a deprecated field at every login, would bury the rest.
    warnings.filterwarnings("ignore", message="Requiring AUTH while not requiring TLS")
    noise = ("auth_require_tls == False", "Session.login_data is deprecated")
    logging.getLogger("mail.log").addFilter(
        lambda record: not any(text in record.getMessage() for text in noise))
    os.makedirs(args.out, exist_ok=True)
    # A port file left by an earlier server in the folder must not pass for
    # this one's.
    try:
        os.unlink(os.path.join(args.out, "port"))
    except FileNotFoundError:
        pass
    write_whole(os.path.join(args.out, "pid"), str(os.getpid()).encode())
    asyncio.run(serve(args))
    return 0


if __name__ == "__main__":
    sys.exit(main())
