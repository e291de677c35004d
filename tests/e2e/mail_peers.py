"""The host's own mail road, from Debian's packages on loopback: a dovecot IMAP account that
dovecot's delivery agent fills, and getmail6 fetching it with IMAP IDLE into the robot's
Maildir. Both run as the unprivileged user `nobody`, as a mail system's users do; dovecot with
a configuration and port of its own."""

import email.message
import email.utils
import os
import pwd
import re
import socket
import subprocess

from harness import SOURCE_DIR, WAIT, read_bytes, wait_for

DOVECOT = "/usr/sbin/dovecot"
LDA = "/usr/lib/dovecot/dovecot-lda"
GETMAIL = "/usr/bin/getmail"
MAIL_USER = "nobody"


def missing():
    """Why these peers cannot run here, or None."""
    for program in (DOVECOT, LDA, GETMAIL):
        if not os.path.exists(program):
            return program + " is not installed"
    if os.getuid() != 0:
        return "dovecot and getmail are started as root, their mail handled as nobody"
    return None


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def give_to_mail_user(path):
    user = pwd.getpwnam(MAIL_USER)
    for folder, dirs, files in os.walk(path):
        for name in [folder] + [os.path.join(folder, f) for f in dirs + files]:
            os.chown(name, user.pw_uid, user.pw_gid)


class MailServer:
    """dovecot serving IMAP for one account, `host` with the password `secret`."""

    USER, PASSWORD = "host", "secret"

    def __init__(self, group, folder):
        self.folder = folder
        self.conf = os.path.join(folder, "dovecot.conf")
        self.log = os.path.join(folder, "dovecot.log")
        self.port = free_port()
        user = pwd.getpwnam(MAIL_USER)
        for sub in ("run", "state", "home"):
            os.makedirs(os.path.join(folder, sub))
        give_to_mail_user(os.path.join(folder, "home"))
        with open(os.path.join(folder, "passwd"), "w") as f:
            f.write("%s:{PLAIN}%s\n" % (self.USER, self.PASSWORD))
        with open(self.conf, "w") as f:
            f.write("""base_dir = {d}/run
state_dir = {d}/state
log_path = {d}/dovecot.log
protocols = imap
listen = 127.0.0.1
ssl = no
disable_plaintext_auth = no
auth_mechanisms = plain
default_login_user = dovenull
default_internal_user = dovecot
passdb {{
  driver = passwd-file
  args = scheme=PLAIN username_format=%u {d}/passwd
}}
userdb {{
  driver = static
  args = uid={uid} gid={gid} home={d}/home/%u
}}
mail_location = maildir:~/Maildir
service imap-login {{
  inet_listener imap {{
    address = 127.0.0.1
    port = {port}
  }}
  inet_listener imaps {{
    port = 0
  }}
}}
""".format(d=folder, uid=user.pw_uid, gid=user.pw_gid, port=self.port))
        self.process = group.start([DOVECOT, "-F", "-c", self.conf], stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        wait_for("dovecot to listen", self._listening)

    def _listening(self):
        if self.process.poll() is not None:
            raise RuntimeError("dovecot ended: " + self.log_text())
        try:
            with socket.create_connection(("127.0.0.1", self.port), timeout=1) as s:
                return s.recv(100).startswith(b"* OK")
        except OSError:
            return False

    def log_text(self):
        try:
            return read_bytes(self.log).decode("utf-8", "replace")
        except FileNotFoundError:
            return ""

    def deliver(self, message, sender):
        """Hands a message to dovecot's delivery agent, as the machine's mail server would."""
        run = subprocess.run([LDA, "-c", self.conf, "-d", self.USER, "-f", sender, "-e"],
                             input=bytes(message), capture_output=True, timeout=WAIT)
        if run.returncode != 0:
            raise RuntimeError("dovecot-lda: %d %s" % (run.returncode, run.stderr))


class Fetcher:
    """getmail6 waiting on the account with IMAP IDLE, delivering into `maildir`.

    getmail re-selects the mailbox before each IDLE, so a message delivered while it is still
    fetching the last one is only fetched at its next wake (five minutes later): each delivery
    through `deliver` waits for getmail to be idle again first. Its trace tells when it is."""

    IDLE = "Entering IDLE mode"

    def __init__(self, group, folder, server, maildir):
        os.makedirs(folder)
        for sub in ("new", "cur", "tmp"):
            os.makedirs(os.path.join(maildir, sub), exist_ok=True)
        give_to_mail_user(maildir)
        self.server = server
        self.rc = os.path.join(folder, "getmailrc")
        self.log = os.path.join(folder, "getmail.log")
        with open(self.rc, "w") as f:
            f.write(loopback_config(readme_getmail_config(), server.port, server.USER,
                                    server.PASSWORD, maildir.rstrip("/") + "/", MAIL_USER))
        os.chmod(self.rc, 0o600)
        with open(self.log, "wb") as out:
            self.process = group.start([GETMAIL, "--rcfile=" + self.rc, "--getmaildir=" + folder,
                                        "--idle=INBOX", "--trace"],
                                       stdout=out, stderr=subprocess.STDOUT)
        self.idles = 0
        self.wait_idle()

    def log_text(self):
        return read_bytes(self.log).decode("utf-8", "replace")

    def wait_idle(self):
        """Waits for getmail to idle again after the last delivery woke it: it has entered IDLE
        more times than when that delivery was made, and has not been woken since."""
        def idle():
            if self.process.poll() is not None:
                raise RuntimeError("getmail ended: " + self.log_text())
            text = self.log_text()
            return (text.count(self.IDLE) > self.idles and
                    text.rfind(self.IDLE) > text.rfind("IDLE message received"))
        wait_for("getmail to wait on the mailbox", idle)

    def deliver(self, message, sender):
        """Delivers a message once getmail waits for it: it wakes and fetches it at once."""
        self.wait_idle()
        self.idles = self.log_text().count(self.IDLE)
        self.server.deliver(message, sender)


def readme_getmail_config():
    """The getmail6 configuration the README gives a host."""
    with open(os.path.join(SOURCE_DIR, "README.md"), encoding="utf-8") as f:
        text = f.read()
    blocks = re.findall(r"```ini\n(\[retriever\].*?)```", text, re.DOTALL)
    if len(blocks) != 1:
        raise AssertionError("the README gives %d getmail configurations" % len(blocks))
    return blocks[0]


def loopback_config(text, port, user, password, maildir, mail_user):
    """The README's configuration for the loopback account: no TLS, the test's account and
    Maildir, delivered as the mail user."""
    values = {"type": "SimpleIMAPRetriever\nport = %d" % port, "server": "127.0.0.1",
              "username": user, "password": password,
              "path": maildir + "\nuser = " + mail_user}
    lines = []
    for line in text.splitlines():
        name = line.split("=", 1)[0].strip()
        if "=" in line and name in values:
            if name == "type" and "Retriever" not in line:
                lines.append(line)
                continue
            line = "%s = %s" % (name, values.pop(name))
        lines.append(line)
    if values:
        raise AssertionError("the README's getmail configuration lacks " + ", ".join(values))
    return "\n".join(lines) + "\n"


def order_mail(sender, subject, files=()):
    """A player's message with his order files attached, as a mail client sends it."""
    message = email.message.EmailMessage()
    message["From"] = sender
    message["To"] = "host@localhost"
    message["Subject"] = subject
    message["Message-ID"] = email.utils.make_msgid(domain="client.test")
    message["Date"] = email.utils.formatdate()
    message.set_content("mes ordres\n")
    for name, data in files:
        message.add_attachment(data, maintype="application", subtype="octet-stream",
                               filename=name)
    return message
