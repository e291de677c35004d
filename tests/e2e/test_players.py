"""What the players see of the robot without asking the host: a receipt for each order file they
send, and the game's status page in the publication folder. The robot reacts to the files as
they land, so each result is awaited for seconds, not for the minute's tick; the delays seen are
printed."""

import datetime
import html.parser
import json
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import time
import unittest

from harness import (ARTIFACTS_DIR, BIN_DIR, NEXT, PAST, SOON, STATUS_PAGE, WAIT, address,
                     patience, plain_text, read_bytes, turn_files, wait_for)
from test_resume import TurnCase

SITE_LINK = "Consultez http://www.stars-ligue.example/ligue/travail/ventari.php?jeu=alpha"
ISO = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d$")
# Variables of the caller's environment that would change what these tests expect.
OWN_VARIABLES = ("VENTARI_RECEIPTS", "VENTARI_LEAGUE_SITE", "VENTARI_REMIND_HOURS")


def local_instant(text):
    """A "YYYY-MM-DD HH:MM:SS" of the local clock as an aware datetime."""
    return datetime.datetime.strptime(text, "%Y-%m-%d %H:%M:%S").astimezone()


class PageParser(html.parser.HTMLParser):
    """The parts of the status page the tests look at: the players' rows (id, class, cells'
    text), the text of the elements with an id, and every element's tag."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.rows = {}
        self.texts = {}
        self.tags = []
        self.meta = []
        self._open = []  # (tag, id) of the elements being read
        self._row = None

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        self.tags.append(tag)
        if tag == "meta":
            self.meta.append(attrs)
        if tag in ("meta", "link", "br", "img", "input", "hr"):
            return
        self._open.append((tag, attrs.get("id")))
        if attrs.get("id"):
            self.texts[attrs["id"]] = ""
        if tag == "tr" and (attrs.get("id") or "").startswith("row-"):
            self._row = {"class": attrs.get("class"), "cells": []}
            self.rows[attrs["id"]] = self._row
        elif tag == "td" and self._row is not None:
            self._row["cells"].append("")

    def handle_endtag(self, tag):
        if all(t != tag for t, _ in self._open):
            return  # a void element's end, or a stray one
        while self._open:
            open_tag, _ = self._open.pop()
            if open_tag == tag:
                break
        if tag == "tr":
            self._row = None

    def handle_data(self, data):
        for _, element in self._open:
            if element:
                self.texts[element] += data
        if self._row is not None and self._row["cells"] and any(
                t == "td" for t, _ in self._open):
            self._row["cells"][-1] += data


def parse_page(text):
    parser = PageParser()
    parser.feed(text)
    parser.close()
    return parser


class PlayersCase(TurnCase):
    """A game of two humans and a computer whose turn is not due, the robot to be started on it,
    and what the players receive and see."""

    def setUp(self):
        super().setUp()
        for name in OWN_VARIABLES:
            if name in os.environ:
                self.addCleanup(os.environ.__setitem__, name, os.environ[name])
                del os.environ[name]
        self.staged = 0
        self.addCleanup(self._keep_logs_on_failure)

    def _keep_logs_on_failure(self):
        # The headless robots' output lives in the temporary folder, gone after the test.
        if self._problem_count() == self._problems:
            return
        os.makedirs(ARTIFACTS_DIR, exist_ok=True)
        for name in sorted(os.listdir(self.tmp)):
            if name.startswith("headless-") and name.endswith(".log"):
                shutil.copy(os.path.join(self.tmp, name), self.artifact(name))

    def begin(self, **game_options):
        """The game at turn 0, no order file in, its deadline ahead."""
        self.prepare(**game_options)
        for name in os.listdir(self.game.dir):
            if name.startswith("alpha.x"):
                os.remove(self.game.path(name))
        self.game.set_deadline(NEXT)

    # Files as the players' uploads leave them.

    def order_path(self, row):
        return self.game.path("alpha.x%d" % row)

    def stage(self, path, data, mtime=None):
        """Puts `data` at `path` whole, in one rename, with the modification time `mtime`."""
        self.staged += 1
        staging = os.path.join(self.tmp, "staging-%d" % self.staged)
        with open(staging, "wb") as f:
            f.write(data)
        if mtime is not None:
            os.utime(staging, (mtime, mtime))
        os.replace(staging, path)

    def orders_bytes(self, row, saved=False):
        """The order file player `row`'s client would write now. Made beside a copy of the host
        file, out of the robot's sight."""
        self.staged += 1
        scratch = os.path.join(self.tmp, "client-%d" % self.staged)
        os.mkdir(scratch)
        shutil.copy(self.game.path("alpha.hst"), scratch)
        subprocess.run([os.path.join(BIN_DIR, "starsgen"), "--orders", "alpha.hst", "--player",
                        str(row)] + (["--saved"] if saved else []), cwd=scratch, check=True)
        return read_bytes(os.path.join(scratch, "alpha.x%d" % row))

    # What the players receive.

    def receipts(self, to=None):
        return [m for m in self.sink.messages()
                if m["Subject"].endswith((": ordres reçus", ": ordres refusés"))
                and (to is None or address(m) == to)]

    def wait_receipt(self, to, count, since, what):
        """Waits for the `count`-th receipt to `to`; prints the delay from `since`."""
        mails = wait_for(what, lambda: len(self.receipts(to)) >= count and self.receipts(to),
                         SOON)
        delay = time.monotonic() - since
        sys.stderr.write("\n  %s: %.1f s " % (what, delay))
        self.assertEqual(len(mails), count, "more than one receipt for one file")
        return mails[-1]

    def paragraphs(self, mail):
        self.assertEqual(list(mail.iter_attachments()), [])
        return plain_text(mail).rstrip("\n").split("\n\n")

    def assert_accepted(self, mail, year="2400", deadline=NEXT, saved=False, replaces=False):
        self.assertEqual(mail["Subject"], "alpha année %s : ordres reçus" % year)
        parts = self.paragraphs(mail)
        self.assertEqual(parts[0], "vos ordres de l'année %s sont arrivés : ils seront joués."
                         % year)
        if replaces:
            self.assertRegex(parts[1], r"^ces ordres remplacent ceux reçus le .*\d\d:\d\d\.$")
            del parts[1]
        if saved:
            self.assertIn("sauvegardé", parts[1], parts)
            del parts[1]
        self.assertEqual(parts[1:], ["DL : " + deadline, SITE_LINK, "Ventari Robot"])

    def assert_refused(self, mail, row, reason, year="2400", deadline=NEXT):
        self.assertEqual(mail["Subject"], "alpha année %s : ordres refusés" % year)
        parts = self.paragraphs(mail)
        self.assertRegex(parts[0], r"^le fichier alpha\.x%d reçu le .*\d\d:\d\d.* ne compte pas : "
                         % row + re.escape(reason) + r"\.$")
        self.assertEqual(parts[1:], ["renvoyez vos ordres de l'année %s avant la date limite "
                                     "(DL : %s)." % (year, deadline), SITE_LINK, "Ventari Robot"])

    def assert_logged(self, row, name, verdict, reason=None, saved=False):
        line = "receipt to player %d (%s): %s %s" % (row, name, verdict, self.order_path(row))
        if reason:
            line += ": " + reason
        if saved:
            line += " (saved, not submitted)"
        self.assertIn(line + "\n", self.log_text())

    # The status page.

    def status_path(self, name="status.json"):
        return os.path.join(self.game.status_dir, name)

    def status(self):
        """status.json as it is now; None while there is none. A file caught half written
        fails the test: it is meant to be replaced whole."""
        try:
            data = read_bytes(self.status_path())
        except FileNotFoundError:
            return None
        return json.loads(data.decode("utf-8"))

    def wait_status(self, what, condition, timeout=SOON, since=None):
        found = wait_for("the status page to show " + what,
                         lambda: (lambda s: s if s is not None and condition(s) else None)(
                             self.status()), timeout)
        if since is not None:
            sys.stderr.write("\n  status page shows %s: %.1f s " % (what,
                                                                 time.monotonic() - since))
        return found

    def idle_status(self):
        """status.json once no look has rewritten it for 2.5 s (its times are to the second)."""
        last, since = self.status(), time.monotonic()
        give_up = since + 30
        while time.monotonic() - since < 2.5:
            self.assertLess(time.monotonic(), give_up, "the robot never rests")
            time.sleep(0.1)
            status = self.status()
            if status["updated"] != last["updated"]:
                last, since = status, time.monotonic()
        return last

    def orders_of(self, status):
        return [(p["row"], p["orders"]) for p in status["players"]]

    def stop(self, robot):
        os.kill(robot.pid, signal.SIGTERM)
        self.assertEqual(robot.wait(timeout=WAIT), 0)


class ReceiptsTest(PlayersCase):

    def test_each_kind_of_file_gets_its_receipt_once(self):
        self.begin()
        robot = self.start_headless(self.league)
        wait_for("the first tick", lambda: "info state: incomplet" in self.log_text())
        self.assertEqual(self.sink.messages(), [])

        # Ann submits her orders: her receipt comes within seconds, the record is kept.
        since = time.monotonic()
        self.game.hand_in_orders([1])
        ann = self.wait_receipt("ann@localhost", 1, since, "Ann's receipt")
        self.assert_accepted(ann)
        self.assert_logged(1, "Ann", "accepted")
        self.assertEqual(self.game.store("SELECT turn, accepted FROM receipt WHERE row = 1"),
                         [(0, 1)])
        self.wait_status("Ann's orders in", lambda s: (1, "in") in self.orders_of(s))

        # Bob sends the files a player can get wrong, one after the other; each is refused with
        # its own reason.
        bob = self.orders_bytes(2)
        other_game = bytearray(bob)
        other_game[6:10] = struct.pack("<I", struct.unpack_from("<I", bob, 6)[0] ^ 0x5A5A5A5A)
        other_generation = bytearray(bob)
        other_generation[17] = (bob[17] & 0x1F) | ((((bob[17] >> 5) + 3) & 7) << 5)
        wrong = [(read_bytes(self.order_path(1)), "c'est le fichier du joueur 1"),
                 (bytes(other_game), "fichier d'une autre partie"),
                 (read_bytes(self.game.path("alpha.m2")), "ce n'est pas un fichier d'ordres"),
                 (bytes(other_generation), "fait sur un ancien fichier .M : le jeu le refuserait")]
        for n, (data, reason) in enumerate(wrong, 1):
            since = time.monotonic()
            self.stage(self.order_path(2), data)
            mail = self.wait_receipt("bob@localhost", n, since, "Bob's refusal: " + reason)
            self.assert_refused(mail, 2, reason)
            self.assert_logged(2, "Bob", "refused", reason)
            status = self.wait_status("Bob's orders refused", lambda s: (2, "refused") in
                                      self.orders_of(s))
            self.assertTrue(status["players"][1]["reason"], "a refusal without its reason")

        # The computer's row gets no mail; Bob's orders only saved are accepted and said so.
        self.game.hand_in_orders([3])
        since = time.monotonic()
        self.stage(self.order_path(2), self.orders_bytes(2, saved=True))
        mail = self.wait_receipt("bob@localhost", 5, since, "Bob's saved orders")
        self.assert_accepted(mail, saved=True)
        self.assert_logged(2, "Bob", "accepted", saved=True)
        self.assertNotIn("receipt to player 3", self.log_text())
        self.assertEqual(sorted({address(m) for m in self.sink.messages()}),
                         ["ann@localhost", "bob@localhost"])
        self.wait_status("every order in", lambda s: s["state"] == "prêt à générer")

        # Ann's client writes the same bytes again, in place, and a copy replaces them: the same
        # orders, no new receipt. A look that began after both (the page's time is to the
        # second) has judged them.
        inode = os.stat(self.order_path(1)).st_ino
        with open(self.order_path(1), "r+b") as f:
            f.write(read_bytes(self.order_path(1)))
        self.assertEqual(os.stat(self.order_path(1)).st_ino, inode)
        self.stage(self.order_path(1), read_bytes(self.order_path(1)))
        changed = time.time()
        self.wait_status("a look after the copies", lambda s: datetime.datetime.fromisoformat(
            s["updated"]).timestamp() >= changed + 1, timeout=patience(90))
        self.assertEqual(len(self.receipts("ann@localhost")), 1, "the same orders receipted again")
        # Her second thoughts (saved this time) are other orders: a new receipt.
        since = time.monotonic()
        self.stage(self.order_path(1), self.orders_bytes(1, saved=True))
        self.assert_accepted(self.wait_receipt("ann@localhost", 2, since, "Ann's new orders"),
                             saved=True, replaces=True)

        # Her file gone, nothing is sent; the state line proves the robot saw it go.
        count = len(self.sink.messages())
        states = self.log_text().count("info state: incomplet")
        os.remove(self.order_path(1))
        wait_for("the state after the removal", lambda: self.log_text().count(
            "info state: incomplet") > states, SOON)
        self.wait_status("Ann's orders missing", lambda s: (1, "late") in self.orders_of(s))
        self.assertEqual(len(self.sink.messages()), count)
        self.assertEqual(len(self.receipts("ann@localhost")), 2)
        self.assertEqual(len(self.receipts("bob@localhost")), 5)
        self.assertEqual(self.game.host_turn(), 0, "the turn was not due")
        self.stop(robot)

    def test_a_cut_file_is_refused_only_once_it_has_stayed_unchanged(self):
        self.begin(players=(("Ann", "ann@localhost"), ("Bob", "bob@localhost"),
                            ("Cid", "cid@localhost"), ("Robot", "COMPUTER")))
        bob = self.orders_bytes(2)
        cid = self.orders_bytes(3)
        self.start_headless(self.league)
        wait_for("the first tick", lambda: "info state: incomplet" in self.log_text())

        # Bob's upload stops half way, written in place as an upload goes.
        with open(self.order_path(2), "wb") as f:
            f.write(bob[:len(bob) // 2 + 9])
        written = os.stat(self.order_path(2)).st_mtime
        wait_for("the cut file judged", lambda: "warning orders refused: player 2 (Bob): %s: "
                 "incomplete" % self.order_path(2) in self.log_text(), SOON)
        # Ten seconds on, Ann's receipt proves a later look at the folder: Bob's file, still
        # young, is not refused yet. Twenty more are left for a busy machine to answer her.
        time.sleep(max(0, written + 10 - time.time()))
        since = time.monotonic()
        self.game.hand_in_orders([1])
        self.assert_accepted(self.wait_receipt("ann@localhost", 1, since, "Ann's receipt"))
        self.assertLess(time.time(), written + 30, "the machine was too slow for this check")
        self.assertEqual(self.receipts("bob@localhost"), [])
        self.assertNotIn("receipt to player 2", self.log_text())
        status = self.wait_status("Bob's cut file", lambda s: (1, "in") in self.orders_of(s))
        self.assertIn((2, "refused"), self.orders_of(status))

        # Thirty seconds after its last change, with nothing else happening, it is refused.
        reason = "fichier incomplet (envoi en cours ou coupé)"
        mail = wait_for("Bob's refusal", lambda: self.receipts("bob@localhost"),
                        written + 30 + SOON - time.time())[0]
        self.assertEqual(len(self.sink.messages()), 2)
        arrived = os.stat(os.path.join(self.tmp, "mails", "mail2.eml")).st_mtime
        sys.stderr.write("\n  Bob's refusal %.1f s after his file's last change " %
                         (arrived - written))
        self.assertGreaterEqual(arrived, written + 30, "refused while still young")
        self.assert_refused(mail, 2, reason)
        self.assert_logged(2, "Bob", "refused", reason)

        # A cut file that is already old when it lands is refused at once.
        since = time.monotonic()
        self.stage(self.order_path(3), cid[:-1], time.time() - 120)
        self.assert_refused(self.wait_receipt("cid@localhost", 1, since, "Cid's old cut file"),
                            3, reason)

        # The uploads finished, each gets its second receipt.
        since = time.monotonic()
        with open(self.order_path(2), "wb") as f:
            f.write(bob)
        self.stage(self.order_path(3), cid)
        self.assert_accepted(self.wait_receipt("bob@localhost", 2, since, "Bob's whole file"))
        self.assert_accepted(self.wait_receipt("cid@localhost", 2, since, "Cid's whole file"))
        self.assertEqual(len(self.receipts("ann@localhost")), 1)

    def check(self, env=None):
        env = dict(os.environ, VENTARI_LEAGUE_SERVER=self.league.url,
                   VENTARI_SENDMAIL=self.msmtp(), **(env or {}))
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
            env.pop(name, None)
        return subprocess.run([os.path.join(BIN_DIR, "ventari"), "--check"], cwd=self.game.root,
                              env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=2 * WAIT).stdout.decode()

    def test_a_restart_sends_nothing_again_and_receipts_can_be_turned_off(self):
        self.begin()
        robot = self.start_headless(self.league)
        wait_for("the first tick", lambda: "info state: incomplet" in self.log_text())
        since = time.monotonic()
        self.game.hand_in_orders([1])
        self.wait_receipt("ann@localhost", 1, since, "Ann's receipt")
        self.stop(robot)

        # Started again, the robot sees Ann's file as it was: no second receipt. Bob's receipt
        # comes from a look that saw Ann's file too.
        robot = self.start_headless(self.league)
        wait_for("the first tick", lambda: "info state: incomplet" in self.log_text())
        since = time.monotonic()
        self.game.hand_in_orders([2])
        self.wait_receipt("bob@localhost", 1, since, "Bob's receipt after a restart")
        self.assertEqual(len(self.receipts("ann@localhost")), 1)
        self.assertNotIn("receipt to player 1", self.log_text())
        self.stop(robot)
        self.assertIn("receipts:        on\n", self.check())

        # Turned off: the files are still judged and logged, nobody is mailed.
        off = {"VENTARI_RECEIPTS": "0"}
        self.assertIn("receipts:        off (VENTARI_RECEIPTS=0)\n", self.check(off))
        count = len(self.sink.messages())
        robot = self.start_headless(self.league, off)
        wait_for("the first tick", lambda: "info state: prêt à générer" in self.log_text())
        self.game.hand_in_orders([1])
        self.stage(self.order_path(2), read_bytes(self.order_path(1)))
        wait_for("Bob's file judged", lambda: "warning orders refused: player 2 (Bob): %s: "
                 "other player" % self.order_path(2) in self.log_text(), SOON)
        self.wait_status("Bob's orders refused", lambda s: (2, "refused") in self.orders_of(s))
        self.stop(robot)
        self.assertEqual(len(self.sink.messages()), count)
        self.assertNotIn("receipt to", self.log_text())


class StatusPageTest(PlayersCase):

    def page_showing(self, state):
        """status.json, index.html and its parts once both files show `state` and the same
        rows: they are replaced one after the other, and a reader may come in between."""
        def both():
            status = self.status()
            try:
                page = read_bytes(self.status_path("index.html")).decode("utf-8")
            except FileNotFoundError:
                return None  # the first page: status.json is written first

            parsed = parse_page(page)
            rows = {row: r["class"] for row, r in parsed.rows.items()}
            if status and status["state"] == state and parsed.texts.get("state") == state and \
                    rows == {"row-%d" % p["row"]: "orders-" + p["orders"]
                             for p in status["players"]}:
                return status, read_bytes(self.status_path()).decode("utf-8"), page, parsed
            return None
        return wait_for("both files of the page to show " + state, both, SOON)

    def assert_page(self, state, year="2400"):
        """Both files of the page agree, show the state, and leak no address and no path; the
        status and the page's parts."""
        status, json_text, page, parsed = self.page_showing(state)
        self.assertEqual(json.loads(json_text), status)
        self.assertEqual(status["game"], "alpha")
        self.assertEqual(status["year"], year)
        self.assertRegex(status["updated"], ISO)
        updated = datetime.datetime.fromisoformat(status["updated"])
        self.assertLess(abs((updated - datetime.datetime.now().astimezone()).total_seconds()),
                        SOON + 5)
        if status["deadline"] is not None:
            self.assertRegex(status["deadline"], ISO)
            left = (datetime.datetime.fromisoformat(status["deadline"]) - updated)
            self.assertLessEqual(abs(status["time_left_s"] - left.total_seconds()), 1)
        for text in (json_text, page):
            self.assertIsNone(re.search(r"[\w.+-]+@[\w.-]+", text), "a mail address")
            self.assertNotIn("/tmp/", text)
            self.assertNotIn(self.tmp, text)
        names = [p for p, _ in self.game.players]
        self.assertEqual([(p["row"], p["name"]) for p in status["players"]],
                         list(enumerate(names, 1)))
        for p in status["players"]:
            self.assertIn(p["orders"], ("in", "late", "refused", "computer"))
            self.assertEqual(p["reason"] is not None, p["orders"] == "refused", p)
        self.assertNotIn("script", parsed.tags)
        self.assertIn({"http-equiv": "refresh", "content": "60"}, parsed.meta)
        self.assertIn('<html lang="fr"', page)
        self.assertIn("deadline", parsed.texts)
        return status, parsed

    def test_the_page_follows_the_turn(self):
        started = datetime.datetime.now().astimezone().replace(microsecond=0)
        self.begin()
        robot = self.start_headless(self.league)
        status = self.wait_status("the incomplete turn", lambda s: True, timeout=WAIT)
        status, page = self.assert_page("incomplet")
        self.assertEqual(self.orders_of(status), [(1, "late"), (2, "late"), (3, "computer")])
        self.assertIsNone(status["note"])
        self.assertIsNone(status["last_generation"])
        self.assertEqual(datetime.datetime.fromisoformat(status["deadline"]), local_instant(NEXT))
        self.assertGreater(status["time_left_s"], 0)
        self.assertIn("2031", page.texts["deadline"])
        inode = os.stat(self.status_path()).st_ino

        # Every order in before the deadline: ready, within seconds of the last file.
        self.game.hand_in_orders([1])
        last_years = read_bytes(self.order_path(1))
        since = time.monotonic()
        self.game.hand_in_orders([2])
        status = self.wait_status("the turn ready", lambda s: s["state"] == "prêt à générer",
                                  since=since)
        status, _ = self.assert_page("prêt à générer")
        self.assertEqual(self.orders_of(status), [(1, "in"), (2, "in"), (3, "computer")])
        self.assertNotEqual(os.stat(self.status_path()).st_ino, inode, "rewritten in place")

        # Bob takes his orders back, then the deadline passes: late, once a look has read the
        # new deadline (Ann's client saving her orders again makes one).
        since = time.monotonic()
        os.remove(self.order_path(2))
        self.wait_status("Bob's orders missing", lambda s: s["state"] == "incomplet", since=since)
        self.game.set_deadline(PAST)
        wait_for("the new deadline read", lambda: "info deadline: " + PAST in self.log_text(),
                 75)
        since = time.monotonic()
        self.game.hand_in_orders([1])
        status = self.wait_status("the late turn", lambda s: s["state"] == "en retard",
                                  since=since)
        status, _ = self.assert_page("en retard")
        self.assertEqual(self.orders_of(status), [(1, "in"), (2, "late"), (3, "computer")])
        self.assertEqual(datetime.datetime.fromisoformat(status["deadline"]), local_instant(PAST))
        self.assertLess(status["time_left_s"], 0)
        self.assertEqual(self.game.host_turn(), 0)

        # His file comes back: the turn is due and generated at once, and the page shows the new
        # year with its deadline from the league page.
        before = datetime.datetime.now().astimezone().replace(microsecond=0)
        since = time.monotonic()
        self.game.hand_in_orders([2])
        # The game's run and the league page's fetch take their time on top of the reaction.
        status = self.wait_status("the new year", lambda s: s["year"] == "2401" and
                                  s["state"] == "incomplet", timeout=2 * SOON, since=since)
        self.assertEqual(self.game.host_turn(), 1)
        status, page = self.assert_page("incomplet", year="2401")
        self.assertEqual(self.orders_of(status), [(1, "late"), (2, "late"), (3, "computer")])
        self.assertRegex(status["last_generation"], ISO)
        generated = datetime.datetime.fromisoformat(status["last_generation"])
        self.assertLessEqual(before, generated)
        self.assertLessEqual(generated, datetime.datetime.now().astimezone())
        self.assertEqual(datetime.datetime.fromisoformat(status["deadline"]), local_instant(NEXT))
        # The year played joins the history: against its deadline (the league's, long past), both
        # sets of orders came late, none left out; the page's table and strip say as much.
        played, = status["history"]
        self.assertEqual((played["year"], played["forced"], played["left_out"]), (2400, False, []))
        self.assertEqual(datetime.datetime.fromisoformat(played["deadline"]), local_instant(PAST))
        # Noted once the game has run; the host file's time is when the game wrote it.
        self.assertLessEqual(generated, datetime.datetime.fromisoformat(played["generated"]))
        self.assertLessEqual(datetime.datetime.fromisoformat(played["generated"]),
                             datetime.datetime.now().astimezone())
        self.assertEqual([(o["row"], o["name"], o["late"]) for o in played["orders"]],
                         [(1, "Ann", True), (2, "Bob", True)])
        for orders in played["orders"]:
            self.assertLessEqual(started, datetime.datetime.fromisoformat(orders["at"]))
            self.assertLessEqual(datetime.datetime.fromisoformat(orders["at"]), generated)
        time_text = r"\d+ \S+ \d\d:\d\d"  # the year only when not the generation's
        self.assertRegex(page.texts["year-2400"], r"^2400\d+ \S+ 2002 \d\d:\d\d{0}Ann {0} "
                         r"\(en retard\)Bob {0} \(en retard\)$".format(time_text))
        self.assertEqual(page.tags.count("circle"), 2)
        # Two receipts (the same orders saved again, or taken back and handed in again, are
        # receipted once), two turn files, the host's report.
        self.wait_mails(self.sink, 2 + 3)
        self.assertEqual(len(self.receipts()), 2)

        # Ann's client sends last year's file again: refused, on the page and by mail.
        since = time.monotonic()
        self.stage(self.order_path(1), last_years)
        mail = self.wait_receipt("ann@localhost", 2, since, "Ann's refusal of last year's file")
        self.assert_refused(mail, 1, "fait pour l'année 2400", year="2401")
        self.assert_logged(1, "Ann", "refused", "fait pour l'année 2400")
        status = self.wait_status("last year's file refused",
                                  lambda s: (1, "refused") in self.orders_of(s))
        status, _ = self.assert_page("incomplet", year="2401")

        # The page's folder can be served alone: no turn file and no host file in it (a page
        # being replaced leaves its new copy beside it for a moment).
        self.assertEqual([n for n in sorted(os.listdir(self.game.status_dir))
                          if not n.endswith(".ventari-new")], list(STATUS_PAGE))
        self.assertEqual(turn_files(self.game.pub_dir),
                         ["alpha.hst", "alpha.m1", "alpha.m2", "alpha.m3"])

        # The host stops the robot: the page says so, and shows the turn as it last saw it.
        self.stop(robot)
        ended = self.status()
        # Only what is true once it has ended: stopped, since when, no time counted down.
        self.assertEqual((ended["state"], ended["note"], ended["time_left_s"]),
                         ("robot arrêté", "robot arrêté : arrêt demandé", None))
        self.assertEqual(ended["stopped_since"], ended["updated"])
        self.assertGreaterEqual(ended["stopped_since"], status["updated"])
        # A look may have come since: only what it would not change.
        kept = ("game", "year", "deadline", "last_generation", "players")
        self.assertEqual({k: ended[k] for k in kept}, {k: status[k] for k in kept})
        page = parse_page(read_bytes(self.status_path("index.html")).decode("utf-8"))
        self.assertEqual(page.texts.get("note"), "robot arrêté : arrêt demandé")
        self.assertNotIn("time-left", page.texts)
        self.assertIn("aucun tour n'est joué avant qu'il reparte", page.texts["state-meaning"])

    def test_a_new_setting_shows_within_seconds(self):
        self.begin()
        self.start_headless(self.league)
        self.wait_status("the incomplete turn", lambda s: True, timeout=WAIT)
        status = self.idle_status()
        self.assertEqual(status["players"][1]["name"], "Bob")
        # The host renames a player; nothing else changes. The look the change brings shows it.
        pla = os.path.join(self.game.jeux, "ventari.pla")
        self.game.players[1] = ("Bobby", "bob@localhost")
        since = time.monotonic()
        self.game.write(pla, read_bytes(pla).decode().replace("J2\tBob,", "J2\tBobby,"))
        looked = self.wait_status("a look after the change", lambda s: s["updated"] !=
                                  status["updated"], since=since)
        self.assertEqual(looked["players"][1]["name"], "Bobby",
                         "the look that followed the change (%s) shows the settings before it"
                         % looked["updated"])
        status, _ = self.assert_page("incomplet")

    def chromium(self, *args):
        env = dict(os.environ)
        for name in ("DISPLAY", "WAYLAND_DISPLAY"):
            env.pop(name, None)
        run = subprocess.run(["chromium", "--headless", "--no-sandbox", "--disable-gpu",
                              "--user-data-dir=" + os.path.join(self.tmp, "chromium"), *args],
                             env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, timeout=2 * WAIT)
        self.assertEqual(run.returncode, 0, run.stderr.decode("utf-8", "replace")[-2000:])
        return run.stdout.decode("utf-8")

    def test_the_browser_shows_the_page_of_the_windowed_robot(self):
        if shutil.which("chromium") is None:
            raise unittest.SkipTest("chromium is not installed")
        name = "<script>alert(1)</script>"
        self.begin(players=((name, "ann@localhost"), ("Bob & Co", "bob@localhost"),
                            ("Robot", "COMPUTER")))
        robot = self.start_robot(self.game, self.league, self.sink)
        robot.main_window()
        self.wait_status("the incomplete turn", lambda s: s["state"] == "incomplet",
                         timeout=WAIT)

        # The window reacts to the files as the service does.
        since = time.monotonic()
        self.game.hand_in_orders([1])
        self.assert_accepted(self.wait_receipt("ann@localhost", 1, since, "a receipt from the "
                                               "window"))
        self.wait_status("the first orders in", lambda s: (1, "in") in self.orders_of(s))
        since = time.monotonic()
        self.stage(self.order_path(2), read_bytes(self.order_path(1)))
        self.assert_refused(self.wait_receipt("bob@localhost", 1, since, "a refusal from the "
                                              "window"), 2, "c'est le fichier du joueur 1")
        status = self.wait_status("Bob's file refused",
                                  lambda s: (2, "refused") in self.orders_of(s))
        status, _ = self.assert_page("incomplet")
        self.assertEqual(status["players"][0]["name"], name)
        self.assertIn("receipt to player 1 (%s): accepted %s" % (name, self.order_path(1)),
                      read_bytes(robot.log).decode("utf-8", "replace"))

        # As a browser builds it: the name is text, not a script.
        url = "file://" + self.status_path("index.html")
        dom = self.chromium("--dump-dom", url)
        parsed = parse_page(dom)
        self.assertNotIn("script", parsed.tags, dom)
        self.assertEqual(parsed.texts.get("state"), "incomplet")
        self.assertEqual({row: r["class"] for row, r in parsed.rows.items()},
                         {"row-1": "orders-in", "row-2": "orders-refused",
                          "row-3": "orders-computer"})
        self.assertIn(name, parsed.rows["row-1"]["cells"])
        self.assertIn("Bob & Co", parsed.rows["row-2"]["cells"])

        # What a player sees on a phone, kept with the test's output.
        os.makedirs(ARTIFACTS_DIR, exist_ok=True)
        picture = os.path.join(ARTIFACTS_DIR, "status-page.png")
        if os.path.exists(picture):
            os.remove(picture)
        self.chromium("--screenshot=" + picture, "--window-size=412,915",
                      "--hide-scrollbars", url)
        header = read_bytes(picture)[:24]
        self.assertEqual(header[:8], b"\x89PNG\r\n\x1a\n")
        self.assertEqual(struct.unpack(">II", header[16:24]), (412, 915))
        sys.stderr.write("\n  kept %s " % picture)


if __name__ == "__main__":
    unittest.main()
