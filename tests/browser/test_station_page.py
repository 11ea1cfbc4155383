"""The station's live page in a real browser: a board placed passes on its
tile within a second of its record, a failed board shows FAIL and its
reason, and the counters follow."""

from __future__ import annotations

import datetime
import json
import urllib.request

from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

from conftest import Station, control, screenshot, wait_until

# A board passes after its transfer and the 7 s pause that follows it.
BOARD_SECONDS = 30

# Notes the browser's clock when a slot's tile first shows a result.
WATCH_RESULTS = """
window.resultSeen = {};
const tiles = document.querySelectorAll('#slots .tile');
tiles.forEach(function (tile, index) {
  const result = tile.querySelector('.result');
  new MutationObserver(function () {
    const text = result.dataset.result;
    if (text && !(index + text in window.resultSeen)) window.resultSeen[index + text] = Date.now();
  }).observe(result, { attributes: true, childList: true, characterData: true, subtree: true });
});
"""


def record_millis(record: dict) -> int:
    at = datetime.datetime.strptime(record["time"], "%Y-%m-%dT%H:%M:%S.%fZ")
    return int(at.replace(tzinfo=datetime.timezone.utc).timestamp() * 1000)


def tile_text(driver, index: int, part: str) -> str:
    return driver.find_elements(By.CSS_SELECTOR, "#slots .tile")[index].find_element(
        By.CLASS_NAME, part).text


def test_a_placed_board_passes_on_its_tile_and_a_failed_one_shows_its_reason(
        start_device, browser, tmp_path):
    boards = [start_device("--start", "none") for _ in range(2)]
    station = Station(tmp_path, [board.port for board in boards])
    try:
        browser.get(station.url)
        wait = WebDriverWait(browser, 10)
        wait.until(lambda d: len(d.find_elements(By.CSS_SELECTOR, "#slots .tile")) == 2)
        wait.until(lambda d: d.find_element(By.ID, "connection").text == "live")
        assert browser.find_element(By.ID, "station").text == "bench 7"
        assert [tile_text(browser, i, "port") for i in range(2)] == [b.port for b in boards]
        browser.execute_script(WATCH_RESULTS)

        control(boards[0], "place boot")
        assert wait_until(lambda: station.records(), BOARD_SECONDS), station.stderr()
        record = station.records()[0]
        assert record["ok"] and record["port"] == boards[0].port
        WebDriverWait(browser, 5).until(
            lambda d: d.execute_script("return window.resultSeen['0PASS'] || null"))
        shown_after_ms = browser.execute_script("return window.resultSeen['0PASS']") - \
            record_millis(record)
        assert shown_after_ms < 1000, shown_after_ms
        assert tile_text(browser, 0, "result") == "PASS"
        assert "REMOVE BOARD" in tile_text(browser, 0, "remove")
        wait.until(lambda d: d.find_element(By.ID, "passed").text == "1")
        assert browser.find_element(By.ID, "yield").text == "100.0 %"
        screenshot(browser, "station_page_pass")

        control(boards[1], "fault data-status=2@1\nplace boot")
        assert wait_until(lambda: len(station.records()) == 2, BOARD_SECONDS), station.stderr()
        failure = station.records()[1]
        assert not failure["ok"] and failure["reason"]
        wait.until(lambda d: tile_text(d, 1, "result") == "FAIL")
        assert tile_text(browser, 1, "reason") == failure["reason"]
        wait.until(lambda d: d.find_element(By.ID, "failed").text == "1")
        assert browser.find_element(By.ID, "yield").text == "50.0 %"
        # The failure reasons' chart has drawn its bar.
        wait.until(lambda d: d.execute_script(
            "const c = Chart.getChart('reasons'); return c && c.data.labels.length === 1 && "
            "c.data.labels[0] === arguments[0]", failure["reason"]))
        screenshot(browser, "station_page_fail")

        with urllib.request.urlopen(station.url + "api/state", timeout=5) as response:
            state = json.load(response)
        assert (state["passed"], state["failed"]) == (1, 1)
        assert [slot["last_result"]["text"] for slot in state["slots"]] == ["PASS", "FAIL"]
    finally:
        status = station.stop()
    assert status == 0, station.stderr()
