"""libquorvel through ctypes: its structures, its functions' signatures, the
library loaded on first use, and the numbers of quorvel.h."""

from __future__ import annotations

import ctypes
import os
import threading
from typing import Callable, Optional, Union

PathLike = Union[str, "os.PathLike[str]"]
Progress = Callable[[int, int], None]
PortProgress = Callable[[str, int, int], None]

# Statuses: quorvel-cli's exit statuses, QUORVEL_STATUS_* in quorvel.h.
STATUS_OK = 0
STATUS_REFUSED = 1
STATUS_ARGUMENTS = 2
STATUS_IMAGE = 3
STATUS_NO_DEVICE = 4
STATUS_RECORDS = 5
STATUS_DATABASE = 6
STATUS_CANCELLED = 130

# Outcomes (QUORVEL_OUTCOME_* in quorvel.h).
_PORT_NOT_OPENED = 1
_PORT_IN_USE = 2
_NO_DEVICE = 3
_PORT_LOST = 4
_SWITCH_REFUSED = 5
_NO_BOOT_LOADER = 6
_TRANSFER_FAILED = 7
_CANCELLED = 8
_BAD_IMAGE = 9

_PAUSES = {"device": 0, "simulator": 1}

# How often a waiting caller looks at its threading.Event (and lets Ctrl-C in).
_POLL_SECONDS = 0.02



class _CResult(ctypes.Structure):
    _fields_ = [
        ("size", ctypes.c_size_t),
        ("ok", ctypes.c_int),
        ("status", ctypes.c_int),
        ("outcome", ctypes.c_int),
        ("code", ctypes.c_int),
        ("os_error", ctypes.c_int),
        ("message", ctypes.c_char * 256),
        ("detail", ctypes.c_char * 512),
        ("device_before", ctypes.c_char * 128),
        ("device_after", ctypes.c_char * 128),
        ("bytes", ctypes.c_int64),
        ("seconds", ctypes.c_double),
        ("total_bytes", ctypes.c_int64),
        ("device", ctypes.c_char * 256),
        ("usb_id", ctypes.c_char * 16),
        ("serial_number", ctypes.c_char * 128),
    ]


_CProgress = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_int64, ctypes.c_int64)


class _CFlashOptions(ctypes.Structure):
    _fields_ = [
        ("size", ctypes.c_size_t),
        ("progress", _CProgress),
        ("progress_user", ctypes.c_void_p),
        ("cancel", ctypes.c_void_p),
        ("serial_format", ctypes.c_int),
        ("serial_width", ctypes.c_int),
        ("serial_address", ctypes.c_uint32),
        ("serial_number", ctypes.c_uint64),
        ("pauses", ctypes.c_int),
    ]


class _CPort(ctypes.Structure):
    _fields_ = [
        ("size", ctypes.c_size_t),
        ("name", ctypes.c_char * 256),
        ("description", ctypes.c_char * 256),
        ("usb_id", ctypes.c_char * 16),
        ("serial_number", ctypes.c_char * 128),
        ("location", ctypes.c_char * 128),
        ("latency_timer_ms", ctypes.c_int),
    ]


_LIBRARY_NAMES = ("libquorvel.so", "quorvel.dll")
_library: Optional[ctypes.CDLL] = None
_library_lock = threading.Lock()


def _library_path() -> str:
    named = os.environ.get("QUORVEL_LIBRARY")
    if named:
        return named
    # Not resolved: in the build tree this file is a link into the sources.
    here = os.path.dirname(os.path.abspath(__file__))
    for name in _LIBRARY_NAMES:
        candidate = os.path.join(here, name)
        if os.path.exists(candidate):
            return candidate
    raise OSError(f"libquorvel is neither in {here} nor named by QUORVEL_LIBRARY")


def _declare(library: ctypes.CDLL) -> None:
    c_int, c_size_t, c_void_p, c_char_p = ctypes.c_int, ctypes.c_size_t, ctypes.c_void_p, ctypes.c_char_p
    result_p = ctypes.POINTER(_CResult)
    signatures = {
        "quorvel_version": [c_char_p, c_size_t],
        "quorvel_result_text": [c_int, c_int, c_char_p, c_size_t],
        "quorvel_cancel_create": [ctypes.POINTER(c_void_p)],
        "quorvel_cancel_request": [c_void_p],
        "quorvel_cancel_reset": [c_void_p],
        "quorvel_cancel_destroy": [c_void_p],
        "quorvel_image_load": [c_char_p, ctypes.POINTER(c_void_p), result_p],
        "quorvel_image_from_bytes": [c_char_p, c_size_t, ctypes.c_uint32, ctypes.POINTER(c_void_p), result_p],
        "quorvel_image_bytes": [c_void_p, ctypes.POINTER(ctypes.c_int64)],
        "quorvel_image_destroy": [c_void_p],
        "quorvel_ports": [ctypes.POINTER(_CPort), c_size_t, ctypes.POINTER(c_size_t)],
        "quorvel_identify": [c_char_p, c_void_p, result_p],
        "quorvel_flash": [c_char_p, c_void_p, ctypes.POINTER(_CFlashOptions), result_p],
        "quorvel_serial_format": [c_char_p, ctypes.POINTER(c_int), ctypes.POINTER(c_int)],
    }
    for name, arguments in signatures.items():
        function = getattr(library, name)
        function.argtypes = arguments
        function.restype = c_int


def _lib() -> ctypes.CDLL:
    """The shared library, loaded on first use. ctypes.CDLL releases the GIL in calls."""
    global _library
    with _library_lock:
        if _library is None:
            library = ctypes.CDLL(_library_path())
            _declare(library)
            _library = library
        return _library


def _text(raw: bytes) -> str:
    return raw.decode("utf-8", errors="replace")


def _port_bytes(port: PathLike) -> bytes:
    if os.name == "nt":
        return os.fspath(port).encode("utf-8")
    return os.fsencode(port)


def _new_result() -> _CResult:
    result = _CResult()
    result.size = ctypes.sizeof(_CResult)
    return result


def version() -> str:
    """The library's version, "2.0.0.1"."""
    text = ctypes.create_string_buffer(64)
    _lib().quorvel_version(text, len(text))
    return _text(text.value)


def result_text(status: int, code: int = 0) -> str:
    """What a status, and a result code under it, mean for a person."""
    text = ctypes.create_string_buffer(512)
    _lib().quorvel_result_text(status, code, text, len(text))
    return _text(text.value)
