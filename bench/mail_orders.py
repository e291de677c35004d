#!/usr/bin/env python3
"""Orders by mail, as the players wait for them: from a player's message landing in the
Maildir's new/ (written in tmp/ and renamed, as every delivery agent does) to his receipt in the
mail server. The real robot (headless), msmtp into a local SMTP server, the league page server
on loopback; a game of eleven human players, one message each per run.

    python3 bench/mail_orders.py [--runs 10]

Measured twice: with an empty Maildir, then with a thousand of the host's own messages in cur/
and a thousand in new/ (his mail and another game's orders, which the robot leaves where they
are), then with a hundred more landing at once just before each measured message."""

import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(TOP, "tests", "e2e"))
os.environ.setdefault("VENTARI_BIN_DIR", os.path.join(TOP, "build", "bin"))
os.environ.setdefault("VENTARI_SOURCE_DIR", TOP)

from harness import (BIN_DIR, NEXT, GameFolder, LeagueServer, ProcessGroup,  # noqa: E402
                     SmtpSink, bench_runs, msmtp_command, read_bytes, wait_for)
from mail_peers import order_mail  # noqa: E402

# Eleven human players, ten runs: never all orders in, so the robot never turns to the ready
# sound and the turn, which are not measured here.
PLAYERS = [("P%d" % n, "p%d@localhost" % n) for n in range(1, 12)] + [("Robot", "COMPUTER")]
UNRELATED = b"From: someone@elsewhere.org\nTo: host@localhost\nSubject: offre\n\n" + \
    b"x" * 2000 + b"\n"


class Bench:
    def __init__(self, root):
        self.root = root
        self.group = ProcessGroup()
        self.game = GameFolder(os.path.join(root, "host"), players=PLAYERS)
        self.game.set_deadline(NEXT)
        self.game.set_year("2400")
        self.league = LeagueServer(self.group, os.path.join(root, "league"), "alpha",
                                   deadline=NEXT)
        self.sink = SmtpSink(self.group, os.path.join(root, "sink"))
        self.maildir = os.path.join(root, "Maildir")
        for sub in ("new", "cur", "tmp"):
            os.makedirs(os.path.join(self.maildir, sub))
        env = dict(os.environ, VENTARI_SENDMAIL=msmtp_command(root, self.sink),
                   VENTARI_LEAGUE_SERVER=self.league.url, SDL_AUDIODRIVER="dummy",
                   VENTARI_RECEIPTS="1", VENTARI_MAILDIR=self.maildir)
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "VENTARI_WATCH"):
            env.pop(name, None)
        self.log_path = os.path.join(root, "ventari.log")
        self.log = open(self.log_path, "wb")
        self.group.start([os.path.join(BIN_DIR, "ventari"), "--headless", "--folder",
                          self.game.root], env=env, stdout=self.log, stderr=self.log)
        wait_for("the robot's first look", lambda: b"state: " in read_bytes(self.log_path),
                 timeout=30)
        self.delivered = 0

    def deliver(self, data):
        self.delivered += 1
        name = "%d.M%dP%d.bench" % (time.time(), self.delivered, os.getpid())
        with open(os.path.join(self.maildir, "tmp", name), "wb") as f:
            f.write(data)
        os.rename(os.path.join(self.maildir, "tmp", name),
                  os.path.join(self.maildir, "new", name))

    def orders(self, row, saved):
        mine = os.path.join(self.root, "player%d" % row)
        shutil.rmtree(mine, ignore_errors=True)
        os.makedirs(mine)
        shutil.copy(self.game.path("alpha.hst"), mine)
        subprocess.run([os.path.join(BIN_DIR, "starsgen"), "--orders", "alpha.hst", "--player",
                        str(row)] + (["--saved"] if saved else []), cwd=mine, check=True)
        return read_bytes(os.path.join(mine, "alpha.x%d" % row))

    def receipts(self):
        return sum(1 for m in self.sink.messages() if m["Subject"].endswith("ordres reçus"))

    def one(self, row, saved, unrelated=0):
        data = bytes(order_mail(PLAYERS[row - 1][1], "ordres",
                                [("alpha.x%d" % row, self.orders(row, saved))]))
        before = self.receipts()
        for _ in range(unrelated):
            self.deliver(UNRELATED)
        start = time.monotonic()
        self.deliver(data)
        wait_for("the receipt", lambda: self.receipts() > before, timeout=60, interval=0.01)
        return time.monotonic() - start

    def forget_orders(self):
        for row in range(1, len(PLAYERS)):
            try:
                os.remove(self.game.path("alpha.x%d" % row))
            except FileNotFoundError:
                pass

    def fill(self, count):
        for n in range(count):
            for name in ("cur/1700000000.old%d.bench:2,S" % n, "new/1700000000.new%d.bench" % n):
                with open(os.path.join(self.maildir, name), "wb") as f:
                    f.write(UNRELATED)

    def stop(self):
        self.group.stop()
        self.log.close()


def main():
    runs = max(1, min(10, bench_runs(__doc__, "runs per figure (1 to 10)")))
    work = tempfile.mkdtemp(prefix="ventari-bench-")
    try:
        bench = Bench(work)
        try:
            empty = [bench.one(row, saved=False) for row in range(1, runs + 1)]
            bench.forget_orders()
            bench.fill(1000)
            loaded = [bench.one(row, saved=True) for row in range(1, runs + 1)]
            bench.forget_orders()
            burst = [bench.one(row, saved=False, unrelated=100) for row in range(1, runs + 1)]
        finally:
            bench.stop()
    finally:
        shutil.rmtree(work, True)
    print("%-66s %7s %7s %7s" % ("seconds, %d runs each" % runs, "median", "min", "max"))
    for label, figures in (("message in new/ -> its receipt, empty Maildir", empty),
                           ("the same, 1000 of the host's in cur/ and in new/", loaded),
                           ("the same, and 100 more landing just before", burst)):
        print("%-66s %7.2f %7.2f %7.2f" % (label, statistics.median(figures), min(figures),
                                           max(figures)))


if __name__ == "__main__":
    main()
