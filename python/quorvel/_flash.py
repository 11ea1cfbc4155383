"""Ports, devices and flashing: what answers on a port, and the flash of one
port or of several at once."""

from __future__ import annotations

import ctypes
import dataclasses
import os
from typing import List, Optional, Sequence, Tuple

from ._cancel import Cancel, CancelToken, _check_cancel, _images_in_callback, _run_cancellable
from ._errors import Cancelled, QuorvelError, _error
from ._image import Image
from ._native import (
    _PAUSES,
    STATUS_CANCELLED,
    STATUS_OK,
    PathLike,
    PortProgress,
    Progress,
    _CFlashOptions,
    _CPort,
    _CProgress,
    _lib,
    _new_result,
    _port_bytes,
    _text,
    result_text,
)
from ._values import Port, Result, Serial



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




def _serial_fields(serial: Optional[Serial]) -> Tuple[int, int]:
    """The C options' serial_format and serial_width, read by the library."""
    if serial is None:
        return 0, 0
    kind, width = ctypes.c_int(), ctypes.c_int()
    status = _lib().quorvel_serial_format(str(serial.format).encode("utf-8"), ctypes.byref(kind), ctypes.byref(width))
    if status != STATUS_OK:
        raise ValueError(f"serial format {serial.format!r}: u32le, u32be or ascii:W")
    return kind.value, width.value


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
