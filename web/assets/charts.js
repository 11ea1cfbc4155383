// Bar and line charts on Chart.js for the station page and the report.
"use strict";
var QuorvelCharts = (function () {
  const base = {
    animation: false,
    responsive: true,
    maintainAspectRatio: false,
    plugins: { legend: { display: false } },
  };

  function make(canvas, type, color, horizontal, label) {
    const options = Object.assign({}, base, {
      indexAxis: horizontal ? "y" : "x",
      scales: { x: { beginAtZero: true }, y: { beginAtZero: true } },
    });
    const chart = new Chart(canvas, {
      type: type,
      data: { labels: [], datasets: [{ label: label, data: [], backgroundColor: color, borderColor: color }] },
      options: options,
    });
    let shown = "";
    return {
      chart: chart,
      // Redraws only when the data changed.
      show: function (labels, values, colors) {
        const key = JSON.stringify([labels, values, colors || null]);
        if (key === shown) return;
        shown = key;
        chart.data.labels = labels;
        chart.data.datasets[0].data = values;
        if (colors) chart.data.datasets[0].backgroundColor = colors;
        chart.update();
      },
    };
  }

  // "14:05" for a time in milliseconds since 1970, in the viewer's time zone.
  function clock(ms) {
    const at = new Date(ms);
    return String(at.getHours()).padStart(2, "0") + ":" + String(at.getMinutes()).padStart(2, "0");
  }

  // Labels for steps from startMs: "14:00", "14:05", ...
  function stepLabels(startMs, stepSeconds, count) {
    const labels = [];
    for (let i = 0; i < count; i++) labels.push(clock(startMs + i * stepSeconds * 1000));
    return labels;
  }

  return {
    bar: function (canvas, color, label) { return make(canvas, "bar", color, false, label); },
    horizontalBar: function (canvas, color, label) { return make(canvas, "bar", color, true, label); },
    line: function (canvas, color, label) { return make(canvas, "line", color, false, label); },
    stepLabels: stepLabels,
  };
})();
