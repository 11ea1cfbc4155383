"""Firmware images held by the library."""

from __future__ import annotations

import ctypes
import os
import threading
from typing import Optional

from ._cancel import _images_in_callback
from ._errors import ImageError, _error
from ._native import STATUS_IMAGE, STATUS_OK, PathLike, _lib, _new_result, _port_bytes



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
