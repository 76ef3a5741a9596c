#!/usr/bin/python3
"""The counting, timing and judging of browsers_e2e.sh, from the logs of fake_servers.py.

Usage: checks.py WORK_DIR OUTPUT_DIR COMMAND ARGS... (the functions below COMMANDS).
A time is seconds since the epoch (bash's $EPOCHREALTIME) or "now" (the command's start), a sum
of them ("T+5"), or the later of such ("T+12|now"). WORK_DIR holds the servers' ads.log and
ticks.log, "browsers" ("NAME PID" lines the script writes), and what this adds: "table" (the
rows so far) and "results" (every PASS and FAIL line, the script's own too).
"""
import os
import socket
import sys
import time

BROWSERS = ("firefox", "chromium")
DISPLAY_NAME = {"firefox": "Mozilla Firefox", "chromium": "Chromium"}
# The script over HTTP keep-alive, the script over HTTPS/HTTP/2, the image with Connection: close.
ADS = ("adsbygoogle.js", "gpt.js", ".gif")
STATUS = {"hidden": "Google Adsense advertisements are hidden on this PC.",
          "shown": "Google Adsense advertisements are not hidden on this PC."}
LATER = 1e10
work, out = sys.argv[1], sys.argv[2]
NOW = time.time()


def at(text):
    return max(sum(NOW if part == "now" else float(part) for part in alternative.split("+"))
               for alternative in text.split("|"))


def log(text):
    print(time.strftime("%H:%M:%S"), "", text, flush=True)


def report(ok, text):
    line = ("PASS: " if ok else "FAIL: ") + text
    print(line, flush=True)
    with open(os.path.join(work, "results"), "a", encoding="utf-8") as f:
        f.write(line + "\n")


def times(log_name, browser, start, end=LATER, path=""):
    """When the browser asked for a path holding PATH, within [START, END)."""
    with open(os.path.join(work, log_name), encoding="utf-8") as f:
        fields = (line.rstrip("\n").split("\t") for line in f)
        return [float(t) for t, _, _, p, b, *_ in fields if b == browser and path in p
                and start <= float(t) < end]


def ads(browser, start, end=LATER, path=""):
    return len(times("ads.log", browser, start, end, path))


def ticks(browser, start, end=LATER):
    return len(times("ticks.log", browser, start, end))


def alive(browser):
    pids = dict(line.split() for line in open(os.path.join(work, "browsers")))
    try:
        with open("/proc/%s/stat" % pids[browser]) as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def wait(condition, seconds):
    deadline = time.time() + float(seconds)
    while not condition():
        if time.time() >= deadline:
            return False
        time.sleep(0.2)
    return True


def row(label, browser, start, end):
    text = "%-34s %-9s %6.1f s %7d %7d %7d %7d" % (
        label, browser, end - start, *(ads(browser, start, end, p) for p in ADS),
        ticks(browser, start, end))
    print("  " + text, flush=True)
    with open(os.path.join(work, "table"), "a", encoding="utf-8") as f:
        f.write(text + "\n")


def wait_cycles(start, n, seconds, *browsers):
    """Exit status 0 once each browser's page has run N cycles since START."""
    return all(wait(lambda b=b: ticks(b, at(start)) >= int(n), seconds)
               for b in browsers or BROWSERS)


def wait_ads(start, seconds):
    """Exit status 0 once each browser asked for all three ads since START."""
    return all(wait(lambda b=b: all(ads(b, at(start), LATER, p) for p in ADS), seconds)
               for b in BROWSERS)


def wait_hosts(label, block, start):
    """Logs when the hosts file came to hold the block (BLOCK yes) or not (no)."""
    holds = lambda: "\n# Begin Vantrel" in "\n" + open("/etc/hosts", errors="replace").read()
    wait(lambda: holds() == (block == "yes"), 30)
    log("%s: the hosts file changed %.3f s after the click" % (label, time.time() - at(start)))


def rows(label, start, end):
    time.sleep(max(0.0, at(end) - time.time()))
    for b in BROWSERS:
        row(label, b, at(start), at(end))


def no_ads(label, when, start, end, *before):
    """Once END has passed, no browser may have asked for an ad since START. BEFORE: label,
    start and end of each row to print first."""
    time.sleep(max(0.0, at(end) - time.time()))
    for b in BROWSERS:
        for i in range(0, len(before), 3):
            row(before[i], b, at(before[i + 1]), at(before[i + 2]))
        n = ads(b, at(start), at(end))
        report(n == 0, "%s: %s made %s%s" % (
            label, b, "no ad request" if n == 0 else "%d ad requests" % n, when))


def left_running(click, label="Hide, left running", what="the click"):
    """A Hide, browsers left running: no ad from 5 s to 35 s after CLICK (the moment WHAT
    happened); the pages run on."""
    no_ads(label, " from 5 s to 35 s after " + what, click + "+5", click + "+35",
           label + " (0-5 s)", click, click + "+5",
           label + " (5-35 s)", click + "+5", click + "+35")
    for b in BROWSERS:
        # 30 s of a 2 s cycle are 15 cycles; the cycle cut by an ended connection may be lost.
        cycles = ticks(b, at(click + "+5"), at(click + "+35"))
        if alive(b) and cycles >= 14:
            report(True, "%s: %s still runs and ran its page %d times" % (label, b, cycles))
        else:
            report(False, "%s: %s %s, page cycles: %d of 15"
                   % (label, b, "runs" if alive(b) else "ended", cycles))


def ads_back(label, click, within):
    """Each browser asked for all three ads again within WITHIN seconds of the click."""
    for b in BROWSERS:
        row(label + " (0-5 s)", b, at(click), at(click) + 5)
        firsts = [min(times("ads.log", b, at(click), LATER, p), default=LATER) - at(click)
                  for p in ADS]
        seen = " ".join("-" if t > LATER / 2 else "%.1f" % t for t in firsts)
        ok = max(firsts) <= float(within)
        report(ok, "%s: the ads %s in %s within %s s (script, h2, image after: %s s)" % (
            label, "came back" if ok else "did not all come back", b, within, seen))
        if not alive(b):
            report(False, "%s: %s ended" % (label, b))


def came_back(label, start):
    for b in BROWSERS:
        row(label, b, at(start), NOW)
        ok = all(ads(b, at(start), LATER, p) for p in ADS)
        report(ok, "Show, restarted: " + ("the ads came back in " if ok else "no ads in ") + b)


def settled_status():
    """The status and notes traced last, once the program stopped adding lines for 2 s."""
    path = os.environ["VANTREL_STATUS_TRACE"]
    lines = lambda: open(path).read().splitlines() if os.path.exists(path) else []
    last, since, deadline = None, time.time(), time.time() + 20
    while time.time() < deadline and not (last == len(lines()) and time.time() - since >= 2):
        if last != len(lines()):
            last, since = len(lines()), time.time()
        time.sleep(0.2)
    # A notice may come after it.
    fields = ([line for line in lines() if line.startswith("status\t")] or [""])[-1].split("\t")
    ok = len(fields) == 4 and fields[0] == "status" and fields[2] == "notes"
    return (fields[1], fields[3]) if ok else (None, "")


def status(label, state, must, why=""):
    """The status line against STATE (hidden|shown). MUST: the browsers the notes name ("-":
    no notes at all; "": no demand). WHY: a sentence the notes must hold."""
    text, notes = settled_status()
    want = STATUS[state]
    log('status after %s: "%s", notes: "%s"' % (label, text or "", notes))
    if text is None:
        report(False, label + ": no status line in the trace (VANTREL_STATUS_TRACE)")
    else:
        report(text == want, '%s: the status line reads "%s"' % (label, text) +
               ("" if text == want else ', not "%s"' % want))
    if text is None:
        return
    if must == "-":
        report(not notes, label + (': unexpected notes "%s"' % notes if notes else ": no notes"))
    for name in [DISPLAY_NAME[b] for b in must.split()] if must != "-" else []:
        report(name in notes, "%s: the notes name %s" % (label, name) if name in notes else
               '%s: the notes do not name %s (notes: "%s")' % (label, name, notes))
    if why:
        report(why in notes, label + ": the notes say why the browsers were not updated"
               if why in notes else '%s: the notes do not say "%s" (notes: "%s")'
               % (label, why, notes))


def lookups(*names):
    """IPv4 and IPv6-only lookups of every name answer locally, and none reaches the DNS."""
    dns_log = os.path.join(work, "dns.log")
    mark = len(open(dns_log, errors="replace").readlines())
    answers = {}
    for name in names:
        for family, tag in ((socket.AF_INET, "4"), (socket.AF_INET6, "6")):
            try:
                answers[name, tag] = {a[4][0] for a in socket.getaddrinfo(name, 80, family,
                                                                          socket.SOCK_STREAM)}
            except socket.gaierror as e:
                answers[name, tag] = {"error:%d" % e.errno}
    time.sleep(0.5)  # dnsmasq writes its log after it answers
    queries = open(dns_log, errors="replace").readlines()[mark:]
    for tag, kind, local, what in (
            ("4", "A", lambda a: a == "0.0.0.0" or a.startswith("127."),
             " lookups of all %d names answer from the hosts file"),
            ("6", "AAAA", lambda a: a in ("::", "::1"),
             "-only lookups of all %d names answer locally, no AAAA query reached DNS")):
        bad = []
        for n in names:
            asked = sum("query[%s] %s from" % (kind, n) in q for q in queries)
            if asked or not all(local(a) for a in answers[n, tag]):
                bad.append("%s=%s(dns:%d)" % (n, ",".join(sorted(answers[n, tag])), asked))
        report(not bad, "after Hide: IPv" + tag + what % len(names) if not bad else
               "after Hide: %d of %d IPv%s lookups do not answer locally: %s"
               % (len(bad), len(names), tag, " ".join(bad)))


def summary():
    """The table of every row, then the verdict; exit status 1 when a check failed."""
    print("\nAd requests per browser and case (script: HTTP keep-alive; h2: HTTPS over HTTP/2;\n"
          "image: HTTP with Connection: close):")
    print("  %-34s %-9s %8s %7s %7s %7s %7s" % ("case", "browser", "window", "script", "h2",
                                                "image", "cycles"))
    for name in ("table", "results"):
        if not os.path.exists(os.path.join(work, name)):
            open(os.path.join(work, name), "w").close()
    print("".join("  " + line for line in open(os.path.join(work, "table"))))
    failures = sum(line.startswith("FAIL") for line in open(os.path.join(work, "results")))
    print("PASS: real browsers (all checks)" if not failures else
          "FAIL: real browsers (%d checks failed)" % failures)
    return not failures


COMMANDS = {"wait-cycles": wait_cycles, "wait-ads": wait_ads, "wait-hosts": wait_hosts,
            "rows": rows, "no-ads": no_ads, "left-running": left_running, "ads-back": ads_back,
            "came-back": came_back, "status": status, "lookups": lookups, "summary": summary}
if __name__ == "__main__":
    sys.exit(COMMANDS[sys.argv[3]](*sys.argv[4:]) is False)
