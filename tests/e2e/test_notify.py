"""The host's event command (VENTARI_NOTIFY): each event of a game reaches it as one JSON object
on its standard input, after the event's mails; a command that hangs holds no turn up, is ended
after its limit, and leaves nothing behind a robot killed while it runs."""

import http.server
import json
import os
import re
import signal
import subprocess
import threading
import time
import unittest

from harness import PAST, SOURCE_DIR, WAIT, address, wait_for
from test_host_rules import SOON, HostCase, logged

# Beyond any test: only the robot's limit (or its death) ends it.
HANG = "sleep 300 & echo $! >> '%s'; wait"


def alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    # A zombie waiting for its new parent is gone for our purpose.
    with open("/proc/%d/stat" % pid) as f:
        return f.read().rsplit(")", 1)[1].split()[0] != "Z"


def readme_examples():
    """The settings of the README's chat examples, by the chat's name: {NAME: value}."""
    with open(os.path.join(SOURCE_DIR, "README.md"), encoding="utf-8") as f:
        text = f.read()
    start = text.index("\n## Telling a chat room")
    section = text[start:text.index("\n## ", start + 1)]
    examples = {}
    for chat, block in re.findall(r"For an? (\w+) .*?\n```\n(.*?)\n```", section, re.S):
        examples[chat] = dict(line.split("=", 1) for line in block.splitlines())
    return examples


class Chat(http.server.BaseHTTPRequestHandler):
    """A chat server on loopback that keeps what it is sent."""
    received = []

    def handle_one(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        Chat.received.append((self.command, self.path, self.headers.get("Authorization"),
                              self.headers.get("Content-Type"), json.loads(body)))
        self.send_response(200)
        self.send_header("Content-Length", "2")
        self.end_headers()
        self.wfile.write(b"{}")

    do_POST = do_PUT = handle_one

    def log_message(self, *args):
        pass


class NotifyTest(HostCase):

    def prepare_game(self, deadline):
        """Ann's orders in, Bob's not; the deadlines from the schedule, a league never asked."""
        self.game = self.make_game(hours=48)
        self.game.hand_in_orders([1])
        self.game.set_year("2400")
        self.game.set_deadline(deadline)
        self.league = self.start_league("alpha", fault="error-500")
        self.sink = self.start_sink()
        self.heard = os.path.join(self.tmp, "heard.jsonl")
        self.pids = os.path.join(self.tmp, "pids")

    def events(self):
        try:
            with open(self.heard, encoding="utf-8") as f:
                return [json.loads(line) for line in f if line.strip()]
        except FileNotFoundError:
            return []

    def wait_events(self, count, timeout=SOON):
        return wait_for("%d events" % count, lambda: len(self.events()) >= count and
                        self.events(), timeout)

    def sleepers(self, count):
        wait_for("%d hanging commands" % count, lambda: self.count(self.pids) >= count)
        with open(self.pids, encoding="ascii") as f:
            return [int(line) for line in f.read().split()]

    def test_each_event_of_a_game_reaches_the_command(self):
        self.prepare_game(time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(time.time() + 3600)))
        robot = self.headless(env={
            "VENTARI_NOTIFY": "cat >> '%s'; echo \"heard it\"" % self.heard,
            "VENTARI_SCHEDULE": "hours", "VENTARI_REMIND_HOURS": "2",
            "STARSGEN_GAME_OVER": "1"})
        # The first look reminds Bob; Ann's orders were there before: no news.
        [reminder] = self.wait_events(1)
        self.assertEqual(reminder, {"event": "reminder", "game": "alpha", "year": "2400",
                                    "deadline": self.game.line("nextdl.txt"), "late": ["Bob"]})
        self.assertEqual([address(m) for m in self.sink.messages()], ["bob@localhost"])

        self.pause("Bob", "est", "malade")
        self.wait_events(2)
        self.resume()
        self.wait_events(3)
        self.game.hand_in_orders([2])
        self.wait_events(4)
        self.game.correct_orders(2, "second thoughts")
        self.wait_events(5)
        self.game.set_deadline(PAST)
        heard = self.wait_events(7, timeout=WAIT)
        bob = {"event": "orders", "game": "alpha", "year": "2400", "name": "Bob", "row": 2}
        self.assertEqual(heard[1:5], [
            {"event": "pause", "game": "alpha", "text": "Bob est malade"},
            {"event": "resume", "game": "alpha", "text": "Bob est malade"},
            dict(bob, correction=False), dict(bob, correction=True)])
        # The turn once its mails went, with the deadline the schedule gave the new turn.
        self.assertEqual(len(self.sink.messages()), 4)
        self.assertEqual(heard[5], {"event": "turn", "game": "alpha", "played": "2400",
                                    "year": "2401",
                                    "deadline": self.game.line("nextdl.txt"), "forced": [],
                                    "late": []})
        self.assertEqual(heard[6], {"event": "game-over", "game": "alpha", "year": "2401"})
        with open(self.heard, encoding="utf-8") as f:
            text = f.read()
        self.assertNotIn("@", text)
        self.assertNotIn(self.tmp, text)
        # Its output in the log, as the robot's own lines.
        wait_for("the command's words in the log",
                 lambda: len(logged(robot.log, "notify: heard it")) == 7)
        self.stop(robot)
        self.assertEqual(len(self.events()), 7)

    def test_a_failure_reaches_the_command_before_the_robot_ends(self):
        self.prepare_game(PAST)
        self.game.hand_in_orders([2])
        self.runs = os.path.join(self.tmp, "game-runs")
        self.game_script("exit 0")  # the game never generates
        robot = self.headless(env={"VENTARI_NOTIFY": "cat >> '%s'" % self.heard,
                                   "VENTARI_SCHEDULE": "hours"})
        self.assertEqual(robot.wait(timeout=WAIT), 1)
        self.assertEqual(self.events(), [{"event": "failure", "game": "alpha",
                                          "text": "Stars! turn not generated !!!"}])
        self.assertEqual([m["Subject"] for m in self.sink.messages()],
                         ["ERREUR Ventari : jeu alpha"])

    def test_a_hanging_command_holds_nothing_up_and_dies_with_the_robot(self):
        self.prepare_game(PAST)
        robot = self.headless(env={"VENTARI_NOTIFY": HANG % self.pids,
                                   "VENTARI_SCHEDULE": "hours"})
        self.look()
        # Bob's orders make the turn due: their event's command hangs while the turn goes.
        self.game.hand_in_orders([2])
        [first] = self.sleepers(1)
        self.wait_mails(self.sink, 3, timeout=SOON)
        self.new_year()
        self.assertTrue(alive(first), "the turn waited for the command")
        wait_for("the command ended at its limit", lambda: not alive(first), 30)
        self.assertTrue(wait_for("the log", lambda: logged(
            robot.log, "notify: the command for the orders event ran past 10 seconds")))
        # The turn's own event comes next, and hangs too; a robot killed meanwhile takes it along.
        [_, second] = self.sleepers(2)
        self.assertTrue(alive(second))
        os.kill(robot.pid, signal.SIGKILL)
        robot.wait(timeout=WAIT)
        wait_for("the command to die with the robot", lambda: not alive(second), 10)


    def test_the_readme_examples_reach_discord_and_matrix(self):
        examples = readme_examples()
        self.assertEqual(sorted(examples), ["Discord", "Matrix"])
        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Chat)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        self.addCleanup(server.shutdown)
        local = "http://127.0.0.1:%d" % server.server_address[1]
        self.prepare_game(time.strftime("%Y-%m-%d %H:%M:%S",
                                        time.localtime(time.time() + 3600)))
        Chat.received = []
        for chat, settings in sorted(examples.items()):
            settings = dict(settings, VENTARI_SCHEDULE="hours", no_proxy="127.0.0.1")
            if chat == "Discord":
                settings["DISCORD_WEBHOOK"] = local + "/api/webhooks/123/abc"
            else:
                settings["MATRIX_SERVER"] = local
            robot = self.headless(env=settings)
            self.look()
            self.pause("Bob", "est", "malade")
            wait_for("the %s message" % chat, lambda: len(Chat.received) == 1)
            method, path, authorization, kind, body = Chat.received.pop()
            self.assertEqual(kind, "application/json")
            if chat == "Discord":
                self.assertEqual((method, path), ("POST", "/api/webhooks/123/abc"))
                self.assertEqual(body, {"content": "**alpha** pause : Bob est malade"})
            else:
                self.assertEqual(method, "PUT")
                self.assertRegex(path, r"^/_matrix/client/v3/rooms/%21AbCdEf%3Aexample.org/send/"
                                       r"m.room.message/ventari-\d+$")
                self.assertEqual(authorization, "Bearer " + settings["MATRIX_TOKEN"])
                self.assertEqual(body, {"msgtype": "m.text", "body": "alpha pause : Bob est malade"})
            self.resume()
            wait_for("the %s message of the resume" % chat, lambda: len(Chat.received) == 1)
            self.assertIn("resume", json.dumps(Chat.received.pop()[4]))
            self.stop(robot)
            self.assertEqual(logged(robot.log, "notify: the command"), [])
        # A turn and a correction read in the room as the mails name their years.
        turn = {"event": "turn", "game": "alpha", "played": "2400", "year": "2401",
                "deadline": "2026-12-12 18:00:00", "forced": [], "late": []}
        orders = {"event": "orders", "game": "alpha", "year": "2401", "name": "Ann", "row": 1,
                  "correction": True}
        said = {"Discord": "content", "Matrix": "body"}
        for chat, settings in examples.items():
            program = settings["VENTARI_NOTIFY"].split(" | curl ")[0]
            for event, text in ((turn, "alpha** turn : année 2400 générée, année 2401 à jouer, "
                                       "échéance 2026-12-12 18:00:00"),
                                (orders, "alpha** orders année 2401 : Ann (correction)")):
                result = subprocess.run(["/bin/sh", "-c", program], input=json.dumps(event),
                                        capture_output=True, text=True, check=True)
                message = json.loads(result.stdout)[said[chat]]
                self.assertEqual(message.replace("**", ""), text.replace("**", ""), chat)


if __name__ == "__main__":
    unittest.main()
