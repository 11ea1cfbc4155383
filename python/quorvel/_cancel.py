"""Cancelling: the CancelToken, and the calls run on threads of their own
while the caller's cancel and Ctrl-C are watched."""

from __future__ import annotations

import ctypes
import threading
from typing import TYPE_CHECKING, Callable, List, Optional, Sequence, Union

from ._native import _POLL_SECONDS, STATUS_OK, _lib

if TYPE_CHECKING:
    from ._image import Image



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
