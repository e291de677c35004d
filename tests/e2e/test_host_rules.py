"""The host's rules for a game: a turn forced past a player whose orders did not come, a pause
set and lifted from the command line, and several games each run by a robot of its own. The
robots run without a display; each result that follows a file is awaited for seconds, and each
check that something did not happen first waits for a look of the robot that came after."""

import json
import os
import signal
import subprocess
import sys
import time
import unittest

from harness import (BIN_DIR, NEXT, PAST, SOON, SOURCE_DIR, WAIT, GameFolder, LeagueServer,
                     address, msmtp_command, plain_text, read_bytes, stars_turn, turn_files,
                     wait_for)
from test_exactly_once import events
from test_resume import TurnCase

SITE = "http://www.stars-ligue.example/ligue/travail/ventari.php?jeu="
# Variables of the caller's environment that would change what these tests expect.
OWN_VARIABLES = ("VENTARI_FORCE_AFTER_HOURS", "VENTARI_REMIND_HOURS", "VENTARI_LEAGUE_SITE",
                 "VENTARI_RECEIPTS")
NO_DISPLAY = ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")


def local_time(offset):
    """The local clock `offset` seconds from now, as the deadline cache holds it."""
    return time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(time.time() + offset))


def messages(log_path):
    """The log's event messages, without date, time and level."""
    return [e.split(" ", 1)[1] for e in events(log_path) if " " in e]


def logged(log_path, start):
    """The log's messages that start with `start`."""
    return [m for m in messages(log_path) if m.startswith(start)]


def paragraphs(mail):
    return plain_text(mail).rstrip("\n").split("\n\n")


class HostCase(TurnCase):
    """Headless robots and command-line actions on one game or more, their output kept."""

    def env_for(self, game, extra=None, receipts=False):
        env = {k: v for k, v in os.environ.items() if k not in OWN_VARIABLES + NO_DISPLAY}
        if not receipts:
            env["VENTARI_RECEIPTS"] = "0"
        env.update(VENTARI_SENDMAIL=msmtp_command(game.root, self.sink),
                   VENTARI_LEAGUE_SERVER=self.league.url, SDL_AUDIODRIVER="dummy")
        env.update(extra or {})
        return env

    def headless(self, game=None, env=None, receipts=False):
        """`ventari --headless --folder <root>`; the process, its log's path in .log."""
        game = game or self.game
        log = os.path.join(self.tmp, "headless-%d-%s.log" % (len(self.logs) + 1, game.game))
        self.logs.append(log)
        with open(log, "wb") as out:
            process = self.group.start([os.path.join(BIN_DIR, "ventari"), "--headless",
                                        "--folder", game.root], cwd=self.tmp,
                                       env=self.env_for(game, env, receipts),
                                       stdin=subprocess.DEVNULL, stdout=out, stderr=out)
        process.log = log
        return process

    def stop(self, robot):
        os.kill(robot.pid, signal.SIGTERM)
        self.assertEqual(robot.wait(timeout=WAIT), 0, "the exit status after a TERM")

    def ventari(self, *args, game=None, cwd=None):
        """`ventari` with a command-line action and no display: (status, stdout, stderr)."""
        game = game or self.game
        run = subprocess.run([os.path.join(BIN_DIR, "ventari"), *args], cwd=cwd or self.tmp,
                             env=self.env_for(game), stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=2 * WAIT)
        return (run.returncode, run.stdout.decode("utf-8", "replace"),
                run.stderr.decode("utf-8", "replace"))

    def pause(self, *words, game=None):
        game = game or self.game
        status, out, err = self.ventari("--folder", game.root, "--pause", *words, game=game)
        self.assertEqual(status, 0, out + err)
        self.assertIn("paused", out + err)
        self.assertTrue(os.path.exists(self.pause_file(game)), "no pause file")
        return out + err

    def resume(self, game=None):
        game = game or self.game
        status, out, err = self.ventari("--folder", game.root, "--resume", game=game)
        self.assertEqual(status, 0, out + err)
        self.assertFalse(os.path.exists(self.pause_file(game)), "the pause file is still there")
        return out + err

    def check(self, game=None):
        game = game or self.game
        status, out, err = self.ventari("--check", game=game, cwd=game.root)
        return out

    def pause_file(self, game=None):
        return os.path.join((game or self.game).jeux, "ventari-pause.txt")

    # The status page, and the looks it proves.

    def status(self, game=None):
        try:
            data = read_bytes(os.path.join((game or self.game).status_dir, "status.json"))
        except FileNotFoundError:
            return None
        return json.loads(data.decode("utf-8"))

    def wait_status(self, what, condition, game=None, timeout=SOON):
        return wait_for("the status page to show " + what,
                        lambda: (lambda s: s if s is not None and condition(s) else None)(
                            self.status(game)), timeout)

    def look(self, game=None):
        """Makes the robot look at the game twice more and waits until it has: each time the
        computer player renamed in the settings, then the new name on the status page. The page
        is written before a tick acts, and the second look comes after the first one's tick has
        ended: anything the robot would have done on what the folders held before is done by
        then. The status of the second look."""
        game = game or self.game
        for _ in range(2):
            row = len(game.players)
            name, kind = game.players[-1]
            self.assertEqual(kind, "COMPUTER")
            new = name[:-4] if name.endswith("-bis") else name + "-bis"
            pla = os.path.join(game.jeux, "ventari.pla")
            text = read_bytes(pla).decode("utf-8")
            game.write(pla, text.replace("J%d\t%s," % (row, name), "J%d\t%s," % (row, new)))
            game.players[-1] = (new, kind)
            # A proof that the robot looked, not a measure of how soon: a sanitized robot on a
            # busy machine may take longer than a player would wait.
            status = self.wait_status("the computer renamed " + new,
                                      lambda s: s["players"][-1]["name"] == new, game,
                                      timeout=WAIT)
        return status

    # The game's files.

    def backups(self, game=None):
        folder = (game or self.game).path("backup")
        return sorted(os.listdir(folder)) if os.path.isdir(folder) else []

    def new_year(self, game=None, timeout=SOON):
        game = game or self.game
        wait_for("the new year of " + game.game, lambda: game.line("curyear.txt") == "2401" and
                 not os.path.exists(game.path("ventari-turn.journal")), timeout)

    def assert_nothing_generated(self, robot, mails):
        self.assertEqual(self.game.host_turn(), 0, "a turn was generated")
        self.assertEqual(self.backups(), [])
        self.assertFalse(os.path.exists(self.game.path("ventari-turn.journal")))
        self.assertEqual(len(self.sink.messages()), mails)
        # Only the info lines: a warning about the setting may name the forced generation.
        done = [e for e in events(robot.log)
                if e.startswith(("info generation", "info forced generation"))]
        self.assertEqual(done, [])

    def assert_turn_mail(self, mail, game, row):
        self.assertEqual(mail["Subject"], "%s année 2400" % game.game)
        [attachment] = list(mail.iter_attachments())
        self.assertEqual(attachment.get_filename(), "%s.m%d" % (game.game, row))
        self.assertEqual(attachment.get_content(),
                         read_bytes(game.path("%s.m%d" % (game.game, row))))
        self.assertEqual(stars_turn(game.path("%s.m%d" % (game.game, row))), 1)

    def assert_published(self, game):
        for name in turn_files(game.pub_dir):
            self.assertEqual(read_bytes(os.path.join(game.pub_dir, name)),
                             read_bytes(game.path(name)), name)
        self.assertIn("%s.hst" % game.game, turn_files(game.pub_dir))


class ForcedTurnCase(HostCase):
    """A game whose turn may be forced past an absent player."""

    def absent_bob(self, **game_options):
        """Ann's orders in, Bob's not, the deadline long past; the game's runs counted."""
        self.prepare(**game_options)
        os.remove(self.game.path("alpha.x2"))
        self.game_script("")

    def assert_forced_turn(self, robot, hours):
        """The turn generated once without Bob: four mails, his extra one saying why."""
        mails = self.wait_mails(self.sink, 4)
        self.new_year()
        self.assertEqual(self.count(self.runs), 1, "game runs")
        self.assertEqual(self.game.host_turn(), 1)
        self.assertEqual(self.backups(), ["2400"])
        backup = os.listdir(self.game.path(os.path.join("backup", "2400")))
        self.assertIn("alpha.x1", backup)
        self.assertNotIn("alpha.x2", backup)
        self.assert_published(self.game)

        self.assertEqual(sorted(address(m) for m in mails),
                         ["ann@localhost", "bob@localhost", "bob@localhost", "host@localhost"])
        [ann] = [m for m in mails if address(m) == "ann@localhost"]
        self.assert_turn_mail(ann, self.game, 1)
        bob = {m["Subject"]: m for m in mails if address(m) == "bob@localhost"}
        self.assertEqual(sorted(bob), ["alpha année 2400", "alpha année 2400 : tour joué sans "
                                                           "vos ordres"])
        self.assert_turn_mail(bob["alpha année 2400"], self.game, 2)
        self.assertEqual(paragraphs(bob["alpha année 2400 : tour joué sans vos ordres"]), [
            "vos ordres de l'année 2400 ne sont pas arrivés avant la date limite plus %s heures."
            % hours,
            "le tour a été joué sans eux : votre nouveau fichier de tour est joint, comme "
            "d'habitude, au mail du tour.",
            "Consultez " + SITE + "alpha", "Ventari Robot"])
        [report] = [m for m in mails if address(m) == "host@localhost"]
        self.assertEqual(report["Subject"], "Ventari : jeu alpha année 2400")
        text = paragraphs(report)
        self.assertTrue([p for p in text if "sans les ordres de 2(Bob)" in p], text)
        self.assertNotIn("1(Ann)", plain_text(report))

        self.assertIn("state: génération forcée", [m.split(",")[0] for m in messages(robot.log)])
        [line] = logged(robot.log, "forced generation:")
        self.assertIn("2 (Bob)", line)
        self.assertIn("missing", line)
        self.assertIn(" %s hour%s" % (hours, "" if hours == "1" else "s"), line)
        self.assertNotIn("1 (Ann)", line)
        said = messages(robot.log)
        generated = [n for n, m in enumerate(said) if m.startswith("generation: turn 1 generated")]
        self.assertTrue(generated)
        self.assertLess(said.index(line), generated[0])
        # A later look of the robot, on the new turn: nothing more.
        self.look()
        self.assertEqual(self.count(self.runs), 1)
        self.assertEqual(len(self.sink.messages()), 4)
        self.assertEqual(self.backups(), ["2400"])



class ForcedTurnTest(ForcedTurnCase):

    def test_a_turn_forced_past_an_absent_player(self):
        self.absent_bob()
        robot = self.headless(env={"VENTARI_FORCE_AFTER_HOURS": "1"})
        self.assert_forced_turn(robot, "1")
        self.stop(robot)

    def test_a_forced_turn_cut_by_a_power_cut_is_finished_as_forced(self):
        self.absent_bob()
        # The first mail (Ann's turn file) is held, and the cut comes in its hand-over.
        sendmail = self.held_sendmail(1)
        first = self.headless(env={"VENTARI_FORCE_AFTER_HOURS": "1",
                                   "VENTARI_SENDMAIL": sendmail})
        wait_for("the first mail handed over", lambda: self.count(self.calls) == 1, 60)
        os.kill(first.pid, signal.SIGKILL)
        first.wait()
        for line in read_bytes(self.calls).split():
            try:
                os.killpg(int(line), signal.SIGKILL)
            except ProcessLookupError:
                pass
        self.assertEqual(self.sink.messages(), [])
        self.assertIsNotNone(self.journal(), "no journal left")
        self.assertEqual(self.game.host_turn(), 1)

        # Started again without the setting: who was left out is the turn's, not the setting's.
        second = self.headless()
        wait_for("the journal taken up", lambda: logged(second.log, "generation: taking up"), 60)
        self.assert_forced_turn(first, "1")
        self.assertEqual(logged(second.log, "forced generation"), [])
        self.stop(second)

    def test_a_league_page_that_keeps_its_date_gives_one_forced_turn_then_the_hours(self):
        """The league's page still answers the deadline of the turn just played, long past: one
        forced turn, then the players have the hours again (36 seconds here), however many
        files arrive; not a turn at every look."""
        self.absent_bob()
        self.league = LeagueServer(self.group, os.path.join(self.tmp, "stale-league"), "alpha",
                                   deadline=PAST)
        robot = self.headless(env={"VENTARI_FORCE_AFTER_HOURS": "0.01"})
        wait_for("the forced turn", lambda: self.game.host_turn() == 1, 60)
        wait_for("the new year", lambda: self.game.line("curyear.txt") == "2401", SOON)
        first = time.monotonic()
        said = "the league page still gives the deadline of the turn just played: " + PAST
        wait_for("the stale page logged", lambda: logged(robot.log, said), SOON)
        status = self.wait_status("the stale page", lambda s: "tour joué" in (s["note"] or ""))
        self.assertIn("la ligue donne encore la date limite du tour joué (%s)" % PAST,
                      status["note"])
        out = self.check()
        self.assertIn("league date:     the page still gives the deadline of the turn just "
                      "played (2002-07-30 18:00, generated ", out)
        # Looks in the hours after the generation (a settings file saved again each second and
        # a half): nothing more is generated.
        while time.monotonic() < first + 25:
            self.look()
        self.assertEqual(self.count(self.runs), 1, "a forced turn chained into another")
        self.assertEqual(self.game.host_turn(), 1)
        # The hours passed: the next forced turn, one.
        wait_for("the second forced turn", lambda: self.game.host_turn() == 2, 90)
        wait_for("the year after", lambda: self.game.line("curyear.txt") == "2402", SOON)
        self.look()
        self.assertEqual(self.count(self.runs), 2)
        self.assertEqual(len(logged(robot.log, said)), 2, "said once a turn")
        self.stop(robot)



class ForcedTurnHoursTest(ForcedTurnCase):
    """What does not force a turn (the hours not passed, manual mode, a file still changing);
    apart from ForcedTurnTest so that both halves run side by side."""

    def test_not_forced_before_the_hours_nor_with_a_value_that_is_no_number(self):
        self.absent_bob()
        # Half an hour past the deadline, one hour allowed; then 70 minutes past, one and a half
        # allowed (a value read as 1 would force it); then a value that is no number of hours.
        for deadline, hours in ((-1800, "1"), (-70 * 60, "1.5"), (-86400, "bientôt")):
            self.game.set_deadline(local_time(deadline))
            robot = self.headless(env={"VENTARI_FORCE_AFTER_HOURS": hours})
            wait_for("the late state", lambda: logged(robot.log, "state: en retard"), SOON)
            self.assertEqual(self.look()["state"], "en retard")
            self.assert_nothing_generated(robot, 0)
            self.assertEqual(self.count(self.runs), 0)
            warnings = [e for e in events(robot.log) if e.startswith("warning ") and
                        ("VENTARI_FORCE_AFTER_HOURS" in e or "bientôt" in e)]
            self.assertEqual(len(warnings), 1 if hours == "bientôt" else 0, warnings)
            self.stop(robot)

        # Once the hour and a half have passed, the turn is forced, the hours written as given.
        self.game.set_deadline(local_time(-100 * 60))
        robot = self.headless(env={"VENTARI_FORCE_AFTER_HOURS": "1.5"})
        self.assert_forced_turn(robot, "1.5")
        self.stop(robot)

    def test_in_manual_mode_the_host_is_reminded_instead(self):
        self.absent_bob(auto=False)
        robot = self.headless(env={"VENTARI_FORCE_AFTER_HOURS": "1"})
        [mail] = self.wait_mails(self.sink, 1)
        self.assertEqual(address(mail), "host@localhost")
        self.assertEqual(mail["Subject"], "Ventari : jeu alpha année 2400")
        self.assertIn("prête à être effectuée manuellement", plain_text(mail))
        self.assertIn("sans les ordres de 2(Bob)", plain_text(mail))
        self.look()
        self.assert_nothing_generated(robot, 1)
        self.assertEqual(self.count(self.runs), 0)
        self.stop(robot)

    def test_a_file_changed_during_the_first_look_is_looked_at_after_it(self):
        """The first look is held in its mail to the host; meanwhile the host renames a player.
        The folders are watched from the start: the change is looked at once the first look has
        ended, not at the next minute."""
        self.absent_bob(auto=False)
        sendmail = self.held_sendmail(1)
        robot = self.headless(env={"VENTARI_FORCE_AFTER_HOURS": "1",
                                   "VENTARI_SENDMAIL": sendmail})
        wait_for("the first look's mail", lambda: self.count(self.calls) == 1, 60)
        pla = os.path.join(self.game.jeux, "ventari.pla")
        self.game.write(pla, read_bytes(pla).decode("utf-8").replace("\tRobot,", "\tRobot-bis,"))
        self.open_gate("sendmail-gate")
        self.wait_status("the player renamed during the first look",
                         lambda s: s["players"][-1]["name"] == "Robot-bis")
        self.stop(robot)

    def test_a_file_changed_while_the_settings_are_first_read_is_looked_at(self):
        """The start is held in the year tool, after the settings were read and before any
        folder is watched; meanwhile the host renames a player. The change is looked at once the
        start is over, not at the next minute."""
        self.absent_bob(auto=False)
        os.remove(self.game.path("curyear.txt"))
        tool = os.path.join(self.game.jeux, "staryear.EXE")
        real = os.path.realpath(tool)
        os.remove(tool)
        calls = os.path.join(self.tmp, "year-calls")
        os.symlink(self.script("staryear", 'echo run >>"%s"\n%s\nexec "%s" "$@"'
                               % (calls, self.held("year-gate"), real)), tool)
        robot = self.headless()
        wait_for("the year tool's run", lambda: os.path.exists(calls), SOON)
        pla = os.path.join(self.game.jeux, "ventari.pla")
        self.game.write(pla, read_bytes(pla).decode("utf-8").replace("\tRobot,", "\tRobot-bis,"))
        self.open_gate("year-gate")
        self.wait_status("the player renamed while the settings were read",
                         lambda s: s["players"][-1]["name"] == "Robot-bis")
        self.stop(robot)

    def test_not_while_paused_and_forced_once_resumed(self):
        self.absent_bob()
        self.pause("absent")
        robot = self.headless(env={"VENTARI_FORCE_AFTER_HOURS": "1"})
        wait_for("the paused state", lambda: logged(robot.log, "state: en pause"), SOON)
        self.assertEqual(self.look()["state"], "en pause")
        self.assert_nothing_generated(robot, 0)
        self.assertEqual(self.count(self.runs), 0)

        since = time.monotonic()
        self.assertIn("resumed", self.resume())
        wait_for("the pause lifted", lambda: logged(robot.log, "pause lifted"), SOON)
        self.wait_mails(self.sink, 4, timeout=SOON)
        sys.stderr.write("\n  forced turn mailed %.1f s after the resume " %
                         (time.monotonic() - since))
        self.assert_forced_turn(robot, "1")
        self.stop(robot)


class PauseTest(HostCase):

    def test_pause_and_resume_while_the_robot_runs(self):
        self.prepare()
        os.remove(self.game.path("alpha.x2"))
        self.game.set_deadline(NEXT)
        self.assertIn("pause:           none\n", self.check())
        robot = self.headless(env={"VENTARI_REMIND_HOURS": "4"}, receipts=True)
        wait_for("the first state", lambda: logged(robot.log, "state: incomplet"), 60)
        self.assertIsNone(self.wait_status("the game", lambda s: True)["note"])
        # Ann's orders, in from the start, get their receipt.
        [receipt] = wait_for("Ann's receipt", lambda: self.sink.messages(), SOON)
        self.assertEqual(address(receipt), "ann@localhost")

        # Paused from another folder, the words joined; seen within seconds.
        since = time.monotonic()
        self.pause("vacances", "de", "Noël")
        self.assertEqual(read_bytes(self.pause_file()).decode("utf-8").splitlines()[0],
                         "vacances de Noël")
        status = self.wait_status("the pause", lambda s: s["state"] == "en pause")
        sys.stderr.write("\n  pause seen %.1f s after the command " % (time.monotonic() - since))
        self.assertEqual(status["note"], "vacances de Noël")
        wait_for("the pause in the log", lambda: logged(robot.log, "state: en pause") and
                 logged(robot.log, "pause: vacances de Noël"), SOON)
        out = self.check()
        self.assertIn("pause:           vacances de Noël\n", out)
        self.assertRegex(out, r"(?m)^turn: +paused")

        # The deadline passes with Bob late: no reminder while paused.
        self.game.set_deadline(PAST)
        self.assertEqual(self.look()["state"], "en pause")
        self.assertEqual(len(self.sink.messages()), 1)
        self.assertEqual([m for m in messages(robot.log) if "reminder" in m and
                          not m.startswith("pause:")], [])

        # Bob's orders come: his receipt still goes, the due turn is not generated.
        self.game.hand_in_orders([2])
        receipt = wait_for("Bob's receipt", lambda: self.sink.messages()[1:], SOON)[0]
        self.assertEqual(address(receipt), "bob@localhost")
        self.assertEqual(receipt["Subject"], "alpha année 2400 : ordres reçus")
        status = self.look()
        self.assertEqual(status["state"], "en pause")
        self.assertEqual([(p["row"], p["orders"]) for p in status["players"]],
                         [(1, "in"), (2, "in"), (3, "computer")])
        self.assert_nothing_generated(robot, 2)

        # Lifted: the due turn is generated within seconds.
        since = time.monotonic()
        self.assertIn("resumed", self.resume())
        mails = self.wait_mails(self.sink, 5, timeout=SOON)
        sys.stderr.write("\n  turn mailed %.1f s after the resume " % (time.monotonic() - since))
        self.new_year()
        self.assertTrue(logged(robot.log, "pause lifted"))
        self.assertEqual(self.game.host_turn(), 1)
        self.assertEqual(self.backups(), ["2400"])
        self.assertEqual(sorted(address(m) for m in mails[2:]),
                         ["ann@localhost", "bob@localhost", "host@localhost"])
        self.assertEqual(logged(robot.log, "forced generation"), [])
        status = self.look()
        self.assertNotEqual(status["state"], "en pause")
        self.assertIsNone(status["note"])
        self.assertIn("pause:           none\n", self.check())
        self.assertNotRegex(self.check(), r"(?m)^turn: +paused")

        # Lifted again: nothing to lift, still a success.
        self.assertIn("not paused", self.resume())
        self.stop(robot)

    def test_a_click_on_generate_still_generates_while_paused(self):
        self.prepare()
        self.pause("travaux")
        self.game_script("")
        robot = self.start_robot(self.game, self.league, self.sink)
        robot.main_window()
        wait_for("the paused state", lambda: logged(robot.log, "state: en pause"), 60)
        self.assertEqual(self.look()["state"], "en pause")
        self.assert_nothing_generated(robot, 0)

        robot.click_generate()
        self.new_year(timeout=WAIT)
        mails = self.wait_mails(self.sink, 3)
        self.assertEqual(sorted(address(m) for m in mails),
                         ["ann@localhost", "bob@localhost", "host@localhost"])
        self.assertEqual(self.count(self.runs), 1)
        self.assertEqual(self.game.host_turn(), 1)
        # The click generates one turn; the game stays paused.
        self.assertTrue(os.path.exists(self.pause_file()))
        self.assertEqual(self.look()["state"], "en pause")
        self.assertEqual(self.count(self.runs), 1)

    def test_a_restore_pauses_the_game(self):
        self.prepare()
        robot = self.headless()
        self.wait_mails(self.sink, 3)
        self.new_year()
        self.stop(robot)

        status, out, err = self.ventari("--restore", "2400", cwd=self.game.root)
        self.assertEqual(status, 0, out + err)
        self.assertEqual(self.game.host_turn(), 0)
        self.assertTrue(os.path.exists(self.pause_file()), "the restore did not pause the game")
        self.assertIn("paused", out + err)
        self.assertIn("--resume", out + err)
        check = self.check()
        self.assertNotIn("pause:           none", check)
        self.assertRegex(check, r"(?m)^pause: +\S")
        self.assertRegex(check, r"(?m)^turn: +paused")

        # The restored turn due again: the robot started waits for the host.
        self.game.set_deadline(PAST)
        robot = self.headless()
        wait_for("the paused state", lambda: logged(robot.log, "state: en pause"), 60)
        self.assertEqual(self.look()["state"], "en pause")
        self.assertEqual(self.game.host_turn(), 0)
        self.assertEqual(len(self.sink.messages()), 3)
        self.assertEqual([e for e in events(robot.log) if e.startswith("info generation")], [])

        self.resume()
        self.wait_mails(self.sink, 6, timeout=SOON)
        self.new_year()
        self.assertEqual(self.game.host_turn(), 1)
        self.assertIn("2400-2", self.backups())
        self.stop(robot)


class SeveralGamesTest(HostCase):

    def make_games(self):
        home = os.path.join(self.tmp, "home")
        self.alpha = GameFolder(os.path.join(home, "alpha"), game="alpha")
        self.beta = GameFolder(os.path.join(home, "beta"), game="beta",
                               players=(("Cat", "cat@localhost"), ("Dan", "dan@localhost"),
                                        ("Robot", "COMPUTER")), host="beta-host@localhost")
        for game in (self.alpha, self.beta):
            game.hand_in_orders()
            game.set_deadline(PAST)
            game.set_year("2400")
        self.league = self.start_league("alpha,beta", deadline=NEXT)
        self.sink = self.start_sink()

    def assert_game_mailed(self, game, players, host):
        mails = [m for m in self.sink.messages() if game.game in m["Subject"]]
        self.assertEqual(sorted(address(m) for m in mails), sorted(players + [host]))
        for row, who in enumerate(players, 1):
            [mail] = [m for m in mails if address(m) == who]
            self.assert_turn_mail(mail, game, row)
        [report] = [m for m in mails if address(m) == host]
        self.assertEqual(report["Subject"], "Ventari : jeu %s année 2400" % game.game)
        # From the game's own host, envelope and all, though both games share one mail command.
        for m, sender in zip(self.sink.messages(), self.sink.envelope_senders()):
            if game.game in m["Subject"]:
                self.assertEqual((m["From"].addresses[0].addr_spec, sender), (host, host))
        self.assertEqual(game.host_turn(), 1)
        self.assertEqual(self.backups(game), ["2400"])
        self.assert_published(game)

    def test_two_games_side_by_side(self):
        self.make_games()
        # Alpha paused from the start: its pause is its own, beta goes on.
        self.pause("alpha attend", game=self.alpha)
        self.assertFalse(os.path.exists(self.pause_file(self.beta)))
        alpha = self.headless(self.alpha)
        beta = self.headless(self.beta)
        self.new_year(self.beta, timeout=WAIT)
        wait_for("beta's mails", lambda: len(self.sink.messages()) >= 3, SOON)
        wait_for("alpha paused", lambda: logged(alpha.log, "state: en pause"), SOON)
        self.assertEqual(self.look(self.alpha)["state"], "en pause")
        self.assertEqual(len(self.sink.messages()), 3)
        self.assert_game_mailed(self.beta, ["cat@localhost", "dan@localhost"],
                                "beta-host@localhost")
        self.assertEqual(self.alpha.host_turn(), 0)
        self.assertEqual(logged(beta.log, "state: en pause"), [])

        # A third robot on alpha's folder is refused at once; both others go on.
        third = self.headless(self.alpha)
        self.assertEqual(third.wait(timeout=WAIT), 1)
        refusals = [m for m in messages(third.log)
                    if "another Ventari robot runs on the game folder" in m]
        self.assertTrue(refusals, read_bytes(third.log).decode("utf-8", "replace"))
        self.assertIn("(process %d)" % alpha.pid, refusals[0])
        self.assertIsNone(alpha.poll())
        self.assertIsNone(beta.poll())

        self.resume(self.alpha)
        self.new_year(self.alpha)
        wait_for("alpha's mails", lambda: len(self.sink.messages()) >= 6, SOON)
        self.assert_game_mailed(self.alpha, ["ann@localhost", "bob@localhost"], "host@localhost")
        self.assert_game_mailed(self.beta, ["cat@localhost", "dan@localhost"],
                                "beta-host@localhost")
        # Each robot looks at its own game only.
        for robot, other in ((alpha, self.beta), (beta, self.alpha)):
            self.assertNotIn(other.dir, read_bytes(robot.log).decode("utf-8", "replace"))
        self.look(self.alpha)
        self.look(self.beta)
        self.assertEqual(len(self.sink.messages()), 6)
        self.stop(alpha)
        self.stop(beta)

    def test_the_template_unit_is_installed_beside_the_unit(self):
        build = os.path.dirname(BIN_DIR)
        if not os.path.exists(os.path.join(build, "cmake_install.cmake")):
            raise unittest.SkipTest("no build folder to install from")
        prefix = os.path.join(self.tmp, "prefix")
        subprocess.run(["cmake", "--install", build, "--prefix", prefix], check=True,
                       stdout=subprocess.DEVNULL, timeout=2 * WAIT)
        units = os.path.join(prefix, "lib", "systemd", "user")
        self.assertTrue(os.path.exists(os.path.join(units, "ventari.service")))
        template = os.path.join(units, "ventari@.service")
        self.assertEqual(read_bytes(template),
                         read_bytes(os.path.join(SOURCE_DIR, "dist", "ventari@.service")))
        starts = [line for line in read_bytes(template).decode().splitlines()
                  if line.startswith("ExecStart=")]
        self.assertEqual(len(starts), 1, starts)
        for word in ("ventari", "--headless", "--folder", "%i"):
            self.assertIn(word, starts[0])


if __name__ == "__main__":
    unittest.main()
