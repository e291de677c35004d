"""The README's "Your first game", run as a host would type it: its shell blocks, in order, in
one shell, in an empty home folder and from outside the source tree. Only the first block, the
host's own values, is replaced: the mail server is a local SMTP server. No league page is
needed: the deadlines come from the robot's schedule."""

import os
import re
import shutil
import struct
import subprocess
import time
import unittest

from harness import (BIN_DIR, SOURCE_DIR, WAIT, RobotTestCase, SANITIZER_REPORTS, address,
                     plain_text, read_bytes, stars_turn, wait_for)

VALUES = re.compile(r"^SMTP_HOST=\S+ SMTP_PORT=\d+ HOST_MAIL=\S+$")


def guide_blocks():
    """The shell blocks of the README's "Your first game" section, in order."""
    with open(os.path.join(SOURCE_DIR, "README.md"), encoding="utf-8") as f:
        text = f.read()
    start = text.index("\n## Your first game\n")
    end = text.index("\n## ", start + 1)
    return [block.strip("\n") for block in
            re.findall(r"^```sh\n(.*?)^```$", text[start:end], re.S | re.M)]


def stars_turn_of(message):
    """The turn in the header of the Stars! file a mail carries."""
    [part] = list(message.iter_attachments())
    return struct.unpack_from("<H", part.get_content(), 12)[0]


class FirstGameTest(RobotTestCase):

    def test_the_guide_reaches_a_generated_turn(self):
        blocks = guide_blocks()
        self.assertGreaterEqual(len(blocks), 9, "the guide's blocks were not found")
        self.assertRegex(blocks[0], VALUES, "the first block is no longer the host's values")
        self.assertRegex(blocks[-1], r"^ventari\b", "the guide no longer ends with the robot")
        sink = self.start_sink()
        self.assertNotIn("tools/", "\n".join(blocks), "the guide needs the source tree")
        values = "SMTP_HOST=127.0.0.1 SMTP_PORT=%d HOST_MAIL=host@example.org" % sink.port
        script = os.path.join(self.tmp, "guide.sh")
        with open(script, "w", encoding="utf-8") as f:
            f.write("set -euo pipefail\n" + "\n".join([values] + blocks[1:]) + "\n")
        home = os.path.join(self.tmp, "home")
        os.makedirs(home)
        # The installed programs: the build's, first on the PATH.
        env = self.display.env({"HOME": home, "PATH": BIN_DIR + os.pathsep + os.environ["PATH"],
                                "SDL_AUDIODRIVER": "dummy"})
        for name in [n for n in env if n.startswith("VENTARI_")]:
            del env[name]
        log = os.path.join(self.tmp, "guide.log")
        self.addCleanup(self.keep_log, log)
        with open(log, "wb") as out:
            shell = self.group.start(["bash", script], cwd=home, env=env,
                                     stdin=subprocess.DEVNULL, stdout=out, stderr=out)

        # The layout of the service ventari@alpha.
        game = os.path.join(home, "ventari", "alpha", "jeux", "alpha")
        humans = {"ann@example.org", "bob@example.org"}

        def turn_done():
            if shell.poll() is not None:
                self.fail("the guide's commands ended (status %s) before the turn:\n%s"
                          % (shell.returncode, read_bytes(log).decode("utf-8", "replace")))
            sent = {address(m) for m in sink.messages()}
            host_file = os.path.join(game, "alpha.hst")
            return (os.path.exists(host_file) and stars_turn(host_file) == 1
                    and humans | {"host@example.org"} <= sent and len(sink.messages()) >= 7)
        wait_for("the turn generated and mailed", turn_done, timeout=2 * WAIT)

        output = read_bytes(log).decode("utf-8", "replace")
        # The two --check runs said what the guide says they say.
        self.assertRegex(output, r"(?m)^set-up: +ok$")
        self.assertRegex(output, r"(?m)^turn: +waiting for Ann \(missing\), Bob \(missing\) "
                                 r"\(deadline passed\)$")
        for n in (1, 2, 3):
            self.assertEqual(stars_turn(os.path.join(home, "ventari", "alpha", "pub", "alpha",
                                                     "alpha.m%d" % n)), 1)
        # Each player got his first turn file, once, the receipt of his orders, then his turn.
        for player in humans:
            mails = [m for m in sink.messages() if address(m) == player]
            self.assertEqual([m["Subject"] for m in mails],
                             ["alpha année 2400", "alpha année 2400 : ordres reçus",
                              "alpha année 2400"])
            self.assertTrue(plain_text(mails[0]).startswith("la partie alpha commence"))
            self.assertEqual(stars_turn_of(mails[0]), 0)
            self.assertEqual(stars_turn_of(mails[2]), 1)
        # Each from the game's host, envelope and all, though the shared settings name no sender;
        # the receipts are answers, the rest automatic.
        self.assertEqual(set(sink.envelope_senders()), {"host@example.org"})
        for m in sink.messages():
            self.assertEqual(str(m["From"]), "alpha human host <host@example.org>")
            self.assertEqual(m["Auto-Submitted"], "auto-replied" if "ordres reçus" in m["Subject"]
                             else "auto-generated")
        # Then the next deadline from the schedule, 48 hours on, and the year from the year tool.
        wait_for("the new year", lambda: os.path.exists(os.path.join(game, "curyear.txt")))
        with open(os.path.join(game, "curyear.txt"), encoding="ascii") as f:
            self.assertEqual(f.readline().strip(), "2401")
        wait_for("the new deadline", lambda: os.path.exists(os.path.join(game, "nextdl.txt")))
        with open(os.path.join(game, "nextdl.txt"), encoding="ascii") as f:
            deadline = time.mktime(time.strptime(f.readline().strip(), "%Y-%m-%d %H:%M:%S"))
        self.assertAlmostEqual(deadline, time.time() + 48 * 3600, delta=300)
        # The service's settings, shared by every game.
        with open(os.path.join(home, "ventari", "ventari.env"), encoding="utf-8") as f:
            settings = f.read().splitlines()
        self.assertIn("VENTARI_SCHEDULE=hours", settings)
        self.assertTrue([line for line in settings if line.startswith("VENTARI_SENDMAIL=msmtp ")])
        self.group.stop()
        output = read_bytes(log).decode("utf-8", "replace")
        for report in SANITIZER_REPORTS:
            self.assertNotIn(report, output)
        self.assertNotIn("\\", "".join(line for line in output.splitlines()
                                       if " info " in line or " error " in line),
                         "a path in the log has a backslash")

    def keep_log(self, log):
        if self._problem_count() != self._problems and os.path.exists(log):
            os.makedirs(os.path.dirname(self.artifact("")), exist_ok=True)
            shutil.copy(log, self.artifact("guide.log"))


if __name__ == "__main__":
    unittest.main()
