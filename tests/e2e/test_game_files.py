"""The game's files judged as the game reads them, end to end: an upload cut short holds the turn
and says why, orders only saved count and are said so, and a game that is over is generated no
more. The robot runs without a display; --check tells the same."""

import os
import signal
import subprocess
import unittest

from harness import BIN_DIR, WAIT, read_bytes, wait_for
from test_resume import TurnCase


class GameFilesTest(TurnCase):

    def check(self):
        env = dict(os.environ, VENTARI_LEAGUE_SERVER=self.league.url, VENTARI_SENDMAIL=self.msmtp())
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
            env.pop(name, None)
        run = subprocess.run([os.path.join(BIN_DIR, "ventari"), "--check"], cwd=self.game.root,
                             env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, timeout=2 * WAIT)
        return run.returncode, run.stdout.decode()

    def stop(self, robot):
        os.kill(robot.pid, signal.SIGTERM)
        self.assertEqual(robot.wait(timeout=WAIT), 0)

    def test_cut_saved_and_over(self):
        self.prepare()
        subprocess.run([os.path.join(BIN_DIR, "starsgen"), "--orders", "alpha.hst", "--player",
                        "1", "--saved"], cwd=self.game.dir, check=True)
        whole = read_bytes(self.game.path("alpha.x2"))
        with open(self.game.path("alpha.x2"), "wb") as f:
            f.write(whole[:-1])  # Bob's upload is still going

        robot = self.start_headless(self.league, {"STARSGEN_GAME_OVER": "1"})
        wait_for("the tick's state", lambda: "info state: en retard" in self.log_text())
        log = self.log_text()
        self.assertIn("info orders in (saved, not submitted): player 1 (Ann): %s"
                      % self.game.path("alpha.x1"), log)
        self.assertIn("warning orders refused: player 2 (Bob): %s: incomplete"
                      % self.game.path("alpha.x2"), log)
        self.assertIn("info state: en retard, late: 2(Bob)", log)
        status, out = self.check()
        self.assertIn("  1 Ann: in (saved, not submitted)\n", out)
        self.assertIn("  2 Bob: late (incomplete)\n", out)
        self.assertEqual(self.game.host_turn(), 0)
        self.assertEqual(self.sink.messages(), [])
        self.stop(robot)

        # The upload done, the next start generates; this game's last turn says it is over.
        with open(self.game.path("alpha.x2"), "wb") as f:
            f.write(whole)
        robot = self.start_headless(self.league, {"STARSGEN_GAME_OVER": "1"})
        self.wait_mails(self.sink, 3)
        wait_for("the new year", lambda: self.game.line("curyear.txt") == "2401")
        self.stop(robot)
        self.assertEqual(self.game.host_turn(), 1)

        robot = self.start_headless(self.league)
        wait_for("the tick's state", lambda: "info state: partie terminée" in self.log_text())
        self.assertIn("game over: the host file %s says so" % self.game.path("alpha.hst"),
                      self.log_text())
        status, out = self.check()
        self.assertIn(", game over\n", out)
        self.assertIn("turn:            the game is over\n", out)
        self.stop(robot)
        self.assertEqual(self.game.host_turn(), 1)
        self.assertEqual(len(self.sink.messages()), 3)

    def test_settings_mistakes_are_named_with_their_file_and_line(self):
        self.prepare()
        pla = os.path.join(self.game.jeux, "ventari.pla")
        good = read_bytes(pla).decode()
        # A space instead of a tab on Bob's line (line 9).
        self.game.write(pla, good.replace("J2\tBob,bob@localhost", "J2 Bob,bob@localhost"))
        status, out = self.check()
        self.assertEqual(status, 1, out)
        said = "ventari.pla, ligne 9 : pas de tabulation (« J2 Bob,bob@localhost »)"
        self.assertIn("settings:        " + said + "\n", out)
        self.assertIn("set-up:          " + said + "\n", out)

        # The robot says it at start-up, once in a box and once in the log, and generates
        # nothing: read as a computer's row, Bob's would have the turn go without him.
        mails = len(self.sink.messages())
        robot = self.start_headless(self.league)
        wait_for("the set-up failure at the start and at the tick",
                 lambda: self.log_text().count(said) >= 3)
        self.stop(robot)
        log = self.log_text()
        self.assertEqual(log.count("warning settings: " + said), 1, log)
        self.assertEqual(log.count("box " + said), 1, log)
        self.assertEqual(self.game.host_turn(), 0)
        self.assertEqual(len(self.sink.messages()), mails, "no receipt, reminder or turn")

        # A human's address nobody could mail holds the turn too.
        self.game.write(pla, good.replace("Bob,bob@localhost", "Bob,bob"))
        status, out = self.check()
        self.assertEqual(status, 1, out)
        self.assertIn("ventari.pla, ligne 9 : l'adresse du joueur 2 (Bob) n'est pas une adresse",
                      out)
        robot = self.start_headless(self.league)
        # Said by the start's refresh, then by the first tick, which would otherwise generate.
        wait_for("the set-up failure at the start and at the tick",
                 lambda: self.log_text().count("n'est pas une adresse") >= 2)
        self.stop(robot)
        self.assertEqual(self.game.host_turn(), 0)
        self.assertEqual(len(self.sink.messages()), mails)


if __name__ == "__main__":
    unittest.main()
