"""The robot killed in the middle of a turn and started again: the turn is finished exactly once.
Killed while the game runs, the game goes on and the new robot waits for it; killed while a mail
is handed over, as by a power cut (every process gone), the mails not yet sent go out. The game
and the sendmail are held at gates the tests open, so that each kill lands where it is meant to,
whatever the machine's speed."""

import os
import signal
import subprocess
import time
import unittest

from harness import (BIN_DIR, NEXT, PAST, WAIT, LeagueServer, RobotTestCase, address, first_line,
                     msmtp_command, plain_text, read_bytes, stars_turn, wait_for)


def signal_pending(pid, sig):
    """Whether a signal sent to the process still waits for one of its threads to take it."""
    bit = 1 << (sig - 1)
    task = "/proc/%d/task" % pid
    for status in ["/proc/%d/status" % pid] + [os.path.join(task, t, "status")
                                               for t in os.listdir(task)]:
        try:
            with open(status, encoding="ascii") as f:
                lines = f.read().splitlines()
        except FileNotFoundError:
            continue  # a thread that ended meanwhile
        for line in lines:
            if line.startswith(("SigPnd:", "ShdPnd:")) and int(line.split()[1], 16) & bit:
                return True
    return False


class TurnCase(RobotTestCase):
    """A game whose turn is due, with the peers and scripts the tests below use."""

    def prepare(self, **game_options):
        self.game = self.make_game(**game_options)
        self.game.hand_in_orders()
        self.game.set_deadline(PAST)
        self.game.set_year("2400")
        self.league = self.start_league("alpha", deadline=NEXT)
        self.sink = self.start_sink()
        self.runs = os.path.join(self.tmp, "game-runs")

    def script(self, name, body):
        path = os.path.join(self.tmp, name)
        with open(path, "w", encoding="ascii") as f:
            f.write("#!/bin/sh\n" + body + "\n")
        os.chmod(path, 0o755)
        return path

    def held(self, name="gate"):
        """Shell lines that hold a stand-in program until the test calls open_gate(name). A hold
        that runs out (two minutes, far beyond any step of a test) ends the program and fails
        the test instead of letting it go on unseen; the gate is opened when the test ends, so
        that nothing stays held."""
        gate = os.path.join(self.tmp, name)
        gave_up = gate + ".gave-up"
        self.assertFalse(os.path.exists(gate), "the gate %s is open before the test opens it"
                         % gate)

        def check():
            self.open_gate(name)
            if os.path.exists(gave_up):
                self.fail("a program held at the gate %r gave up waiting for it" % name)
        self.addCleanup(check)
        return ('n=0\nwhile [ ! -e "%s" ]; do\n'
                '  n=$((n+1)); [ $n -le 1200 ] || { : >"%s"; exit 1; }\n'
                '  sleep 0.1\ndone' % (gate, gave_up))

    def open_gate(self, name="gate"):
        with open(os.path.join(self.tmp, name), "w"):
            pass

    def game_script(self, body):
        """The game notes its process id on a line of self.runs, runs `body`, then the stand-in
        game in its place."""
        exe = os.path.join(self.game.stars, "stars.exe")
        os.remove(exe)
        os.symlink(self.script("game", 'echo "run $$" >>"%s"\n%s\nexec "%s" "$@"'
                               % (self.runs, body, os.path.join(BIN_DIR, "starsgen"))), exe)

    def game_pids(self):
        return [int(line.split()[1]) for line in read_bytes(self.runs).decode().splitlines()]

    def msmtp(self):
        return msmtp_command(self.game.root, self.sink)

    def held_sendmail(self, held_from):
        """A sendmail that notes each call and its process group; from its call number
        `held_from` on it waits at the gate "sendmail-gate" before it hands the message over."""
        self.calls = os.path.join(self.tmp, "sendmail-calls")
        return self.script("sendmail", 'echo "$(ps -o pgid= $$)" >>"%s"\n'
                           'if [ $(wc -l <"%s") -ge %d ]; then\n%s\nfi\nexec %s "$@"'
                           % (self.calls, self.calls, held_from, self.held("sendmail-gate"),
                              self.msmtp()))

    def journal(self):
        """The lines of the turn journal; None when there is none."""
        try:
            return read_bytes(self.game.path("ventari-turn.journal")).decode().splitlines()
        except FileNotFoundError:
            return None

    def count(self, path):
        try:
            return len(read_bytes(path).splitlines())
        except FileNotFoundError:
            return 0

    def power_cut(self):
        """The robot and every sendmail it started end at once."""
        os.kill(self.robot.pid, signal.SIGKILL)
        self.robot.process.wait()
        for line in read_bytes(self.calls).split():
            try:
                os.killpg(int(line), signal.SIGKILL)
            except ProcessLookupError:
                pass

    def assert_turn_finished_once(self):
        wait_for("the new year", lambda: self.game.line("curyear.txt") == "2401")
        mails = self.wait_mails(self.sink, 3)
        self.assertEqual(self.count(self.runs), 1, "the game ran more than once")
        self.assertEqual(self.game.host_turn(), 1)
        self.assertEqual(sorted(address(m) for m in mails),
                         ["ann@localhost", "bob@localhost", "host@localhost"])
        for n, who in ((1, "ann@localhost"), (2, "bob@localhost")):
            mail = [m for m in mails if address(m) == who][0]
            attachment = list(mail.iter_attachments())[0]
            self.assertEqual(attachment.get_content(), read_bytes(self.game.path("alpha.m%d" % n)))
            self.assertEqual(stars_turn(self.game.path("alpha.m%d" % n)), 1)
        report = [m for m in mails if address(m) == "host@localhost"][0]
        self.assertEqual(report["Subject"], "Ventari : jeu alpha année 2400")
        self.assertEqual(first_line(self.game.path("nextdl.txt")), NEXT)
        self.assertFalse(os.path.exists(self.game.path("ventari-turn.journal")))
        for name in ("alpha.hst", "alpha.m1", "alpha.m2", "alpha.m3"):
            self.assertEqual(read_bytes(os.path.join(self.game.pub_dir, name)),
                             read_bytes(self.game.path(name)))
        # A little later nothing more has come.
        self.tick(self.robot, self.game)
        self.assertEqual(len(self.sink.messages()), 3)
        self.assertEqual(self.count(self.runs), 1)

    def start_headless(self, league, env=None):
        extra = env or {}
        env = dict(os.environ, VENTARI_SENDMAIL=self.msmtp(), VENTARI_LEAGUE_SERVER=league.url,
                   SDL_AUDIODRIVER="dummy")
        env.update(extra)
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
            env.pop(name, None)
        self.log = os.path.join(self.tmp, "headless-%d.log" % len(self.group.processes))
        with open(self.log, "wb") as out:
            return self.group.start([os.path.join(BIN_DIR, "ventari"), "--headless", "--folder",
                                     self.game.root], cwd=self.tmp, env=env,
                                    stdin=subprocess.DEVNULL, stdout=out, stderr=out)

    def log_text(self):
        return read_bytes(self.log).decode("utf-8", "replace")


class MailOutageTest(TurnCase):
    """A mail server down for a while, as real ones are: the tries of a failed mail are spread
    in time, so the files that arrive meanwhile (each one a look) spend none, and every player
    gets his turn once the server is back. The spacing is cut to seconds here; a host's is a
    minute."""

    def test_a_mail_server_down_for_a_while_serves_everyone(self):
        self.prepare()
        down = os.path.join(self.tmp, "server-down")
        with open(down, "w"):
            pass
        sendmail = self.script("outage-sendmail", 'if [ -e "%s" ]; then cat >/dev/null; exit 75; '
                               'fi\nexec %s "$@"' % (down, self.msmtp()))
        robot = self.start_headless(self.league, {"VENTARI_SENDMAIL": sendmail,
                                                  "VENTARI_MAIL_RETRY_SECONDS": "8"})
        failed = "failed, try 1 of 3"
        wait_for("both turn mails failed once", lambda: self.log_text().count(failed) == 2)
        settings = os.path.join(self.game.jeux, "ventari.pla")
        pla = read_bytes(settings).decode("utf-8")
        # A settings file saved again every second and a half: a look each time, served or not.
        # The server is back once both second tries have failed, however long they took.
        give_up = time.monotonic() + 2 * WAIT
        while len(self.sink.messages()) < 3 and time.monotonic() < give_up:
            if os.path.exists(down) and self.log_text().count("failed, try 2 of 3") == 2:
                os.remove(down)
            self.game.write(settings, pla)
            time.sleep(1.5)
        self.assertFalse(os.path.exists(down), "served while the server was down")
        mails = self.wait_mails(self.sink, 3)
        self.assertEqual(sorted(address(m) for m in mails),
                         ["ann@localhost", "bob@localhost", "host@localhost"])
        wait_for("the turn's end", lambda: not os.path.exists(self.game.path(
            "ventari-turn.journal")))
        log = self.log_text()
        self.assertEqual(log.count("failed, try 2 of 3"), 2, log)
        self.assertNotIn("failed, try 3 of 3", log)
        self.assertEqual(log.count("generation: taking up the journal"), 1, log)
        self.assertNotIn("sauf à", plain_text(
            [m for m in mails if address(m) == "host@localhost"][0]))
        os.kill(robot.pid, signal.SIGTERM)
        self.assertEqual(robot.wait(timeout=WAIT), 0)


class ResumeTest(TurnCase):

    def test_killed_while_the_game_runs(self):
        self.prepare()
        # The game stays at its gate until the test opens it: it still runs when the robot is
        # started again, however long the kill and the new start take.
        self.game_script(self.held())
        self.start_robot(self.game, self.league, self.sink)
        wait_for("the game to start", lambda: self.count(self.runs) == 1)
        [game] = self.game_pids()
        os.kill(self.robot.pid, signal.SIGKILL)
        self.robot.process.wait()
        # The killed robot left the journal at the game's step: its process, not its end.
        journal = self.journal()
        self.assertIsNotNone(journal, "no journal left")
        self.assertIn("game %d" % game, [" ".join(line.split()[:2]) for line in journal])
        self.assertNotIn("game-done", journal)
        self.assertEqual(self.game.host_turn(), 0, "the game has not generated yet")

        self.start_robot(self.game, self.league, self.sink)
        wait_for("the journal taken up", lambda: "info generation: taking up the journal %s of "
                 "turn 0" % self.game.path("ventari-turn.journal") in self.robot_log())
        # The new robot waits for the game it did not start: the game runs on, nothing is
        # judged or run anew until it ends.
        os.kill(game, 0)
        self.assertNotIn("game-done", self.journal())
        self.assertNotIn("turn 1 generated", self.robot_log())
        self.assertEqual(self.count(self.runs), 1)
        self.open_gate()
        wait_for("the game's turn judged", lambda: "info generation: turn 1 generated" in
                 self.robot_log())
        self.assert_turn_finished_once()
        log = self.robot_log()
        self.assertNotIn("generation: running ", log, "the new robot ran the game")
        self.assertNotIn("put back", log)

    def robot_log(self):
        return read_bytes(self.robot.log).decode("utf-8", "replace")

    def test_killed_between_two_players_mails(self):
        self.prepare()
        self.game_script("")
        # Ann's mail goes through, Bob's is held: the cut comes in the middle of his hand-over.
        self.start_robot(self.game, self.league, sendmail=self.held_sendmail(2))
        wait_for("Bob's mail to be handed over", lambda: self.count(self.calls) == 2)
        self.power_cut()
        self.assertEqual([address(m) for m in self.sink.messages()], ["ann@localhost"])
        self.assertIn("mailed 1", self.journal())
        self.assertNotIn("mailed 2", self.journal())
        self.start_robot(self.game, self.league, self.sink)
        self.assert_turn_finished_once()

    def test_killed_while_the_report_is_sent(self):
        self.prepare()
        self.game_script("")
        self.start_robot(self.game, self.league, sendmail=self.held_sendmail(3))
        wait_for("the report to be handed over", lambda: self.count(self.calls) == 3)
        self.power_cut()
        self.assertEqual(len(self.sink.messages()), 2)
        self.assertIn("mailed 2", self.journal())
        self.assertNotIn("reported", self.journal())
        self.start_robot(self.game, self.league, self.sink)
        self.assert_turn_finished_once()


class StopTest(TurnCase):
    """TERM and INT end the robot cleanly, once the ready sound has played too, and in the middle
    of a generation after the step in progress."""

    def stop_idle(self, sig):
        self.prepare()
        self.game.set_deadline(NEXT)  # every order in, the turn not due: the sound plays
        robot = self.start_robot(self.game, self.league, self.sink)
        robot.main_window()
        self.tick(robot, self.game)
        os.kill(robot.pid, sig)
        self.assertEqual(robot.wait_end(), 0, "the exit status after " + sig.name)
        self.assertEqual(self.sink.messages(), [])

    def test_term_stops_an_idle_robot_that_played_the_sound(self):
        self.stop_idle(signal.SIGTERM)

    def test_int_stops_an_idle_robot_that_played_the_sound(self):
        self.stop_idle(signal.SIGINT)

    def test_term_during_a_generation_stops_after_the_step_and_the_next_start_finishes(self):
        self.prepare()
        self.game_script("")
        robot = self.start_robot(self.game, self.league, sendmail=self.held_sendmail(1))
        wait_for("Ann's mail to be handed over", lambda: self.count(self.calls) == 1)
        # The TERM reaches the robot while Ann's hand-over is held; the hand-over then ends.
        os.kill(robot.pid, signal.SIGTERM)
        wait_for("the robot to take the TERM", lambda: not signal_pending(robot.pid,
                                                                          signal.SIGTERM))
        self.open_gate("sendmail-gate")
        self.assertEqual(robot.wait_end(), 0)
        self.assertEqual(self.count(self.calls), 1, "no mail after the stop")
        self.assertTrue(os.path.exists(self.game.path("ventari-turn.journal")))
        self.start_robot(self.game, self.league, self.sink)
        self.assert_turn_finished_once()
        self.assertEqual(self.count(self.calls), 1)


    def test_term_while_the_game_runs_is_acknowledged_at_once(self):
        self.prepare()
        self.game_script(self.held())
        robot = self.start_headless(self.league)
        wait_for("the game to start", lambda: self.count(self.runs) == 1)
        pid = int(read_bytes(self.runs).split()[1])
        os.kill(robot.pid, signal.SIGTERM)
        # Said while the game is still held: the event loop is not needed for it.
        wait_for("the stop's acknowledgement", lambda: (
            "info stop asked: the game's run (pid %d) is finished first, up to its time limit"
            % pid) in self.log_text())
        os.kill(robot.pid, signal.SIGINT)
        wait_for("the second stop's answer", lambda: "info stop asked again: the robot is "
                 "already stopping" in self.log_text())
        self.assertEqual(self.game.host_turn(), 0, "the game is still held")
        self.open_gate()
        self.assertEqual(robot.wait(timeout=2 * WAIT), 0)
        log = self.log_text()
        self.assertIn("generation: turn 1 generated", log)
        self.assertEqual(log.count("info stop asked for by a signal (TERM or INT)"), 1)
        self.assertEqual(self.journal()[-1], "game-done", "stopped after the game's step")
        self.start_headless(self.league)
        self.wait_mails(self.sink, 3)
        wait_for("the new year", lambda: self.game.line("curyear.txt") == "2401")
        self.assertEqual(self.count(self.runs), 1)


class RestoreTest(TurnCase):
    """A turn generated, then put back by the host from the command line, without a display."""

    def restore(self, year):
        env = dict(os.environ)
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
            env.pop(name, None)
        return subprocess.run([os.path.join(BIN_DIR, "ventari"), "--restore", year],
                              cwd=self.game.root, env=env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=2 * WAIT)

    def test_restore_round_trip(self):
        self.maxDiff = None
        self.prepare()
        before = {n: b for n, b in self.game.snapshot().items() if n.startswith("alpha.")}
        self.start_robot(self.game, self.league, self.sink)
        wait_for("the new year", lambda: self.game.line("curyear.txt") == "2401")
        self.group.stop()
        after = {n: read_bytes(self.game.path(n)) for n in os.listdir(self.game.dir)
                 if n.startswith("alpha.")}
        self.assertEqual(stars_turn(self.game.path("alpha.hst")), 1)

        missing = self.restore("1999")
        self.assertEqual(missing.returncode, 1)
        self.assertIn(b"no backup 1999", missing.stderr)
        self.assertIn(b"2400", missing.stderr, "the backups there are")

        # The records of who was reminded belong to the turn left behind.
        for record in ("reminder", "late-players"):
            self.game.store("INSERT OR REPLACE INTO turn_note(name, turn_key, rows) "
                            "VALUES(?, 'turn 1', '')", record)
        self.assertEqual(len(self.game.store("SELECT * FROM turn_note WHERE name IN "
                                             "('reminder', 'late-players')")), 2)
        done = self.restore("2400")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn(b"restored " + self.game.path("alpha.hst").encode(), done.stdout)
        now = {n: read_bytes(self.game.path(n)) for n in os.listdir(self.game.dir)
               if n.startswith("alpha.")}
        self.assertEqual(now, before, "the files of turn 0, orders included, byte for byte")
        self.assertFalse(os.path.exists(self.game.path("nextdl.txt")))
        self.assertFalse(os.path.exists(self.game.path("curyear.txt")))
        self.assertEqual(self.game.store("SELECT * FROM turn_note WHERE name IN "
                                         "('reminder', 'late-players')"), [])
        # The files it replaced were kept first, and can be put back in their turn.
        back = self.restore("2401")
        self.assertEqual(back.returncode, 0, back.stderr)
        self.assertEqual({n: read_bytes(self.game.path(n)) for n in os.listdir(self.game.dir)
                          if n.startswith("alpha.")}, after)


class HeadlessTest(TurnCase):
    """`ventari --headless` with no display at all: the whole turn, its events in the log."""

    def assert_in_order(self, log, events):
        """Each event on a line of its own, after the one before it."""
        lines = [line.split(" ", 2)[-1] for line in log.splitlines()]
        at = 0
        for event in events:
            found = [i for i in range(at, len(lines)) if lines[i].startswith(event)]
            self.assertTrue(found, "%r not logged after %r in:\n%s" % (event, lines[at - 1] if at
                                                                     else None, log))
            at = found[0] + 1

    def test_a_whole_turn_without_a_display(self):
        self.prepare()
        robot = self.start_headless(self.league)
        mails = self.wait_mails(self.sink, 3)
        wait_for("the new year", lambda: self.game.line("curyear.txt") == "2401")
        wait_for("the new year in the log", lambda: "info year: 2401" in self.log_text())
        self.assertEqual(sorted(address(m) for m in mails),
                         ["ann@localhost", "bob@localhost", "host@localhost"])
        self.assertEqual(self.game.host_turn(), 1)
        os.kill(robot.pid, signal.SIGTERM)
        self.assertEqual(robot.wait(timeout=WAIT), 0)
        log = self.log_text()
        self.assertRegex(log, r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d info start: ventari ")
        self.assert_in_order(log, [
            "info start: ventari ", "info game: alpha", "info year: 2400",
            "info deadline: " + PAST,
            "info orders in: player 1 (Ann): " + self.game.path("alpha.x1"),
            "info orders in: player 2 (Bob): " + self.game.path("alpha.x2"),
            "info state: devrait générer",
            "info generation: turn 0 of alpha backed up in " + self.game.path("backup/2400"),
            "info generation: running ", "info generation: the game runs, pid ",
            "info generation: turn 1 generated",
            "info generation: turn files published in " + self.game.pub_dir,
            'info mail to Ann <ann@localhost>, "alpha année 2400": sent',
            'info mail to Bob <bob@localhost>, "alpha année 2400": sent',
            'info mail to alpha human host <host@localhost>, "Ventari : jeu alpha année 2400": '
            "sent",
            "info generation: year 2400 done",
            "info deadline page fetched: %sligue/travail/ventari.php/nextdl?jeu=alpha"
            % self.league.url,
            "info year tool run: ", "info year: 2401", "info deadline: " + NEXT,
            "info stop asked for by a signal", "info end: stopped by a signal, exit status 0"])
        # The game, year and deadline lines are logged when they change, not at every refresh.
        self.assertEqual(log.count("info game: alpha"), 1)

    def test_a_log_reader_that_went_away_does_not_stop_the_robot(self):
        # As with `ventari --headless 2>&1 | tee log` and the tee ended: every log line then
        # meets a pipe with no reader.
        self.prepare()
        reader, writer = os.pipe()
        os.close(reader)
        env = dict(os.environ, VENTARI_SENDMAIL=self.msmtp(), VENTARI_LEAGUE_SERVER=self.league.url,
                   SDL_AUDIODRIVER="dummy")
        env.pop("DISPLAY", None)
        try:
            robot = self.group.start([os.path.join(BIN_DIR, "ventari"), "--headless", "--folder",
                                      self.game.root], cwd=self.tmp, env=env,
                                     stdin=subprocess.DEVNULL, stdout=writer, stderr=writer)
        finally:
            os.close(writer)
        self.wait_mails(self.sink, 3)
        wait_for("the new year", lambda: self.game.line("curyear.txt") == "2401")
        self.assertIsNone(robot.poll(), "the robot ended")
        os.kill(robot.pid, signal.SIGTERM)
        self.assertEqual(robot.wait(timeout=WAIT), 0)

    def test_a_box_that_ends_the_robot_ends_it_with_status_1(self):
        self.prepare()
        league = self.start_league_for_other_game()
        robot = self.start_headless(league)
        self.assertEqual(robot.wait(timeout=2 * WAIT), 1)
        self.assert_in_order(self.log_text(), ["box Ventari HTML page not found !!!",
                                               "info end: after the failure shown, exit status 1"])

    def start_league_for_other_game(self):
        os.remove(self.game.path("nextdl.txt"))  # the deadline must be fetched
        return LeagueServer(self.group, os.path.join(self.tmp, "league-beta"), "beta",
                            deadline=NEXT)

    def test_late_players_are_reminded_once_per_turn(self):
        self.prepare()
        os.remove(self.game.path("alpha.x2"))  # Bob's orders are not in
        # Ann's file says it is Bob's: refused, so she is late too.
        orders = bytearray(read_bytes(self.game.path("alpha.x1")))
        orders[14] = (orders[14] & ~0x1F) | 1
        with open(self.game.path("alpha.x1"), "wb") as f:
            f.write(orders)
        deadline = time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(time.time() + 3 * 3600))
        self.game.set_deadline(deadline)
        reminders = {"VENTARI_REMIND_HOURS": "4", "VENTARI_LEAGUE_SITE": "http://ligue.test/"}
        robot = self.start_headless(self.league, reminders)
        mails = self.wait_mails(self.sink, 2)
        wait_for("the tick's state", lambda: "info state: incomplet" in self.log_text())
        self.assertEqual(sorted(address(m) for m in mails), ["ann@localhost", "bob@localhost"])
        # Ann is told why the file she sent does not count.
        why = {"ann@localhost": "le fichier alpha.x1 reçu ne compte pas : "
                                "fichier d'un autre joueur.\n\n",
               "bob@localhost": ""}
        for mail in mails:
            self.assertEqual(mail["Subject"], "alpha année 2400 : ordres attendus")
            self.assertEqual(list(mail.iter_attachments()), [])
            self.assertEqual(plain_text(mail),
                             "vos ordres de l'année 2400 ne sont pas arrivés.\n\n%s"
                             "DL : %s\n\nConsultez http://ligue.test/ligue/travail/ventari.php"
                             "?jeu=alpha\n\nVentari Robot\n" % (why[address(mail)], deadline))
        self.assertEqual(self.game.store("SELECT turn_key, rows FROM turn_note "
                                         "WHERE name = 'late-players'"), [("turn 0", "1 2")])
        log = self.log_text()
        self.assertIn("warning orders refused: player 1 (Ann): %s: other player"
                      % self.game.path("alpha.x1"), log)
        self.assertIn("info state: incomplet, late: 1(Ann)2(Bob)", log)
        os.kill(robot.pid, signal.SIGTERM)
        self.assertEqual(robot.wait(timeout=WAIT), 0)

        # Started again the same turn: no second reminder.
        robot = self.start_headless(self.league, reminders)
        wait_for("the tick's state", lambda: "info state: incomplet" in self.log_text())
        os.kill(robot.pid, signal.SIGTERM)
        self.assertEqual(robot.wait(timeout=WAIT), 0)
        self.assertEqual(len(self.sink.messages()), 2)
        self.assertNotIn("reminder", self.log_text())

        # Without the variable nobody is reminded, whatever the deadline.
        self.game.store("DELETE FROM turn_note WHERE name = 'late-players'")
        robot = self.start_headless(self.league)
        wait_for("the tick's state", lambda: "info state: incomplet" in self.log_text())
        os.kill(robot.pid, signal.SIGTERM)
        self.assertEqual(robot.wait(timeout=WAIT), 0)
        self.assertEqual(len(self.sink.messages()), 2)


class CheckTest(TurnCase):
    """`ventari --check` tells what the robot sees, without a display and without acting."""

    def check(self, sendmail, env=None):
        env = dict(os.environ, VENTARI_LEAGUE_SERVER=self.league.url, VENTARI_SENDMAIL=sendmail,
                   **(env or {}))
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
            env.pop(name, None)
        return subprocess.run([os.path.join(BIN_DIR, "ventari"), "--check"], cwd=self.game.root,
                              env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=2 * WAIT)

    def test_check_reports_orders_programs_and_the_league_page(self):
        self.prepare()
        before = self.game.snapshot()
        # Bob's client saved last turn's orders... of player 1.
        os.replace(self.game.path("alpha.x2"), self.game.path("alpha.x2.keep"))
        with open(self.game.path("alpha.x2"), "wb") as f:
            f.write(read_bytes(self.game.path("alpha.x1")))
        run = self.check(self.msmtp(), {"VENTARI_REMIND_HOURS": "24",
                                        "VENTARI_LEAGUE_SITE": "http://ligue.example.org/"})
        out = run.stdout.decode()
        self.assertEqual(run.returncode, 0, out)
        self.assertIn("late players:    reminded 24 hours before the deadline\n", out)
        self.assertIn("game:            alpha", out)
        self.assertIn("year:            2400", out)
        self.assertIn("deadline:        " + PAST, out)
        self.assertIn("  1 Ann: in\n", out)
        self.assertIn("  2 Bob: late (other player)\n", out)
        self.assertIn("  3 Robot: computer\n", out)
        self.assertIn("stars.exe, native", out)
        self.assertIn("nextdl?jeu=alpha: " + NEXT, out)
        self.assertIn("set-up:          ok\n", out)
        self.assertIn("turn:            waiting for Bob (other player) (deadline passed)\n", out)
        self.assertIn("league site:     http://ligue.example.org/\n", out)
        self.assertIn("mail link:       http://ligue.example.org/ligue/travail/ventari.php?jeu=alpha\n",
                      out)
        self.assertIn("publication:     %s\n" % self.game.pub_dir, out)
        self.assertEqual(self.sink.messages(), [])
        self.assertEqual(self.game.host_turn(), 0)
        self.assertEqual(first_line(self.game.path("nextdl.txt")), PAST, "the page is not cached")

        # Without a league site, the mails would link to the example address, which leads nowhere.
        run = self.check(self.msmtp(), {"VENTARI_LEAGUE_SITE": "", "VENTARI_PUBLIC_URL": ""})
        out = run.stdout.decode()
        self.assertEqual(run.returncode, 1, out)
        self.assertIn("league site:     http://www.stars-ligue.example/\n", out)
        self.assertIn("set-up:          the players' mails link to the example address "
                      "http://www.stars-ligue.example/, which leads nowhere", out)
        # The status page's address instead: the link of every mail.
        run = self.check(self.msmtp(), {"VENTARI_LEAGUE_SITE": "",
                                        "VENTARI_PUBLIC_URL": "https://jeux.example.org/alpha/"})
        out = run.stdout.decode()
        self.assertEqual(run.returncode, 0, out)
        self.assertNotIn("league site:", out)
        self.assertIn("mail link:       https://jeux.example.org/alpha/\n", out)

        # A mail program that is not there is the first problem.
        run = self.check("/nonexistent/sendmail")
        self.assertEqual(run.returncode, 1)
        self.assertIn("set-up:          the mail program /nonexistent/sendmail cannot be started",
                      run.stdout.decode())
        os.replace(self.game.path("alpha.x2.keep"), self.game.path("alpha.x2"))
        self.assertEqual(self.game.snapshot(), before)

        # Every order in: the turn is due, or waits for its deadline.
        out = self.check(self.msmtp()).stdout.decode()
        self.assertIn("turn:            due now\n", out)
        self.game.set_deadline(NEXT)
        out = self.check(self.msmtp()).stdout.decode()
        self.assertRegex(out, r"turn:            before the deadline \(in \d+ h \d+ min\)\n")

    def test_check_tells_a_game_store_it_cannot_read_and_leaves_it(self):
        self.prepare()
        store = self.game.path("ventari.sqlite")
        junk = b"not a database, a text the host copied over it\n" * 100
        with open(store, "wb") as f:
            f.write(junk)
        run = self.check(self.msmtp())
        out = run.stdout.decode()
        self.assertEqual(run.returncode, 1, out)
        said = "the game store %s cannot be used: file is not a database" % store
        self.assertIn("game store:      %s\n" % said, out)
        self.assertIn("set-up:          %s; put back a copy of it, or move it away\n" % said, out)
        self.assertIn("turn:            the game store cannot be used: the robot does nothing "
                      "on the game\n", out)
        self.assertEqual(read_bytes(store), junk)

        # Moved away: nothing in its place until the robot makes a new one.
        os.remove(store)
        out = self.check(self.msmtp()).stdout.decode()
        self.assertIn("game store:      %s\n" % store, out)
        self.assertFalse(os.path.exists(store))


if __name__ == "__main__":
    unittest.main()
