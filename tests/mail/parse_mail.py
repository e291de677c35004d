"""Reads one mail message (the file given as argument) with Python's email package, an outside
reader independent of the code that wrote it, and prints what the tests check as key=hex lines
(values hex-encoded UTF-8 or raw bytes, so any content survives).
The body is given with "\n" line ends and without the line break that ends a message."""

import sys
from email import policy
from email.parser import BytesParser

with open(sys.argv[1], "rb") as f:
    msg = BytesParser(policy=policy.default).parse(f)


def put(key, value):
    if value is None:
        value = ""
    if isinstance(value, str):
        value = value.encode("utf-8")
    print(key + "=" + value.hex())


to = msg["To"]
put("to_count", str(len(to.addresses)) if to is not None else "0")
if to is not None and to.addresses:
    put("to_name", to.addresses[0].display_name)
    put("to_address", to.addresses[0].addr_spec)
sender = msg["From"]
if sender is not None and sender.addresses:
    put("from_name", sender.addresses[0].display_name)
    put("from_address", sender.addresses[0].addr_spec)
put("auto_submitted", msg["Auto-Submitted"])
put("subject", str(msg["Subject"]))
put("headers", ",".join(sorted(k.lower() for k in msg.keys())))
put("content_type", msg.get_content_type())
put("defects", str(sum(len(part.defects) for part in msg.walk())))
body = msg.get_body(("plain",))
if body is not None:
    put("body_charset", body.get_content_charset())
    # Line ends as the local convention has them, without the line break that ends a message.
    text = body.get_content().replace("\r\n", "\n")
    put("body", text[:-1] if text.endswith("\n") else text)
attachments = list(msg.iter_attachments())
put("attachment_count", str(len(attachments)))
for part in attachments[:1]:
    put("attachment_name", part.get_filename())
    put("attachment_type", part.get_content_type())
    put("attachment_encoding", part["Content-Transfer-Encoding"])
    put("attachment_bytes", part.get_payload(decode=True))
