"""The real robot runs a Windows build of the stand-in game through the real wine, as a host runs
the real game: the turn is generated, published and mailed exactly as with the native game."""

import os
import shutil
import unittest

from harness import BIN_DIR, RobotTestCase, first_line, read_bytes, stars_turn, wait_for

PAST = "2002-07-30 18:00:00"
NEXT = "2031-05-06 07:08:09"
WINDOWS_GAME = "starsgen-win64.exe"
# A new wine prefix is made at the first run: that takes a while on a slow machine.
WINE_WAIT = 240


class WineTurnTest(RobotTestCase):

    @classmethod
    def setUpClass(cls):
        if shutil.which("wine") is None:
            raise unittest.SkipTest("wine is not installed")
        if not os.path.exists(os.path.join(BIN_DIR, WINDOWS_GAME)):
            raise unittest.SkipTest("the Windows build of the stand-in game is not built")
        super().setUpClass()

    def test_a_windows_game_generates_the_turn_through_wine(self):
        game = self.make_game(executable=WINDOWS_GAME)
        # Where a Windows game sits under wine: a folder with blanks, named without quotes.
        stars = os.path.join(game.root, "drive_c", "Program Files", "Stars game")
        os.makedirs(stars)
        os.rename(os.path.join(game.stars, "stars.exe"), os.path.join(stars, "stars.exe"))
        game.write(os.path.join(game.root, "ventari.def"),
                   "binaires\t%s\r\nexecutable\tstars.exe\r\npublication\t%s\r\njeux\t%s\r\n"
                   % (stars.replace("/", "\\"), game.pub, game.jeux))
        with open(os.path.join(stars, "stars.exe"), "rb") as f:
            self.assertEqual(f.read(2), b"MZ")
        game.hand_in_orders()
        game.set_deadline(PAST)
        game.set_year("2400")
        league = self.start_league("alpha", deadline=NEXT)
        sink = self.start_sink()
        prefix = os.path.join(self.tmp, "wine prefix")
        # The robot's own choice: "wine" from the PATH (an empty VENTARI_WINE is no setting).
        self.start_robot(game, league, sink, env={"WINEPREFIX": prefix, "VENTARI_WINE": ""})

        mails = self.wait_mails(sink, 3, timeout=WINE_WAIT)
        wait_for("the new year", lambda: game.line("curyear.txt") == "2401", WINE_WAIT)
        self.assertTrue(os.path.isdir(os.path.join(prefix, "drive_c")), "wine made no prefix")
        self.assertEqual(game.host_turn(), 1)
        self.assertFalse(any(name.startswith("alpha.x") for name in os.listdir(game.dir)))
        for name in ("alpha.m1", "alpha.m2", "alpha.m3", "alpha.hst"):
            self.assertEqual(stars_turn(game.path(name)), 1, name)
            self.assertEqual(read_bytes(os.path.join(game.pub_dir, name)),
                             read_bytes(game.path(name)), name)
        players = {m["To"].addresses[0].addr_spec: m for m in mails}
        self.assertEqual(sorted(players), ["ann@localhost", "bob@localhost", "host@localhost"])
        for n, address in ((1, "ann@localhost"), (2, "bob@localhost")):
            attachment = list(players[address].iter_attachments())[0]
            self.assertEqual(attachment.get_filename(), "alpha.m%d" % n)
            self.assertEqual(attachment.get_content(), read_bytes(game.path("alpha.m%d" % n)))
        self.assertEqual(players["host@localhost"]["Subject"], "Ventari : jeu alpha année 2400")
        self.assertEqual(first_line(game.path("nextdl.txt")), NEXT)
        self.assertTrue(self.robot.running())
        # Wine said nothing into the robot's output (its diagnostics are off).
        with open(self.robot.log, "rb") as f:
            self.assertNotIn(b"fixme:", f.read())


if __name__ == "__main__":
    unittest.main()
