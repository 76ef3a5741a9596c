#!/usr/bin/python3
"""The internet of the browser test (browsers_e2e.sh): a fake ad server and a publisher's site.

Usage: fake_servers.py WORK_DIR: logs to WORK_DIR/ads.log and ticks.log, serves HTTPS with
WORK_DIR/tls/server.pem and .key (issued by the test's own CA), writes WORK_DIR/servers.ready.

- Ad server on 198.51.100.2 and ::2, port 80: the ad script with keep-alive, the ad image with
  "Connection: close" (a browser that reuses an old connection tells itself apart from one that
  looks the name up again); port 443, HTTP/2 only: a second ad script (a pooled HTTP/2 session).
- Publisher site on 127.0.0.1:8000: /pub/NAME loads the three ads every 2 s and pings /tick, so a
  browser that stopped asking for ads can be told from one whose page stopped running.

Log lines (tab-separated): seconds since the epoch, listening address, Host, path, the browser
named in the query (or "-").
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
AD_H2_URL = "https://securepubads.g.doubleclick.net/tag/js/gpt.js"

PAGE = """<!doctype html>
<html><head><meta charset="utf-8"><title>Publisher page BROWSER</title></head>
<body><h1>Publisher page for BROWSER</h1><p>cycle <span id="n">0</span></p>
<img id="ad" width="300" height="250" alt="ad">
<script>
var b = "BROWSER", n = 0;
function load(url) {
  var s = document.createElement("script");
  s.src = url + "?b=" + b + "&n=" + n;
  s.onload = s.onerror = function () { s.remove(); };
  document.head.appendChild(s);
}
function cycle() {
  n++;
  document.getElementById("n").textContent = n;
  load("SCRIPT_URL");
  load("H2_URL");
  document.getElementById("ad").src = "IMAGE_URL?b=" + b + "&n=" + n;
  fetch("/tick?b=" + b + "&n=" + n, {cache: "no-store"}).catch(function () {});
}
cycle();
setInterval(cycle, 2000);
</script></body></html>
"""

lock = threading.Lock()


def write_line(log_file, address, host, path, browser):
    line = "%.3f\t%s\t%s\t%s\t%s\n" % (time.time(), address, host, path, browser)
    with lock:
        log_file.write(line)
        log_file.flush()


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    log_file = None

    def log_message(self, *args):
        pass

    def record(self, browser):
        write_line(self.log_file, self.server.server_address[0], self.headers.get("Host", "-"),
                   urlsplit(self.path).path, browser)

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
                    .replace("IMAGE_URL", AD_IMAGE_URL).replace("H2_URL", AD_H2_URL))
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


async def h2_connection(reader, writer, log_file):
    import h2.config
    import h2.connection
    import h2.events
    conn = h2.connection.H2Connection(
        config=h2.config.H2Configuration(client_side=False, header_encoding="utf-8"))
    conn.initiate_connection()
    writer.write(conn.data_to_send())
    address = writer.get_extra_info("sockname")[0]
    try:
        while True:
            data = await reader.read(65536)
            if not data:
                break
            for event in conn.receive_data(data):
                if not isinstance(event, h2.events.RequestReceived):
                    continue
                headers = dict(event.headers)
                url = urlsplit(headers.get(":path", "/"))
                browser = parse_qs(url.query).get("b", ["-"])[0]
                write_line(log_file, address, headers.get(":authority", "-"), url.path, browser)
                body = SCRIPT if url.path.endswith(".js") else b""
                conn.send_headers(event.stream_id, [
                    (":status", "200" if body else "404"),
                    ("content-type", "application/javascript"),
                    ("content-length", str(len(body))), ("cache-control", "no-store")])
                conn.send_data(event.stream_id, body, end_stream=True)
            writer.write(conn.data_to_send())
            await writer.drain()
    except Exception:  # a connection the browser or the test ended
        pass
    finally:
        writer.close()


def serve_h2(cert, key, log_file):
    import asyncio
    import ssl
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    context.set_alpn_protocols(["h2"])
    loop = asyncio.new_event_loop()

    async def start():
        for host in ("198.51.100.2", "::2"):
            await asyncio.start_server(lambda r, w: h2_connection(r, w, log_file), host, 443,
                                       ssl=context)

    loop.run_until_complete(start())
    threading.Thread(target=loop.run_forever, daemon=True).start()


def main():
    work = sys.argv[1]
    AdHandler.log_file = open(work + "/ads.log", "a", encoding="utf-8")
    SiteHandler.log_file = open(work + "/ticks.log", "a", encoding="utf-8")
    ThreadingHTTPServer.daemon_threads = True
    servers = [ThreadingHTTPServer(("198.51.100.2", 80), AdHandler),
               Server6(("::2", 80), AdHandler),
               ThreadingHTTPServer(("127.0.0.1", 8000), SiteHandler)]
    for server in servers:
        serve(server)
    serve_h2(work + "/tls/server.pem", work + "/tls/server.key", AdHandler.log_file)
    with open(work + "/servers.ready", "w", encoding="utf-8") as f:
        f.write("ready\n")
    threading.Event().wait()


if __name__ == "__main__":
    main()
