"""Flashes firmware into Quorvel devices over a serial port.

A thin layer over libquorvel, the C API, through ctypes. The shared library is
the one beside this file (``libquorvel.so``, ``quorvel.dll``), or the one the
environment variable ``QUORVEL_LIBRARY`` names.

    import quorvel

    image = quorvel.Image.load("firmware.hex")
    result = quorvel.flash("/dev/ttyUSB0", image, progress=lambda sent, total: ...)

A failure raises a ``QuorvelError`` that carries the command line's exit
status and the transfer's result code. The library releases the GIL while it
works, so threads flash several boards at once (``flash_many``).
"""

from __future__ import annotations

__all__ = [
    "CancelToken",
    "Cancelled",
    "DeviceRefused",
    "Image",
    "ImageError",
    "NoDevice",
    "Port",
    "PortError",
    "PortInUse",
    "QuorvelError",
    "Result",
    "Serial",
    "TransferFailed",
    "flash",
    "flash_many",
    "identify",
    "ports",
    "result_text",
    "version",
]

from ._cancel import Cancel, CancelToken
from ._errors import (
    Cancelled,
    DeviceRefused,
    ImageError,
    NoDevice,
    PortError,
    PortInUse,
    QuorvelError,
    TransferFailed,
)
from ._flash import flash, flash_many, identify, ports
from ._image import Image
from ._native import (
    STATUS_ARGUMENTS,
    STATUS_CANCELLED,
    STATUS_DATABASE,
    STATUS_IMAGE,
    STATUS_NO_DEVICE,
    STATUS_OK,
    STATUS_RECORDS,
    STATUS_REFUSED,
    PathLike,
    PortProgress,
    Progress,
    _lib,
    result_text,
    version,
)
from ._values import Port, Result, Serial

# ---- Stations ---------------------------------------------------------------

# Last: the module uses the names above.
from .station import (  # noqa: E402
    ArgumentError,
    DatabaseError,
    RecordsError,
    Station,
    StationEvent,
)

__all__ += ["ArgumentError", "DatabaseError", "RecordsError", "Station", "StationEvent"]
