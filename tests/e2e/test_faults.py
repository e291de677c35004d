"""The robot among faulty peers: a league page server that hangs, breaks off or redirects for
ever, a mail system that is slow and then refuses, a publication folder that cannot take files.
Each time the host sees the robot's message or error, the robot keeps handling its window, no
turn is generated twice and no game file is lost."""

import json
import os
import unittest

from harness import (NEXT, PAST, RobotTestCase, plain_text, read_bytes, stars_turn,
                     turn_files, wait_for)

PAGE = "GET /ligue/travail/ventari.php/nextdl?jeu=alpha HTTP/1.0"


class FaultTestCase(RobotTestCase):

    def prepare(self):
        """A game whose turn is due: every order in, the deadline past, automatic mode."""
        self.game = self.make_game()
        self.game.hand_in_orders()
        self.game.set_deadline(PAST)
        self.game.set_year("2400")

    def assert_generated_once(self):
        """The game's own files after exactly one generation: the host file and every turn file
        at turn 1, the orders taken by the game."""
        names = sorted(os.listdir(self.game.dir))
        for name in ("alpha.hst", "alpha.m1", "alpha.m2", "alpha.m3"):
            self.assertIn(name, names)
            self.assertEqual(stars_turn(self.game.path(name)), 1, name)
        self.assertEqual([n for n in names if n.startswith("alpha.x")], [])


class LeagueFaultTest(FaultTestCase):
    """The new deadline cannot be had after a generation: the robot says so and ends, with the
    status of a temporary failure (75), so that a service tries again later."""

    def generate_against(self, fault):
        self.prepare()
        self.league = self.start_league("alpha", fault=fault)
        self.sink = self.start_sink()
        robot = self.start_robot(self.game, self.league, self.sink)
        self.wait_mails(self.sink, 3)
        wait_for("the deadline page asked for", lambda: self.league.requests())
        return robot

    def answer_both_messages(self, robot):
        """The fetch's own message (two lines), then "page not found" (one line), each waiting
        for OK; after the second the program ends."""
        box = robot.wait_box()
        _, exception_height = self.display.window_size(box)
        self.assertTrue(robot.running())
        robot.answer_box(box)
        box = robot.wait_box()
        _, not_found_height = self.display.window_size(box)
        self.assertGreater(exception_height, not_found_height)
        self.assertTrue(robot.running())
        robot.answer_box(box)
        self.assertEqual(robot.wait_end(), 75, "the exit status")

    def assert_ended_after_one_turn(self):
        self.assertFalse(os.path.exists(self.game.path("nextdl.txt")))
        self.assert_generated_once()
        self.assertEqual(len(self.sink.messages()), 3)
        for name in ("alpha.m1", "alpha.m2", "alpha.m3", "alpha.hst"):
            self.assertEqual(read_bytes(os.path.join(self.game.pub_dir, name)),
                             read_bytes(self.game.path(name)))
        # The players' page says the robot stopped, and that it was no fault of theirs.
        status = json.loads(read_bytes(os.path.join(self.game.status_dir, "status.json")))
        self.assertEqual(status["note"], "robot arrêté : erreur passagère")

    def test_server_that_never_answers(self):
        robot = self.generate_against("hang")
        window = robot.main_window()
        # While the fetch waits the window is alive: F1 opens the about box...
        self.display.press(window, "F1")
        about = self.display.wait_window("A propos", robot.pid)
        self.display.click(about, 416, 156)  # only its OK button closes it
        wait_for("the about box to close", lambda: about not in robot.windows())
        # ... and clicks on the buttons start nothing inside the running generation.
        self.assertEqual(robot.boxes(), [], "a message before the fetch's time-out")
        robot.click_generate()
        robot.click_refresh()
        self.answer_both_messages(robot)
        self.assertEqual(self.league.requests(), [PAGE])
        self.assert_ended_after_one_turn()

    def test_server_that_closes_inside_the_header(self):
        robot = self.generate_against("close-mid-header")
        self.answer_both_messages(robot)
        self.assertEqual(self.league.requests(), [PAGE])
        self.assert_ended_after_one_turn()

    def test_server_that_redirects_for_ever(self):
        robot = self.generate_against("redirect-forever")
        self.answer_both_messages(robot)
        requests = self.league.requests()
        self.assertGreater(len(requests), 1, "the redirection was not followed")
        self.assertLessEqual(len(requests), 100, "the redirections were not bounded")
        self.assertEqual(set(requests), {PAGE})
        self.assert_ended_after_one_turn()


class GenerationFaultTest(FaultTestCase):
    """Faults met while the turn is distributed: a player whose mail fails is tried again, three
    times a turn, and named in the report; a publication that fails stops the turn before any
    player gets last turn's file, and the next start publishes again."""

    def test_mail_system_that_is_slow_then_refuses(self):
        self.prepare()
        sendmail = os.path.join(self.tmp, "slow-sendmail")
        calls = sendmail + ".calls"
        with open(sendmail, "w", encoding="ascii") as f:
            f.write('#!/bin/sh\necho "$*" >>"%s"\ncat >/dev/null\nsleep 2\nexit 75\n' % calls)
        os.chmod(sendmail, 0o755)
        league = self.start_league("alpha", deadline=NEXT)
        # Tried again at every look: the spreading of the tries in time has a test of its own.
        robot = self.start_robot(self.game, league, sendmail=sendmail,
                                 env={"VENTARI_MAIL_RETRY_SECONDS": "0"})

        # One error box per try: each player three times, then the host's report three times.
        for n in range(9):
            box = robot.wait_box("Error")
            self.assertEqual(len(read_bytes(calls).splitlines()), n + 1)
            robot.answer_box(box)
        wait_for("the new year", lambda: self.game.line("curyear.txt") == "2401")
        self.assertEqual(self.game.line("nextdl.txt"), NEXT)
        self.assertEqual(league.requests(), [PAGE])
        self.assert_generated_once()
        self.assertFalse(os.path.exists(self.game.path("ventari-turn.journal")))
        self.assertEqual(turn_files(self.game.pub_dir),
                         ["alpha.hst", "alpha.m1", "alpha.m2", "alpha.m3"])
        self.assertEqual(read_bytes(calls).decode().splitlines(), ["-t -oi -f host@localhost"] * 9)
        # The robot goes on: its next ticks run as usual.
        self.tick(robot, self.game)
        self.assert_generated_once()
        self.assertEqual(len(read_bytes(calls).splitlines()), 9)
        self.assertEqual(robot.windows(), [robot.main_window()])

    def test_publication_folder_that_cannot_take_files(self):
        self.prepare()
        # A plain file where the game's publication folder should be: every copy into it fails,
        # even for root, and last turn's files could otherwise go out as the new ones.
        with open(self.game.pub_dir, "wb") as f:
            f.write(b"not a folder")
        league = self.start_league("alpha", deadline=NEXT)
        sink = self.start_sink()
        robot = self.start_robot(self.game, league, sink)

        box = robot.wait_box("Ventari")
        mails = self.wait_mails(sink, 1)
        self.assertEqual([m["Subject"] for m in mails], ["ERREUR Ventari : jeu alpha"])
        self.assertIn(self.game.pub_dir, plain_text(mails[0]))
        robot.answer_box(box)
        self.assertEqual(robot.wait_end(), 1)
        with open(robot.log, encoding="utf-8", errors="replace") as log:
            self.assertIn("Stars! turn files not published !!!", log.read())
        self.assert_generated_once()
        self.assertTrue(os.path.exists(self.game.path("ventari-turn.journal")))
        self.assertEqual(len(sink.messages()), 1, "a player got a mail")

        # Mended, the next start publishes the turn and serves everyone, without a new game.
        os.remove(self.game.pub_dir)
        robot = self.start_robot(self.game, league, sink)
        self.wait_mails(sink, 4)
        wait_for("the new year", lambda: self.game.line("curyear.txt") == "2401")
        self.assert_generated_once()
        self.assertEqual(sorted(m["Subject"] for m in sink.messages()),
                         ["ERREUR Ventari : jeu alpha", "Ventari : jeu alpha année 2400",
                          "alpha année 2400", "alpha année 2400"])
        self.assertEqual(turn_files(self.game.pub_dir),
                         ["alpha.hst", "alpha.m1", "alpha.m2", "alpha.m3"])
        self.assertFalse(os.path.exists(self.game.path("ventari-turn.journal")))
        self.assertTrue(robot.running())


if __name__ == "__main__":
    unittest.main()
