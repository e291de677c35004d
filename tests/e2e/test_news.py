"""The host's word to his players (`ventari --news TEXT`) beside a running robot: at the top of
the status page, escaped, until replaced or cleared; mailed once to every human player; told to
the event command; a few a day at most."""

import json
import os
import time
import unittest

from harness import address, read_bytes, wait_for
from test_host_rules import SOON, HostCase, paragraphs

SUBJECT = "alpha : message de l'hôte"


class NewsTest(HostCase):

    def news(self, text):
        return self.ventari("--folder", self.game.root, "--news", text)

    def news_mails(self):
        return [m for m in self.sink.messages() if m["Subject"] == SUBJECT]

    def test_the_hosts_message_reaches_the_page_every_player_and_the_command(self):
        self.game = self.make_game(hours=48)
        self.game.set_year("2400")
        self.game.set_deadline(time.strftime("%Y-%m-%d %H:%M:%S",
                                             time.localtime(time.time() + 3600)))
        self.league = self.start_league("alpha", fault="error-500")
        self.sink = self.start_sink()
        heard = os.path.join(self.tmp, "heard.jsonl")
        robot = self.headless(env={"VENTARI_NOTIFY": "cat >> '%s'" % heard,
                                   "VENTARI_SCHEDULE": "hours",
                                   "VENTARI_PUBLIC_URL": "https://jeux.example.org/alpha/"})
        self.look()
        text = "Tour <b>spécial</b> & pause lundi"
        status, out, err = self.news(text)
        self.assertEqual(status, 0, out + err)

        mails = wait_for("the message's mails", lambda: len(self.news_mails()) == 2 and
                         self.news_mails(), SOON)
        self.assertEqual(sorted(address(m) for m in mails), ["ann@localhost", "bob@localhost"])
        for mail in mails:
            self.assertEqual(paragraphs(mail), [text, "Consultez https://jeux.example.org/alpha/",
                                                "Ventari Robot"])
        self.assertIn("host's message:  " + text + "\n", self.check())
        page = self.wait_status("the message", lambda s: s["news"] == text)
        self.assertEqual(page["state"], "incomplet")
        html = read_bytes(os.path.join(self.game.status_dir, "index.html")).decode("utf-8")
        self.assertIn("Tour &lt;b&gt;spécial&lt;/b&gt; &amp; pause lundi", html)
        self.assertNotIn("<b>spécial", html)
        self.assertLess(html.index('id="news"'), html.index('id="state"'))
        wait_for("the news event", lambda: os.path.exists(heard) and read_bytes(heard).strip())
        with open(heard, encoding="utf-8") as f:
            self.assertEqual([json.loads(line) for line in f],
                             [{"event": "news", "game": "alpha", "text": text}])

        # Mailed once, however many looks and starts.
        self.look()
        self.stop(robot)
        robot = self.headless(env={"VENTARI_SCHEDULE": "hours"})
        self.look()
        self.assertEqual(len(self.news_mails()), 2)
        self.assertEqual(self.status()["news"], text)

        # Cleared: off the page, nobody mailed.
        status, out, err = self.news("")
        self.assertEqual(status, 0, out + err)
        self.wait_status("no message", lambda s: s["news"] is None)
        self.assertNotIn('id="news"', read_bytes(os.path.join(self.game.status_dir,
                                                              "index.html")).decode("utf-8"))
        self.assertEqual(len(self.news_mails()), 2)

        # Three more today, then the host is told to wait.
        for n in range(2, 5):
            status, out, err = self.news("message %d" % n)
            self.assertEqual(status, 0, out + err)
            wait_for("message %d mailed" % n, lambda: len(self.news_mails()) == 2 * n, SOON)
        status, out, err = self.news("message 5")
        self.assertEqual(status, 1)
        self.assertIn("4 messages went to the players of alpha in the last 24 hours", err)
        self.look()
        self.assertEqual(len(self.news_mails()), 8)
        self.assertEqual(self.status()["news"], "message 4")
        self.stop(robot)


if __name__ == "__main__":
    unittest.main()
