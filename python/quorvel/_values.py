"""What the package hands back: a flash's Result, a Port present, and a Serial
number to write."""

from __future__ import annotations

from dataclasses import dataclass
from typing import Optional



@dataclass(frozen=True)
class Result:
    """How a flash ended: the keys of a port entry of ``quorvel-cli flash --json``.

    ``device`` is the port opened: ``port`` itself, or what a ``usb:`` name
    resolved to ("" when it matched no adapter); ``usb_id`` and
    ``serial_number`` are its adapter's, "" when it is not on USB.

    ``error`` is set by ``flash_many`` when the port's progress callback
    raised: a ``Cancelled`` whose ``__cause__`` is the callback's exception.
    The port was cancelled then, but ``ok`` still says whether the board was
    written (the exception may come after the last data packet).
    """

    port: str
    device: str
    usb_id: str
    serial_number: str
    ok: bool
    code: int
    os_error: int
    message: str
    device_before: str
    device_after: str
    bytes: int
    seconds: float
    bytes_per_second: float
    status: int
    detail: str
    error: Optional[BaseException] = None


@dataclass(frozen=True)
class Port:
    """A serial port present, with the fields of ``quorvel-cli ports``."""

    name: str
    description: str
    usb_id: str
    serial_number: str
    location: str
    latency_timer_ms: Optional[int]


@dataclass(frozen=True)
class Serial:
    """A serial number written into the board's own copy of the image.

    ``format`` is ``"u32le"``, ``"u32be"`` or ``"ascii:W"`` (W decimal
    digits); ``address`` is a device address inside the image's data.
    """

    number: int
    address: int
    format: str = "u32le"
