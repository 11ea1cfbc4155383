"""The quorvel package against simulated devices."""

from __future__ import annotations

import ctypes
import errno
import fcntl
import os
import pathlib
import re
import threading
import time

import pytest

import quorvel

IMAGE = bytes((i * 13 + 5) & 0xFF for i in range(20000))


def strictly_rising(values: list) -> bool:
    return all(earlier < later for earlier, later in zip(values, values[1:]))


def test_flash_writes_the_image_and_progress_rises_to_the_total(device):
    seen = []
    result = quorvel.flash(device.port, quorvel.Image.from_bytes(IMAGE),
                           progress=lambda sent, total: seen.append((sent, total)),
                           pauses="simulator")
    assert (result.ok, result.status, result.code, result.bytes) == (True, 0, 0, len(IMAGE))
    assert (result.device, result.usb_id) == (device.port, "")
    assert result.device_after.startswith("boot v")
    assert device.flash_equals(IMAGE)
    sent = [sent for sent, _ in seen]
    assert len(sent) > 1 and strictly_rising(sent) and sent[-1] == len(IMAGE)
    assert {total for _, total in seen} == {len(IMAGE)}


def test_four_boards_at_once_each_with_its_own_progress(start_device):
    # Paced at 115 200 baud, each transfer keeps its line busy for almost a
    # second. Side by side, which they only are while the library's calls
    # leave the GIL free, the four take little more than that; one after
    # another they would take four times as long.
    devices = [start_device("--start", "boot", "--baud", "115200") for _ in range(4)]
    ports = [device.port for device in devices]
    seen = {port: [] for port in ports}
    image = IMAGE[:10000]
    line_seconds = len(image) * 10 / 115200
    started = time.monotonic()
    results = quorvel.flash_many(ports, quorvel.Image.from_bytes(image), pauses="simulator",
                                 progress=lambda port, sent, total: seen[port].append(sent))
    assert time.monotonic() - started < 2.5 * line_seconds
    assert [result.port for result in results] == ports
    assert all(result.ok and result.bytes == len(image) for result in results)
    for device in devices:
        sent = seen[device.port]
        assert strictly_rising(sent) and sent[-1] == len(image), device.port
        assert device.flash_equals(image), device.port


def test_a_cancel_from_another_thread_ends_the_flash_within_200_ms_and_frees_the_port(
        start_device):
    # Paced at 115 200 baud, the transfer would take about 6 s.
    device = start_device("--start", "boot", "--baud", "115200")
    cancel = threading.Event()
    writing = threading.Event()
    ended = {}

    def flash():
        try:
            quorvel.flash(device.port, quorvel.Image.from_bytes(bytes(65536)),
                          progress=lambda sent, total: writing.set(), cancel=cancel,
                          pauses="simulator")
        except quorvel.QuorvelError as error:
            ended["error"] = error
        ended["at"] = time.monotonic()

    flashing = threading.Thread(target=flash)
    flashing.start()
    assert writing.wait(10)
    cancelled_at = time.monotonic()
    cancel.set()
    flashing.join(5)
    assert isinstance(ended.get("error"), quorvel.Cancelled)
    assert ended["error"].status == 130
    assert ended["at"] - cancelled_at < 0.2
    assert quorvel.identify(device.port).startswith("boot v")


def test_a_raising_callback_cancels_its_own_port_and_the_other_goes_on(start_device):
    # Paced at 115 200 baud, each transfer takes almost a second: the other
    # port is still writing when the first one's callback raises.
    failing, going_on = (start_device("--start", "boot", "--baud", "115200") for _ in range(2))
    image = IMAGE[:10000]
    raised = ValueError("the bench's display is gone")

    def progress(port, sent, total):
        if port == failing.port:
            raise raised

    results = quorvel.flash_many([failing.port, going_on.port], quorvel.Image.from_bytes(image),
                                 progress=progress, pauses="simulator")
    assert (results[0].ok, results[0].status) == (False, 130)
    assert isinstance(results[0].error, quorvel.Cancelled)
    assert results[0].error.__cause__ is raised
    assert (results[1].ok, results[1].error) == (True, None)
    assert going_on.flash_equals(image)


def test_a_raising_callback_leaves_the_callers_cancel_token_unset(device):
    token = quorvel.CancelToken()
    image = quorvel.Image.from_bytes(IMAGE)

    def progress(sent, total):
        raise KeyError(sent)

    with pytest.raises(KeyError):
        quorvel.flash(device.port, image, progress=progress, cancel=token, pauses="simulator")
    assert not token.is_set()
    assert quorvel.flash(device.port, image, cancel=token, pauses="simulator").ok


def test_close_waits_for_the_flash_using_the_image_and_refuses_from_its_callback(start_device):
    device = start_device("--start", "boot", "--baud", "115200")
    image = quorvel.Image.from_bytes(IMAGE[:10000])
    with pytest.raises(RuntimeError):
        quorvel.flash(device.port, image, progress=lambda sent, total: image.close(),
                      pauses="simulator")

    seen = []
    writing = threading.Event()
    ended = {}

    def flash():
        ended["result"] = quorvel.flash(device.port, image, pauses="simulator",
                                        progress=lambda sent, total: (seen.append(sent), writing.set()))

    flashing = threading.Thread(target=flash)
    flashing.start()
    assert writing.wait(10)
    image.close()
    assert seen[-1] == 10000  # the whole transfer was over before close() returned
    flashing.join(10)
    assert ended["result"].ok
    with pytest.raises(ValueError):
        image.size


@pytest.mark.parametrize("make_image", [
    lambda folder: quorvel.Image.load(write(folder / "bad.hex", b":10000000FFFF\n")),
    lambda folder: quorvel.Image.load(write(folder / "empty.bin", b"")),
    lambda folder: quorvel.Image.load(write(folder / "large.bin", bytes(0x34001))),
    lambda folder: quorvel.Image.from_bytes(b"\x01\x02", address=0x13BFFF),
], ids=["bad-hex", "no-bytes", "too-large", "outside-code-area"])
def test_a_bad_image_raises_image_error_before_any_port_is_opened(device, tmp_path, make_image):
    before = device.transcript()
    with pytest.raises(quorvel.ImageError) as raised:
        quorvel.flash(device.port, make_image(tmp_path), pauses="simulator")
    assert raised.value.status == 3
    assert device.transcript() == before


def test_a_serial_number_outside_the_image_raises_image_error_before_the_port_is_opened(device):
    before = device.transcript()
    with pytest.raises(quorvel.ImageError):
        quorvel.flash(device.port, quorvel.Image.from_bytes(bytes(16)),
                      serial=quorvel.Serial(number=7, address=0x108010), pauses="simulator")
    assert device.transcript() == before


def test_a_held_port_raises_port_in_use(device):
    held = os.open(device.port, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    try:
        fcntl.flock(held, fcntl.LOCK_EX | fcntl.LOCK_NB)
        with pytest.raises(quorvel.PortInUse) as raised:
            quorvel.flash(device.port, quorvel.Image.from_bytes(IMAGE), pauses="simulator")
    finally:
        os.close(held)
    assert (raised.value.status, raised.value.os_error) == (4, errno.EBUSY)
    assert isinstance(raised.value, quorvel.PortError)


def test_ports_lists_the_simulated_board_by_its_com_name(device, monkeypatch):
    monkeypatch.setenv("QUORVEL_PORT_DIR", str(device.folder))
    assert "COM5" in [port.name for port in quorvel.ports()]
    assert quorvel.identify("COM5").startswith("boot v")


def test_the_status_constants_are_the_headers_and_the_librarys_every_one():
    header = pathlib.Path(__file__).resolve().parents[2] / "capi" / "quorvel.h"
    in_header = {name: int(value) for name, value in
                 re.findall(r"#define QUORVEL_STATUS_(\w+) (\d+)", header.read_text())}
    in_package = {name[len("STATUS_"):]: value for name, value in vars(quorvel).items()
                  if name.startswith("STATUS_")}
    assert in_package == in_header
    # The library knows a status exactly when it is in the table behind it.
    known = {status for status in range(256)
             if quorvel._lib().quorvel_result_text(status, 0, ctypes.create_string_buffer(256),
                                                   256) == quorvel.STATUS_OK}
    assert known == set(in_header.values())


def test_a_result_code_reads_as_the_transfers_own_words_under_its_status():
    # OS error 22 during a block and a damaged packet both show as -9978.
    assert quorvel.result_text(4, -9978).startswith("the port failed: ")
    assert quorvel.result_text(4, -9978).endswith("(error 22)")
    assert quorvel.result_text(1, -9978) == "the device refused a data packet (status 2)"
    assert quorvel.result_text(1, -9997) == "the device answered a packet unexpectedly"
    assert quorvel.result_text(1, 0) == quorvel.result_text(1)
    assert quorvel.result_text(6) == "the line's database cannot be used"


def write(path, data: bytes):
    path.write_bytes(data)
    return path
