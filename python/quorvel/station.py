"""A production station: boards flashed as they arrive on its ports, each as a
unit with its serial number and its records, as ``quorvel-cli station`` does.

    with quorvel.Station(["COM5", "COM6"], "firmware.bin", log="line3.jsonl") as station:
        for event in station:
            if event.record is not None:
                print(event.record)

The events are taken from the library with a short time-out, so Ctrl-C is
seen at once: it aborts the station and goes on as KeyboardInterrupt.
"""

from __future__ import annotations

import ctypes
import json
import threading
from dataclasses import dataclass
from typing import Any, Dict, Iterator, Optional, Sequence, Union

from ._errors import QuorvelError, _error
from ._flash import _serial_fields
from ._image import Image
from ._native import (
    _PAUSES,
    STATUS_ARGUMENTS,
    STATUS_OK,
    PathLike,
    _CResult,
    _lib,
    _new_result,
    _port_bytes,
    _text,
)
from ._values import Serial

_OUTCOME_BAD_ARGUMENTS = 10
_OUTCOME_RECORDS = 12

_KINDS = {
    1: "slot",
    2: "progress",
    3: "record",
    4: "note",
    5: "totals",
    6: "ended",
    7: "database",
}
_EVENT_NONE = 0
_EVENT_SLOT = 1
_EVENT_PROGRESS = 2
_EVENT_RECORD = 3
_EVENT_ENDED = 6

# How long one wait for an event lasts: Ctrl-C is seen between two.
_WAIT_MS = 100

_RECORD_BYTES = 8192  # quorvel_station_event.record

_declared: Optional[ctypes.CDLL] = None
_declared_lock = threading.Lock()


class ArgumentError(QuorvelError, ValueError):
    """The options do not make a station (status 2): nothing was started."""


class RecordsError(QuorvelError):
    """The log or the serial-number file cannot be used (status 5)."""


@dataclass(frozen=True)
class StationEvent:
    """One thing that happened at the station.

    ``kind`` is "slot" (a slot's ``state`` changed: "waiting", "flashing",
    "PASS", "FAIL no device", ...), "progress" (a transfer's percentage in
    ``progress``), "record" (a unit's start or result record, as the dict its
    log line holds, or None for a line too long for the event, which the log
    holds whole; ``logged`` is False when the log failed), "note" (a line
    for the operator), "totals" (``passed`` and ``failed`` changed, or arming
    stopped and ``note`` says why), "database" (``note`` holds the
    database's state: "database online", or "database offline, N records
    waiting") or "ended" (the last event).
    """

    kind: str
    slot: int
    port: str
    state: Optional[str]
    unit: Optional[int]
    serial: Optional[int]
    progress: Optional[int]
    record: Optional[Dict[str, Any]]
    logged: bool
    note: str
    passed: int
    failed: int


class _CStationOptions(ctypes.Structure):
    _fields_ = [
        ("size", ctypes.c_size_t),
        ("ports", ctypes.POINTER(ctypes.c_char_p)),
        ("port_count", ctypes.c_size_t),
        ("image", ctypes.c_void_p),
        ("log_path", ctypes.c_char_p),
        ("serial_file", ctypes.c_char_p),
        ("serial_address", ctypes.c_uint32),
        ("serial_format", ctypes.c_int),
        ("serial_width", ctypes.c_int),
        ("retries", ctypes.c_int),
        ("limit", ctypes.c_int),
        ("station_name", ctypes.c_char_p),
        ("pauses", ctypes.c_int),
    ]


class _CStationEvent(ctypes.Structure):
    _fields_ = [
        ("size", ctypes.c_size_t),
        ("kind", ctypes.c_int),
        ("slot", ctypes.c_size_t),
        ("port", ctypes.c_char * 256),
        ("state", ctypes.c_int),
        ("state_text", ctypes.c_char * 256),
        ("progress", ctypes.c_int),
        ("has_unit", ctypes.c_int),
        ("unit", ctypes.c_int64),
        ("has_serial", ctypes.c_int),
        ("serial", ctypes.c_uint64),
        ("record", ctypes.c_char * _RECORD_BYTES),
        ("record_length", ctypes.c_size_t),
        ("logged", ctypes.c_int),
        ("note", ctypes.c_char * 512),
        ("passed", ctypes.c_int),
        ("failed", ctypes.c_int),
        ("status", ctypes.c_int),
    ]


def _declare_station(library: ctypes.CDLL) -> None:
    c_void_p = ctypes.c_void_p
    signatures = {
        "quorvel_station_create": [
            ctypes.POINTER(_CStationOptions), ctypes.POINTER(c_void_p), ctypes.POINTER(_CResult)],
        "quorvel_station_next_event": [c_void_p, ctypes.POINTER(_CStationEvent), ctypes.c_uint32],
        "quorvel_station_stop": [c_void_p],
        "quorvel_station_abort": [c_void_p],
        "quorvel_station_destroy": [c_void_p],
    }
    for name, arguments in signatures.items():
        function = getattr(library, name)
        function.argtypes = arguments
        function.restype = ctypes.c_int


def _station_lib() -> ctypes.CDLL:
    """The shared library with the station's functions declared."""
    global _declared
    library = _lib()
    with _declared_lock:
        if _declared is not library:
            _declare_station(library)
            _declared = library
    return library


def _path_bytes(path: Optional[PathLike]) -> Optional[bytes]:
    return None if path is None else _port_bytes(path)


def _event(c: _CStationEvent) -> StationEvent:
    record = None
    if c.kind == _EVENT_RECORD:
        # A line longer than the event's buffer arrives cut; the log holds it whole.
        if c.record_length < _RECORD_BYTES:
            record = json.loads(_text(c.record))
    return StationEvent(
        kind=_KINDS.get(c.kind, "note"),
        slot=c.slot,
        port=_text(c.port),
        state=_text(c.state_text) if c.kind == _EVENT_SLOT else None,
        unit=c.unit if c.has_unit else None,
        serial=c.serial if c.has_serial else None,
        progress=c.progress if c.kind == _EVENT_PROGRESS else None,
        record=record,
        logged=bool(c.logged) if c.kind == _EVENT_RECORD else True,
        note=_text(c.note),
        passed=c.passed,
        failed=c.failed,
    )


def _check_count(name: str, value: int) -> None:
    # ctypes would wrap a number too large for a C int without a word.
    if not 0 <= value <= 0x7FFFFFFF:
        raise ArgumentError(f"{name} must be 0 to {0x7FFFFFFF}", STATUS_ARGUMENTS)


def _c_options(ports: Sequence[PathLike], log: Optional[PathLike], station: Optional[str],
               retries: int, limit: Optional[int], pauses: str) -> _CStationOptions:
    if isinstance(ports, (str, bytes)):
        raise TypeError("ports must be a sequence of port names")
    if pauses not in _PAUSES:
        raise ArgumentError("pauses must be 'device' or 'simulator'", STATUS_ARGUMENTS)
    _check_count("retries", retries)
    _check_count("limit", limit or 0)
    options = _CStationOptions()
    options.size = ctypes.sizeof(_CStationOptions)
    port_list = [_port_bytes(port) for port in ports]
    options.ports = (ctypes.c_char_p * max(len(port_list), 1))(*port_list)
    options.port_count = len(port_list)
    options.log_path = _path_bytes(log)
    options.retries = retries
    options.limit = limit or 0
    options.station_name = None if station is None else station.encode("utf-8")
    options.pauses = _PAUSES[pauses]
    return options


class Station:
    """Flashes boards as they arrive on ``ports``, one slot per port.

    ``image`` is a ``quorvel.Image`` or the path of an image file; the
    station keeps its own copy. ``log`` is the JSON Lines file every unit's
    start and result records are appended to (None: no log). With
    ``serial_file`` (the next number in decimal; it needs a log) and
    ``serial_at`` (a device address inside the image), each unit's number is
    written into its own copy of the image in ``serial_format`` ("u32le",
    "u32be" or "ascii:W"). ``station`` names the station in the records (the
    host name by default); ``retries`` flashes a board whose switch or
    transfer failed again; ``limit`` stops arming after that many passes;
    ``pauses="simulator"`` is for the simulated device only.

    Raises ArgumentError (status 2), ImageError (3), PortError (4) or
    RecordsError (5) before any board is touched.
    """

    def __init__(
        self,
        ports: Sequence[PathLike],
        image: Union[Image, PathLike],
        *,
        log: Optional[PathLike],
        station: Optional[str] = None,
        retries: int = 0,
        limit: Optional[int] = None,
        serial_file: Optional[PathLike] = None,
        serial_at: Optional[int] = None,
        serial_format: str = "u32le",
        pauses: str = "device",
    ) -> None:
        self._lib = _station_lib()
        self._handle = ctypes.c_void_p()
        # stop() and abort() may come from any thread while another waits for
        # an event; close() waits for both, so the handle is never used freed.
        self._handle_lock = threading.Lock()
        self._waiting = threading.Lock()
        self.status: Optional[int] = None
        options = _c_options(ports, log, station, retries, limit, pauses)
        if serial_file is not None or serial_at is not None:
            if serial_file is None or serial_at is None:
                raise ArgumentError("serial_file and serial_at go together", STATUS_ARGUMENTS)
            if not 0 <= serial_at <= 0xFFFFFFFF:
                raise ArgumentError(f"serial_at {serial_at:#x} is not a device address",
                                    STATUS_ARGUMENTS)
            options.serial_file = _path_bytes(serial_file)
            options.serial_address = serial_at
            try:
                options.serial_format, options.serial_width = _serial_fields(
                    Serial(number=0, address=serial_at, format=serial_format))
            except ValueError as error:
                raise ArgumentError(str(error), STATUS_ARGUMENTS) from None
        self._create(options, image)

    def _create(self, options: _CStationOptions, image: Union[Image, PathLike]) -> None:
        # An image loaded here is closed at once: the station holds its own copy.
        loaded = image if isinstance(image, Image) else Image.load(image)
        loaded._acquire()  # a close() on another thread waits until the copy is made
        try:
            options.image = loaded._checked()
            c_result = _new_result()
            status = self._lib.quorvel_station_create(
                ctypes.byref(options), ctypes.byref(self._handle), ctypes.byref(c_result))
        finally:
            loaded._release()
            if loaded is not image:
                loaded.close()
        if status != STATUS_OK:
            kinds = {_OUTCOME_BAD_ARGUMENTS: ArgumentError, _OUTCOME_RECORDS: RecordsError}
            if c_result.outcome in kinds:
                raise kinds[c_result.outcome](
                    f"station: {_text(c_result.detail)}", status, os_error=c_result.os_error)
            raise _error(c_result, "station")

    def next_event(self, timeout: float) -> Optional[StationEvent]:
        """The next event, waiting at most ``timeout`` seconds; None if none came."""
        c_event = _CStationEvent()
        c_event.size = ctypes.sizeof(_CStationEvent)
        with self._waiting:
            status = self._lib.quorvel_station_next_event(
                self._checked(), ctypes.byref(c_event), max(0, int(timeout * 1000)))
        if status != STATUS_OK:
            raise QuorvelError("station: the next event cannot be taken", status)
        if c_event.kind == _EVENT_NONE:
            return None
        if c_event.kind == _EVENT_ENDED:
            self.status = c_event.status
        return _event(c_event)

    def __iter__(self) -> Iterator[StationEvent]:
        """The events up to and with the ended one; Ctrl-C while waiting aborts."""
        try:
            while self.status is None:
                event = self.next_event(_WAIT_MS / 1000)
                if event is not None:
                    yield event
        except GeneratorExit:  # the caller left the loop: the station runs on
            raise
        except BaseException:
            self.abort()
            raise

    def stop(self) -> None:
        """As one Ctrl-C: no new board starts, the boards in flight finish."""
        with self._handle_lock:
            self._lib.quorvel_station_stop(self._checked())

    def abort(self) -> None:
        """As two: the boards in flight are stopped, each with its record."""
        with self._handle_lock:
            if self._handle:
                self._lib.quorvel_station_abort(self._handle)

    def close(self) -> None:
        """Aborts what still runs, waits for the slots and frees the station."""
        with self._handle_lock:
            if not self._handle:
                return
            # The abort's events end a wait for the next one on another thread.
            self._lib.quorvel_station_abort(self._handle)
            with self._waiting:
                self._lib.quorvel_station_destroy(self._handle)
                self._handle = ctypes.c_void_p()

    def _checked(self) -> ctypes.c_void_p:
        if not self._handle:
            raise ValueError("the station is closed")
        return self._handle

    def __enter__(self) -> Station:
        return self

    def __exit__(self, *exception: object) -> None:
        self.close()

    def __del__(self) -> None:
        if getattr(self, "_handle", None):
            self.close()


