"""Deadlines from the host's schedule (VENTARI_SCHEDULE): a game with no league page at all.
The league server of these tests answers every request with an error, and must never be asked;
the deadlines the robot writes are checked against the clock."""

import os
import subprocess
import time
import unittest

from harness import BIN_DIR, PAST, WAIT, address, read_bytes, wait_for
from test_host_rules import SOON, HostCase, logged, paragraphs

DAYS = ("mon", "tue", "wed", "thu", "fri", "sat", "sun")


def parse_deadline(text):
    return time.mktime(time.strptime(text, "%Y-%m-%d %H:%M:%S"))


def slot_after(moment, days, hour, minute, hours):
    """The first of the weekly slots at least `hours` real hours after `moment`."""
    earliest = moment + hours * 3600
    day = time.localtime(earliest)
    for offset in range(9):
        at = time.mktime((day.tm_year, day.tm_mon, day.tm_mday + offset, hour, minute, 0, 0, 0,
                          -1))
        if DAYS[time.localtime(at).tm_wday] in days and at >= earliest:
            return at
    raise AssertionError("no slot")


class ScheduleTest(HostCase):

    def prepare_game(self, deadline=None):
        """Every order in; a league server that fails on any request."""
        self.game = self.make_game(hours=48)
        self.game.hand_in_orders()
        self.game.set_year("2400")
        if deadline:
            self.game.set_deadline(deadline)
        self.league = self.start_league("alpha", fault="error-500")
        self.sink = self.start_sink()

    def deadline_after(self, before):
        """The deadline cache once the robot has written one different from `before`."""
        return wait_for("a new deadline", lambda: (lambda line: line if line and line != before
                                                   else None)(self.game.line("nextdl.txt")), SOON)

    def assert_league_never_asked(self, robot):
        self.assertEqual(self.league.requests(), [])
        self.assertEqual(logged(robot.log, "the league page"), [])

    def test_hours_through_a_generation(self):
        self.prepare_game(deadline=PAST)
        robot = self.headless(env={"VENTARI_SCHEDULE": "hours"})
        self.new_year(timeout=WAIT)
        after = time.time()
        line = self.game.line("nextdl.txt")
        self.assertRegex(line, r"^\d{4}-\d\d-\d\d \d\d:\d\d:00$")
        # The end of the generation plus the game's 48 hours, up to the next minute.
        generated = os.stat(self.game.path("alpha.hst")).st_mtime
        deadline = parse_deadline(line)
        self.assertGreaterEqual(deadline, generated + 48 * 3600 - 1)
        self.assertLessEqual(deadline, after + 48 * 3600 + 60)
        mails = self.wait_mails(self.sink, 3)
        self.assertEqual(len(mails), 3)
        self.assertEqual(self.game.host_turn(), 1)
        # No league site and no public address: the players' mails link nowhere.
        for mail in (m for m in mails if address(m) != "host@localhost"):
            self.assertEqual(paragraphs(mail), ["génération faite, votre fichier .M est en "
                                                "attachement.", "Prochaine DL dans 48heures.",
                                                "Ventari Robot"])
        self.stop(robot)
        self.assert_league_never_asked(robot)

    def test_slots_from_a_start_without_deadline_and_through_a_generation(self):
        self.prepare_game()
        days, hour, minute = ("mon", "thu"), 18, 0
        before = time.time()
        robot = self.headless(env={"VENTARI_SCHEDULE": "mon,thu 18:00",
                                   "VENTARI_PUBLIC_URL": "https://jeux.example.org/alpha/"})
        first = self.deadline_after(None)
        started = time.time()
        # From now at a start without a deadline: every order is in, but the slot is ahead.
        self.assertIn(parse_deadline(first), {slot_after(t, days, hour, minute, 48)
                                              for t in (before, started)})
        self.look()
        self.assertEqual(self.game.host_turn(), 0, "generated before the deadline")

        # The deadline passed: the turn goes, and the next one is the slot after it.
        self.game.set_deadline(PAST)
        self.new_year(timeout=WAIT)
        ended = time.time()
        line = self.deadline_after(PAST)
        generated = os.stat(self.game.path("alpha.hst")).st_mtime
        self.assertIn(parse_deadline(line), {slot_after(t, days, hour, minute, 48)
                                             for t in (generated, ended)})
        self.assertEqual(time.strftime("%H:%M:%S", time.localtime(parse_deadline(line))),
                         "18:00:00")
        # The status page's public address is the link of the players' mails.
        turn_mails = [m for m in self.wait_mails(self.sink, 3) if address(m) != "host@localhost"]
        self.assertEqual(len(turn_mails), 2)
        # The hours to that slot, days away perhaps, not the game's 48.
        hours = {round((parse_deadline(line) - t) / 3600) for t in (generated, ended)}
        for mail in turn_mails:
            self.assertEqual(paragraphs(mail)[-2:], ["Consultez https://jeux.example.org/alpha/",
                                                     "Ventari Robot"])
            self.assertIn(paragraphs(mail)[1], {"Prochaine DL dans %dheures." % h for h in hours})
        # The page says how the deadlines are set.
        html = read_bytes(os.path.join(self.game.status_dir, "index.html")).decode("utf-8")
        self.assertIn("le premier lundi, jeudi à 18h00 au moins 48 heures après sa génération",
                      html)
        self.stop(robot)
        self.assert_league_never_asked(robot)

    def check_with(self, schedule, more=None):
        """`ventari --check` with that schedule (and more settings): (status, output)."""
        check = subprocess.run([os.path.join(BIN_DIR, "ventari"), "--check"], cwd=self.game.root,
                               env=self.env_for(self.game, dict(more or {},
                                                                VENTARI_SCHEDULE=schedule)),
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=WAIT)
        return check.returncode, check.stdout.decode("utf-8")

    def test_a_bad_value_stops_the_check_and_the_robot(self):
        self.prepare_game(deadline=PAST)
        status, out = self.check_with("mon,jeu 18:00")
        self.assertEqual(status, 1, out)
        self.assertIn("set-up:          VENTARI_SCHEDULE='mon,jeu 18:00' cannot be read", out)

        robot = self.headless(env={"VENTARI_SCHEDULE": "mon,jeu 18:00"})
        self.assertEqual(robot.wait(timeout=WAIT), 1)
        self.assertTrue(logged(robot.log, "VENTARI_SCHEDULE='mon,jeu 18:00' cannot be read"))
        self.assertEqual(self.game.host_turn(), 0)
        self.assertEqual(self.backups(), [])
        self.assertEqual(self.game.line("nextdl.txt"), PAST)

        # A good value: the check names the schedule and the deadline it would give, and asks
        # no league.
        os.remove(self.game.path("nextdl.txt"))
        status, out = self.check_with("hours")
        self.assertEqual(status, 0, out)
        self.assertIn("schedule:        hours: 48 hours after the end of each generation", out)
        [line] = [l for l in out.splitlines() if l.startswith("next deadline:")]
        deadline = parse_deadline(line.split()[2] + " " + line.split()[3])
        self.assertAlmostEqual(deadline, time.time() + 48 * 3600, delta=120)
        self.assertRegex(out, r"\nturn: +before the deadline \(in 48 h [01] min\)\n")
        self.assertEqual(self.league.requests(), [])

    def test_the_check_says_where_deadlines_and_senders_come_from(self):
        self.prepare_game(deadline=PAST)
        status, out = self.check_with("league")
        self.assertIn("\nschedule:        the league page (VENTARI_SCHEDULE=league)\n", out)
        # A mail command that forces its own sender would send every game's mail from it.
        sendmail = self.env_for(self.game, {})["VENTARI_SENDMAIL"]
        status, out = self.check_with("hours", {"VENTARI_SENDMAIL": sendmail + " --from=r@x.org"})
        self.assertEqual(status, 1, out)
        self.assertIn("\nmail system:     %s --from=r@x.org, its own sender r@x.org\n" % sendmail,
                      out)
        self.assertRegex(out, r"\nset-up: +VENTARI_SENDMAIL sends every mail from r@x.org, not "
                              r"from the game's host host@localhost")
        status, out = self.check_with("hours", {"VENTARI_SENDMAIL": sendmail + " -f host@localhost"})
        self.assertEqual(status, 0, out)
        self.assertIn("\nmail system:     %s -f host@localhost\n" % sendmail, out)


if __name__ == "__main__":
    unittest.main()
