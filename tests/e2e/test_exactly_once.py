"""Each turn generated once: one robot per game folder, and one click on "génère" one turn.
A second robot on the same game ends at start-up, a restore waits for the robot to be stopped,
and the lock goes with a killed robot. Clicks on "génère" made while a generation holds the
window do not generate again; a click made after it does."""

import os
import re
import signal
import subprocess
import unittest

from harness import (BIN_DIR, NEXT, WAIT, address, folder_files, plain_text, read_bytes,
                     stars_turn, wait_for)
from test_resume import TurnCase


def events(log_path):
    """The log's event lines without their date and time."""
    text = read_bytes(log_path).decode("utf-8", "replace")
    return [line.split(" ", 2)[2] for line in text.splitlines()
            if re.match(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d ", line)]


class ExactlyOnceCase(TurnCase):

    def log_path(self, name):
        path = os.path.join(self.tmp, name)
        self.logs.append(path)
        return path

    def windowed(self, name):
        return self.start_robot(self.game, self.league, self.sink, log=self.log_path(name))

    def headless(self, name):
        env = dict(os.environ, VENTARI_SENDMAIL=self.msmtp(),
                   VENTARI_LEAGUE_SERVER=self.league.url, SDL_AUDIODRIVER="dummy")
        for var in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
            env.pop(var, None)
        log = self.log_path(name)
        with open(log, "wb") as out:
            process = self.group.start([os.path.join(BIN_DIR, "ventari"), "--headless",
                                        "--folder", self.game.root], cwd=self.tmp, env=env,
                                       stdin=subprocess.DEVNULL, stdout=out, stderr=out)
        return process, log

    def command(self, *args):
        """`ventari` with a command-line action, in the host's folder, without a display."""
        env = dict(os.environ, VENTARI_LEAGUE_SERVER=self.league.url,
                   VENTARI_SENDMAIL=self.msmtp())
        for var in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
            env.pop(var, None)
        return subprocess.run([os.path.join(BIN_DIR, "ventari"), *args], cwd=self.game.root,
                              env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=2 * WAIT)

    def robot_line(self):
        """The line of `ventari --check` about the robot on the game."""
        out = self.command("--check").stdout.decode("utf-8", "replace")
        found = [line for line in out.splitlines() if line.startswith("robot:")]
        self.assertEqual(len(found), 1, out)
        return found[0]


class OneRobotPerGameTest(ExactlyOnceCase):

    def lock_file(self):
        return self.game.path("ventari.lock")

    def lock_holder(self):
        try:
            return read_bytes(self.lock_file()).decode("ascii").strip()
        except FileNotFoundError:
            return None

    def wait_locked_by(self, robot):
        wait_for("the game folder locked", lambda: "info game folder locked: " +
                 self.lock_file() in events(robot.log))
        self.assertEqual(self.lock_holder(), str(robot.pid))

    def refusal(self, pid):
        return ("box another Ventari robot runs on the game folder %s (process %d) !!!"
                % (self.game.dir, pid))

    def test_one_robot_runs_the_game_and_a_restore_waits_for_it(self):
        self.prepare()  # the turn is due: the first robot generates it
        first = self.windowed("robot-1.log")
        first.main_window()
        wait_for("the new year", lambda: self.game.line("curyear.txt") == "2401" and
                 not os.path.exists(self.game.path("ventari-turn.journal")))
        self.wait_mails(self.sink, 3)
        self.wait_locked_by(first)
        self.assertRegex(self.robot_line(), r"^robot: +running, process %d\b" % first.pid)

        # A restore is refused, though the backup it asks for is there, and changes nothing.
        self.assertTrue(os.path.isdir(self.game.path(os.path.join("backup", "2400"))))
        before = folder_files(self.game.dir)
        refused = self.command("--restore", "2400")
        self.assertEqual(refused.returncode, 1)
        self.assertIn(b"a robot runs on " + self.game.dir.encode(), refused.stderr)
        self.assertIn(b"stop it before --restore", refused.stderr)
        self.assertIn(b"(process %d " % first.pid, refused.stderr)
        self.assertNotIn(b"restored", refused.stdout)
        self.assertEqual(folder_files(self.game.dir), before)
        self.assertEqual(self.game.host_turn(), 1)

        # A second windowed robot shows why it cannot run and ends.
        second = self.windowed("robot-2.log")
        box = second.wait_box()
        wait_for("the refusal in the log", lambda: self.refusal(first.pid) in events(second.log))
        self.assertTrue(second.running(), "the box waits for the host's OK")
        second.answer_box(box)
        self.assertEqual(second.wait_end(), 1, "the exit status")
        self.assertIn("info end: after the failure shown, exit status 1", events(second.log))

        # So does a headless one, at once.
        third, log = self.headless("robot-3.log")
        self.assertEqual(third.wait(timeout=2 * WAIT), 1)
        self.assertIn(self.refusal(first.pid), events(log))
        self.assertIn("info end: after the failure shown, exit status 1", events(log))

        # The first robot goes on, still holding the game, and nothing more was generated.
        self.assertTrue(first.running())
        self.assertEqual(self.lock_holder(), str(first.pid))
        self.assertRegex(self.robot_line(), r"^robot: +running, process %d\b" % first.pid)
        self.tick(first, self.game)
        self.assertEqual(self.game.host_turn(), 1)
        self.assertEqual(len(self.sink.messages()), 3)
        for log_path in (second.log, log):
            self.assertNotIn("generation", read_bytes(log_path).decode("utf-8", "replace"))

        # Once it is stopped the same restore goes through.
        os.kill(first.pid, signal.SIGTERM)
        self.assertEqual(first.wait_end(), 0)
        self.assertRegex(self.robot_line(), r"^robot: +none running on this game")
        done = self.command("--restore", "2400")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(self.game.host_turn(), 0)

    def test_the_lock_of_a_killed_robot_is_dropped(self):
        self.prepare()
        self.game.set_deadline(NEXT)  # nothing to generate: the robots only watch
        self.assertRegex(self.robot_line(), r"^robot: +none running on this game")
        first = self.windowed("robot-1.log")
        first.main_window()
        self.wait_locked_by(first)
        self.assertRegex(self.robot_line(), r"^robot: +running, process %d\b" % first.pid)

        os.kill(first.pid, signal.SIGKILL)
        first.process.wait()
        # The file stays with the dead robot's id in it; the lock is gone with the process.
        self.assertEqual(self.lock_holder(), str(first.pid))
        self.assertRegex(self.robot_line(), r"^robot: +none running on this game")

        second = self.windowed("robot-2.log")
        window = second.main_window()
        self.wait_locked_by(second)
        self.tick(second, self.game)
        self.assertTrue(second.running())
        self.assertEqual(second.windows(), [window], "no box")
        self.assertNotIn("another Ventari robot", read_bytes(second.log).decode("utf-8",
                                                                                 "replace"))
        self.assertRegex(self.robot_line(), r"^robot: +running, process %d\b" % second.pid)
        # And it holds the game in turn against a newcomer.
        third, log = self.headless("robot-3.log")
        self.assertEqual(third.wait(timeout=2 * WAIT), 1)
        self.assertIn(self.refusal(second.pid), events(log))
        self.assertTrue(second.running())


class OneClickOneTurnTest(ExactlyOnceCase):
    """Manual mode, the turn due: the host clicks "génère", and clicks again while the window
    does not answer, the generation still under way."""

    def start_manual(self):
        self.prepare(auto=False)

    def start_robot_and_wait_reminder(self):
        robot = self.start_robot(self.game, self.league, self.sink)
        window = robot.main_window()
        reminder = self.wait_mails(self.sink, 1)[0]
        self.assertIn("prête à être effectuée manuellement", plain_text(reminder))
        return robot, window

    def click_again(self, window):
        """Three clicks on "génère"; the query at the end returns once the X server has taken
        them in, so they are older than anything the test does next."""
        self.display.xdotool("mousemove", "--window", window, 152, 40, "click", "--repeat", 3,
                             1, "getmouselocation")

    def wait_turn(self, turn):
        wait_for("turn %d to be finished" % turn, lambda: self.game.line("curyear.txt") ==
                 str(2400 + turn) and not os.path.exists(self.game.path("ventari-turn.journal")))
        wait_for("the host's report", lambda: len(self.reports()) == turn)

    def dropped(self, robot):
        """Clicks dropped: dispatched by a wait of the generation itself, or queued until its
        end."""
        return sum(events(robot.log).count('info "génère" clicked while %s: click dropped' % when)
                   for when in ("the robot was busy", "the last generation ran"))

    def assert_one_turn_each(self, robot, turn):
        # A refresh clicked after the other clicks is handled after them: by the end of the
        # tick they have all been dealt with.
        self.tick(robot, self.game)
        self.assertEqual(self.count(self.runs), turn, "game runs")
        self.assertEqual(self.game.host_turn(), turn)
        self.assertEqual(len(self.reports()), turn)
        for n, who in ((1, "ann@localhost"), (2, "bob@localhost")):
            mails = [m for m in self.sink.messages() if address(m) == who]
            self.assertEqual(len(mails), turn, who)
            sent = list(mails[-1].iter_attachments())[0].get_content()
            self.assertEqual(sent, read_bytes(self.game.path("alpha.m%d" % n)))
            self.assertEqual(stars_turn(self.game.path("alpha.m%d" % n)), turn)

    def reports(self):
        return [m for m in self.sink.messages() if address(m) == "host@localhost" and
                "fichiers .M envoy" in plain_text(m)]

    def generate_with_a_fresh_click(self, robot, turn):
        """A click after the last generation ended generates the next turn."""
        robot.click_generate()
        self.wait_turn(turn)
        self.assert_one_turn_each(robot, turn)

    def test_clicks_while_the_game_runs_do_not_generate_again(self):
        self.start_manual()
        self.game_script(self.held())
        robot, window = self.start_robot_and_wait_reminder()

        robot.click_generate()
        wait_for("the game to start", lambda: self.count(self.runs) == 1)
        self.click_again(window)
        self.assertEqual(self.game.host_turn(), 0, "the game is still held")
        self.open_gate()
        self.wait_turn(1)
        self.assert_one_turn_each(robot, 1)

        self.generate_with_a_fresh_click(robot, 2)
        self.assertEqual(robot.windows(), [window])
        # The host who finds one turn where he clicked three times reads why in the log.
        self.assertGreater(self.dropped(robot), 0, "no click dropped in the log")

    def test_clicks_while_the_new_year_is_read_are_dropped(self):
        # The last step of a generation: the year tool reads the new host file.
        self.start_manual()
        self.game_script("")
        years = os.path.join(self.tmp, "year-runs")
        tool = os.path.join(self.game.jeux, "staryear.EXE")
        os.remove(tool)
        os.symlink(self.script("staryear", 'echo run >>"%s"\n%s\nexec "%s" "$@"' % (
            years, self.held(), os.path.join(BIN_DIR, "staryear"))), tool)
        robot, window = self.start_robot_and_wait_reminder()
        self.assertEqual(self.count(years), 0, "the year cache was there")

        robot.click_generate()
        wait_for("the new year to be read", lambda: self.count(years) == 1)
        self.assertEqual(self.count(self.runs), 1)
        self.click_again(window)
        self.open_gate()
        self.wait_turn(1)
        self.assert_one_turn_each(robot, 1)
        self.assertEqual(self.dropped(robot), 3)

        self.generate_with_a_fresh_click(robot, 2)
        self.assertEqual(self.dropped(robot), 3)
        self.assertEqual(robot.windows(), [window])


if __name__ == "__main__":
    unittest.main()
