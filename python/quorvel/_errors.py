"""The exceptions a failure raises, each for an outcome of the library's result."""

from __future__ import annotations

from typing import TYPE_CHECKING, Dict, Optional, Type

from ._native import (
    _BAD_IMAGE,
    _CANCELLED,
    _NO_BOOT_LOADER,
    _NO_DEVICE,
    _PORT_IN_USE,
    _PORT_LOST,
    _PORT_NOT_OPENED,
    _SWITCH_REFUSED,
    _TRANSFER_FAILED,
    _CResult,
    _text,
    result_text,
)

if TYPE_CHECKING:
    from ._values import Result



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


def _error(c_result: _CResult, context: str, result: Optional[Result] = None) -> QuorvelError:
    kind = _ERRORS.get(c_result.outcome, QuorvelError)
    reason = _text(c_result.detail) or _text(c_result.message) or result_text(c_result.status, c_result.code)
    return kind(f"{context}: {reason}", c_result.status, c_result.code, c_result.os_error, result)
