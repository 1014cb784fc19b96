#!/usr/bin/env python3
"""mail_client.py imap|pop3|smtp-plain|smtp-login|lmtp PORT USER [PASSWORD]
One login (or delivery) by a real client on 127.0.0.1. Prints "accepted"
(for imap and pop3 with the messages in INBOX) or "refused" for a refused
password or recipient; anything else (a temporary failure, an internal
error after LOGIN) raises."""
import base64, imaplib, poplib, random, smtplib, socket, ssl, sys

proto, port, user = sys.argv[1], int(sys.argv[2]), sys.argv[3]
password = sys.argv[4] if len(sys.argv) > 4 else ""
# Dovecot delays an address's logins after a failure: each client has its own.
source = (".".join(["127"] + [str(random.randint(1, 254)) for _ in range(3)]), 0)
connect = socket.create_connection
socket.create_connection = lambda address, timeout=None, _=None: connect(address, timeout, source)
b64 = lambda text: base64.b64encode(text.encode()).decode()

if proto == "imap":
    client = imaplib.IMAP4("127.0.0.1", port)
    client._encoding = "utf-8"
    try:
        client.login(user, password)
    except imaplib.IMAP4.error as refusal:
        assert "[AUTHENTICATIONFAILED]" in str(refusal), refusal
        sys.exit(print("refused"))
    status, count = client.select("INBOX")
    assert status == "OK", count
    print("accepted", int(count[0]))
elif proto == "pop3":
    client = poplib.POP3("127.0.0.1", port)
    client.encoding = "utf-8"
    client.user(user)
    try:
        client.pass_(password)
    except poplib.error_proto as refusal:
        assert refusal.args[0].startswith(b"-ERR [AUTH]"), refusal
        sys.exit(print("refused"))
    print("accepted", client.stat()[0])
elif proto == "lmtp":
    try:
        smtplib.LMTP("127.0.0.1", port).sendmail("sender@example.org", [user], "Subject: test\r\n\r\nHi.\r\n")
        print("accepted")
    except smtplib.SMTPRecipientsRefused as refusal:
        assert refusal.recipients[user][0] == 550, refusal
        print("refused")
else:
    # AUTH comes only after STARTTLS; smtplib's login() cannot send UTF-8.
    client = smtplib.SMTP("127.0.0.1", port)
    client.starttls(context=ssl._create_unverified_context())
    client.ehlo()
    if proto == "smtp-plain":
        code, _ = client.docmd("AUTH PLAIN", b64(f"\0{user}\0{password}"))
    else:
        code, _ = client.docmd("AUTH LOGIN", b64(user))
        code, _ = client.docmd(b64(password)) if code == 334 else (code, _)
    assert code in (235, 535), code
    print("accepted" if code == 235 else "refused")
