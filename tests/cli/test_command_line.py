"""The real program's command line, run without a display: what it prints, on which stream,
and its exit status."""

import os
import re
import shutil
import subprocess
import tempfile
import unittest

BIN_DIR = os.environ["VENTARI_BIN_DIR"]
SOURCE_DIR = os.environ["VENTARI_SOURCE_DIR"]
VERSION = os.environ["VENTARI_VERSION"]
PROGRAM = os.path.join(BIN_DIR, "ventari")
# What the usage must show, listed here rather than read from the program's own table: an option
# or a variable that goes missing fails the test.
OPTIONS = ("--folder DIR", "--env-file FILE", "--headless", "--check", "--restore YEAR", "-h, --help",
           "-v, --version")
VARIABLES = ("VENTARI_SENDMAIL", "VENTARI_MAIL_TIMEOUT", "VENTARI_MAIL_RETRY_SECONDS",
             "VENTARI_LEAGUE_SERVER",
             "VENTARI_LEAGUE_SITE", "VENTARI_WINE", "VENTARI_GAME_TIMEOUT", "VENTARI_REMIND_HOURS",
             "VENTARI_SCHEDULE", "VENTARI_NOTIFY", "VENTARI_PUBLIC_URL")


def no_display_env(**extra):
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    env.update(SDL_AUDIODRIVER="dummy", **extra)
    return env


def run(args, cwd=None, env=None):
    return subprocess.run([PROGRAM] + args, cwd=cwd, env=env or no_display_env(),
                          capture_output=True, text=True, stdin=subprocess.DEVNULL, timeout=60)


def readme_variables():
    with open(os.path.join(SOURCE_DIR, "README.md"), encoding="utf-8") as f:
        return re.findall(r"^\| `(VENTARI_[A-Z_]+)` \|", f.read(), re.MULTILINE)


class CommandLineTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="ventari-cli-")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def test_help_lists_every_option_and_variable_without_a_display(self):
        for flag in ("--help", "-h"):
            with self.subTest(flag=flag):
                result = run([flag])
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(result.stderr, "")
                lines = result.stdout.splitlines()
                self.assertTrue(lines[0].startswith("Usage: ventari"))
                for option in OPTIONS:
                    self.assertEqual(
                        len([l for l in lines if re.match(r"\s+" + re.escape(option) + r"\s+\S",
                                                          l)]),
                        1, option)
                for option in ("--folder DIR", "--headless", "--check", "--restore YEAR"):
                    self.assertIn("[%s]" % option, lines[0], "in the synopsis")
                # The README's table of variables is described by the usage too.
                for variable in set(VARIABLES) | set(readme_variables()):
                    self.assertEqual(
                        len([l for l in lines if re.match(r"\s+" + variable + r"\s+\S", l)]),
                        1, variable)

    def test_version_is_the_projects(self):
        for flag in ("--version", "-v"):
            with self.subTest(flag=flag):
                result = run([flag])
                self.assertEqual((result.returncode, result.stdout, result.stderr),
                                 (0, "ventari %s\n" % VERSION, ""))

    def test_what_is_not_understood_gives_the_usage_on_stderr_and_status_2(self):
        for args, named in ((["--bogus"], "bogus"), (["--folder"], "folder"),
                            (["stray"], "stray"), (["--version", "--bogus"], "bogus")):
            with self.subTest(args=args):
                result = run(args)
                self.assertEqual(result.returncode, 2)
                self.assertEqual(result.stdout, "")
                first, *rest = result.stderr.splitlines()
                self.assertTrue(first.startswith("ventari: "), first)
                self.assertIn(named, first)
                self.assertTrue(rest[0].startswith("Usage: ventari"))
                self.assertTrue(any("--folder" in line for line in rest))

    def test_a_start_without_a_display_ends_with_one_line_and_status_1(self):
        # The folder holds no settings: had the robot started, it would have stopped at its
        # message box; it must not even get there (and Qt must not abort with a core dump).
        for env in (no_display_env(), no_display_env(QT_QPA_PLATFORM="xcb"),
                    no_display_env(QT_QPA_PLATFORM="wayland", DISPLAY=":99")):
            with self.subTest(platform=env.get("QT_QPA_PLATFORM")):
                result = run([], cwd=self.dir, env=env)
                self.assertEqual(result.returncode, 1)
                self.assertEqual(result.stdout, "")
                self.assertEqual(result.stderr.count("\n"), 1, result.stderr)
                self.assertIn("no display", result.stderr)
                self.assertIn("--headless", result.stderr)
                self.assertEqual(os.listdir(self.dir), [])

    def test_a_folder_that_cannot_be_entered_is_named_with_status_1(self):
        missing = os.path.join(self.dir, "nowhere")
        plain_file = os.path.join(self.dir, "ventari.def")
        with open(plain_file, "w", encoding="ascii"):
            pass
        for folder in (missing, plain_file):
            with self.subTest(folder=folder):
                result = run(["--folder", folder], cwd=self.dir)
                self.assertEqual(result.returncode, 1)
                self.assertEqual(result.stderr.count("\n"), 1, result.stderr)
                self.assertIn(folder, result.stderr)
        self.assertFalse(os.path.exists(missing))

    def test_env_files_give_the_settings_the_service_would(self):
        # The README's own lines for a chat room, and a schedule quoted as systemd takes it.
        with open(os.path.join(SOURCE_DIR, "README.md"), encoding="utf-8") as f:
            notify = re.findall(r"^VENTARI_NOTIFY=.*$", f.read(), re.MULTILINE)
        self.assertEqual(len(notify), 2, "the README's two chat examples")
        shared = os.path.join(self.dir, "ventari.env")
        game = os.path.join(self.dir, "game.env")
        with open(shared, "w", encoding="utf-8") as f:
            f.write("# shared\nVENTARI_SCHEDULE=\"mon,thu 18:00\"\n" + notify[0] + "\n")
        with open(game, "w", encoding="utf-8") as f:
            f.write(notify[1] + "\n")
        with open(os.path.join(self.dir, "ventari.def"), "w", encoding="ascii") as f:
            f.write("binaires\t%s\nexecutable\tstars.exe\npublication\t%s\njeux\t%s\n"
                    % (self.dir, self.dir, self.dir))
        with open(os.path.join(self.dir, "ventari.pla"), "w", encoding="ascii") as f:
            f.write("jeu\talpha\nweb\tligue\nhote\th@example.org\nreserve\t0\nauto\t1\n"
                    "heures\t48\njoueurs\t1\nJ1\tAnn,ann@example.org\n")
        result = run(["--env-file", shared, "--env-file", game, "--check", "--folder", self.dir],
                     env=no_display_env(VENTARI_SCHEDULE="hours"))
        self.assertIn("\nschedule:        mon,thu 18:00: ", result.stdout)
        self.assertIn("\nevent command:   " + notify[1][len("VENTARI_NOTIFY="):] + "\n",
                      result.stdout)
        result = run(["--env-file", os.path.join(self.dir, "none.env"), "--check"], cwd=self.dir)
        self.assertEqual((result.returncode, result.stdout), (1, ""))
        self.assertIn("none.env", result.stderr)


if __name__ == "__main__":
    unittest.main()
