#!/usr/bin/env python3
"""What the players wait for, with the robot watching its folders and with the minute tick alone:
(a) from an order file's arrival to its receipt in the mail server, (b) from the last order file's
arrival after the deadline to the last turn mail in the mail server. The real robot (headless),
the stand-in game, msmtp into a local SMTP server, the league page server on loopback.

    python3 bench/players_latency.py [--runs 10]

With the watcher, the runs follow one another; with the minute tick alone (VENTARI_WATCH=0),
each run waits up to a minute, so its runs go side by side, one robot and game each, and each
file arrives at a random moment of the minute."""

import random
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(TOP, "tests", "e2e"))
os.environ.setdefault("VENTARI_BIN_DIR", os.path.join(TOP, "build", "bin"))
os.environ.setdefault("VENTARI_SOURCE_DIR", TOP)

from harness import (BIN_DIR, NEXT, PAST, GameFolder, LeagueServer, ProcessGroup,  # noqa: E402
                     SmtpSink, bench_runs, msmtp_command, wait_for)


def subjects(sink):
    return [m["Subject"] for m in sink.messages()]


class Run:
    """One game and its robot, in a folder of its own."""

    def __init__(self, root, watch, deadline):
        self.watch = watch
        self.group = ProcessGroup()
        self.game = GameFolder(os.path.join(root, "host"))
        self.game.set_deadline(deadline)
        self.game.set_year("2400")
        self.league = LeagueServer(self.group, os.path.join(root, "league"), "alpha",
                                   deadline=NEXT)
        self.sink = SmtpSink(self.group, os.path.join(root, "sink"))
        env = dict(os.environ, VENTARI_SENDMAIL=msmtp_command(root, self.sink),
                   VENTARI_LEAGUE_SERVER=self.league.url, SDL_AUDIODRIVER="dummy",
                   VENTARI_RECEIPTS="1", VENTARI_WATCH="1" if watch else "0")
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
            env.pop(name, None)
        self.log = open(os.path.join(root, "ventari.log"), "wb")
        self.group.start([os.path.join(BIN_DIR, "ventari"), "--headless", "--folder",
                          self.game.root], env=env, stdout=self.log, stderr=self.log)
        # Started and idle: its first tick has judged the game.
        wait_for("the robot's first look", lambda: b"state: " in open(
            os.path.join(root, "ventari.log"), "rb").read(), timeout=30)

    def until(self, condition, timeout=130):
        start = time.monotonic()
        wait_for("the mail", condition, timeout=timeout, interval=0.01)
        return time.monotonic() - start

    def whenever(self):
        """Players send whenever they like: anywhere in the minute between two ticks."""
        if not self.watch:
            time.sleep(random.uniform(0, 60))

    def receipt(self):
        """(a): Ann's order file arrives; the seconds until her receipt is in the server."""
        self.whenever()
        start = time.monotonic()
        self.game.hand_in_orders([1])
        self.until(lambda: "alpha année 2400 : ordres reçus" in subjects(self.sink))
        return time.monotonic() - start

    def turn(self):
        """(b): past the deadline, Ann's orders in; Bob's arrive: the seconds until the last
        turn mail is in the server."""
        self.game.hand_in_orders([1])
        self.until(lambda: "alpha année 2400 : ordres reçus" in subjects(self.sink))
        self.whenever()
        start = time.monotonic()
        self.game.hand_in_orders([2])
        self.until(lambda: subjects(self.sink).count("alpha année 2400") == 2)
        return time.monotonic() - start

    def stop(self):
        self.group.stop()
        self.log.close()


def measure(kind, watch, runs):
    work = tempfile.mkdtemp(prefix="ventari-bench-")
    figures = []
    try:
        def one(n):
            run = Run(os.path.join(work, str(n)), watch, NEXT if kind == "receipt" else PAST)
            try:
                figures.append(getattr(run, kind)())
            finally:
                run.stop()
        if watch:
            for n in range(runs):
                one(n)
        else:
            threads = [threading.Thread(target=one, args=(n,)) for n in range(runs)]
            for t in threads:
                t.start()
            for t in threads:
                t.join()
    finally:
        shutil.rmtree(work, True)
    if len(figures) != runs:
        raise SystemExit("%s: %d of %d runs finished" % (kind, len(figures), runs))
    return figures


def main():
    runs = bench_runs(__doc__, "runs per figure (default 10)")
    print("%-58s %8s %8s %8s" % ("seconds, %d runs each" % runs, "median", "min", "max"))
    for kind, label in (("receipt", "(a) order file -> its receipt"),
                        ("turn", "(b) last order file -> last turn mail")):
        for watch in (True, False):
            figures = measure(kind, watch, runs)
            print("%-58s %8.2f %8.2f %8.2f" % (
                label + (", watcher" if watch else ", minute tick alone"),
                statistics.median(figures), min(figures), max(figures)), flush=True)


if __name__ == "__main__":
    main()
