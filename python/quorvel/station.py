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
import threading
from typing import Iterator, Optional, Sequence, Union

from ._errors import QuorvelError, _error
from ._flash import _serial_fields
from ._image import Image
from ._native import STATUS_ARGUMENTS, STATUS_OK, PathLike, _lib, _new_result, _text
from ._station_native import (
    _EVENT_ENDED,
    _EVENT_NONE,
    _OUTCOME_BAD_ARGUMENTS,
    _OUTCOME_DATABASE,
    _OUTCOME_RECORDS,
    _WAIT_MS,
    ArgumentError,
    DatabaseError,
    RecordsError,
    StationEvent,
    _c_options,
    _CStationEvent,
    _CStationOptions,
    _event,
    _path_bytes,
    _set_database,
    _station_lib,
)
from ._values import Serial

__all__ = ["ArgumentError", "DatabaseError", "RecordsError", "Station", "StationEvent"]


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

    ``db`` (a libpq URL or key=value string) sends the records to the line's
    database, each wait on it lasting at most ``db_timeout`` seconds; without
    ``log``, a default log in the program's data folder holds what is not
    sent yet. ``serial_pool`` takes the serial numbers from that pool of the
    database in place of ``serial_file`` (with ``serial_at``), holding
    ``serial_lease`` numbers at a time for outages of the database.

    Raises ArgumentError (status 2), ImageError (3), PortError (4),
    RecordsError (5) or DatabaseError (6) before any board is touched.
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
        db: Optional[str] = None,
        db_timeout: float = 10.0,
        serial_pool: Optional[str] = None,
        serial_lease: int = 1,
    ) -> None:
        self._lib = _station_lib()
        self._handle = ctypes.c_void_p()
        # stop() and abort() may come from any thread while another waits for
        # an event; close() waits for both, so the handle is never used freed.
        self._handle_lock = threading.Lock()
        self._waiting = threading.Lock()
        self.status: Optional[int] = None
        options = _c_options(ports, log, station, retries, limit, pauses)
        _set_database(options, db, db_timeout, serial_pool, serial_lease)
        if serial_file is not None and serial_pool is not None:
            raise ArgumentError("serial_file and serial_pool exclude each other", STATUS_ARGUMENTS)
        numbers_from = serial_file if serial_file is not None else serial_pool
        if numbers_from is not None or serial_at is not None:
            if numbers_from is None or serial_at is None:
                raise ArgumentError("serial_at goes with serial_file or serial_pool",
                                    STATUS_ARGUMENTS)
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
            kinds = {_OUTCOME_BAD_ARGUMENTS: ArgumentError, _OUTCOME_RECORDS: RecordsError,
                     _OUTCOME_DATABASE: DatabaseError}
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
