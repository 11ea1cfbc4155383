"""Simulated devices for the quorvel package's tests: devsim processes, each
serving a pseudo-terminal through a link in a folder of its own."""

from __future__ import annotations

import os
import pathlib
import subprocess
import time
from typing import Callable, Iterator, List

import pytest

DEVSIM = os.environ.get(
    "QUORVEL_DEVSIM",
    str(pathlib.Path(__file__).resolve().parents[2] / "build/linux/tools/devsim/devsim"),
)
START_SECONDS = 5
STOP_SECONDS = 3


def wait_until(condition: Callable[[], bool], seconds: float) -> bool:
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() >= deadline:
            return False
        time.sleep(0.01)
    return True


class Device:
    """One simulated board; `port` is what quorvel's calls take."""

    def __init__(self, folder: pathlib.Path, options: List[str]) -> None:
        self.folder = folder
        self.port = str(folder / "com5")
        self.flash_file = folder / "flash.bin"
        self.transcript_file = folder / "transcript.txt"
        output = folder / "devsim.out"
        with open(output, "wb") as stdout, open(folder / "devsim.err", "wb") as stderr:
            self.process = subprocess.Popen(
                [DEVSIM, "--link", self.port, "--flash", str(self.flash_file),
                 "--transcript", str(self.transcript_file), *options],
                stdout=stdout, stderr=stderr, stdin=subprocess.DEVNULL)
        if not wait_until(lambda: output.read_text().startswith("PORT "), START_SECONDS):
            self.stop()
            raise RuntimeError("devsim did not start: " + (folder / "devsim.err").read_text())

    def transcript(self) -> str:
        return self.transcript_file.read_text() if self.transcript_file.exists() else ""

    def flash_equals(self, image: bytes) -> bool:
        """Whether the board's flash holds `image`, which devsim writes just
        after it acknowledges the end packet: waited for, at most 5 s."""
        return wait_until(
            lambda: self.flash_file.exists() and self.flash_file.read_bytes() == image, 5)

    def stop(self) -> None:
        self.process.terminate()
        try:
            self.process.wait(STOP_SECONDS)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


@pytest.fixture
def start_device(tmp_path: pathlib.Path) -> Iterator[Callable[..., Device]]:
    """start_device(*devsim_options) starts one more board; all stop after the test."""
    started: List[Device] = []

    def start(*options: str) -> Device:
        folder = tmp_path / f"board{len(started) + 1}"
        folder.mkdir()
        started.append(Device(folder, list(options)))
        return started[-1]

    yield start
    for device in started:
        device.stop()


@pytest.fixture
def device(start_device: Callable[..., Device]) -> Device:
    """A board that runs its boot loader."""
    return start_device("--start", "boot")
