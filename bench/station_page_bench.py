#!/usr/bin/python3
"""The station page's cost, measured by hand (never by the test command):

- the page's weight: the page and every file it loads;
- the time from an event (a passed board's result record) to the page's
  tile turning PASS, 95th percentile, with 1 and with 50 pages open in
  headless Chromium;
- the station's processor time with 50 pages open against none;
- the station's throughput with 200 event streams open against none.

Each run is a station on simulated boards that the script places again as
soon as a board has passed and was taken away.

  bench/station_page_bench.py [--slots 4] [--seconds 90]

Needs build/linux (quorvel-cli, devsim), chromium, chromium-driver and
python3-selenium.
"""

from __future__ import annotations

import argparse
import datetime
import json
import os
import pathlib
import re
import selectors
import signal
import socket
import statistics
import subprocess
import tempfile
import threading
import time
import urllib.request

ROOT = pathlib.Path(__file__).resolve().parents[1]
CLI = os.environ.get("QUORVEL_CLI", str(ROOT / "build/linux/cli/quorvel-cli"))
DEVSIM = os.environ.get("QUORVEL_DEVSIM", str(ROOT / "build/linux/tools/devsim/devsim"))

# Notes the browser's clock when a tile turns PASS, per port.
WATCH = """
window.passedAt = {};
new MutationObserver(function (mutations) {
  mutations.forEach(function (m) {
    const tile = m.target;
    if (tile.dataset.state === 'passed' && m.oldValue !== 'passed') {
      (window.passedAt[tile.dataset.port] = window.passedAt[tile.dataset.port] || []).push(Date.now());
    }
  });
}).observe(document.getElementById('slots'),
           {attributes: true, attributeOldValue: true, subtree: true, attributeFilter: ['data-state']});
return Date.now();
"""


def millis(text: str) -> int:
    at = datetime.datetime.strptime(text, "%Y-%m-%dT%H:%M:%S.%fZ")
    return int(at.replace(tzinfo=datetime.timezone.utc).timestamp() * 1000)


def cpu_seconds(pid: int) -> float:
    fields = pathlib.Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class Run:
    """A station with its page on `slots` simulated boards, fed with boards."""

    def __init__(self, slots: int) -> None:
        self.folder = pathlib.Path(tempfile.mkdtemp(prefix="quorvel-page-bench-"))
        self.devices = []
        self.ports = []
        for slot in range(slots):
            board = self.folder / f"board{slot}"
            board.mkdir()
            port = str(board / "com")
            out = open(board / "devsim.out", "wb")
            self.devices.append(subprocess.Popen(
                [DEVSIM, "--link", port, "--start", "none", "--control", str(board / "control")],
                stdout=out, stderr=subprocess.DEVNULL))
            self.ports.append(port)
        for slot in range(slots):
            self._wait(lambda: (self.folder / f"board{slot}/devsim.out").read_text().startswith("PORT"))
        (self.folder / "image.bin").write_bytes(os.urandom(16000))
        self.log = self.folder / "log.jsonl"
        self.err = self.folder / "station.err"
        self.station = subprocess.Popen(
            [CLI, "station", "--no-progress", "--http", "127.0.0.1:0", "--log", str(self.log),
             "--port", ",".join(self.ports), str(self.folder / "image.bin")],
            stdout=subprocess.DEVNULL, stderr=open(self.err, "wb"))
        self._wait(lambda: "station page:" in self.err.read_text())
        self.url = re.search(r"station page: (\S+)", self.err.read_text()).group(1)
        self.running = True
        self.feeder = threading.Thread(target=self._feed)
        self.feeder.start()

    @staticmethod
    def _wait(condition, seconds: float = 10) -> None:
        deadline = time.monotonic() + seconds
        while not condition():
            if time.monotonic() > deadline:
                raise RuntimeError("timed out")
            time.sleep(0.02)

    def control(self, slot: int, command: str) -> None:
        path = self.folder / f"board{slot}/control"
        self._wait(lambda: not path.exists(), 5)
        path.write_text(command + "\n")

    def results(self) -> list:
        if not self.log.exists():
            return []
        records = [json.loads(line) for line in self.log.read_text().splitlines() if line]
        return [r for r in records if r["event"] == "result"]

    def _feed(self) -> None:
        """A board on every slot; a passed one is taken away and a new one placed."""
        for slot in range(len(self.ports)):
            self.control(slot, "place boot")
        seen = 0
        while self.running:
            results = self.results()
            for record in results[seen:]:
                slot = self.ports.index(record["port"])
                self.control(slot, "remove")
                threading.Timer(0.6, lambda s=slot: self.running and self.control(s, "place boot")).start()
            seen = len(results)
            time.sleep(0.05)

    def stop(self) -> None:
        self.running = False
        self.feeder.join()
        self.station.send_signal(signal.SIGINT)
        try:
            self.station.wait(30)
        except subprocess.TimeoutExpired:
            self.station.kill()
        for device in self.devices:
            device.terminate()
            device.wait()


def page_weight(url: str) -> dict:
    with urllib.request.urlopen(url) as response:
        page = response.read()
    files = {"/": len(page)}
    for name in re.findall(rb'(?:src|href)="([^"]+)"', page):
        with urllib.request.urlopen(url + name.decode()) as response:
            files[name.decode()] = len(response.read())
    return files


# A browser keeps at most 6 connections to one host, and each page's event
# stream holds one: so at most 5 pages per browser, the sixth connection
# left for the pages' files.
PAGES_PER_BROWSER = 5


def open_pages(url: str, count: int) -> list:
    browsers = []
    while count > 0:
        browsers.append(open_browser(url, min(count, PAGES_PER_BROWSER)))
        count -= PAGES_PER_BROWSER
    return browsers


def open_browser(url: str, count: int):
    from selenium import webdriver
    from selenium.webdriver.chrome.options import Options
    from selenium.webdriver.chrome.service import Service
    options = Options()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--window-size=1280,900"):
        options.add_argument(argument)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    for index in range(count):
        if index:
            driver.switch_to.new_window("tab")
        driver.get(url)
        deadline = time.monotonic() + 20
        while not driver.execute_script("return document.querySelectorAll('#slots .tile').length"):
            if time.monotonic() > deadline:
                raise RuntimeError("the page did not draw its tiles")
            time.sleep(0.05)
        driver.execute_script(WATCH)
    return driver


def latencies(browsers: list, results: list, since_ms: int) -> list:
    shown = []
    for driver, handle in [(d, h) for d in browsers for h in d.window_handles]:
        driver.switch_to.window(handle)
        passed = driver.execute_script("return window.passedAt")
        for record in results:
            at = millis(record["time"])
            if not record["ok"] or at < since_ms + 1000:
                continue
            times = [t for t in passed.get(record["port"], []) if t >= at - 50]
            if times:
                shown.append(min(times) - at)
    return shown


def p95(values: list) -> float:
    ordered = sorted(values)
    return ordered[max(0, int(len(ordered) * 0.95 + 0.999) - 1)]


def open_streams(url: str, count: int):
    """`count` raw event streams, read on a thread of their own until stopped;
    for each, when a slot's tile first showed each passed unit."""
    host, port = re.match(r"http://([^:/]+):(\d+)/", url).groups()
    selector = selectors.DefaultSelector()
    sockets = []
    for _ in range(count):
        connection = socket.create_connection((host, int(port)))
        connection.sendall(b"GET /api/events HTTP/1.1\r\nHost: bench\r\n\r\n")
        connection.setblocking(False)
        selector.register(connection, selectors.EVENT_READ)
        sockets.append(connection)
    state = {"running": True, "bytes": 0, "shown": {}}
    pending = {connection: b"" for connection in sockets}

    def note_passes(stream: int, text: bytes) -> None:
        now = int(time.time() * 1000)
        document = json.loads(text)
        for slot in document["slots"]:
            last = slot["last_result"]
            if slot["state"] == "passed" and last:
                state["shown"].setdefault((slot["port"], last["unit"]), {}).setdefault(stream, now)

    def read() -> None:
        while state["running"]:
            for key, _ in selector.select(0.2):
                try:
                    data = key.fileobj.recv(65536)
                except BlockingIOError:
                    continue
                state["bytes"] += len(data)
                pending[key.fileobj] += data
                while b"\n\n" in pending[key.fileobj]:
                    event, pending[key.fileobj] = pending[key.fileobj].split(b"\n\n", 1)
                    for line in event.split(b"\n"):
                        if line.startswith(b"data: "):
                            note_passes(key.fileobj.fileno(), line[6:])
    reader = threading.Thread(target=read)
    reader.start()

    def close():
        state["running"] = False
        reader.join()
        for connection in sockets:
            connection.close()
        return state["bytes"], state["shown"]
    return close


def measure(slots: int, seconds: float, pages: int = 0, streams: int = 0) -> dict:
    run = Run(slots)
    try:
        weight = page_weight(run.url)
        browsers = open_pages(run.url, pages) if pages else []
        close_streams = open_streams(run.url, streams) if streams else None
        since = int(time.time() * 1000)
        cpu_before = cpu_seconds(run.station.pid)
        started = time.monotonic()
        time.sleep(seconds)
        cpu = cpu_seconds(run.station.pid) - cpu_before
        wall = time.monotonic() - started
        results = [r for r in run.results() if millis(r["time"]) >= since]
        shown = latencies(browsers, results, since)
        for driver in browsers:
            driver.quit()
        streamed, stream_shown = close_streams() if close_streams else (0, {})
    finally:
        run.stop()
    intervals = []
    for port in run.ports:
        times = [millis(r["time"]) for r in results if r["port"] == port]
        intervals += [(b - a) / 1000 for a, b in zip(times, times[1:])]
    return {"weight": weight, "cpu_percent": 100 * cpu / wall, "boards": len(results),
            "cycle_mean_s": statistics.mean(intervals) if intervals else None,
            "latencies": shown, "streamed_bytes": streamed,
            "stream_latencies": stream_latencies(stream_shown, results)}


def stream_latencies(shown: dict, results: list) -> list:
    """Per stream and passed unit: when its state first came, after the record."""
    latencies = []
    for record in results:
        if not record["ok"]:
            continue
        times = shown.get((record["port"], record["unit"]), {}).values()
        latencies += [t - millis(record["time"]) for t in times]
    return latencies


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--slots", type=int, default=4)
    parser.add_argument("--seconds", type=float, default=90)
    args = parser.parse_args()
    print(f"load average at start: {os.getloadavg()[0]:.1f} on {os.cpu_count()} cores")

    none = measure(args.slots, args.seconds)
    weight = none["weight"]
    print(f"page weight: {sum(weight.values())} bytes ({', '.join(f'{k} {v}' for k, v in weight.items())})"
          f"  target <= 300 KB (307200 bytes)")
    for streams in (1, 50):
        run = measure(args.slots, args.seconds, streams=streams)
        shown = run["stream_latencies"]
        print(f"{streams:3d} raw event stream(s): event to stream p95 {p95(shown):.0f} ms, median "
              f"{statistics.median(shown):.0f} ms over {len(shown)} updates (the server's part)")
    for pages in (1, 50):
        run = measure(args.slots, args.seconds, pages=pages)
        shown = run["latencies"]
        print(f"{pages:3d} page(s) in {(pages + PAGES_PER_BROWSER - 1) // PAGES_PER_BROWSER} "
              f"browser(s), load average {os.getloadavg()[0]:.1f}: event to page p95 {p95(shown):.0f} ms, median "
              f"{statistics.median(shown):.0f} ms, max {max(shown):.0f} ms over {len(shown)} updates"
              f"  target p95 <= 250 ms")
        if pages == 50:
            print(f"station CPU: {none['cpu_percent']:.2f} % with no page, {run['cpu_percent']:.2f} % "
                  f"with 50 pages: +{run['cpu_percent'] - none['cpu_percent']:.2f} points"
                  f"  target <= 1 point")
    streams = measure(args.slots, args.seconds, streams=200)
    change = 100 * (streams["cycle_mean_s"] / none["cycle_mean_s"] - 1)
    print(f"throughput: mean cycle {none['cycle_mean_s']:.3f} s ({none['boards']} boards) with no "
          f"stream, {streams['cycle_mean_s']:.3f} s ({streams['boards']} boards) with 200 streams "
          f"({streams['streamed_bytes']} bytes streamed): {change:+.2f} %  target within 1 %")


if __name__ == "__main__":
    main()
