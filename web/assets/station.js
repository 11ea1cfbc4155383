// The station page: the state from /api/state, then every change from the
// event stream /api/events, drawn into the header, one tile per slot and two
// charts. Only text is set (never HTML), so no name on the station can inject markup.
"use strict";
(function () {
  const byId = function (id) { return document.getElementById(id); };
  const tiles = [];
  let throughput = null;
  let reasons = null;
  let shown = null;        // the last state drawn
  let receivedAt = 0;      // when it came, for the run time between events

  function setText(node, text) {
    if (node.textContent !== text) node.textContent = text;
  }

  function duration(seconds) {
    const s = Math.max(0, Math.floor(seconds));
    const h = Math.floor(s / 3600);
    const m = Math.floor((s % 3600) / 60);
    return h + ":" + String(m).padStart(2, "0") + ":" + String(s % 60).padStart(2, "0");
  }

  function number(value, digits) {
    return value === null || value === undefined ? "–" : value.toFixed(digits);
  }

  function part(parent, tag, className) {
    const node = document.createElement(tag);
    node.className = className;
    parent.appendChild(node);
    return node;
  }

  function newTile() {
    const tile = part(byId("slots"), "article", "tile");
    const top = part(tile, "div", "top");
    const parts = { tile: tile, port: part(top, "div", "port"), state: part(top, "div", "state") };
    parts.bar = part(part(tile, "div", "progress"), "div", "bar");
    parts.unit = part(tile, "div", "unit");
    parts.result = part(tile, "div", "result");
    parts.reason = part(tile, "div", "reason");
    parts.remove = part(tile, "div", "remove");
    parts.remove.textContent = "REMOVE BOARD";
    return parts;
  }

  function unitText(unit, serial) {
    if (unit === null) return "";
    return "unit " + unit + (serial === null ? "" : "  ·  serial " + serial);
  }

  function drawSlot(parts, slot) {
    const onSlot = slot.state === "passed" || slot.state === "failed";
    parts.tile.className = "tile state-" + slot.state + (slot.remove_board ? " remove-board" : "");
    parts.tile.dataset.state = slot.state;
    parts.tile.dataset.port = slot.port;
    setText(parts.port, slot.port);
    setText(parts.state, slot.state_text);
    parts.bar.style.width = (slot.percent < 0 ? 0 : slot.percent) + "%";
    const last = slot.last_result;
    setText(parts.unit, slot.unit !== null ? unitText(slot.unit, slot.serial)
                        : last ? "last: " + unitText(last.unit, last.serial) : "");
    setText(parts.result, last ? last.text : "");
    parts.result.className = "result" + (last ? (last.passed ? " pass" : " fail") : "") +
                             (last && !onSlot ? " old" : "");
    parts.result.dataset.result = last ? last.text : "";
    setText(parts.reason, last && !last.passed && onSlot ? last.reason : "");
  }

  function drawCharts(state) {
    if (typeof Chart === "undefined") return;
    if (!throughput) {
      throughput = QuorvelCharts.bar(byId("throughput"), "#3a7bd5", "boards/h");
      reasons = QuorvelCharts.horizontalBar(byId("reasons"), "#d42020", "failed attempts");
    }
    const steps = state.boards_per_hour_by_step;
    throughput.show(QuorvelCharts.stepLabels(state.started_ms, steps.step_seconds, steps.values.length),
                    steps.values.map(function (v) { return Math.round(v * 10) / 10; }));
    reasons.show(state.failure_reasons.map(function (r) { return r.reason; }),
                 state.failure_reasons.map(function (r) { return r.count; }));
  }

  function drawRunTime() {
    if (!shown) return;
    const running = shown.ended ? 0 : (Date.now() - receivedAt) / 1000;
    setText(byId("runtime"), duration(shown.run_seconds + running));
  }

  function draw(state) {
    shown = state;
    receivedAt = Date.now();
    setText(byId("station"), state.station || "Quorvel station");
    const title = (state.station || "Quorvel") + " – station";
    if (document.title !== title) document.title = title;
    setText(byId("image"), state.image.path + "  ·  " + state.image.bytes + " bytes  ·  sha256 " +
                           state.image.sha256.slice(0, 16) + "…");
    setText(byId("passed"), String(state.passed));
    setText(byId("failed"), String(state.failed));
    setText(byId("yield"), state.yield_percent === null ? "–" : number(state.yield_percent, 1) + " %");
    setText(byId("rate"), number(state.boards_per_hour, 1));
    drawRunTime();
    const remark = byId("remark");
    remark.hidden = !state.remark;
    setText(remark, state.remark);
    const database = byId("database");
    database.hidden = state.database === null;
    if (state.database) {
      setText(database, state.database.text);
      database.className = "database " + (state.database.online ? "online" : "offline");
    }
    state.slots.forEach(function (slot, index) {
      if (!tiles[index]) tiles[index] = newTile();
      drawSlot(tiles[index], slot);
    });
    drawCharts(state);
    const notes = byId("notes");
    const noteKey = JSON.stringify(state.notes);
    if (notes.dataset.key !== noteKey) {
      notes.dataset.key = noteKey;
      notes.replaceChildren();
      state.notes.slice().reverse().forEach(function (note) { part(notes, "li", "").textContent = note; });
    }
    if (state.ended) connection("ended", "station ended");
  }

  function connection(kind, text) {
    const node = byId("connection");
    if (shown && shown.ended) kind = "ended", text = "station ended";
    node.className = "connection " + kind;
    setText(node, text);
  }

  function connect() {
    const events = new EventSource("api/events");
    events.onopen = function () { connection("online", "live"); };
    events.onmessage = function (message) { draw(JSON.parse(message.data)); };
    // EventSource tries again by itself; until then the figures may be old.
    events.onerror = function () { connection("offline", "no connection to the station"); };
  }

  fetch("api/state").then(function (r) { return r.json(); }).then(function (state) {
    if (!shown) draw(state);
  }).catch(function () {});
  connect();
  setInterval(drawRunTime, 1000);
})();
