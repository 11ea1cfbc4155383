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

import ctypes
import dataclasses
import os
import threading
from dataclasses import dataclass
from typing import Callable, Dict, List, Optional, Sequence, Tuple, Type, Union

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

_SERIAL_FORMATS = {"u32le": 1, "u32be": 2}
_SERIAL_ASCII = 3
_PAUSES = {"device": 0, "simulator": 1}

# How often a waiting caller looks at its threading.Event (and lets Ctrl-C in).
_POLL_SECONDS = 0.02


# ---- Exceptions -------------------------------------------------------------


class QuorvelError(Exception):
    """A failure, with quorvel-cli's exit status and the transfer's result code."""

    def __init__(
        self,
        message: str,
        status: int,
        code: int = 0,
        os_error: int = 0,
        result: Optional[Result] = None,
    ) -> None:
        super().__init__(message)
        self.status = status
        self.code = code
        self.os_error = os_error
        self.result = result


class ImageError(QuorvelError):
    """The image cannot be used (status 3); raised before any port is opened."""


class PortError(QuorvelError):
    """The port cannot be opened, or was lost (status 4)."""


class PortInUse(PortError):
    """Another program holds the port (status 4)."""


class NoDevice(QuorvelError):
    """Nothing answered on the port, or no boot loader after the switch (status 4)."""


class DeviceRefused(QuorvelError):
    """The device's application refused the switch to its boot loader (status 1)."""


class TransferFailed(QuorvelError):
    """The device refused data or stopped answering during the transfer (status 1)."""


class Cancelled(QuorvelError):
    """The operation was cancelled (status 130); the port is closed and free."""


_ERRORS: Dict[int, Type[QuorvelError]] = {
    _PORT_NOT_OPENED: PortError,
    _PORT_IN_USE: PortInUse,
    _NO_DEVICE: NoDevice,
    _PORT_LOST: PortError,
    _SWITCH_REFUSED: DeviceRefused,
    _NO_BOOT_LOADER: NoDevice,
    _TRANSFER_FAILED: TransferFailed,
    _CANCELLED: Cancelled,
    _BAD_IMAGE: ImageError,
}


# ---- Values -----------------------------------------------------------------


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


# ---- The C API --------------------------------------------------------------


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


def _error(c_result: _CResult, context: str, result: Optional[Result] = None) -> QuorvelError:
    kind = _ERRORS.get(c_result.outcome, QuorvelError)
    reason = _text(c_result.detail) or _text(c_result.message) or result_text(c_result.status, c_result.code)
    return kind(f"{context}: {reason}", c_result.status, c_result.code, c_result.os_error, result)


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


# ---- Cancelling -------------------------------------------------------------


class CancelToken:
    """Cancels the operations it is given to, from any thread, within 200 ms.

    Stays set until ``reset``; an operation given a set token ends at once.
    Only its owner sets it: the package never does.
    """

    def __init__(self) -> None:
        self._lib = _lib()
        self._set = threading.Event()
        self._handle = ctypes.c_void_p()
        if self._lib.quorvel_cancel_create(ctypes.byref(self._handle)) != STATUS_OK:
            raise MemoryError("cannot create a cancel token")

    def cancel(self) -> None:
        self._set.set()
        self._lib.quorvel_cancel_request(self._handle)

    set = cancel  # the spelling of threading.Event

    def is_set(self) -> bool:
        return self._set.is_set()

    def reset(self) -> None:
        self._set.clear()
        self._lib.quorvel_cancel_reset(self._handle)

    def __del__(self) -> None:
        handle = getattr(self, "_handle", None)
        if handle:
            self._lib.quorvel_cancel_destroy(handle)


Cancel = Union[CancelToken, threading.Event, None]


def _check_cancel(cancel: Cancel) -> None:
    if cancel is not None and not isinstance(cancel, (CancelToken, threading.Event)):
        raise TypeError("cancel must be a threading.Event or a quorvel.CancelToken")


def _run_cancellable(calls: Sequence[Callable[[CancelToken], None]], cancel: Cancel) -> None:
    """Runs each call on a thread of its own, with a token of its own, and waits for them all.

    A call may cancel its own token (its progress callback raised) without
    touching the others or the caller's. The caller's cancel, an Event or a
    CancelToken, is watched while waiting and set on every call's token, and
    Ctrl-C cancels them all too: the calls end within 200 ms, then
    KeyboardInterrupt goes on.
    """
    _check_cancel(cancel)
    tokens = [CancelToken() for _ in calls]

    def cancel_all() -> None:
        for token in tokens:
            token.cancel()

    if cancel is not None and cancel.is_set():
        cancel_all()  # a set cancel ends the calls at once
    threads = [
        threading.Thread(target=call, args=(token,), daemon=True) for call, token in zip(calls, tokens)
    ]
    for thread in threads:
        thread.start()
    try:
        for thread in threads:
            while thread.is_alive():
                thread.join(_POLL_SECONDS)
                if cancel is not None and cancel.is_set():
                    cancel_all()
    except BaseException:
        cancel_all()
        for thread in threads:
            thread.join()
        raise


# The images whose flash is running a progress callback on this thread.
_in_callback = threading.local()


def _images_in_callback() -> List[Image]:
    images: Optional[List[Image]] = getattr(_in_callback, "images", None)
    if images is None:
        images = _in_callback.images = []
    return images


# ---- Images -----------------------------------------------------------------


class Image:
    """A firmware image for the CODE area, held by the library."""

    def __init__(self, handle: ctypes.c_void_p) -> None:
        self._lib = _lib()
        self._handle: Optional[ctypes.c_void_p] = handle
        self._flashes = 0  # flashes using the image now
        self._idle = threading.Condition()  # notified when _flashes drops to 0

    @classmethod
    def load(cls, path: PathLike) -> Image:
        """Reads a raw binary or Intel HEX file by quorvel-cli's rules; ImageError if unusable."""
        handle = ctypes.c_void_p()
        c_result = _new_result()
        status = _lib().quorvel_image_load(_port_bytes(path), ctypes.byref(handle), ctypes.byref(c_result))
        if status != STATUS_OK:
            raise _error(c_result, os.fspath(path))
        return cls(handle)

    @classmethod
    def from_bytes(cls, data: bytes, address: int = 0x108000) -> Image:
        """An image of ``data`` at device ``address``, inside the CODE area; ImageError if not."""
        if not 0 <= address <= 0xFFFFFFFF:
            raise ImageError(f"address {address:#x} is not a device address", STATUS_IMAGE)
        data = bytes(data)
        handle = ctypes.c_void_p()
        c_result = _new_result()
        status = _lib().quorvel_image_from_bytes(
            data, len(data), address, ctypes.byref(handle), ctypes.byref(c_result)
        )
        if status != STATUS_OK:
            raise _error(c_result, "image")
        return cls(handle)

    @property
    def size(self) -> int:
        """The image's data bytes."""
        size = ctypes.c_int64()
        with self._idle:
            self._lib.quorvel_image_bytes(self._checked(), ctypes.byref(size))
        return size.value

    def close(self) -> None:
        """Frees the image once no flash uses it: waits for the flashes running.

        From a progress callback of a flash that uses the image it raises
        RuntimeError instead, since it would wait for itself.
        """
        with self._idle:
            if self._flashes and any(image is self for image in _images_in_callback()):
                raise RuntimeError("Image.close() from a progress callback of a flash using the image")
            while self._flashes:
                self._idle.wait()
            handle, self._handle = self._handle, None
        if handle:
            self._lib.quorvel_image_destroy(handle)

    def _acquire(self, flashes: int = 1) -> None:
        """Holds the image for `flashes` flashes, each ending with _release; ValueError when closed."""
        with self._idle:
            self._checked()
            self._flashes += flashes

    def _release(self) -> None:
        with self._idle:
            self._flashes -= 1
            if self._flashes == 0:
                self._idle.notify_all()

    def _checked(self) -> ctypes.c_void_p:
        if not self._handle:
            raise ValueError("the image is closed")
        return self._handle

    def __enter__(self) -> Image:
        return self

    def __exit__(self, *exception: object) -> None:
        self.close()

    def __del__(self) -> None:
        if getattr(self, "_handle", None) and hasattr(self, "_idle"):
            self.close()


# ---- Ports and devices ------------------------------------------------------


def ports() -> List[Port]:
    """The serial ports present, without opening them."""
    capacity = 16
    count = ctypes.c_size_t()
    while True:
        entries = (_CPort * capacity)()
        for entry in entries:
            entry.size = ctypes.sizeof(_CPort)
        status = _lib().quorvel_ports(entries, capacity, ctypes.byref(count))
        if status != STATUS_OK:
            raise QuorvelError(result_text(status), status)
        if count.value <= capacity:
            break
        capacity = count.value
    return [
        Port(
            name=_text(entry.name),
            description=_text(entry.description),
            usb_id=_text(entry.usb_id),
            serial_number=_text(entry.serial_number),
            location=_text(entry.location),
            latency_timer_ms=entry.latency_timer_ms if entry.latency_timer_ms >= 0 else None,
        )
        for entry in entries[: count.value]
    ]


def identify(port: PathLike, *, cancel: Cancel = None) -> str:
    """What answers on the port: "boot v1.2.3.4" or "app <version text>".

    Raises PortInUse, PortError or NoDevice when nothing can be asked.
    """
    c_result = _new_result()

    def call(token: CancelToken) -> None:
        _lib().quorvel_identify(_port_bytes(port), token._handle, ctypes.byref(c_result))

    _run_cancellable([call], cancel)
    if c_result.status != STATUS_OK:
        raise _error(c_result, os.fspath(port))
    return _text(c_result.device_after)


# ---- Flashing ---------------------------------------------------------------


def _serial_fields(serial: Optional[Serial]) -> Tuple[int, int]:
    """The C options' serial_format and serial_width."""
    if serial is None:
        return 0, 0
    if serial.format in _SERIAL_FORMATS:
        return _SERIAL_FORMATS[serial.format], 0
    kind, _, width = serial.format.partition(":")
    if kind == "ascii" and width.isdigit():
        return _SERIAL_ASCII, int(width)
    raise ValueError(f"serial format {serial.format!r}: u32le, u32be or ascii:W")


class _Flash:
    """One port's flash on a thread of its own, and what came of it."""

    def __init__(
        self,
        port: PathLike,
        image: Image,
        progress: Optional[Progress],
        pauses: int,
        serial: Optional[Serial],
    ) -> None:
        self.port = port
        self.image = image
        self.progress = progress
        self.pauses = pauses
        self.serial = serial
        self.c_result = _new_result()
        self.callback_error: Optional[BaseException] = None

    def __call__(self, token: CancelToken) -> None:
        """Runs on the port's thread; the caller took a hold of the image for it (Image._acquire)."""
        try:
            self._run(token)
        finally:
            self.image._release()

    def _run(self, token: CancelToken) -> None:
        options = _CFlashOptions()
        options.size = ctypes.sizeof(_CFlashOptions)
        options.cancel = token._handle
        options.pauses = self.pauses
        if self.serial is not None:
            options.serial_format, options.serial_width = _serial_fields(self.serial)
            options.serial_address = self.serial.address
            options.serial_number = self.serial.number
        if self.progress is not None:
            progress = self.progress
            running = _images_in_callback()

            def report(_user: Optional[int], sent: int, total: int) -> None:
                # An exception cannot cross the C library: keep it, cancel this
                # port's own token, raise it later.
                running.append(self.image)
                try:
                    progress(sent, total)
                except BaseException as error:
                    if self.callback_error is None:
                        self.callback_error = error
                    token.cancel()
                finally:
                    running.pop()

            options.progress = _CProgress(report)  # kept alive by `options` during the call
        _lib().quorvel_flash(
            _port_bytes(self.port), self.image._handle, ctypes.byref(options), ctypes.byref(self.c_result)
        )

    def result(self) -> Result:
        """The port's Result; ``error`` set when its progress callback raised."""
        plain = self._plain_result()
        if self.callback_error is None:
            return plain
        error = self.callback_error
        cancelled = Cancelled(
            f"{plain.port}: cancelled, the progress callback raised {type(error).__name__}: {error}",
            STATUS_CANCELLED,
            plain.code,
            plain.os_error,
            plain,
        )
        cancelled.__cause__ = error
        return dataclasses.replace(plain, error=cancelled)

    def _plain_result(self) -> Result:
        c = self.c_result
        return Result(
            port=os.fspath(self.port),
            device=_text(c.device),
            usb_id=_text(c.usb_id),
            serial_number=_text(c.serial_number),
            ok=bool(c.ok),
            code=c.code,
            os_error=c.os_error,
            message=_text(c.message),
            device_before=_text(c.device_before),
            device_after=_text(c.device_after),
            bytes=c.bytes,
            seconds=c.seconds,
            bytes_per_second=c.bytes / c.seconds if c.seconds > 0 else 0.0,
            status=c.status,
            detail=_text(c.detail),
        )


def _check_flash_arguments(image: Image, cancel: Cancel, pauses: str, serial: Optional[Serial]) -> int:
    if not isinstance(image, Image):
        raise TypeError("image must be a quorvel.Image")
    _check_cancel(cancel)
    if pauses not in _PAUSES:
        raise ValueError("pauses must be 'device' or 'simulator'")
    _serial_fields(serial)
    return _PAUSES[pauses]


def flash(
    port: PathLike,
    image: Image,
    *,
    progress: Optional[Progress] = None,
    cancel: Cancel = None,
    pauses: str = "device",
    serial: Optional[Serial] = None,
) -> Result:
    """Flashes ``image`` into the device on ``port``, as ``quorvel-cli flash`` does.

    ``progress(sent_bytes, total_bytes)`` is called after every data packet,
    on a thread of the library's. ``cancel`` (a threading.Event or a
    CancelToken) ends the flash within 200 ms, as does Ctrl-C. ``pauses``
    "simulator" shortens the device's pauses (3 s and 7 s) for the simulator:
    never with a real device. Returns the Result of a written device; raises
    a QuorvelError otherwise, its ``result`` the Result.
    """
    job = _Flash(port, image, progress, _check_flash_arguments(image, cancel, pauses, serial), serial)
    image._acquire()  # released by the job when its flash has returned
    _run_cancellable([job], cancel)
    if job.callback_error is not None:
        raise job.callback_error
    result = job.result()
    if not result.ok:
        raise _error(job.c_result, result.port, result)
    return result


def flash_many(
    ports: Sequence[PathLike],
    image: Image,
    *,
    progress: Optional[PortProgress] = None,
    cancel: Cancel = None,
    pauses: str = "device",
) -> List[Result]:
    """Flashes ``image`` into the devices on ``ports`` at once, one thread per port.

    ``progress(port, sent_bytes, total_bytes)`` is called from each port's
    thread; an exception it raises cancels that port alone, and its Result's
    ``error`` is a Cancelled chained to the exception. Returns one Result per
    port, in order, failures included: look at ``ok`` and ``status``.
    ``cancel`` and ``pauses`` are as for flash().
    """
    pause_choice = _check_flash_arguments(image, cancel, pauses, None)

    def port_progress(port: PathLike) -> Optional[Progress]:
        if progress is None:
            return None
        name = os.fspath(port)
        return lambda sent, total: progress(name, sent, total)

    jobs = [_Flash(port, image, port_progress(port), pause_choice, None) for port in ports]
    image._acquire(len(jobs))  # each job releases its hold when its flash has returned
    _run_cancellable(jobs, cancel)
    return [job.result() for job in jobs]


# ---- Stations ---------------------------------------------------------------

# Last: the module uses the names above.
from .station import ArgumentError, RecordsError, Station, StationEvent  # noqa: E402

__all__ += ["ArgumentError", "RecordsError", "Station", "StationEvent"]
