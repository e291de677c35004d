"""The real robot runs a Windows build of the stand-in game through the real wine, as a host runs
the real game: the turn is generated, published and mailed exactly as with the native game."""

import os
import shutil
import subprocess
import unittest

from harness import (BIN_DIR, NEXT, PAST, RobotTestCase, first_line, patience, read_bytes,
                     stars_turn, turn_files, wait_for)

WINDOWS_GAME = "starsgen-win64.exe"
# A new wine prefix is made at the first run: that takes a while on a slow machine.
WINE_WAIT = patience(240)


def processes_in_prefix(prefix, but):
    """The processes that run in a wine prefix (by their WINEPREFIX), but the ones named."""
    mark = b"WINEPREFIX=" + os.fsencode(prefix) + b"\0"
    found = []
    for name in os.listdir("/proc"):
        if not name.isdigit() or int(name) in but:
            continue
        try:
            with open("/proc/%s/environ" % name, "rb") as f:
                environ = f.read() + b"\0"
            with open("/proc/%s/cmdline" % name, "rb") as f:
                command = f.read().replace(b"\0", b" ").decode("utf-8", "replace")
        except OSError:
            continue  # gone, or not ours to read
        if mark in environ or environ.startswith(mark):
            found.append((int(name), command))
    return found


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

    def test_a_windows_game_that_hangs_is_ended_with_its_wine_server(self):
        game = self.make_game(executable=WINDOWS_GAME)
        game.hand_in_orders()
        game.set_deadline(PAST)
        game.set_year("2400")
        before = {n: b for n, b in game.snapshot().items() if n.startswith("alpha.")}
        prefix = os.path.join(self.tmp, "wine prefix")
        # The prefix is made beforehand, so that the time limit counts the game's run alone.
        wine_env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=")
        subprocess.run(["wine", "wineboot", "--init"], env=wine_env, check=True,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=WINE_WAIT)
        subprocess.run(["wineserver", "-w"], env=wine_env, timeout=WINE_WAIT)
        league = self.start_league("alpha", deadline=NEXT)
        sink = self.start_sink()
        # The Windows game writes the turn files, then hangs before the host file.
        robot = self.start_robot(game, league, sink, env={
            "WINEPREFIX": prefix, "STARSGEN_HANG": "1", "VENTARI_GAME_TIMEOUT": "15"})
        wait_for("the game under wine", lambda: any(
            "stars.exe" in command for _, command in processes_in_prefix(prefix, [robot.pid])),
            WINE_WAIT)

        box = robot.wait_box(timeout=WINE_WAIT)
        with open(robot.log, "rb") as f:
            self.assertIn(b"box Stars! EXE ran past its time limit !!!", f.read())
        # By the time the box shows, the game, wine's other processes and the prefix's wine
        # server are gone.
        self.assertEqual(processes_in_prefix(prefix, [robot.pid]), [])
        robot.answer_box(box)
        self.assertEqual(robot.wait_end(), 1, "the exit status")
        self.assertEqual({n: read_bytes(game.path(n)) for n in os.listdir(game.dir)
                          if n.startswith("alpha.")}, before, "the files put back byte for byte")
        mails = sink.messages()
        self.assertEqual([m["Subject"] for m in mails], ["ERREUR Ventari : jeu alpha"])
        self.assertFalse(os.path.exists(game.pub_dir) and turn_files(game.pub_dir))


if __name__ == "__main__":
    unittest.main()
