"""The station page and the report's page in headless Chromium, driven by
Selenium, against quorvel-cli and simulated boards. Screenshots go to
QUORVEL_ARTIFACTS."""

from __future__ import annotations

import importlib.util
import os
import pathlib
import re
import signal
import subprocess
import time
from typing import Callable, Iterator, List

import pytest
from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service

ROOT = pathlib.Path(__file__).resolve().parents[2]
CLI = os.environ.get("QUORVEL_CLI", str(ROOT / "build/linux/cli/quorvel-cli"))
ARTIFACTS = pathlib.Path(os.environ.get("QUORVEL_ARTIFACTS", str(ROOT / "build/linux/artifacts")))
START_SECONDS = 10
STOP_SECONDS = 20

# The simulated boards of the package's tests, under a name of their own.
_spec = importlib.util.spec_from_file_location("quorvel_devices", ROOT / "tests/python/conftest.py")
devices = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(devices)
wait_until = devices.wait_until


@pytest.fixture
def start_device(tmp_path: pathlib.Path) -> Iterator[Callable[..., "devices.Device"]]:
    """start_device(*devsim_options): one more simulated board with a control file."""
    started: List = []

    def start(*options: str):
        folder = tmp_path / f"board{len(started) + 1}"
        folder.mkdir()
        started.append(devices.Device(folder, ["--control", str(folder / "control"), *options]))
        return started[-1]

    yield start
    for device in started:
        device.stop()


def control(device, command: str) -> None:
    (device.folder / "control").write_text(command + "\n")


class Station:
    """quorvel-cli station with its page on a free loopback port."""

    def __init__(self, folder: pathlib.Path, ports: List[str], *options: str) -> None:
        self.log = folder / "station.jsonl"
        self.stderr_path = folder / "station.err"
        image = folder / "image.bin"
        image.write_bytes(bytes((i * 13 + 5) & 0xFF for i in range(6000)))
        with open(folder / "station.out", "wb") as out, open(self.stderr_path, "wb") as err:
            self.process = subprocess.Popen(
                [CLI, "station", "--no-progress", "--http", "127.0.0.1:0", "--station", "bench 7",
                 "--log", str(self.log), "--port", ",".join(ports), *options, str(image)],
                stdout=out, stderr=err, stdin=subprocess.DEVNULL)
        found = []

        def page_said() -> bool:
            found[:] = re.findall(r"station page: (http://\S+)", self.stderr())
            return bool(found) or self.process.poll() is not None
        wait_until(page_said, START_SECONDS)
        if not found:
            self.stop()
            raise RuntimeError("no station page: " + self.stderr())
        self.url = found[0]

    def stderr(self) -> str:
        return self.stderr_path.read_text(errors="replace")

    def records(self, event: str = "result") -> list:
        import json
        if not self.log.exists():
            return []
        lines = [json.loads(line) for line in self.log.read_text().splitlines() if line.strip()]
        return [line for line in lines if line["event"] == event]

    def stop(self) -> int:
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGINT)
            try:
                return self.process.wait(STOP_SECONDS)
            except subprocess.TimeoutExpired:
                self.process.kill()
        return self.process.wait()


@pytest.fixture
def browser() -> Iterator[webdriver.Chrome]:
    options = Options()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--window-size=1400,1000", "--disable-background-networking"):
        options.add_argument(argument)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.set_page_load_timeout(20)
    driver.set_script_timeout(10)
    try:
        yield driver
    finally:
        driver.quit()


def screenshot(driver: webdriver.Chrome, name: str) -> None:
    ARTIFACTS.mkdir(parents=True, exist_ok=True)
    driver.save_screenshot(str(ARTIFACTS / f"{name}.png"))
