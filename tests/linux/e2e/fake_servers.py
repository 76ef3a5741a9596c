#!/usr/bin/python3
"""The internet of the browser test: a fake ad server and a publisher's site.

Usage: fake_servers.py AD_LOG TICK_LOG READY_FILE

- Ad server on 127.0.0.2:80 and [::2]:80. The ad script is served with keep-alive, the ad image
  with "Connection: close", so a browser that keeps loading the script over an old connection
  tells itself apart from one that looks the name up again. Every request is logged.
- Publisher site on 127.0.0.1:8000: /pub/NAME is a page that loads the ad script and an ad image
  every 2 s and pings /tick, so a browser that stopped asking for ads can be told from one whose
  page stopped running.

Log lines (tab-separated): seconds since the epoch, listening address, Host, path, the browser
named in the query (or "-"), the browser family from the User-Agent.
"""

import socket
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlsplit

GIF = (b"GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00\xff\xff\xff!\xf9\x04\x01\x00\x00\x00\x00"
       b",\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02D\x01\x00;")
SCRIPT = b"window.adsbygoogle = window.adsbygoogle || []; window.adsbygoogle.push({});\n"
AD_SCRIPT_URL = "http://pagead2.googlesyndication.com/pagead/js/adsbygoogle.js"
AD_IMAGE_URL = "http://tpc.googlesyndication.com/simgad/ad.gif"

PAGE = """<!doctype html>
<html><head><meta charset="utf-8"><title>Publisher page BROWSER</title></head>
<body><h1>Publisher page for BROWSER</h1><p>cycle <span id="n">0</span></p>
<img id="ad" width="300" height="250" alt="ad">
<script>
var b = "BROWSER", n = 0;
function cycle() {
  n++;
  document.getElementById("n").textContent = n;
  var s = document.createElement("script");
  s.src = "SCRIPT_URL?b=" + b + "&n=" + n;
  s.onload = s.onerror = function () { s.remove(); };
  document.head.appendChild(s);
  document.getElementById("ad").src = "IMAGE_URL?b=" + b + "&n=" + n;
  fetch("/tick?b=" + b + "&n=" + n, {cache: "no-store"}).catch(function () {});
}
cycle();
setInterval(cycle, 2000);
</script></body></html>
"""

lock = threading.Lock()


def family(agent):
    if "Firefox/" in agent:
        return "firefox"
    if "Chrome/" in agent:
        return "chromium"
    return "other"


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    log_file = None

    def log_message(self, *args):
        pass

    def record(self, browser):
        line = "%.3f\t%s\t%s\t%s\t%s\t%s\n" % (
            time.time(), self.server.server_address[0], self.headers.get("Host", "-"),
            urlsplit(self.path).path, browser, family(self.headers.get("User-Agent", "")))
        with lock:
            self.log_file.write(line)
            self.log_file.flush()

    def reply(self, status, body, content_type, close):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "no-store")
        if close:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def do_GET(self):
        url = urlsplit(self.path)
        browser = parse_qs(url.query).get("b", ["-"])[0]
        self.route(url.path, browser)

    do_HEAD = do_GET


class AdHandler(Handler):
    def route(self, path, browser):
        self.record(browser)
        if path.endswith(".js"):
            self.reply(200, SCRIPT, "application/javascript", close=False)
        elif path.endswith(".gif"):
            self.reply(200, GIF, "image/gif", close=True)
        else:
            self.reply(404, b"", "text/plain", close=True)


class SiteHandler(Handler):
    def route(self, path, browser):
        if path.startswith("/pub/"):
            name = path[len("/pub/"):]
            page = (PAGE.replace("BROWSER", name).replace("SCRIPT_URL", AD_SCRIPT_URL)
                    .replace("IMAGE_URL", AD_IMAGE_URL))
            self.reply(200, page.encode(), "text/html; charset=utf-8", close=False)
        elif path == "/tick":
            self.record(browser)
            self.reply(204, b"", "text/plain", close=False)
        else:
            self.reply(404, b"", "text/plain", close=False)


class Server6(ThreadingHTTPServer):
    address_family = socket.AF_INET6


def serve(server):
    threading.Thread(target=server.serve_forever, daemon=True).start()


def main():
    ad_log, tick_log, ready = sys.argv[1:4]
    AdHandler.log_file = open(ad_log, "a", encoding="utf-8")
    SiteHandler.log_file = open(tick_log, "a", encoding="utf-8")
    ThreadingHTTPServer.daemon_threads = True
    servers = [ThreadingHTTPServer(("127.0.0.2", 80), AdHandler),
               Server6(("::2", 80), AdHandler),
               ThreadingHTTPServer(("127.0.0.1", 8000), SiteHandler)]
    for server in servers:
        serve(server)
    with open(ready, "w", encoding="utf-8") as f:
        f.write("ready\n")
    threading.Event().wait()


if __name__ == "__main__":
    main()
