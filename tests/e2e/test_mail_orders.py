"""Orders by mail, on the road a host sets up: two games on one address. Each player's message
is delivered by dovecot's delivery agent into the host's IMAP account, beside the host's own
mail and a stranger's, fetched by getmail6 (IMAP IDLE) into the one Maildir both robots watch,
and the receipts and turns go out through msmtp into the SMTP sink, each game's from its own
host. Both games are played for two turns with every order file arriving by mail."""

import json
import os
import shutil
import subprocess
import unittest

import mail_peers
from harness import (BIN_DIR, PAST, WAIT, GameFolder, address, plain_text, read_bytes, stars_turn,
                     wait_for)
from mail_peers import Fetcher, MailServer, order_mail
from test_host_rules import SOON, HostCase

# A player's message goes through dovecot's delivery and getmail's IDLE before the robot sees
# it: two daemons of their own, slower than the robot on a busy machine.
DELIVERED = WAIT

ALPHA = (("Ann", "ann@localhost"), ("Bob", "bob@localhost"), ("Cid", "cid@localhost"))
BETA = (("Dan", "dan@localhost"), ("Eve", "eve@localhost"))
HOSTS = {"alpha": "host@localhost", "beta": "beta-host@localhost"}


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
        self.games = {}
        for name, players in (("alpha", ALPHA), ("beta", BETA)):
            # The robot's looks are proved by renaming the computer player (HostCase.look).
            game = GameFolder(os.path.join(self.tmp, name), game=name,
                              players=players + (("Robot", "COMPUTER"),), host=HOSTS[name])
            game.set_deadline(PAST)
            game.set_year("2400")
            self.games[name] = game
        self.game = self.games["alpha"]
        # A league page that keeps a past date: each turn is due once every order is in.
        self.league = self.start_league("alpha,beta", deadline=PAST)
        self.sink = self.start_sink()
        self.maildir = os.path.join(self.tmp, "Maildir")
        self.server = MailServer(self.group, os.path.join(self.tmp, "dovecot"))
        self.fetcher = Fetcher(self.group, os.path.join(self.tmp, "getmail"), self.server,
                               self.maildir)

    def player_orders(self, game, row):
        """What player `row`'s client saves for the turn now published: made in a folder of
        his own, never in the host's."""
        mine = os.path.join(self.tmp, "player-%s-%d" % (game.game, row))
        shutil.rmtree(mine, ignore_errors=True)
        os.makedirs(mine)
        shutil.copy(game.path(game.game + ".hst"), mine)
        subprocess.run([os.path.join(BIN_DIR, "starsgen"), "--orders", game.game + ".hst",
                        "--player", str(row)], cwd=mine, check=True)
        return read_bytes(os.path.join(mine, "%s.x%d" % (game.game, row)))

    def mails_to(self, who, subject_end=""):
        return [m for m in self.sink.messages()
                if address(m) == who and m["Subject"].endswith(subject_end)]

    def folder(self, sub):
        return sorted(os.listdir(os.path.join(self.maildir, sub)))

    def play_a_turn(self, game, players, turn):
        year = 2399 + turn
        for row, (name, who) in enumerate(players, 1):
            mail = order_mail("%s <%s>" % (name, who.upper()), "ordres",
                              [("%s.x%d" % (game.game, row), self.player_orders(game, row))])
            self.fetcher.deliver(mail, who)
            if turn == 2 and row == 1:
                self.fetcher.deliver(mail, who)  # delivered twice: one receipt
            wait_for("the receipt of %s for %d" % (name, year),
                     lambda: len(self.mails_to(who, "année %d : ordres reçus" % year)) == 1,
                     DELIVERED)

    def assert_turn_mailed(self, game, players, turn):
        year = 2399 + turn
        wait_for("%s's turn %d" % (game.game, turn), lambda: game.host_turn() == turn and
                 not os.path.exists(game.path("ventari-turn.journal")), SOON)
        for row, (name, who) in enumerate(players, 1):
            subject = "%s année %d" % (game.game, year)
            wait_for("the turn mail of " + name, lambda: len(self.mails_to(who, subject)) == 1,
                     SOON)
            [turn_mail] = self.mails_to(who, subject)
            [attachment] = list(turn_mail.iter_attachments())
            self.assertEqual(attachment.get_content(),
                             read_bytes(game.path("%s.m%d" % (game.game, row))))

    def test_two_games_on_one_address_played_for_two_turns_by_mail(self):
        env = {"VENTARI_MAILDIR": self.maildir}
        robots = [self.headless(game, env=env, receipts=True) for game in self.games.values()]
        for game in self.games.values():
            self.look(game)
        alpha, beta = self.games["alpha"], self.games["beta"]
        # The host's own mail and a stranger with Ann's file, beside the orders.
        self.fetcher.deliver(order_mail("Friend <friend@localhost>", "dîner samedi ?"),
                            "friend@localhost")
        self.fetcher.deliver(order_mail("Ann <mallory@localhost>", "ordres",
                                       [("alpha.x1", self.player_orders(alpha, 1))]),
                            "mallory@localhost")
        cid_last_year = self.player_orders(alpha, 3)
        for turn in (1, 2):
            if turn == 2:
                self.mail_last_years_file("cid@localhost", cid_last_year)
            self.play_a_turn(alpha, ALPHA, turn)
            self.play_a_turn(beta, BETA, turn)
            self.assert_turn_mailed(alpha, ALPHA, turn)
            self.assert_turn_mailed(beta, BETA, turn)

        # Bob asks for his turn file again.
        self.fetcher.deliver(order_mail("bob@localhost", "Tour alpha"), "bob@localhost")
        wait_for("Bob's turn file again",
                 lambda: len(self.mails_to("bob@localhost", "alpha année 2401")) == 2, DELIVERED)
        again = self.mails_to("bob@localhost", "alpha année 2401")[1]
        self.assertIn("envoyé à nouveau à votre demande", plain_text(again))
        self.assertEqual(again["Auto-Submitted"], "auto-replied")
        [attachment] = list(again.iter_attachments())
        self.assertEqual(attachment.get_content(), read_bytes(alpha.path("alpha.m2")))
        self.assertEqual(stars_turn(alpha.path("alpha.m2")), 2)
        # Every order of the two turns, each game's second delivery and the request, filed
        # seen; the host's own mail and the stranger's left unread in new/ as they came.
        taken = (len(ALPHA) + len(BETA)) * 2 + 2 + 1 + 1
        wait_for("every message of the games filed", lambda: len(self.folder("cur")) == taken,
                 SOON)
        for game in self.games.values():
            self.look(game)
        self.assertEqual(len(self.folder("new")), 2, self.folder("new"))
        self.assertEqual(len([n for n in self.folder("cur") if n.endswith(":2,S")]), taken)
        self.assertEqual(self.mails_to("mallory@localhost"), [])
        for game in self.games.values():
            self.assertIn("orders by mail:  %s, 0 messages wait\n" % self.maildir,
                          self.check_with(game, env))
        # Receipts, turns, the reports, Cid's refusal and Bob's turn again, each from its game's
        # host.
        mails = self.sink.messages()
        players = len(ALPHA) + len(BETA)
        self.assertEqual(len(mails), players * 2 + players * 2 + 2 * 2 + 1 + 1,
                         [(address(m), m["Subject"]) for m in mails])
        for mail in mails:
            game = "alpha" if "alpha" in mail["Subject"] else "beta"
            self.assertEqual(mail["From"].addresses[0].addr_spec, HOSTS[game], mail["Subject"])
        for robot in robots:
            self.stop(robot)

    def mail_last_years_file(self, who, orders):
        """Last year's file, mailed: refused, and the page says why until a good one comes."""
        self.fetcher.deliver(order_mail(who, "ordres", [("alpha.x3", orders)]), who)
        wait_for("the refusal", lambda: self.mails_to(who, "ordres refusés"), DELIVERED)
        status_path = os.path.join(self.game.status_dir, "status.json")
        cid = wait_for("Cid refused on the page", lambda: [
            p for p in json.loads(read_bytes(status_path))["players"]
            if p["row"] == 3 and p["orders"] == "refused"], SOON)
        self.assertEqual(cid[0]["reason"], "fait pour l'année 2400")

    def check_with(self, game, env):
        check = subprocess.run([os.path.join(BIN_DIR, "ventari"), "--check"], cwd=game.root,
                               env=self.env_for(game, env), stdin=subprocess.DEVNULL,
                               capture_output=True, timeout=2 * WAIT)
        return check.stdout.decode()


if __name__ == "__main__":
    unittest.main()
