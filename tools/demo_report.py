#!/usr/bin/env python3
"""Prints what the robot did in a demo folder: the turn, the published files, the mails."""

import email
import email.policy
import os
import sys


def first_line(path):
    try:
        with open(path, "rb") as f:
            return f.read().split(b"\r", 1)[0].decode("utf-8", "replace")
    except OSError:
        return "(missing)"


def main():
    demo, game = sys.argv[1], sys.argv[2]
    game_dir = os.path.join(demo, "jeux", game)
    pub_dir = os.path.join(demo, "pub", game)
    print(f"Game folder:        {game_dir}")
    published = sorted(n for n in os.listdir(pub_dir) if n != "status") if os.path.isdir(pub_dir) else []
    print(f"Published files:    {', '.join(published) or '(none)'}")
    page = os.path.join(pub_dir, "status", "index.html")
    print(f"Status page:        {page if os.path.isfile(page) else '(none)'}")
    outbox = os.path.join(demo, "outbox")
    mails = sorted(os.listdir(outbox)) if os.path.isdir(outbox) else []
    print(f"Mails written:      {len(mails)} in {outbox}")
    for name in mails:
        with open(os.path.join(outbox, name), "rb") as f:
            message = email.message_from_binary_file(f, policy=email.policy.default)
        attachments = [part.get_filename() for part in message.iter_attachments()]
        extra = f", attachment {attachments[0]}" if attachments else ""
        print(f"  to {message['To']}: {message['Subject']}{extra}")
    print(f"Year now:           {first_line(os.path.join(game_dir, 'curyear.txt'))}")
    print(f"Next deadline:      {first_line(os.path.join(game_dir, 'nextdl.txt'))}")


if __name__ == "__main__":
    main()
