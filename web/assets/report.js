// The report's page: tables and charts from the report's JSON document built
// into the file (the same document `report --json` prints). Only text is set,
// never HTML.
"use strict";
(function () {
  const data = JSON.parse(document.getElementById("report-data").textContent);
  const report = data.report;
  const columns = [
    ["units", "units"], ["passed", "passed"], ["failed", "failed"],
    ["yield_percent", "yield %"], ["boards_per_hour", "boards/h"],
    ["cycle_median", "cycle median s"], ["cycle_p95", "cycle p95 s"], ["serials", "serials"],
  ];

  function cell(row, tag, text, key, value) {
    const node = document.createElement(tag);
    node.textContent = text;
    if (key) {
      node.dataset.key = key;
      node.dataset.value = JSON.stringify(value);
    }
    row.appendChild(node);
  }

  // A figure as it shows: the JSON's rounding, without a float's last-digit noise.
  function shown(value) { return String(Math.round(value * 1000) / 1000); }

  // A summary's figure by column: its JSON value and how it shows.
  function figure(summary, key) {
    if (key === "cycle_median" || key === "cycle_p95") {
      const value = summary.cycle_time ? summary.cycle_time[key === "cycle_median" ? "median_seconds" : "p95_seconds"] : null;
      return [value, value === null ? "–" : shown(value)];
    }
    if (key === "serials") {
      const value = summary.serials;
      return [value, value ? value.min + "–" + value.max : "–"];
    }
    const value = summary[key];
    return [value, value === null ? "–" : shown(value)];
  }

  function table(id, firstColumns, rows) {
    const node = document.getElementById(id);
    const head = document.createElement("tr");
    firstColumns.concat(columns.map(function (c) { return c[1]; })).forEach(function (title) {
      cell(head, "th", title);
    });
    node.appendChild(head);
    rows.forEach(function (row) {
      const line = document.createElement("tr");
      line.dataset.row = row.name;
      row.labels.forEach(function (label) { cell(line, "td", label); });
      columns.forEach(function (column) {
        const shown = figure(row.summary, column[0]);
        cell(line, "td", shown[1], column[0], shown[0]);
      });
      node.appendChild(line);
    });
  }

  function stationName(name) { return name === "" ? "(no name)" : name; }

  function warnings() {
    const node = document.getElementById("warnings");
    const say = function (text) { const p = document.createElement("p"); p.textContent = text; node.appendChild(p); };
    const withStation = report.stations.length > 1;
    const unitName = function (u) {
      return (withStation ? stationName(u.station) + " " : "") + u.port + " unit " + u.unit;
    };
    report.interrupted.forEach(function (unit) {
      say("Interrupted, no result: " + unitName(unit) + " attempt " + unit.attempt +
          ", started " + unit.time + " (line " + unit.line + "); the board may hold part of an image.");
    });
    report.duplicate_serials.forEach(function (duplicate) {
      say("Serial number " + duplicate.serial + " was given to " + duplicate.units.length + " units: " +
          duplicate.units.map(unitName).join(", ") + ".");
    });
  }

  // Up to 20 bars of a round width over the cycle times.
  function histogram(cycles) {
    if (cycles.length === 0) return { labels: [], counts: [] };
    const low = cycles[0];
    const high = cycles[cycles.length - 1];
    const raw = Math.max((high - low) / 20, 0.001);
    const magnitude = Math.pow(10, Math.floor(Math.log10(raw)));
    const width = [1, 2, 5, 10].map(function (f) { return f * magnitude; }).find(function (w) { return w >= raw; });
    const first = Math.floor(low / width) * width;
    const bins = Math.floor((high - first) / width) + 1;
    const counts = new Array(bins).fill(0);
    cycles.forEach(function (c) { counts[Math.min(bins - 1, Math.floor((c - first) / width))]++; });
    const digits = width >= 1 ? 0 : Math.ceil(-Math.log10(width));
    const labels = counts.map(function (_, i) { return (first + i * width).toFixed(digits); });
    return { labels: labels, counts: counts };
  }

  function charts() {
    if (typeof Chart === "undefined") return;
    const slots = report.slots;
    const yields = slots.map(function (s) { return s.yield_percent; });
    QuorvelCharts.bar(document.getElementById("yield-chart"), "#1a9c3a", "yield %").show(
      slots.map(function (s) { return (report.stations.length > 1 ? stationName(s.station) + " " : "") + s.port; }),
      yields,
      yields.map(function (y) { return y !== null && y < 100 ? "#e0a020" : "#1a9c3a"; }));
    const cycles = histogram(data.cycles_seconds);
    QuorvelCharts.bar(document.getElementById("cycle-chart"), "#3a7bd5", "cycles").show(cycles.labels, cycles.counts);
    const steps = data.boards_per_hour_by_step;
    QuorvelCharts.bar(document.getElementById("throughput-chart"), "#3a7bd5", "boards/h").show(
      steps.start_ms === null ? [] : QuorvelCharts.stepLabels(steps.start_ms, steps.step_seconds, steps.values.length),
      steps.values.map(function (v) { return Math.round(v * 10) / 10; }));
    const reasons = Object.keys(report.overall.failure_reasons);
    QuorvelCharts.horizontalBar(document.getElementById("reasons-chart"), "#d42020", "failed attempts").show(
      reasons, reasons.map(function (r) { return report.overall.failure_reasons[r]; }));
  }

  document.getElementById("source").textContent = (report.database || report.file) + ": " + report.records + " records, " +
    report.results + " results" + (report.skipped_lines.length ? ", " + report.skipped_lines.length + " lines skipped" : "");
  warnings();
  table("overall", ["", ""], [{ name: "overall", labels: ["overall", ""], summary: report.overall }]);
  table("stations", ["station", ""], report.stations.map(function (s) {
    return { name: s.station, labels: [stationName(s.station), ""], summary: s };
  }));
  table("slots", ["station", "port"], report.slots.map(function (s) {
    return { name: s.station + "\n" + s.port, labels: [stationName(s.station), s.port], summary: s };
  }));
  charts();
  document.body.dataset.ready = "true";
})();
