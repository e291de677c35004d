"""The robot killed at random moments of a turn, again and again: each time a fresh game whose
turn is due, a slow game and a slow sendmail, the headless robot killed at some moment (in about a
third of the rounds with everything it started, as by a power cut), then started again on the same
folder. Whatever the moment, the turn must be finished exactly once: the game run once, every
player mailed his own whole turn file, the host mailed a report, no journal left. The one
allowance is a single duplicate mail in a round whose kill landed while a sendmail was handing a
message over: that sendmail may have delivered it without the robot having learned so.

VENTARI_KILL_ROUNDS sets the number of rounds (20), VENTARI_KILL_SEED replays a run (its seed is
printed), VENTARI_KILL_SPAN the span in seconds the kill moment is drawn from (6)."""

import email
import email.policy
import os
import random
import shutil
import signal
import subprocess
import sys
import time
import unittest
import uuid

from harness import (ARTIFACTS_DIR, BIN_DIR, NEXT, PAST, SANITIZER_REPORTS, WAIT, GameFolder,
                     LeagueServer, ProcessGroup, RobotTestCase, SmtpSink, Timeout, address,
                     msmtp_command, patience, read_bytes, stars_turn, wait_for)

# The whole turn with the slow programs below takes about five seconds on an idle machine.
DEFAULT_SPAN = 6.0
# What a restarted robot may need to finish a turn on a busy machine.
FINISH_WAIT = patience(120)
TURN_SUBJECT = "alpha année 2400"
REPORT_SUBJECT = "Ventari : jeu alpha année 2400"
MARK = "VENTARI_KILL_MARK"


def say(text):
    sys.stderr.write(text + "\n")
    sys.stderr.flush()


def marked_processes(mark):
    """The live processes whose environment carries the mark: a robot and everything it
    started, whatever process group they put themselves in."""
    wanted = b"\0" + ("%s=%s" % (MARK, mark)).encode() + b"\0"
    found = []
    for name in os.listdir("/proc"):
        if not name.isdigit() or int(name) == os.getpid():
            continue
        try:
            with open("/proc/%s/environ" % name, "rb") as f:
                environ = b"\0" + f.read() + b"\0"
        except OSError:
            continue  # gone, or not ours to read
        if wanted in environ:  # a zombie's environment reads empty: only the living count
            found.append(int(name))
    return found


def kill_group(pid):
    try:
        os.killpg(pid, signal.SIGKILL)
    except (ProcessLookupError, PermissionError):
        pass


def kill_marked(mark):
    """Kills every process of the mark, those it starts meanwhile included."""
    def gone():
        pids = marked_processes(mark)
        for pid in pids:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        return not pids
    wait_for("the processes of %s to end" % mark, gone)


def lines(path):
    try:
        return read_bytes(path).decode("ascii", "replace").split()
    except FileNotFoundError:
        return []


def journal_keys(path):
    """The keys of the turn journal's lines (repeated keys repeated); None without a journal."""
    try:
        text = read_bytes(path).decode("utf-8", "replace")
    except FileNotFoundError:
        return None
    return [line.split(" ", 1)[0] for line in text.replace("\r", "").split("\n") if line]


class Round:
    """One game, its peers and its programs, the robots started on it and what was seen."""

    def __init__(self, number, root, delay, power_cut):
        self.number = number
        self.root = root
        self.delay = delay
        self.power_cut = power_cut
        self.group = ProcessGroup()
        self.marks = []
        self.logs = []
        self.faults = []
        self.counts = {}
        self.in_flight = False
        self.phase = None


class KillLoopTest(RobotTestCase):

    def setUp(self):
        super().setUp()
        self.marks = []
        self.addCleanup(self._end_marked)

    def _end_marked(self):
        for mark in self.marks:
            kill_marked(mark)

    # A round's pieces.

    def script(self, path, body):
        with open(path, "w", encoding="ascii") as f:
            f.write("#!/bin/sh\n" + body + "\n")
        os.chmod(path, 0o755)
        return path

    def prepare(self, r):
        r.game = GameFolder(os.path.join(r.root, "host"))
        r.game.hand_in_orders()
        r.game.set_deadline(PAST)
        r.game.set_year("2400")
        r.league = LeagueServer(r.group, os.path.join(r.root, "league"), "alpha", deadline=NEXT)
        r.sink = SmtpSink(r.group, os.path.join(r.root, "mails"))
        # Each run of the game notes its start, the end of the real game's work and its own end,
        # with its process id (the leader of its group): a run killed on the way shows no end.
        r.runs = os.path.join(r.root, "game-runs")
        exe = os.path.join(r.game.stars, "stars.exe")
        os.remove(exe)
        os.symlink(self.script(os.path.join(r.root, "game"),
                               'echo "run $$" >>"{runs}"\nsleep 1\n"{game}" "$@"\nstatus=$?\n'
                               'echo "ran $$" >>"{runs}"\nsleep 1\necho "end $$" >>"{runs}"\n'
                               'exit $status'.format(runs=r.runs,
                                                     game=os.path.join(BIN_DIR, "starsgen"))),
                   exe)
        # Each sendmail notes itself first thing (its process id leads its group), waits, then
        # hands the message over.
        r.calls = os.path.join(r.root, "sendmail-calls")
        r.sendmail = self.script(os.path.join(r.root, "sendmail"),
                                 'echo "$$" >>"%s"\nsleep 1\nexec %s "$@"'
                                 % (r.calls, msmtp_command(r.game.root, r.sink)))

    def start_headless(self, r):
        mark = uuid.uuid4().hex
        self.marks.append(mark)
        r.marks.append(mark)
        env = dict(os.environ, VENTARI_SENDMAIL=r.sendmail, VENTARI_LEAGUE_SERVER=r.league.url,
                   SDL_AUDIODRIVER="dummy", **{MARK: mark})
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
            env.pop(name, None)
        log = os.path.join(r.root, "robot-%d.log" % len(r.logs))
        r.logs.append(log)
        with open(log, "wb") as out:
            return r.group.start([os.path.join(BIN_DIR, "ventari"), "--headless", "--folder",
                                  r.game.root], cwd=r.root, env=env, stdin=subprocess.DEVNULL,
                                 stdout=out, stderr=out)

    def journal(self, r):
        return r.game.path("ventari-turn.journal")

    def kill(self, r, robot):
        """SIGKILL to the robot; on a power cut, to everything it started too. Notes where in
        the turn the kill landed, from the journal the killed robot left."""
        os.kill(robot.pid, signal.SIGKILL)
        robot.wait()
        keys = journal_keys(self.journal(r))
        calls = len(lines(r.calls))
        if keys is None:
            r.phase = "outside a generation (%d sendmail calls)" % calls
        elif "game-done" not in keys:
            r.phase = "while the game ran" if "game" in keys else "before the game started"
        else:
            journaled = keys.count("mailed") + keys.count("mail-failed") + keys.count("reported")
            # A sendmail started whose handover the journal does not record yet; or one the
            # robot had started but that had not yet noted itself.
            r.in_flight = calls > journaled or bool(marked_processes(r.marks[0]))
            r.phase = "after the game: %d sendmail calls, %d mails journaled%s" % (
                calls, journaled, ", a sendmail in flight" if r.in_flight else "")
        if r.power_cut:
            words = lines(r.runs)
            for i in range(0, len(words) - 1, 2):
                if words[i] == "run":
                    kill_group(int(words[i + 1]))
            for pid in lines(r.calls):
                kill_group(int(pid))
            kill_marked(r.marks[0])

    def finished(self, r, robot):
        return ((not os.path.exists(self.journal(r)) and r.game.line("curyear.txt") == "2401"
                 # The restarted robot has read the new year itself: it is past its start, where
                 # a TERM would not yet find its handler.
                 and "info year: 2401" in read_bytes(r.logs[-1]).decode("utf-8", "replace")
                 # What the killed robot left running (its game, its sendmails) has ended too:
                 # every mail that will ever come has come.
                 and not marked_processes(r.marks[0]))
                or robot.poll() is not None)

    def play(self, r):
        self.prepare(r)
        first = self.start_headless(r)
        time.sleep(r.delay)  # the random moment of the kill, not a wait for anything
        if first.poll() is not None:
            r.faults.append("the first robot ended by itself before the kill, status %d"
                            % first.returncode)
        self.kill(r, first)
        say("  round %d: killed %s" % (r.number, r.phase))
        second = self.start_headless(r)
        try:
            wait_for("round %d's turn to be finished" % r.number,
                     lambda: self.finished(r, second), FINISH_WAIT)
        except Timeout:
            r.faults.append("turn not finished within %d s" % FINISH_WAIT)
        if second.poll() is not None:
            r.faults.append("the restarted robot ended by itself, status %d"
                            % second.returncode)
        else:
            os.kill(second.pid, signal.SIGTERM)
            try:
                if second.wait(timeout=WAIT) != 0:
                    r.faults.append("the restarted robot's exit status after TERM: %d"
                                    % second.returncode)
            except subprocess.TimeoutExpired:
                r.faults.append("the restarted robot did not end after TERM")
        for mark in r.marks:
            kill_marked(mark)
        self.judge(r)

    # What a round left.

    def judge(self, r):
        game = r.game
        c = r.counts
        try:
            turn = game.host_turn()
        except (AssertionError, OSError):
            turn = None
        c["turns lost"] = int(turn is None or turn < 1)
        words = lines(r.runs)
        events = [(words[i], words[i + 1]) for i in range(0, len(words) - 1, 2)]
        started = [pid for what, pid in events if what == "run"]
        ended = {pid for what, pid in events if what == "end"}
        ran = [i for i, (what, _) in enumerate(events) if what == "ran"]
        # A run killed by the power cut before its end may rightly be run again; a run that
        # was not killed, or one after a run whose game had done its work, is one too many.
        whole_runs = sum(1 for pid in started if pid in ended)
        after_work = bool(ran) and any(what == "run" for what, _ in events[ran[0]:])
        c["games run twice"] = int((turn or 0) >= 2 or whole_runs > 1 or len(ran) > 1
                                   or after_work or (not r.power_cut and len(started) > 1))
        messages, unreadable = self.messages(r.sink)
        c["cut mails"] = unreadable
        duplicates = 0
        c["players without their turn"] = 0
        for n in game.humans():
            who = game.players[n - 1][1]
            mine = [m for m in messages if address(m) == who and m["Subject"] == TURN_SUBJECT]
            expected = read_bytes(game.path("alpha.m%d" % n))
            whole = 0
            for mail in mine:
                try:
                    attachments = list(mail.iter_attachments())
                    content = attachments[0].get_content() if len(attachments) == 1 else None
                except Exception:  # a cut mail may fail to parse anywhere
                    content = None
                if content == expected and stars_turn(game.path("alpha.m%d" % n)) == 1:
                    whole += 1
                else:
                    c["cut mails"] += 1
            if whole == 0:
                c["players without their turn"] += 1
            duplicates += max(0, len(mine) - 1)
        reports = [m for m in messages if address(m) == game.host and
                   m["Subject"] == REPORT_SUBJECT]
        c["reports missing"] = int(not reports)
        duplicates += max(0, len(reports) - 1)
        c["other mails"] = len(messages) - sum(
            1 for m in messages if m["Subject"] in (TURN_SUBJECT, REPORT_SUBJECT))
        c["duplicates"] = duplicates
        c["duplicates not allowed"] = 0 if duplicates <= int(r.in_flight) else duplicates
        c["journals left"] = int(os.path.exists(self.journal(r)))
        c["sanitizer reports"] = sum(
            1 for log in r.logs
            if any(mark in read_bytes(log).decode("utf-8", "replace")
                   for mark in SANITIZER_REPORTS))
        c["not finished"] = sum(1 for f in r.faults if f.startswith("turn not finished"))
        c["robot problems"] = len(r.faults) - c["not finished"]
        for name, value in c.items():
            if value and name != "duplicates":
                r.faults.append("%s: %d" % (name, value))
        per = {}
        for m in messages:
            per[address(m)] = per.get(address(m), 0) + 1
        say("  round %d: host turn %s, game runs %s, mails %s%s" % (
            r.number, turn, " ".join("%s %s" % e for e in events) or "none",
            ", ".join("%s %d" % (k, per[k]) for k in sorted(per)) or "none",
            "; FAULTS: " + "; ".join(r.faults) if r.faults else ""))

    @staticmethod
    def messages(sink):
        """The mails received, and how many of them could not be read as mails."""
        found = []
        unreadable = 0
        n = 1
        while os.path.exists(os.path.join(sink.folder, "mail%d.eml" % n)):
            try:
                with open(os.path.join(sink.folder, "mail%d.eml" % n), "rb") as f:
                    message = email.message_from_binary_file(f, policy=email.policy.default)
                address(message)
                found.append(message)
            except Exception:
                unreadable += 1
            n += 1
        return found, unreadable

    def keep(self, r):
        """The failed round's logs and files kept with the artifacts."""
        os.makedirs(ARTIFACTS_DIR, exist_ok=True)
        for i, log in enumerate(r.logs):
            target = self.artifact("round%02d-robot-%d.log" % (r.number, i))
            shutil.copy(log, target)
            say("  kept " + target)
        listing = []
        for folder, _, files in os.walk(r.root):
            listing += [os.path.join(folder, f) for f in sorted(files)]
        with open(self.artifact("round%02d-files.txt" % r.number), "w", encoding="utf-8") as f:
            f.write("\n".join(listing) + "\n")
        for name in ("game-runs", "sendmail-calls"):
            if os.path.exists(os.path.join(r.root, name)):
                shutil.copy(os.path.join(r.root, name),
                            self.artifact("round%02d-%s.txt" % (r.number, name)))

    def test_every_turn_is_finished_once_whenever_the_robot_is_killed(self):
        rounds = int(os.environ.get("VENTARI_KILL_ROUNDS") or 20)
        seed = int(os.environ.get("VENTARI_KILL_SEED") or random.randrange(1, 10 ** 9))
        span = float(os.environ.get("VENTARI_KILL_SPAN") or DEFAULT_SPAN)
        rng = random.Random(seed)
        power_cuts = set(rng.sample(range(1, rounds + 1), round(rounds / 3)))
        delays = [rng.uniform(0, span) for _ in range(rounds)]
        say("kill loop: seed %d (VENTARI_KILL_SEED=%d VENTARI_KILL_ROUNDS=%d VENTARI_KILL_SPAN=%g"
            " replays it)" % (seed, seed, rounds, span))
        totals = {}
        failed = []
        for number in range(1, rounds + 1):
            r = Round(number, os.path.join(self.tmp, "round%02d" % number), delays[number - 1],
                      number in power_cuts)
            say("kill loop round %d/%d: kill after %.2f s%s" % (
                number, rounds, r.delay, ", power cut" if r.power_cut else ""))
            self.addCleanup(r.group.stop)
            try:
                self.play(r)
            finally:
                r.group.stop()
            for name, value in r.counts.items():
                totals[name] = totals.get(name, 0) + value
            if r.faults:
                failed.append("round %d (kill after %.2f s%s, killed %s): %s" % (
                    number, r.delay, ", power cut" if r.power_cut else "", r.phase,
                    "; ".join(r.faults)))
                self.keep(r)
            shutil.rmtree(r.root, True)
        say("kill loop: seed %d, %d kills (%d power cuts), %d turns lost, %d games run twice, "
            "%d players without their turn, %d cut mails, %d duplicate%s (%d not allowed), "
            "%d reports missing, %d journals left, %d turns not finished, %d other mails"
            % (seed, rounds, len(power_cuts), totals["turns lost"], totals["games run twice"],
               totals["players without their turn"], totals["cut mails"], totals["duplicates"],
               "" if totals["duplicates"] == 1 else "s", totals["duplicates not allowed"],
               totals["reports missing"], totals["journals left"], totals["not finished"],
               totals["other mails"]))
        totals.pop("duplicates")
        self.assertEqual({k: v for k, v in totals.items() if v}, {},
                         "seed %d, the rounds that failed:\n" % seed + "\n".join(failed))


if __name__ == "__main__":
    unittest.main()
