// Draws the report's charts from the data the program wrote into the page,
// then marks on <body> how many charts were expected and how many show ink
// from their series (data-charts-expected, data-charts-drawn).
(function () {
  'use strict';
  var data = JSON.parse(document.getElementById('probe-data').textContent);
  var colors = ['#2a6fbd', '#d9822b', '#2e9e5b', '#8e44ad', '#c0392b', '#16a0a0', '#7f8c8d'];
  var HELD = 'rgba(46, 158, 91, 0.08)';
  var FAILED = 'rgba(192, 57, 43, 0.14)';

  function grouped(v) {
    return v == null ? '' : v.toLocaleString('en-US', { maximumFractionDigits: Math.abs(v) < 10 ? 2 : 0 });
  }
  function axisValues(u, vals) { return vals.map(grouped); }
  function stepAxis(label) {
    return {
      label: label,
      splits: function () { return data.steps.step; },
      values: function (u, vals) { return vals.map(function (v) { return String(v); }); },
      grid: { show: false }
    };
  }
  function constant(value) {
    return data.steps.step.map(function () { return value; });
  }

  // Shades each step's span on a time chart, red where the step failed, and
  // writes its number at the top.
  function stepBands(u) {
    var ctx = u.ctx, top = u.bbox.top, height = u.bbox.height;
    ctx.save();
    ctx.font = Math.round(11 * devicePixelRatio) + 'px sans-serif';
    ctx.textAlign = 'center';
    data.bands.forEach(function (band) {
      var x0 = u.valToPos(band.start, 'x', true), x1 = u.valToPos(band.end, 'x', true);
      ctx.fillStyle = band.held ? HELD : FAILED;
      ctx.fillRect(x0, top, Math.max(1, x1 - x0), height);
      ctx.fillStyle = band.held ? '#4d6b57' : '#a03025';
      ctx.fillText(String(band.step), (x0 + x1) / 2, top + 12 * devicePixelRatio);
    });
    ctx.restore();
  }

  function series(label, color, extra) {
    var s = { label: label, stroke: color, width: 2, points: { show: true, size: 6 }, spanGaps: true,
              value: function (u, v) { return grouped(v); } };
    for (var k in extra) s[k] = extra[k];
    return s;
  }

  function bars(label, color) {
    return series(label, color, { fill: color, paths: uPlot.paths.bars({ size: [0.5, 48] }),
                                  points: { show: false } });
  }

  var builders = {
    rate: function () {
      return {
        opts: {
          scales: { x: { time: false }, y: { range: function (u, min, max) { return [0, max * 1.08 || 1]; } } },
          axes: [stepAxis('step'), { label: 'messages per second', values: axisValues, size: 70 }],
          // Asked last, dashed, so it shows on top where sent met it.
          series: [{ label: 'step' }, series('sent', colors[1]), series('delivered', colors[2]),
                   series('asked', colors[0], { dash: [6, 4], width: 1.5 })]
        },
        rows: [data.steps.step, data.steps.sent, data.steps.delivered, data.steps.asked]
      };
    },
    loss: function () {
      var s = [{ label: 'step' }, bars('held', colors[2]), bars('failed', colors[4])];
      var rows = [data.steps.step, data.steps.loss_held, data.steps.loss_failed];
      return {
        opts: {
          scales: { x: { time: false, range: function (u, min, max) { return [min - 0.6, max + 0.6]; } },
                    y: { range: function (u, min, max) { return [0, Math.max(max * 1.1, 0.1)]; } } },
          axes: [stepAxis('step'), { label: '% of sent lost', values: axisValues, size: 60 }],
          series: s
        },
        rows: rows
      };
    },
    latency: function () {
      var s = [{ label: 'step' }, series('p50', colors[0]), series('p99', colors[1]),
               series('max', colors[6], { dash: [3, 3], width: 1 })];
      var rows = [data.steps.step, data.steps.p50, data.steps.p99, data.steps.max];
      if (typeof data.steps.max_p99_ms === 'number') {
        s.push(series('p99 limit', colors[4], { dash: [8, 4], width: 1, points: { show: false } }));
        rows.push(constant(data.steps.max_p99_ms));
      }
      var values = [].concat.apply([], rows.slice(1)).filter(function (v) { return v != null; });
      var low = Math.min.apply(null, values), high = Math.max.apply(null, values);
      // A failing step's latency can be a thousand times a holding one's.
      var log = low > 0 && high / low > 50;
      return {
        opts: {
          scales: { x: { time: false }, y: log ? { distr: 3 } : { range: function (u, min, max) { return [0, max * 1.1 || 1]; } } },
          axes: [stepAxis('step'), { label: log ? 'ms (log scale)' : 'ms', values: axisValues, size: 60 }],
          series: s
        },
        rows: rows
      };
    },
    cpu: function () { return timeChart('cpu', 'CPU %'); },
    memory: function () { return timeChart('rss_mb', 'resident MB'); }
  };

  function timeChart(key, label) {
    var s = [{ label: 'seconds' }], rows = [data.timeline.seconds];
    data.timeline.processes.forEach(function (p, i) {
      s.push(series(p.label, colors[i % colors.length], { points: { show: false } }));
      rows.push(p[key]);
    });
    return {
      opts: {
        scales: { x: { time: false }, y: { range: function (u, min, max) { return [0, max * 1.1 || 1]; } } },
        axes: [{ label: 'seconds since the probe started' }, { label: label, values: axisValues, size: 60 }],
        series: s,
        hooks: { drawClear: [stepBands] }
      },
      rows: rows
    };
  }

  // Ink of a series' colour inside the plot: grid, axes and the pale step
  // bands are grey or faint, the series saturated.
  function hasSeriesInk(u) {
    var b = u.bbox;
    var pixels = u.ctx.getImageData(Math.round(b.left), Math.round(b.top), Math.max(1, Math.round(b.width)),
                                    Math.max(1, Math.round(b.height))).data;
    var count = 0;
    for (var i = 0; i < pixels.length; i += 4) {
      var r = pixels[i], g = pixels[i + 1], bl = pixels[i + 2];
      if (pixels[i + 3] > 200 && Math.max(r, g, bl) - Math.min(r, g, bl) > 60 && ++count >= 20) return true;
    }
    return false;
  }

  var plots = [];
  var elements = document.querySelectorAll('[data-chart]');
  elements.forEach(function (el) {
    var made = builders[el.getAttribute('data-chart')]();
    made.opts.width = el.clientWidth;
    made.opts.height = 260;
    made.opts.legend = { live: true };
    plots.push(new uPlot(made.opts, made.rows, el));
  });
  addEventListener('resize', function () {
    plots.forEach(function (u) { u.setSize({ width: u.root.parentNode.clientWidth, height: 260 }); });
  });
  // uPlot draws on its next microtask; a frame later every chart is on screen.
  requestAnimationFrame(function () {
    document.body.dataset.chartsExpected = String(elements.length);
    document.body.dataset.chartsDrawn = String(plots.filter(hasSeriesInk).length);
  });
})();
