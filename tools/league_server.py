#!/usr/bin/env python3
"""A stand-in for the league's web server: serves each game's deadline page on loopback.

GET /<web folder>/travail/ventari.php/nextdl?jeu=<game> answers the deadline of the game's
current turn, "YYYY-MM-DD HH:MM:SS" some hours ahead; an unknown game or path gets 404.

  league_server.py --games demo,alpha [--web-folder ligue] [--hours 48] [--port 0]
                   [--port-file F] [--log F] [--deadline "2030-01-01 12:00:00"]
                   [--fault hang|close-mid-header|redirect-forever|error-500]

The chosen port is printed on the first line of standard output (and written to --port-file);
every request line is appended to --log. --fault makes the server misbehave on purpose.
"""

import argparse
import datetime
import os
import socket
import socketserver
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


def make_handler(options):
    games = set(filter(None, options.games.split(",")))
    prefix = "/" + options.web_folder + "/travail/ventari.php/nextdl"
    log_lock = threading.Lock()

    class Handler(BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.0"
        server_version = "LeaguePages/1.0"

        def log_message(self, fmt, *args):
            pass

        def record(self):
            if options.log:
                with log_lock, open(options.log, "a", encoding="utf-8") as log:
                    log.write(self.requestline + "\n")

        def do_GET(self):
            self.record()
            if options.fault == "hang":
                time.sleep(3600)
                return
            if options.fault == "close-mid-header":
                self.wfile.write(b"HTTP/1.0 200 OK\r\nContent-Type: text/pl")
                self.wfile.flush()
                self.connection.shutdown(socket.SHUT_RDWR)
                return
            if options.fault == "redirect-forever":
                self.send_response(302)
                self.send_header("Location", self.path)
                self.end_headers()
                return
            if options.fault == "error-500":
                self.send_error(500)
                return
            url = urllib.parse.urlsplit(self.path)
            game = urllib.parse.parse_qs(url.query).get("jeu", [""])[0]
            if url.path != prefix or game not in games:
                self.send_error(404, "Not Found")
                return
            if options.deadline:
                text = options.deadline
            else:
                when = datetime.datetime.now() + datetime.timedelta(hours=options.hours)
                text = when.strftime("%Y-%m-%d %H:%M:%S")
            body = (text + "\r\n").encode("ascii")
            self.send_response(200)
            self.send_header("Content-Type", "text/plain")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

    return Handler


def main():
    parser = argparse.ArgumentParser(
        description=__doc__.splitlines()[0],
        epilog="The robot asks <server>/<web folder>/travail/ventari.php/nextdl?jeu=<game>; the "
               "first line of the answer is the deadline, \"YYYY-MM-DD HH:MM:SS\" in local time.")
    parser.add_argument("--games", required=True, metavar="NAME[,NAME...]",
                        help="the games served, by their names (jeu in ventari.pla)")
    parser.add_argument("--web-folder", default="ligue", metavar="FOLDER",
                        help="the league's web folder (web in ventari.pla); default ligue")
    parser.add_argument("--hours", type=float, default=48, metavar="H",
                        help="each deadline answered is H hours after the request; default 48")
    parser.add_argument("--deadline", default="", metavar="'YYYY-MM-DD HH:MM:SS'",
                        help="answer this deadline instead (a past one makes a turn due at once)")
    parser.add_argument("--port", type=int, default=0,
                        help="the loopback port to listen on; default 0, a free one")
    parser.add_argument("--port-file", default="", metavar="FILE",
                        help="also write the port chosen into FILE")
    parser.add_argument("--log", default="", metavar="FILE",
                        help="append each request line to FILE")
    parser.add_argument("--fault", default="",
                        choices=["", "hang", "close-mid-header", "redirect-forever", "error-500"],
                        help="misbehave on purpose, to try the robot's handling of a bad server")
    options = parser.parse_args()

    ThreadingHTTPServer.daemon_threads = True
    server = ThreadingHTTPServer(("127.0.0.1", options.port), make_handler(options))
    port = server.server_address[1]
    if options.port_file:
        with open(options.port_file + ".tmp", "w", encoding="ascii") as f:
            f.write(f"{port}\n")
        os.replace(options.port_file + ".tmp", options.port_file)
    print(port, flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    sys.exit(main())
