"""Orders by mail, on the road a host sets up: each player's message is delivered by dovecot's
delivery agent into the host's IMAP account, fetched by getmail6 (IMAP IDLE) into the robot's
Maildir, and the receipts and turns go out through msmtp into the SMTP sink. A game of three
players is played for two turns with every order file arriving by mail."""

import os
import shutil
import subprocess
import unittest

import mail_peers
from harness import BIN_DIR, PAST, address, plain_text, read_bytes, stars_turn, wait_for
from mail_peers import Fetcher, MailServer, order_mail
from test_host_rules import SOON, HostCase, logged

PLAYERS = (("Ann", "ann@localhost"), ("Bob", "bob@localhost"), ("Cid", "cid@localhost"))
# The robot's looks are proved by renaming the computer player (HostCase.look).
GAME = PLAYERS + (("Robot", "COMPUTER"),)


class MailOrdersTest(HostCase):
    @classmethod
    def setUpClass(cls):
        why = mail_peers.missing()
        if why:
            raise unittest.SkipTest(why)
        super().setUpClass()

    def setUp(self):
        super().setUp()
        # dovecot and getmail hand the mail over as `nobody`, who must reach their folders.
        os.chmod(self.tmp, 0o755)
        self.game = self.make_game(players=GAME)
        self.game.set_deadline(PAST)
        self.game.set_year("2400")
        # A league page that keeps a past date: each turn is due once every order is in.
        self.league = self.start_league("alpha", deadline=PAST)
        self.sink = self.start_sink()
        self.maildir = os.path.join(self.tmp, "Maildir")
        self.server = MailServer(self.group, os.path.join(self.tmp, "dovecot"))
        self.fetcher = Fetcher(self.group, os.path.join(self.tmp, "getmail"), self.server,
                               self.maildir)

    def player_orders(self, row):
        """What player `row`'s client saves for the turn now published: made in a folder of
        his own, never in the host's."""
        mine = os.path.join(self.tmp, "player%d" % row)
        shutil.rmtree(mine, ignore_errors=True)
        os.makedirs(mine)
        shutil.copy(self.game.path("alpha.hst"), mine)
        subprocess.run([os.path.join(BIN_DIR, "starsgen"), "--orders", "alpha.hst", "--player",
                        str(row)], cwd=mine, check=True)
        return read_bytes(os.path.join(mine, "alpha.x%d" % row))

    def mails_to(self, who, subject_end=""):
        return [m for m in self.sink.messages()
                if address(m) == who and m["Subject"].endswith(subject_end)]

    def cur(self):
        return sorted(os.listdir(os.path.join(self.maildir, "cur")))

    def test_a_game_played_for_two_turns_with_every_order_file_by_mail(self):
        robot = self.headless(env={"VENTARI_MAILDIR": self.maildir}, receipts=True)
        self.look()
        for turn in (1, 2):
            year = 2399 + turn
            for row, (name, who) in enumerate(PLAYERS, 1):
                self.server.deliver(order_mail("%s <%s>" % (name, who.upper()), "ordres",
                                               [("alpha.x%d" % row, self.player_orders(row))]),
                                    who)
                wait_for("the receipt of %s for %d" % (name, year),
                         lambda: len(self.mails_to(who, "année %d : ordres reçus" % year)) == 1,
                         SOON)
            wait_for("turn %d generated" % turn, lambda: self.game.host_turn() == turn and
                     not os.path.exists(self.game.path("ventari-turn.journal")), SOON)
            for row, (name, who) in enumerate(PLAYERS, 1):
                wait_for("the turn mail of " + name,
                         lambda: len(self.mails_to(who, "alpha année %d" % year)) == 1, SOON)
                [turn_mail] = self.mails_to(who, "alpha année %d" % year)
                [attachment] = list(turn_mail.iter_attachments())
                self.assertEqual(attachment.get_content(),
                                 read_bytes(self.game.path("alpha.m%d" % row)))
        self.assertEqual(self.game.host_turn(), 2)

        # A stranger with Ann's file, and Bob asking for his turn file again.
        self.server.deliver(order_mail("Ann <mallory@localhost>", "ordres",
                                       [("alpha.x1", self.player_orders(1))]), "mallory@localhost")
        self.server.deliver(order_mail("bob@localhost", "Tour alpha"), "bob@localhost")
        wait_for("Bob's turn file again", lambda: len(self.mails_to("bob@localhost",
                                                                   "alpha année 2401")) == 2,
                 SOON)
        again = self.mails_to("bob@localhost", "alpha année 2401")[1]
        self.assertIn("envoyé à nouveau à votre demande", plain_text(again))
        [attachment] = list(again.iter_attachments())
        self.assertEqual(attachment.get_content(), read_bytes(self.game.path("alpha.m2")))
        self.assertEqual(stars_turn(self.game.path("alpha.m2")), 2)
        wait_for("every message taken", lambda: len(self.cur()) == 8, SOON)
        self.look()
        self.assertEqual(os.listdir(os.path.join(self.maildir, "new")), [])
        self.assertEqual(len([n for n in self.cur() if n.endswith(":2,S")]), 7, self.cur())
        self.assertEqual(len([n for n in self.cur() if n.endswith(":2,")]), 1, self.cur())
        self.assertEqual(self.mails_to("mallory@localhost"), [])
        self.assertFalse(os.path.exists(self.game.path("alpha.x1")), "the stranger's file placed")
        self.assertEqual(len(logged(robot.log, "orders by mail: mail ")), 8)
        check = subprocess.run([os.path.join(BIN_DIR, "ventari"), "--check"], cwd=self.game.root,
                               env=self.env_for(self.game, {"VENTARI_MAILDIR": self.maildir}),
                               stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
        self.assertIn("orders by mail:  %s, 0 messages wait\n" % self.maildir,
                      check.stdout.decode())
        # Receipts, turns, the reports and Bob's turn again: nothing else went out.
        self.assertEqual(len(self.sink.messages()), 3 * 2 + 3 * 2 + 2 + 1,
                         [(address(m), m["Subject"]) for m in self.sink.messages()])


if __name__ == "__main__":
    unittest.main()
