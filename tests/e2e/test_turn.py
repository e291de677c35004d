"""The road of one turn, with the real robot, stand-in game programs, a league page server and a
mail server: what the host finds in his folders, his mailbox and the robot's window."""

import os
import re
import unittest

from harness import (NEXT, PAST, RobotTestCase, address, first_line, plain_text, read_bytes,
                     stars_turn, turn_files, wait_for)

PAGE = "GET /ligue/travail/ventari.php/nextdl?jeu=alpha HTTP/1.0"


class TurnTest(RobotTestCase):

    def start(self, auto=True, orders=None, deadline=PAST, year="2400"):
        self.game = self.make_game(auto=auto)
        self.game.hand_in_orders(orders)
        self.game.set_deadline(deadline)
        if year:
            self.game.set_year(year)
        self.league = self.start_league("alpha", deadline=NEXT)
        self.sink = self.start_sink()
        return self.start_robot(self.game, self.league, self.sink)

    def assert_turn_published(self, turn):
        game = self.game
        names = ["alpha.m%d" % n for n in (1, 2, 3)] + ["alpha.hst"]
        self.assertEqual(turn_files(game.pub_dir), sorted(names))
        for name in names:
            self.assertEqual(read_bytes(os.path.join(game.pub_dir, name)),
                             read_bytes(game.path(name)), name)
            self.assertEqual(stars_turn(game.path(name)), turn, name)

    def assert_turn_mails(self, mails, year):
        """One turn mail to each human player with his own turn file, then the host's report."""
        players = [m for m in mails if address(m) != "host@localhost"]
        self.assertEqual([address(m) for m in players], ["ann@localhost", "bob@localhost"])
        for n, mail in enumerate(players, 1):
            self.assertEqual(mail["Subject"], "alpha année " + year)
            attachments = list(mail.iter_attachments())
            self.assertEqual(len(attachments), 1)
            self.assertEqual(attachments[0].get_filename(), "alpha.m%d" % n)
            sent = attachments[0].get_content()
            self.assertEqual(sent, read_bytes(os.path.join(self.game.pub_dir, "alpha.m%d" % n)))
            self.assertEqual(sent[14] & 0x1F, n - 1, "the turn file of another player")
            text = plain_text(mail)
            self.assertIn("Prochaine DL dans 48heures.", text)
            self.assertIn("ligue/travail/ventari.php?jeu=alpha", text)
        report = [m for m in mails if address(m) == "host@localhost"][-1]
        self.assertEqual(report["Subject"], "Ventari : jeu alpha année " + year)
        self.assertEqual(report["To"].addresses[0].display_name, "alpha human host")
        self.assertEqual(list(report.iter_attachments()), [])
        self.assertIn("génération année %s faite, fichiers .M envoyés" % year,
                      plain_text(report))

    def test_automatic_turn_is_generated_published_mailed_and_shown_once(self):
        robot = self.start(orders=[1])
        window = robot.main_window()
        self.assertEqual(self.display.window_name(window), "Ventari surveillance")
        self.assertEqual(self.display.window_size(window), (179, 81))
        year_2400 = wait_for("the year line", robot.year_line)

        # The last order comes in; the deadline is long past.
        self.game.hand_in_orders([2])
        robot.click_refresh()
        mails = self.wait_mails(self.sink, 3)
        shown = wait_for("the year line to change", lambda: robot.year_line() != year_2400 and
                         robot.year_line())
        self.display.screenshot(self.artifact("new-year.png"))
        self.assertEqual(len(mails), 3)
        self.assertEqual(self.game.host_turn(), 1)
        self.assert_turn_published(1)
        self.assert_turn_mails(mails, "2400")
        # The game took its orders; the caches belong to the new turn.
        self.assertFalse(any(name.startswith("alpha.x") for name in os.listdir(self.game.dir)))
        self.assertEqual(self.league.requests(), [PAGE])
        self.assertEqual(first_line(self.game.path("nextdl.txt")), NEXT)
        self.assertEqual(first_line(self.game.path("curyear.txt")), "2401")

        # What the window showed is the year tool's 2401: the same line comes back when the
        # year cache is made anew from the new host file.
        self.tick(robot, self.game)
        marker = robot.year_line()
        os.remove(self.game.path("curyear.txt"))
        robot.click_refresh()
        self.assertEqual(wait_for("the year made anew", lambda: robot.year_line() != marker and
                                  robot.year_line()), shown)

        # Every order of the new turn in, its deadline ahead: nothing more happens.
        self.game.hand_in_orders()
        self.tick(robot, self.game)
        self.assertEqual(self.game.host_turn(), 1)
        self.assertEqual(len(self.sink.messages()), 3)
        self.assertEqual(self.league.requests(), [PAGE])
        self.assertEqual(robot.windows(), [window])

    def test_folder_option_runs_the_host_folder_from_anywhere(self):
        # Started in an empty folder, the robot works in the one --folder names.
        elsewhere = os.path.join(self.tmp, "elsewhere")
        os.mkdir(elsewhere)
        self.game = self.make_game()
        self.game.hand_in_orders()
        self.game.set_deadline(PAST)
        self.game.set_year("2400")
        self.league = self.start_league("alpha", deadline=NEXT)
        self.sink = self.start_sink()
        robot = self.start_robot(self.game, self.league, self.sink,
                                 args=["--folder", self.game.root], cwd=elsewhere)
        mails = self.wait_mails(self.sink, 3)
        self.assertEqual(self.game.host_turn(), 1)
        self.assert_turn_published(1)
        self.assert_turn_mails(mails, "2400")
        self.assertEqual(os.listdir(elsewhere), [])

    def test_manual_mode_reminds_the_host_once_and_when_asked(self):
        robot = self.start(auto=False)
        window = robot.main_window()
        reminder = self.wait_mails(self.sink, 1)[0]
        self.assertEqual(address(reminder), "host@localhost")
        self.assertEqual(reminder["To"].addresses[0].display_name, "alpha human host")
        self.assertEqual(reminder["Subject"], "Ventari : jeu alpha année 2400")
        self.assertIn("génération année 2400 prête à être effectuée manuellement",
                      plain_text(reminder))
        # Each click on "rafraîchit" reminds again (the year is the one each tick's refresh
        # read); the minute's ticks and the window's activations do not, and none generates.
        self.tick(robot, self.game)
        # The click's reminder is handed to the mail system during its tick, which a busy machine
        # may end after the tick's proof: waited for, then counted.
        self.wait_mails(self.sink, 3)
        mails = self.sink.messages()
        self.assertEqual(len(mails), 3)
        for mail in mails:
            self.assertEqual(address(mail), "host@localhost")
            self.assertTrue(mail["Subject"].startswith("Ventari : jeu alpha année "))
            self.assertIn("prête à être effectuée manuellement", plain_text(mail))
        self.assertEqual(self.game.host_turn(), 0)
        self.assertEqual(turn_files(self.game.pub_dir), [])
        self.assertEqual(self.league.requests(), [])

        # The mails of the turn carry the year read by the last refresh.
        year = first_line(self.game.path("curyear.txt"))
        robot.click_generate()
        mails = wait_for("the host's report", lambda: any(
            "fichiers .M envoy" in plain_text(m) for m in self.sink.messages()) and
            self.sink.messages())
        wait_for("the new year", lambda: self.game.line("curyear.txt") == "2401")
        self.assertEqual(self.game.host_turn(), 1)
        self.assert_turn_published(1)
        self.assert_turn_mails(mails, year)
        self.assertEqual(self.league.requests(), [PAGE])

        # With the new deadline ahead the reminders stop.
        count = len(self.sink.messages())
        self.tick(robot, self.game)
        self.assertEqual(len(self.sink.messages()), count)
        self.assertEqual(self.game.host_turn(), 1)
        self.assertEqual(robot.windows(), [window])

    def test_missing_orders_hold_the_turn_without_mail(self):
        robot = self.start(orders=[1])
        window = robot.main_window()
        before = self.game.snapshot()
        self.tick(robot, self.game)
        self.assertEqual(self.sink.messages(), [])
        after = self.game.snapshot()
        del before["curyear.txt"], after["curyear.txt"]  # the ticks' own marks
        self.assertEqual(after, before)
        self.assertEqual(turn_files(self.game.pub_dir), [])
        self.assertEqual(self.league.requests(), [])

        # The pointer over the state line shows who is late; after OK the robot goes on.
        self.display.hover(window, 80, 70)
        box = robot.wait_box()
        self.display.park_pointer()
        robot.answer_box(box)
        self.tick(robot, self.game)
        self.assertEqual(robot.windows(), [window])
        self.assertEqual(self.sink.messages(), [])

    def test_deadline_cache_that_is_not_a_date_holds_the_turn_until_mended(self):
        robot = self.start(deadline="not a date")
        # The start-up refresh shows the conversion error; start-up goes on and the first tick
        # meets the same error. No deadline was ever read: nothing is generated.
        robot.answer_box(robot.wait_box())
        box = robot.wait_box()
        self.assertTrue(robot.running())
        self.assertTrue(self.display.windows("Ventari surveillance", robot.pid))
        self.assertEqual(self.sink.messages(), [])
        self.assertEqual(self.game.host_turn(), 0)

        # The host mends the cache: a tick reads it, the tick after generates the overdue turn
        # (whether the window's activation after the box runs one of them or not).
        self.game.set_deadline(PAST)
        robot.answer_box(box)
        robot.click_refresh()
        robot.click_refresh()
        self.wait_mails(self.sink, 3)
        self.assertEqual(self.game.host_turn(), 1)
        self.assertEqual(robot.boxes(), [])

    def test_f1_opens_the_about_box_and_closing_the_window_ends(self):
        robot = self.start(deadline=NEXT)
        window = robot.main_window()
        self.assertEqual(robot.windows(), [window])
        self.display.press(window, "F1")
        about = self.display.wait_window("A propos", robot.pid)
        self.display.click(about, 416, 156)  # only its OK button closes it
        wait_for("the about box to close", lambda: about not in robot.windows())
        self.assertTrue(robot.running())
        self.assertEqual(robot.windows(), [window])
        # The host closes the window (through the window manager): the program ends.
        self.display.press(window, "alt+F4")
        self.assertEqual(robot.wait_end(), 0, "the exit status")
        # The windowed robot keeps the same event log as the service.
        # (Qt's own warnings, as root's missing XDG_RUNTIME_DIR, are no events.)
        log = read_bytes(robot.log).decode("utf-8", "replace")
        events = [line.split(" ", 2)[2] for line in log.splitlines()
                  if re.match(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d ", line)]
        self.assertTrue(events[0].startswith("info start: ventari "), events)
        self.assertEqual(events[1:], ["info game folder locked: " +
                                      self.game.path("ventari.lock"),
                                      "info game: alpha", "info year: 2400",
                                      "info deadline: " + NEXT,
                                      "info orders in: player 1 (Ann): " + self.game.path("alpha.x1"),
                                      "info orders in: player 2 (Bob): " + self.game.path("alpha.x2"),
                                      "info state: prêt à générer",
                                      "info end: the window was closed, exit status 0"])


class FatalEndTest(RobotTestCase):

    def test_league_page_404_shows_the_message_and_ends_without_cache(self):
        game = self.make_game()
        game.hand_in_orders()
        league = self.start_league("beta", deadline=NEXT)  # it knows no game alpha
        sink = self.start_sink()
        robot = self.start_robot(game, league, sink)
        box = robot.wait_box()
        self.assertTrue(robot.running(), "the program waits for the host's OK")
        robot.answer_box(box)
        self.assertEqual(robot.wait_end(), 1, "the exit status")
        log = read_bytes(robot.log).decode("utf-8", "replace")
        self.assertIn("box Ventari HTML page not found !!!\n", log)
        self.assertIn("info end: after the failure shown, exit status 1\n", log)
        self.assertEqual(league.requests(), [PAGE])
        self.assertFalse(os.path.exists(game.path("nextdl.txt")))
        self.assertFalse(os.path.exists(game.path("curyear.txt")))
        self.assertEqual(sink.messages(), [])
        self.assertEqual(game.host_turn(), 0)
        self.assertEqual(turn_files(game.pub_dir), [])

    def test_unstartable_game_executable_is_reported_at_start_and_ends(self):
        game = self.make_game()
        game.hand_in_orders()
        game.set_deadline(PAST)
        game.set_year("2400")
        # A plain file where the game executable should be: it exists but cannot be started.
        exe = os.path.join(game.stars, "stars.exe")
        os.remove(exe)
        with open(exe, "w", encoding="ascii") as f:
            f.write("#!/bin/sh\nexit 0\n")
        os.chmod(exe, 0o644)
        before = game.snapshot()
        league = self.start_league("alpha", deadline=NEXT)
        sink = self.start_sink()
        robot = self.start_robot(game, league, sink)

        # The start-up refresh finds that it would not start: said at once, not at the turn.
        box = robot.wait_box()
        robot.answer_box(box)
        self.assertEqual(robot.wait_end(), 1, "the exit status")
        self.assertEqual(sink.messages(), [])
        # Nothing of the game moved: orders, host file and both caches are as they were.
        self.assertEqual(game.snapshot(), before)
        self.assertFalse(os.path.exists(game.pub_dir), "nothing was made after the check")
        self.assertEqual(league.requests(), [])


if __name__ == "__main__":
    unittest.main()
