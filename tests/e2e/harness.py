"""Runs the real robot against real peers and reads its results where a host would find them.

Each test class gets its own X display (Xvfb, its number chosen by the server) with openbox as
window manager, so that the robot's window is activated as on a desktop. Each test gets a fresh
game folder in a temporary directory, the league's page server on a free loopback port, an SMTP
server that stores what it receives (msmtp is the robot's sendmail), and the robot itself.
Every process is started in its own session and its whole group is ended on every path.
"""

import argparse
import ctypes
import email
import email.policy
import os
import shutil
import signal
import sqlite3
import struct
import subprocess
import sys
import tempfile
import time
import unittest

PYTHON = "/usr/bin/python3"
SOURCE_DIR = os.environ.get("VENTARI_SOURCE_DIR") or os.path.abspath(
    os.path.join(os.path.dirname(__file__), "..", ".."))
BIN_DIR = os.environ.get("VENTARI_BIN_DIR") or os.path.join(SOURCE_DIR, "build", "bin")
ARTIFACTS_DIR = os.environ.get("VENTARI_E2E_ARTIFACTS") or os.path.join(
    os.path.dirname(BIN_DIR), "e2e-artifacts")

MAIN_TITLE = "Ventari surveillance"
# What a sanitized build of the program writes when it finds a fault.
SANITIZER_REPORTS = ("ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:")
# The window's year line (its client position and a size that holds the text).
YEAR_LINE = (72, 32, 52, 13)
# Every bound of a wait on the robot is its time on an idle machine times this one factor, which
# the sanitizer build sets (tests/CMakeLists.txt): a slow build on a busy machine needs longer.
TIME_SCALE = max(1.0, float(os.environ.get("VENTARI_TEST_TIME_SCALE") or 1))


def patience(seconds):
    """The bound of a wait that takes at most `seconds` on an idle machine, for this build."""
    return seconds * TIME_SCALE


# Generous bounds for things that happen within a second or two on an idle machine.
WAIT = patience(60)
# A reaction to a file takes about a second on an idle machine. The bound leaves room for a busy
# one and stays under the minute's tick in the plain build: a robot that answered only at its
# tick would miss one of the many waits bounded so.
SOON = patience(40)


# A deadline long past and one far ahead, as the league's page and the deadline cache give them.
# The players' receipts are mails of their own: the tests of everything else count mails
# without them, and the players' tests turn them on.
os.environ.setdefault("VENTARI_RECEIPTS", "0")
# The folder of the players' status page in a game's publication folder, beside the turn files,
# and the page's two files, alone in it.
STATUS_DIR = "status"
STATUS_PAGE = ("index.html", "status.json")

PAST = "2002-07-30 18:00:00"
NEXT = "2031-05-06 07:08:09"


def bench_runs(doc, runs_help):
    """The --runs of a bench script's command line (its doc's first line describes it); ends
    the script with a word while the robot is not built."""
    parser = argparse.ArgumentParser(description=doc.splitlines()[0])
    parser.add_argument("--runs", type=int, default=10, help=runs_help)
    options = parser.parse_args()
    if not os.path.exists(os.path.join(BIN_DIR, "ventari")):
        raise SystemExit("build the robot first (build/bin/ventari)")
    return options.runs


def address(message):
    """The address a mail went to."""
    return message["To"].addresses[0].addr_spec


def plain_text(message):
    """A mail's text part, its line ends made plain line feeds."""
    return message.get_body(("plain",)).get_content().replace("\r", "")


class Timeout(AssertionError):
    pass


def wait_for(what, condition, timeout=WAIT, interval=0.1):
    """Polls until condition() gives a true value and returns it; fails after timeout seconds."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Timeout("gave up waiting for " + what)
        time.sleep(interval)


def turn_files(folder):
    """The files published in a publication folder, the status page's folder left out."""
    return sorted(name for name in os.listdir(folder) if name != STATUS_DIR)


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def first_line(path):
    """The first line as the robot reads it: up to the first carriage return."""
    return read_bytes(path).split(b"\r", 1)[0].decode("latin-1")


def stars_turn(path):
    """The turn in a stand-in Stars! file header (the year is 2400 + turn)."""
    header = read_bytes(path)[:18]
    if len(header) < 18 or header[2:6] != b"J3J3":
        raise AssertionError(path + " is not a Stars! file")
    return struct.unpack_from("<H", header, 12)[0]


def sanitizer_report(log):
    """A program's output file from the first sanitizer report on, or None (also while there
    is no such file)."""
    try:
        text = read_bytes(log).decode("utf-8", "replace")
    except FileNotFoundError:
        return None
    found = [text.find(mark) for mark in SANITIZER_REPORTS if mark in text]
    return text[min(found):] if found else None


def _end_with_parent():
    # Should the test runner itself be killed, its peers go with it (PR_SET_PDEATHSIG).
    ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGKILL, 0, 0, 0)


class ProcessGroup:
    """Processes started in their own sessions; stop() ends each whole group."""

    def __init__(self):
        self.processes = []

    def start(self, args, **kwargs):
        process = subprocess.Popen(args, start_new_session=True, preexec_fn=_end_with_parent,
                                   **kwargs)
        self.processes.append(process)
        return process

    def stop(self):
        for process in reversed(self.processes):
            self._signal(process, signal.SIGTERM)
        for process in reversed(self.processes):
            try:
                process.wait(timeout=patience(5))
            except subprocess.TimeoutExpired:
                self._signal(process, signal.SIGKILL)
                process.wait()
            # Children that outlived their leader (a sendmail, say) still carry the group id.
            self._signal(process, signal.SIGKILL)
            for stream in (process.stdin, process.stdout, process.stderr):
                if stream:
                    stream.close()
        self.processes.clear()

    @staticmethod
    def _signal(process, sig):
        try:
            os.killpg(process.pid, sig)
        except (ProcessLookupError, PermissionError):
            pass


class Display:
    """A virtual screen with a window manager, and the xdotool calls the tests make on it."""

    def __init__(self):
        self.group = ProcessGroup()
        self.name = None
        # Qt wants a private runtime folder; the display's programs share this one.
        self.runtime = tempfile.mkdtemp(prefix="ventari-e2e-run-")

    def start(self):
        read_end, write_end = os.pipe()
        try:
            self.group.start(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "800x600x24",
                              "-nolisten", "tcp", "-noreset"],
                             pass_fds=(write_end,), stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
            os.close(write_end)
            write_end = -1
            number = b""
            while not number.endswith(b"\n"):
                chunk = os.read(read_end, 16)
                if not chunk:
                    raise RuntimeError("Xvfb ended before telling its display")
                number += chunk
        finally:
            os.close(read_end)
            if write_end >= 0:
                os.close(write_end)
        self.name = ":" + number.decode().strip()
        self.group.start(["openbox", "--sm-disable"], env=self.env(),
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # Openbox is managing once it has set its check window on the root.
        wait_for("the window manager", lambda: b"window id" in self._run(
            ["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"]))

    def stop(self):
        self.group.stop()
        shutil.rmtree(self.runtime, True)

    def env(self, extra=None):
        env = dict(os.environ)
        env["DISPLAY"] = self.name
        env["XDG_RUNTIME_DIR"] = self.runtime
        env.pop("QT_QPA_PLATFORM", None)
        if extra:
            env.update(extra)
        return env

    def _run(self, args, check=False):
        result = subprocess.run(args, env=self.env(), stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, timeout=WAIT)
        if check and result.returncode != 0:
            raise AssertionError(" ".join(args) + " failed")
        return result.stdout

    def xdotool(self, *args, check=True):
        return self._run(["xdotool"] + [str(a) for a in args], check=check).decode()

    def windows(self, title, pid=None):
        """Visible windows whose whole title is `title` (of the process `pid`, if given)."""
        args = ["search", "--all", "--onlyvisible"]
        if pid is not None:
            args += ["--pid", pid]
        out = self.xdotool(*args, "--name", "^" + title + "$", check=False)
        return [int(w) for w in out.split()]

    def wait_window(self, title, pid=None, timeout=WAIT):
        return wait_for("a window \"%s\"" % title, lambda: self.windows(title, pid), timeout)[0]

    def window_name(self, window):
        return self.xdotool("getwindowname", window).rstrip("\n")

    def window_size(self, window):
        values = {}
        for line in self.xdotool("getwindowgeometry", "--shell", window).splitlines():
            key, _, value = line.partition("=")
            values[key] = value
        return int(values["WIDTH"]), int(values["HEIGHT"])

    def press(self, window, key):
        """Gives the window the focus and types one key into it."""
        self.xdotool("windowactivate", "--sync", window, check=False)
        self.xdotool("windowfocus", "--sync", window, check=False)
        self.xdotool("key", "--clearmodifiers", key)

    def click(self, window, x, y):
        """A left click at client coordinates (x, y) of the window."""
        self.xdotool("mousemove", "--window", window, x, y, "click", "1")

    def hover(self, window, x, y):
        self.xdotool("mousemove", "--window", window, x, y)

    def park_pointer(self):
        """Moves the pointer to the screen's corner, away from every window."""
        self.xdotool("mousemove", 0, 0)

    def screenshot(self, path):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        subprocess.run(["import", "-window", "root", path], env=self.env(),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=WAIT)

    def window_pixels(self, window):
        """The window's picture as (width, height, rgb bytes)."""
        data = subprocess.run(["import", "-window", str(window), "-depth", "8", "ppm:-"],
                              env=self.env(), stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, timeout=WAIT, check=True).stdout
        return parse_ppm(data)


def parse_ppm(data):
    """(width, height, rgb bytes) of a binary PPM picture with 8-bit samples."""
    fields = []
    pos = 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos)
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    if fields[0] != b"P6" or fields[3] != b"255":
        raise AssertionError("unexpected picture format")
    width, height = int(fields[1]), int(fields[2])
    return width, height, data[pos + 1:pos + 1 + width * height * 3]


def red_ink(picture, left, top, width, height):
    """The points of a rectangle drawn in a red ink: a picture of the letters of one of the
    window's value lines (dark red, smoothed). The threshold keeps the same points on the grey
    and on the pale yellow ground, so the picture does not change with the window's colour."""
    pw, ph, rgb = picture
    points = set()
    for y in range(top, min(top + height, ph)):
        for x in range(left, min(left + width, pw)):
            i = (y * pw + x) * 3
            if rgb[i] - rgb[i + 1] > 40 and rgb[i] - rgb[i + 2] > 40:
                points.add((x - left, y - top))
    return points


class SmtpSink:
    """An SMTP server on a free loopback port; each message it accepts is kept as a file."""

    def __init__(self, group, folder):
        self.folder = folder
        os.makedirs(folder)
        script = os.path.join(SOURCE_DIR, "tests", "mail", "smtp_sink.py")
        self.process = group.start([PYTHON, script, folder], stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL)
        line = self.process.stdout.readline()
        if not line.strip().isdigit():
            raise RuntimeError("the SMTP server did not start")
        self.port = int(line)

    def messages(self):
        """Every message received so far, in the order of arrival."""
        found = []
        n = 1
        while os.path.exists(os.path.join(self.folder, "mail%d.eml" % n)):
            with open(os.path.join(self.folder, "mail%d.eml" % n), "rb") as f:
                found.append(email.message_from_binary_file(f, policy=email.policy.default))
            n += 1
        return found

    def envelope_senders(self):
        """The envelope sender of every message received so far, in the order of arrival."""
        senders = []
        n = 1
        while os.path.exists(os.path.join(self.folder, "mail%d.eml" % n)):
            with open(os.path.join(self.folder, "mail%d.from" % n), encoding="utf-8") as f:
                senders.append(f.read())
            n += 1
        return senders


class LeagueServer:
    """The league's deadline page server on a free loopback port, with its request log."""

    def __init__(self, group, folder, games, deadline=None, fault=None):
        os.makedirs(folder)
        self.log = os.path.join(folder, "requests.log")
        port_file = os.path.join(folder, "port")
        args = [PYTHON, os.path.join(SOURCE_DIR, "tools", "league_server.py"), "--games", games,
                "--web-folder", "ligue", "--port-file", port_file, "--log", self.log]
        if deadline:
            args += ["--deadline", deadline]
        if fault:
            args += ["--fault", fault]
        self.process = group.start(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

        def port_line():
            # The whole line: a file may be seen before its number is written.
            try:
                return read_bytes(port_file).decode("ascii").endswith("\n")
            except FileNotFoundError:
                return False
        wait_for("the league server", lambda: port_line() or self.process.poll() is not None)
        if self.process.poll() is not None:
            raise RuntimeError("the league server did not start")
        self.port = int(read_bytes(port_file))
        self.url = "http://127.0.0.1:%d/" % self.port

    def requests(self):
        try:
            with open(self.log, encoding="utf-8") as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []


class GameFolder:
    """A host's installation: ventari.def, the Stars! folder, the game folder, the publication
    folder; the game made by the stand-in game executable."""

    def __init__(self, root, game="alpha", players=(("Ann", "ann@localhost"),
                                                    ("Bob", "bob@localhost"),
                                                    ("Robot", "COMPUTER")),
                 host="host@localhost", auto=True, hours=48, executable="starsgen",
                 first_files_sent=True):
        self.root = root
        self.game = game
        self.players = list(players)
        self.host = host
        self.stars = os.path.join(root, "stars")
        self.jeux = os.path.join(root, "jeux")
        self.pub = os.path.join(root, "pub")
        self.dir = os.path.join(self.jeux, game)
        self.pub_dir = os.path.join(self.pub, game)
        self.status_dir = os.path.join(self.pub_dir, STATUS_DIR)
        for folder in (self.stars, self.dir, self.pub):
            os.makedirs(folder)
        os.symlink(os.path.join(BIN_DIR, executable), os.path.join(self.stars, "stars.exe"))
        os.symlink(os.path.join(BIN_DIR, "staryear"), os.path.join(self.jeux, "staryear.EXE"))
        shutil.copy(os.path.join(BIN_DIR, "pret.wav"), os.path.join(root, "pret.wav"))
        self.write(os.path.join(root, "ventari.def"),
                   "binaires\t%s\r\nexecutable\tstars.exe\r\npublication\t%s\r\njeux\t%s\r\n"
                   % (self.stars, self.pub, self.jeux))
        lines = ["jeu\t" + game, "web\tligue", "hote\t" + host, "reserve\t0",
                 "auto\t" + ("1" if auto else "0"), "heures\t%d" % hours,
                 "nb\t%d" % len(self.players)]
        lines += ["J%d\t%s,%s" % (n, name, address)
                  for n, (name, address) in enumerate(self.players, 1)]
        self.write(os.path.join(self.jeux, "ventari.pla"), "\r\n".join(lines) + "\r\n")
        subprocess.run([os.path.join(BIN_DIR, "starsgen"), "--new", game + ".hst", "--players",
                        str(len(self.players))], cwd=self.dir, check=True)
        if first_files_sent:
            # A game under way: its first turn files went out, as a robot before the game store
            # recorded it; the robot takes that file over at its start. Only the tests of a
            # game's start leave it to the robot.
            self.write(self.path("ventari-first-turn.txt"), "turn 0\n" + "".join(
                "mailed %d\n" % n for n in self.humans()))

    @staticmethod
    def write(path, text):
        # Whole or not at all, as the robot may read the file at any moment.
        with open(path + ".new", "wb") as f:
            f.write(text.encode("utf-8"))
        os.replace(path + ".new", path)

    def path(self, name):
        return os.path.join(self.dir, name)

    def humans(self):
        return [n for n, (_, address) in enumerate(self.players, 1) if address != "COMPUTER"]

    def hand_in_orders(self, rows=None):
        """Each player's client saves his orders for the current turn."""
        for n in rows if rows is not None else self.humans():
            subprocess.run([os.path.join(BIN_DIR, "starsgen"), "--orders", self.game + ".hst",
                            "--player", str(n)], cwd=self.dir, check=True)

    def correct_orders(self, row, text):
        """Player `row` plays his turn file again and saves other orders over his first ones."""
        subprocess.run([os.path.join(BIN_DIR, "starsgen"), "--orders",
                        "%s.m%d" % (self.game, row), "--text", text], cwd=self.dir, check=True)

    def set_deadline(self, text):
        self.write(self.path("nextdl.txt"), text + "\r\n")

    def set_year(self, text):
        self.write(self.path("curyear.txt"), text + "\r\n")

    def line(self, name):
        """The first line of a file of the per-game folder; None while there is no such file."""
        try:
            return first_line(self.path(name))
        except FileNotFoundError:
            return None

    def host_turn(self):
        return stars_turn(self.path(self.game + ".hst"))

    def store(self, sql, *args):
        """The rows of `sql` over the game's store (ventari.sqlite), as tuples; a statement that
        changes it is committed. No rows while the robot has not made it."""
        path = self.path("ventari.sqlite")
        if not os.path.exists(path):
            return []
        db = sqlite3.connect(path, timeout=30)
        try:
            with db:
                return db.execute(sql, args).fetchall()
        finally:
            db.close()

    def snapshot(self):
        """Name and bytes of every file of the per-game folder (its store's as content)."""
        return folder_files(self.dir, walk=False)


def store_content(path):
    """What SQLite's store at `path` holds, as statements: its file's bytes change with its
    write-ahead log's checkpoints, which the robot's looks make at their own pace."""
    db = sqlite3.connect(path, timeout=30)
    try:
        return "\n".join(db.iterdump()).encode("utf-8")
    finally:
        db.close()


def folder_files(folder, walk=True):
    """Every file of the folder (and below it with `walk`), by its path relative to it, with its
    bytes; the game's store by its content, without SQLite's side files."""
    found = {}
    for at, _, files in os.walk(folder):
        for name in files:
            if name.endswith(("-wal", "-shm", "-journal")):
                continue
            path = os.path.join(at, name)
            found[os.path.relpath(path, folder)] = (
                store_content(path) if name.endswith(".sqlite") else read_bytes(path))
        if not walk:
            break
    return found


def msmtp_command(folder, sink):
    """The robot's sendmail: the real msmtp, handing over to the sink, its empty settings file
    in `folder`."""
    rc = os.path.join(folder, "msmtprc")
    with open(rc, "w"):
        pass
    os.chmod(rc, 0o600)
    return ("/usr/bin/msmtp --file=%s --host=127.0.0.1 --port=%d"
            % (rc, sink.port))


class Robot:
    """The program started in the host's folder, as the host starts it (or started elsewhere
    with arguments that name the folder)."""

    def __init__(self, group, display, game, league, sink=None, sendmail=None, env=None,
                 args=(), cwd=None, log=None):
        if sendmail is None:
            sendmail = msmtp_command(game.root, sink)
        self.display = display
        # Robots running side by side each need their own output file.
        self.log = log or os.path.join(game.root, "ventari.log")
        suppressions = "suppressions=" + os.path.join(os.path.dirname(__file__), "lsan.supp")
        lsan = os.environ.get("LSAN_OPTIONS")
        with open(self.log, "wb") as out:
            self.process = group.start(
                [os.path.join(BIN_DIR, "ventari"), *args], cwd=cwd or game.root, stdout=out,
                stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                env=display.env({"VENTARI_SENDMAIL": sendmail,
                                 "VENTARI_LEAGUE_SERVER": league.url,
                                 "SDL_AUDIODRIVER": "dummy",
                                 "LSAN_OPTIONS": lsan + ":" + suppressions if lsan
                                                 else suppressions, **(env or {})}))

    def sanitizer_report(self):
        """The program's output from the first sanitizer report on, or None."""
        return sanitizer_report(self.log)

    @property
    def pid(self):
        return self.process.pid

    def running(self):
        return self.process.poll() is None

    def wait_end(self, timeout=WAIT):
        """Waits for the program to end by itself; its exit status."""
        wait_for("the robot to end", lambda: not self.running(), timeout)
        return self.process.returncode

    def main_window(self, timeout=WAIT):
        return self.display.wait_window(MAIN_TITLE, self.pid, timeout)

    def boxes(self, caption="Ventari"):
        return self.display.windows(caption, self.pid)

    def wait_box(self, caption="Ventari", timeout=WAIT):
        return self.display.wait_window(caption, self.pid, timeout)

    def answer_box(self, window):
        """Presses Return on a message box and waits until it is gone."""
        self.display.press(window, "Return")
        wait_for("the box to close", lambda: window not in self.windows())

    def windows(self):
        """Every visible window of the robot."""
        out = self.display.xdotool("search", "--all", "--onlyvisible", "--pid", self.pid,
                                   "--name", "", check=False)
        return [int(w) for w in out.split()]

    def year_line(self):
        """The letters of the window's year line, as a set of points."""
        return red_ink(self.display.window_pixels(self.main_window()), *YEAR_LINE)

    def click_refresh(self):
        self.display.click(self.main_window(), 154, 8)

    def click_generate(self):
        self.display.click(self.main_window(), 152, 40)


class RobotTestCase(unittest.TestCase):
    """One display per class; per test a temporary folder, its processes and, on failure, a
    screenshot and the robot's output kept under the artifacts folder. A test that runs more
    programs of the robot adds their output files to self.logs: those are kept on failure too,
    and looked through for the sanitizers' reports."""

    display = None

    @classmethod
    def setUpClass(cls):
        for program in ("Xvfb", "openbox", "xdotool", "xprop", "import", "msmtp"):
            if shutil.which(program) is None:
                raise unittest.SkipTest(program + " is not installed")
        if not os.path.exists(os.path.join(BIN_DIR, "ventari")):
            raise unittest.SkipTest("the windowed program is not built")
        cls.display = Display()
        try:
            cls.display.start()
        except BaseException:
            cls.display.stop()
            raise

    @classmethod
    def tearDownClass(cls):
        if cls.display:
            cls.display.stop()

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="ventari-e2e-")
        self.addCleanup(shutil.rmtree, self.tmp, True)
        # Cleanups run last-in first-out: the picture while everything runs, then the end of
        # every process, then the program's output looked through.
        self.addCleanup(self._check_sanitizers)
        self.group = ProcessGroup()
        self.addCleanup(self.group.stop)
        self.addCleanup(self._keep_on_failure)
        self.robot = None
        self.logs = []
        self._problems = self._problem_count()
        # What an earlier run of this test left would be taken for this run's.
        prefix = os.path.basename(self.artifact(""))
        if os.path.isdir(ARTIFACTS_DIR):
            for name in os.listdir(ARTIFACTS_DIR):
                if name.startswith(prefix):
                    os.remove(os.path.join(ARTIFACTS_DIR, name))

    def _problem_count(self):
        result = getattr(self._outcome, "result", None)
        return len(getattr(result, "failures", ())) + len(getattr(result, "errors", ()))

    def _check_sanitizers(self):
        report = self.robot.sanitizer_report() if self.robot else None
        if report:
            os.makedirs(ARTIFACTS_DIR, exist_ok=True)
            with open(self.artifact("sanitizer.txt"), "w", encoding="utf-8") as f:
                f.write(report)
            self.fail("the program's sanitizers found a fault:\n" + report[:4000])
        for log in self.logs:
            report = sanitizer_report(log)
            if report:
                self.fail("the program's sanitizers found a fault (%s):\n%s"
                          % (os.path.basename(log), report[:4000]))

    def artifact(self, name):
        return os.path.join(ARTIFACTS_DIR, self.id().split(".", 1)[-1] + "-" + name)

    def _keep_on_failure(self):
        # Cleanups run after the test's failure has been recorded.
        if self._problem_count() == self._problems:
            return
        self.display.screenshot(self.artifact("failure.png"))
        if self.robot and os.path.exists(self.robot.log):
            shutil.copy(self.robot.log, self.artifact("ventari.log"))
        # The other programs' output lives in the temporary folder, gone after the test.
        for log in self.logs:
            if os.path.exists(log):
                shutil.copy(log, self.artifact(os.path.basename(log)))
        listing = []
        for folder, _, files in os.walk(self.tmp):
            listing += [os.path.join(folder, f) for f in sorted(files)]
        with open(self.artifact("files.txt"), "w", encoding="utf-8") as f:
            f.write("\n".join(listing) + "\n")
        sys.stderr.write("kept %s\n" % self.artifact("failure.png"))

    # Building blocks shared by the tests.

    def make_game(self, **kwargs):
        return GameFolder(os.path.join(self.tmp, "host"), **kwargs)

    def start_league(self, game, **kwargs):
        return LeagueServer(self.group, os.path.join(self.tmp, "league"), game, **kwargs)

    def start_sink(self):
        return SmtpSink(self.group, os.path.join(self.tmp, "mails"))

    def start_robot(self, game, league, sink=None, sendmail=None, env=None, args=(), cwd=None,
                    log=None):
        self.robot = Robot(self.group, self.display, game, league, sink, sendmail, env, args, cwd,
                           log)
        return self.robot

    def tick(self, robot, game):
        """Clicks "rafraîchit" and waits until a tick has run to its end on what the folders
        hold now. Each round gives the year cache a new text, which the window's year line shows
        once the refresh that ends a tick has read it; the second round's tick cannot have
        started before the first round's change, hence after anything written before the call.
        The ticks must not generate (a generation makes the year cache anew)."""
        for _ in range(2):
            before = robot.year_line()
            year = "3001" if first_line(game.path("curyear.txt")) != "3001" else "3002"
            game.set_year(year)
            robot.click_refresh()
            wait_for("the year line to show " + year, lambda: robot.year_line() != before)

    def wait_mails(self, sink, count, timeout=WAIT):
        return wait_for("%d mails" % count, lambda: len(sink.messages()) >= count and
                        sink.messages(), timeout)
