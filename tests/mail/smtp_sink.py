"""A small SMTP server for the mail tests: listens on a free loopback port, prints that port on
its first line of output, and stores each message it accepts in the folder given as argument:
mailN.rcpt (the envelope recipients, one a line), mailN.from (the envelope sender) and mailN.eml
(the message as received; it appears last, complete)."""

import asyncio
import os
import sys

from aiosmtpd.smtp import SMTP


class Sink:
    def __init__(self, folder):
        self.folder = folder
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.folder, "mail%d" % self.count)
        with open(base + ".rcpt", "w", encoding="utf-8") as f:
            f.write("\n".join(envelope.rcpt_tos))
        with open(base + ".from", "w", encoding="utf-8") as f:
            f.write(envelope.mail_from or "")
        with open(base + ".tmp", "wb") as f:
            f.write(envelope.original_content or envelope.content)
        os.rename(base + ".tmp", base + ".eml")
        return "250 OK"


async def main():
    handler = Sink(sys.argv[1])
    loop = asyncio.get_running_loop()
    server = await loop.create_server(lambda: SMTP(handler), "127.0.0.1", 0)
    print(server.sockets[0].getsockname()[1], flush=True)
    await server.serve_forever()


asyncio.run(main())
