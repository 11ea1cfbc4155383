"""report --html opened in the browser: its four charts have drawn and every
figure in its tables is the one report --json gives."""

from __future__ import annotations

import json
import subprocess

from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

from conftest import CLI, screenshot

CHARTS = ["yield-chart", "cycle-chart", "throughput-chart", "reasons-chart"]

# Whether a canvas holds any drawn pixel.
CANVAS_DRAWN = """
const canvas = document.getElementById(arguments[0]);
const pixels = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
for (let i = 3; i < pixels.length; i += 4) if (pixels[i] !== 0) return true;
return false;
"""


def record(event, station, port, unit, attempt, minute, second, ok=True, serial=None,
           reason=None):
    line = {"event": event, "time": f"2026-12-07T10:{minute:02d}:{second:02d}.000Z",
            "station": station, "port": port, "unit": unit, "attempt": attempt,
            "serial": serial, "image_path": "fw.bin", "image_sha256": "ab",
            "image_file_sha256": "ab", "image_bytes": 6000}
    if event == "result":
        line.update({"ok": ok, "code": 0 if ok else -9978, "reason": reason})
    return json.dumps(line)


def shift_log() -> str:
    """Two stations, three slots, 40 minutes: retries, failures, an interrupted
    attempt and a serial number given twice."""
    lines = []
    unit = {"line 1": 0, "line 2": 0}
    for minute in range(0, 40, 2):
        for station, port, offset in (("line 1", "COM5", 0), ("line 1", "COM6", 20),
                                      ("line 2", "COM5", 40)):
            unit[station] += 1
            number = unit[station]
            serial = 1000 + number if station == "line 1" else 5000 + number
            lines.append(record("start", station, port, number, 1, minute, offset, serial=serial))
            if number % 7 == 0:
                lines.append(record("result", station, port, number, 1, minute, offset + 9,
                                    ok=False, serial=serial, reason="device refused"))
                lines.append(record("start", station, port, number, 2, minute, offset + 10,
                                    serial=serial))
                lines.append(record("result", station, port, number, 2, minute, offset + 19,
                                    ok=number % 2 == 0, serial=serial, reason=None
                                    if number % 2 == 0 else "no device"))
            else:
                lines.append(record("result", station, port, number, 1, minute, offset + 15,
                                    ok=number % 5 != 0, serial=serial,
                                    reason=None if number % 5 else "lost port"))
    lines.append(record("start", "line 2", "COM5", 99, 1, 41, 0, serial=1003))
    return "\n".join(lines) + "\nnot a record\n"


def figures_shown(browser, table: str) -> list:
    rows = []
    for row in browser.find_elements(By.CSS_SELECTOR, f"#{table} tr[data-row]"):
        cells = row.find_elements(By.CSS_SELECTOR, "td[data-key]")
        rows.append({cell.get_attribute("data-key"): json.loads(cell.get_attribute("data-value"))
                     for cell in cells})
    return rows


def figures_of(summary: dict) -> dict:
    cycles = summary["cycle_time"] or {}
    return {"units": summary["units"], "passed": summary["passed"], "failed": summary["failed"],
            "yield_percent": summary["yield_percent"],
            "boards_per_hour": summary["boards_per_hour"],
            "cycle_median": cycles.get("median_seconds"), "cycle_p95": cycles.get("p95_seconds"),
            "serials": summary["serials"]}


def test_the_report_page_draws_its_charts_and_shows_the_json_reports_figures(browser, tmp_path):
    log = tmp_path / "shift.jsonl"
    log.write_text(shift_log())
    page = tmp_path / "shift.html"
    made = subprocess.run([CLI, "report", str(log), "--json", "--html", str(page)],
                          capture_output=True, text=True, timeout=30)
    assert made.returncode == 0, made.stderr
    document = json.loads(made.stdout)
    assert document["duplicate_serials"] and document["interrupted"]

    browser.get(page.as_uri())
    WebDriverWait(browser, 10).until(
        lambda d: d.execute_script("return document.body.dataset.ready === 'true'"))
    for chart in CHARTS:
        assert browser.execute_script(CANVAS_DRAWN, chart), chart
    assert browser.execute_script(
        "return Chart.getChart('yield-chart').data.labels.length") == 3
    assert figures_shown(browser, "overall") == [figures_of(document["overall"])]
    assert figures_shown(browser, "stations") == [figures_of(s) for s in document["stations"]]
    assert figures_shown(browser, "slots") == [figures_of(s) for s in document["slots"]]
    warnings = browser.find_element(By.ID, "warnings").text
    assert "Interrupted" in warnings and "1003" in warnings
    screenshot(browser, "report_page")


def test_a_report_page_of_an_empty_log_still_opens(browser, tmp_path):
    log = tmp_path / "empty.jsonl"
    log.write_text("")
    page = tmp_path / "empty.html"
    made = subprocess.run([CLI, "report", str(log), "--html", str(page)],
                          capture_output=True, text=True, timeout=30)
    assert made.returncode == 0, made.stderr
    browser.get(page.as_uri())
    WebDriverWait(browser, 10).until(
        lambda d: d.execute_script("return document.body.dataset.ready === 'true'"))
    assert figures_shown(browser, "overall")[0]["units"] == 0
    unwritable = subprocess.run([CLI, "report", str(log), "--html", str(tmp_path / "no/x.html")],
                                capture_output=True, text=True, timeout=30)
    assert unwritable.returncode == 5 and "cannot write" in unwritable.stderr
