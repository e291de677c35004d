#!/usr/bin/env python3
"""A sendmail for the demo: stores each message read on standard input as a .eml file.

  demo_sendmail.py <outbox folder> [-t] [-oi] [-f sender] [other sendmail options]

Used as VENTARI_SENDMAIL="demo_sendmail.py /path/to/outbox", so the host can open the mails
the robot would have sent in his mail program.
"""

import os
import sys
import time


def main():
    args = [a for i, a in enumerate(sys.argv[1:]) if not a.startswith("-")
            and (i == 0 or sys.argv[i] not in ("-f", "-r"))]
    if not args:
        print("usage: demo_sendmail.py <outbox folder> [-t] [-oi]", file=sys.stderr)
        return 64
    outbox = args[0]
    os.makedirs(outbox, exist_ok=True)
    message = sys.stdin.buffer.read()
    stamp = time.strftime("%Y%m%d-%H%M%S")
    for n in range(1, 10000):
        path = os.path.join(outbox, f"{stamp}-{n:03d}.eml")
        try:
            with open(path, "xb") as f:
                f.write(message)
            return 0
        except FileExistsError:
            continue
    return 75


if __name__ == "__main__":
    sys.exit(main())
