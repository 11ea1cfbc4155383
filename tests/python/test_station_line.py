"""quorvel.Station on a line's database: units recorded there with serial
numbers from its pool, and a refused login that never shows the password."""

from __future__ import annotations

import glob
import os
import pathlib
import subprocess
import tempfile
import threading
from typing import Iterator

from conftest import wait_until

import pytest

import quorvel

BUILD = pathlib.Path(__file__).resolve().parents[2] / "build/linux"
PG_CLUSTER = os.environ.get("QUORVEL_PG_CLUSTER", str(BUILD / "tests/support/pg-cluster"))
CLI = os.environ.get("QUORVEL_CLI", str(BUILD / "cli/quorvel-cli"))
IMAGE = bytes((i * 5 + 3) & 0xFF for i in range(6000))
SERIAL_AT = 0x108010
LIMIT_SECONDS = 30


def run(*words: str) -> str:
    done = subprocess.run(words, capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, f"{words}: {done.stderr}"
    return done.stdout


@pytest.fixture(scope="module")
def db_url() -> Iterator[str]:
    """A throwaway cluster with the line's tables and the pool "lot" from 1000."""
    if not glob.glob("/usr/lib/postgresql/*/bin/initdb"):
        pytest.skip("PostgreSQL's server is not installed (scripts/install-deps.sh)")
    # Under /tmp itself: the server, run as the postgres user, must reach it.
    folder = tempfile.mkdtemp(prefix="quorvel-pg-py-")
    try:
        url = run(PG_CLUSTER, "start", folder).strip()
        run(CLI, "db", "init", "--db", url)
        run(CLI, "db", "pool", "lot", "--db", url, "--next", "1000", "--last", "1999")
        yield url
    finally:
        subprocess.run([PG_CLUSTER, "stop", folder], capture_output=True, timeout=60)


def sql(url: str, query: str) -> list:
    return run("psql", "-X", "-q", "-At", "-d", url, "-c", query).split()


def test_two_boards_are_numbered_from_the_pool_and_recorded_in_the_database(
        start_device, tmp_path, db_url):
    devices = [start_device("--start", "boot") for _ in range(2)]
    ports = [device.port for device in devices]
    results = []
    with quorvel.Station(ports, quorvel.Image.from_bytes(IMAGE), log=tmp_path / "line.jsonl",
                         station="py-line", db=db_url, db_timeout=5, serial_pool="lot",
                         serial_at=SERIAL_AT, pauses="simulator") as station:
        watchdog = threading.Timer(LIMIT_SECONDS, station.abort)  # a hung station fails, not waits
        watchdog.start()
        for event in station:
            if event.kind == "record" and event.record["event"] == "result":
                results.append(event.record)
                if len(results) == 2:
                    station.stop()
        watchdog.cancel()
        assert station.status == 0

    assert sorted(record["serial"] for record in results) == [1000, 1001]
    assert all(record["ok"] for record in results)
    for device, port in zip(devices, ports):
        serial = next(record["serial"] for record in results if record["port"] == port)
        offset = SERIAL_AT - 0x108000
        assert device.flash_equals(
            IMAGE[:offset] + serial.to_bytes(4, "little") + IMAGE[offset + 4:])
    # The records reach the database from a shipper of their own: waited for.
    query = ("SELECT serial FROM quorvel.records WHERE station = 'py-line' AND event = 'result' "
             "AND ok ORDER BY serial")
    assert wait_until(lambda: sql(db_url, query) == ["1000", "1001"], 10)
    assert sql(db_url, "SELECT serial FROM quorvel.serial_leases WHERE state = 'used' "
                       "ORDER BY serial") == ["1000", "1001"]


def test_a_wrong_password_is_status_6_and_the_password_is_never_shown(device, tmp_path, db_url):
    url = db_url.replace("user=postgres", "user=quorvel_pw") + " password=wrong-pw-5813"
    with pytest.raises(quorvel.DatabaseError) as raised:
        quorvel.Station([device.port], quorvel.Image.from_bytes(IMAGE),
                        log=tmp_path / "line.jsonl", db=url, db_timeout=5, pauses="simulator")
    assert raised.value.status == quorvel.STATUS_DATABASE
    assert "wrong-pw-5813" not in str(raised.value) and "quorvel_pw" in str(raised.value)
    assert "boot rx" not in device.transcript()
