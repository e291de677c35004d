"""A league web server for the deadline fetch tests and benchmark.

Listens on a free loopback port and prints that port on its first line of output. Serves the
deadline page /<folder>/travail/ventari.php/nextdl?jeu=<game> for a few fixed games:
alpha (a deadline), multi (several lines), cookie (sets a cookie), broken (a server error);
any other path or game gets 404.
"""

import http.server
import sys
from urllib.parse import parse_qs, urlsplit

PAGES = {
    "alpha": (200, [], b"2002-07-30 18:00:00"),
    "multi": (200, [], b"2002-08-14 20:30:00\r\nturn 2403\r\nnext: 2002-08-16\n"),
    "cookie": (200, [("Set-Cookie", "session=abc; path=/")], b"2002-09-01 12:00:00"),
    "broken": (500, [], b"<h1>Internal error</h1>"),
}


class LeagueHandler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        # Through a proxy the request line carries the whole URL; only its path counts here.
        parts = urlsplit(self.path)
        game = parse_qs(parts.query).get("jeu", [""])[0]
        if not parts.path.endswith("/travail/ventari.php/nextdl") or game not in PAGES:
            self.send_error(404)
            return
        status, headers, body = PAGES[game]
        self.send_response(status)
        self.send_header("Content-Type", "text/plain")
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, format, *args):
        pass


def main():
    server = http.server.HTTPServer(("127.0.0.1", 0), LeagueHandler)
    print(server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    sys.exit(main())
