"""The station's side of libquorvel: its C structures and functions, its
events as Python values, and the options checked before the library is asked."""

from __future__ import annotations

import ctypes
import json
import threading
from dataclasses import dataclass
from typing import Any, Dict, Optional, Sequence

from ._errors import QuorvelError
from ._native import _PAUSES, STATUS_ARGUMENTS, PathLike, _CResult, _lib, _port_bytes, _text


_OUTCOME_BAD_ARGUMENTS = 10
_OUTCOME_RECORDS = 12
_OUTCOME_DATABASE = 13

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
    """The log, the serial-number file or pool cannot be used (status 5)."""


class DatabaseError(QuorvelError):
    """The line's database cannot be reached or used (status 6)."""


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
        ("db_url", ctypes.c_char_p),
        ("db_timeout_ms", ctypes.c_uint32),
        ("serial_pool", ctypes.c_char_p),
        ("serial_lease", ctypes.c_uint64),
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


def _is_number(value: object) -> bool:
    return isinstance(value, (int, float)) and not isinstance(value, bool)


def _set_database(options: _CStationOptions, db: Optional[str], db_timeout: float,
                  serial_pool: Optional[str], serial_lease: int) -> None:
    """The line's database and its serial-number pool, checked as the command line does."""
    for name, value in (("db", db), ("serial_pool", serial_pool)):
        if value is not None and not isinstance(value, str):
            raise TypeError(f"{name} must be a string or None")
    if not _is_number(db_timeout):
        raise TypeError("db_timeout must be a number of seconds")
    if not isinstance(serial_lease, int) or isinstance(serial_lease, bool):
        raise TypeError("serial_lease must be an int")
    if not 0.1 <= db_timeout <= 3600:
        raise ArgumentError("db_timeout must be 0.1 to 3600 seconds", STATUS_ARGUMENTS)
    if not 1 <= serial_lease <= 100000:
        raise ArgumentError("serial_lease must be 1 to 100000", STATUS_ARGUMENTS)
    if serial_lease != 1 and not serial_pool:
        raise ArgumentError("serial_lease needs serial_pool", STATUS_ARGUMENTS)
    if db:
        options.db_url = db.encode("utf-8")
        options.db_timeout_ms = round(db_timeout * 1000)
    elif db_timeout != 10.0:
        raise ArgumentError("db_timeout needs db", STATUS_ARGUMENTS)
    if serial_pool:
        # Without a database the library refuses the pool, saying so.
        options.serial_pool = serial_pool.encode("utf-8")
        options.serial_lease = serial_lease


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
