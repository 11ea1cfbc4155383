"""quorvel.Station against simulated boards: units flashed with their serial
numbers and recorded, a stop, an abort, and the start-up refusals."""

from __future__ import annotations

import fcntl
import json
import os
import threading
import time

import pytest

import quorvel

IMAGE = bytes((i * 7 + 1) & 0xFF for i in range(8000))
SERIAL_AT = 0x108010
LIMIT_SECONDS = 30


def log_records(path) -> list:
    return [json.loads(line) for line in path.read_text().splitlines()]


def by_unit(records: list) -> list:
    return sorted(records, key=lambda record: (record["unit"], record["event"]))


def with_serial(image: bytes, serial: int) -> bytes:
    offset = SERIAL_AT - 0x108000
    return image[:offset] + serial.to_bytes(4, "little") + image[offset + 4:]


def test_two_slots_flash_each_board_once_with_its_serial_and_every_record_is_the_logs(
        start_device, tmp_path):
    devices = [start_device("--start", "boot") for _ in range(2)]
    ports = [device.port for device in devices]
    (tmp_path / "image.bin").write_bytes(IMAGE)
    (tmp_path / "serial.txt").write_text("1000\n")
    log = tmp_path / "line.jsonl"
    events = []
    with quorvel.Station(ports, tmp_path / "image.bin", log=log, station="py-test",
                         serial_file=tmp_path / "serial.txt", serial_at=SERIAL_AT,
                         pauses="simulator") as station:
        watchdog = threading.Timer(LIMIT_SECONDS, station.abort)  # a hung station fails, not waits
        watchdog.start()
        for event in station:
            events.append(event)
            results = [e for e in events if e.record and e.record["event"] == "result"]
            if len(results) == 2:
                station.stop()
        watchdog.cancel()
        assert station.status == 0, events

    assert events[-1].kind == "ended" and (events[-1].passed, events[-1].failed) == (2, 0)
    records = [event.record for event in events if event.kind == "record"]
    assert all(event.logged for event in events if event.kind == "record")
    assert by_unit(records) == by_unit(log_records(log))
    assert [record["event"] for record in by_unit(records)] == ["result", "start"] * 2
    results = {r["port"]: r for r in records if r["event"] == "result"}
    assert set(results) == set(ports)
    assert all(r["ok"] and r["station"] == "py-test" and r["image_bytes"] == len(IMAGE)
               for r in results.values())
    assert sorted(r["serial"] for r in results.values()) == [1000, 1001]
    assert (tmp_path / "serial.txt").read_text() == "1002\n"
    for device in devices:
        assert device.flash_equals(with_serial(IMAGE, results[device.port]["serial"]))
    passes = [e for e in events if e.kind == "slot" and e.state == "PASS"]
    assert sorted(e.port for e in passes) == sorted(ports)
    assert all(0 <= e.progress <= 100 for e in events if e.kind == "progress")


@pytest.mark.parametrize("how", ["abort", "ctrl-c"])
def test_an_abort_or_ctrl_c_in_the_loop_ends_the_board_in_flight_with_its_record(
        start_device, tmp_path, how):
    # Paced at 115 200 baud, the transfer would take about 6 s.
    device = start_device("--start", "boot", "--baud", "115200")
    log = tmp_path / "line.jsonl"
    station = quorvel.Station([device.port], quorvel.Image.from_bytes(bytes(65536)), log=log,
                              pauses="simulator")
    aborted_at = []

    def run() -> None:
        with station:
            for event in station:
                if event.kind == "progress" and not aborted_at:
                    aborted_at.append(time.monotonic())
                    if how == "ctrl-c":
                        raise KeyboardInterrupt  # as Ctrl-C would, here or while waiting
                    station.abort()

    if how == "ctrl-c":
        with pytest.raises(KeyboardInterrupt):
            run()
    else:
        run()
    assert time.monotonic() - aborted_at[0] < 1
    assert station.status == (130 if how == "abort" else None)
    records = log_records(log)
    assert [record["event"] for record in records] == ["start", "result"]
    assert records[1]["ok"] is False and records[1]["reason"]


def hold(port: str) -> int:
    held = os.open(port, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    fcntl.flock(held, fcntl.LOCK_EX | fcntl.LOCK_NB)
    return held


@pytest.mark.parametrize("case, error, status", [
    ("serial file without a log", quorvel.ArgumentError, 2),
    ("missing serial file", quorvel.RecordsError, 5),
    ("log that cannot be opened", quorvel.RecordsError, 5),
    ("port held by another program", quorvel.PortError, 4),
    ("port given twice", quorvel.ArgumentError, 2),
    ("serial number outside the image", quorvel.ImageError, 3),
    ("serial pool without a database", quorvel.ArgumentError, 2),
    ("serial pool and serial file", quorvel.ArgumentError, 2),
    ("serial lease without a pool", quorvel.ArgumentError, 2),
])
def test_a_station_that_cannot_start_raises_before_any_board_is_touched(
        device, tmp_path, case, error, status):
    serials = tmp_path / "serial.txt"
    serials.write_text("7\n")
    options = {"log": tmp_path / "line.jsonl", "serial_file": serials, "serial_at": SERIAL_AT,
               "pauses": "simulator"}
    if case == "serial file without a log":
        options["log"] = None
    elif case == "missing serial file":
        options["serial_file"] = tmp_path / "none.txt"
    elif case == "log that cannot be opened":
        options["log"] = tmp_path / "no folder" / "line.jsonl"
    elif case == "serial number outside the image":
        options["serial_at"] = 0x108000 + len(IMAGE) - 2
    elif case == "serial pool without a database":
        options.update(serial_file=None, serial_pool="lot")
    elif case == "serial pool and serial file":
        options.update(db="host=/nonexistent", serial_pool="lot")
    elif case == "serial lease without a pool":
        options.update(db="host=/nonexistent", serial_lease=5)
    ports = [device.port] * (2 if case == "port given twice" else 1)
    held = hold(device.port) if case == "port held by another program" else None
    try:
        with pytest.raises(error) as raised:
            quorvel.Station(ports, quorvel.Image.from_bytes(IMAGE), **options)
    finally:
        if held is not None:
            os.close(held)
    assert raised.value.status == status and str(raised.value)
    assert serials.read_text() == "7\n" and not (tmp_path / "line.jsonl").exists()
    assert "boot rx" not in device.transcript()
