// Draws the report's charts from the data the program wrote into the page,
// then marks on <body> how many charts were expected and how many show ink
// from their series (data-charts-expected, data-charts-drawn).
(function () {
  'use strict';
  var data = JSON.parse(document.getElementById('probe-data').textContent);
  var C = { blue: '#2a6fbd', orange: '#d9822b', green: '#2e9e5b', purple: '#8e44ad', red: '#c0392b',
            teal: '#16a0a0', grey: '#7f8c8d', dark: '#3b4252' };
  var palette = [C.blue, C.orange, C.green, C.purple, C.teal, C.grey];
  var HELD = 'rgba(46, 158, 91, 0.08)';
  var FAILED = 'rgba(192, 57, 43, 0.14)';
  var HEIGHT = 260;

  function grouped(v) {
    return v == null ? '' : v.toLocaleString('en-US', { maximumFractionDigits: Math.abs(v) < 10 ? 2 : 0 });
  }
  function axisValues(u, vals) { return vals.map(grouped); }
  function fromZero(headroom, least) {
    return function (u, min, max) { return [0, Math.max(max * headroom, least || 0) || 1]; };
  }
  function px(n) { return Math.round(n * devicePixelRatio); }

  function line(label, color, extra) {
    var s = { label: label, stroke: color, width: 2, points: { show: true, size: 6 }, spanGaps: true };
    for (var k in extra) s[k] = extra[k];
    return s;
  }
  // Marks alone, no line: the steps that failed.
  function marks(label, color) {
    return line(label, color, { width: 1, paths: function () { return null; },
                                points: { show: true, size: 9, fill: color, stroke: color } });
  }
  function limit(label, color) {
    return line(label, color, { dash: [8, 4], width: 1, points: { show: false } });
  }
  function constant(xs, value) { return xs.map(function () { return value; }); }

  // A dashed upright line at the rate found, named at its top.
  function sustainedLine(u) {
    var rate = data.by_rate.sustained;
    if (!(rate > 0)) return;
    var ctx = u.ctx, b = u.bbox, x = u.valToPos(rate, 'x', true);
    var right = x > b.left + b.width * 0.7;
    ctx.save();
    ctx.strokeStyle = C.green;
    ctx.lineWidth = px(1.5);
    ctx.setLineDash([px(5), px(4)]);
    ctx.beginPath();
    ctx.moveTo(x, b.top);
    ctx.lineTo(x, b.top + b.height);
    ctx.stroke();
    ctx.fillStyle = '#23744a';
    ctx.font = px(12) + 'px sans-serif';
    ctx.textAlign = right ? 'right' : 'left';
    ctx.fillText('sustained ' + grouped(rate), x + px(right ? -5 : 5), b.top + px(14));
    ctx.restore();
  }

  // Shades each step's and the soak's span on a time chart, red where it
  // failed, and names it at the top.
  function bands(u) {
    var ctx = u.ctx, top = u.bbox.top, height = u.bbox.height;
    ctx.save();
    ctx.font = px(11) + 'px sans-serif';
    ctx.textAlign = 'center';
    data.bands.forEach(function (band) {
      var x0 = u.valToPos(band.start, 'x', true), x1 = u.valToPos(band.end, 'x', true);
      ctx.fillStyle = band.held ? HELD : FAILED;
      ctx.fillRect(x0, top, Math.max(1, x1 - x0), height);
      if (ctx.measureText(band.label).width < x1 - x0) {
        ctx.fillStyle = band.held ? '#4d6b57' : '#a03025';
        ctx.fillText(band.label, (x0 + x1) / 2, top + px(12));
      }
    });
    ctx.restore();
  }

  function byRate(yLabel, yScale, series, rows, size) {
    var r = data.by_rate;
    return {
      opts: {
        scales: { x: { time: false, range: fromZero(1.05) }, y: yScale },
        axes: [{ label: 'offered messages per second', values: axisValues },
               { label: yLabel, values: axisValues, size: size || 60 }],
        series: [{ label: 'offered' }].concat(series),
        hooks: { draw: [sustainedLine] }
      },
      rows: [r.offered].concat(rows)
    };
  }

  var builders = {
    rate: function () {
      var r = data.by_rate;
      // Offered last, dashed, so it shows on top where sent met it.
      return byRate('messages per second', { range: fromZero(1.08) },
                    [line('sent', C.orange), line('delivered', C.blue), marks('failed step', C.red),
                     line('offered', C.dark, { dash: [6, 4], width: 1.5, points: { show: false } })],
                    [r.sent, r.delivered, r.delivered_failed, r.offered], 70);
    },
    loss: function () {
      var r = data.by_rate, s = [line('lost', C.orange), marks('failed step', C.red)], rows = [r.loss, r.loss_failed];
      var least = 0.1;
      if (typeof r.max_loss_percent === 'number') {
        s.push(limit('loss limit', C.red));
        rows.push(constant(r.offered, r.max_loss_percent));
        least = r.max_loss_percent * 1.5;
      }
      return byRate('% of sent lost', { range: fromZero(1.1, least) }, s, rows);
    },
    latency: function () {
      var r = data.by_rate;
      var s = [line('p50', C.blue), line('p99', C.orange), line('max', C.grey, { dash: [3, 3], width: 1 }),
               marks('failed step', C.red)];
      var rows = [r.p50, r.p99, r.max, r.p99_failed];
      if (typeof r.max_p99_ms === 'number') {
        s.push(limit('p99 limit', C.red));
        rows.push(constant(r.offered, r.max_p99_ms));
      }
      var values = [].concat.apply([], rows).filter(function (v) { return v != null; });
      var low = Math.min.apply(null, values), high = Math.max.apply(null, values);
      // A failing step's latency can be a thousand times a holding one's.
      var log = low > 0 && high / low > 50;
      return byRate(log ? 'ms (log scale)' : 'ms', log ? { distr: 3 } : { range: fromZero(1.1) }, s, rows);
    },
    soak: function () {
      return {
        opts: {
          scales: { x: { time: false, range: function (u, min, max) { return [min - 0.5, max + 0.5]; } },
                    y: { range: fromZero(1.1) } },
          axes: [{ label: 'minute of the soak', values: axisValues, incrs: [1, 2, 5, 10, 15, 30, 60, 120, 300, 600] },
                 { label: 'p99 ms', values: axisValues, size: 60 }],
          series: [{ label: 'minute' }, line('p99', C.orange, { points: { show: true, size: 8 } })]
        },
        rows: [data.soak.minute, data.soak.p99]
      };
    },
    cpu: function () { return timeChart('cpu', 'CPU %'); },
    memory: function () { return timeChart('rss_mb', 'resident MB'); }
  };

  function timeChart(key, label) {
    var s = [{ label: 'seconds' }], rows = [data.timeline.seconds];
    data.timeline.processes.forEach(function (p, i) {
      s.push(line(p.label, palette[i % palette.length], { points: { show: false } }));
      rows.push(p[key]);
    });
    return {
      opts: {
        scales: { x: { time: false }, y: { range: fromZero(1.1) } },
        axes: [{ label: 'seconds since the probe started' }, { label: label, values: axisValues, size: 60 }],
        series: s,
        hooks: { drawClear: [bands] }
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
    made.opts.height = HEIGHT;
    // Names and colours only: no values, which would read "--" until pointed at.
    made.opts.legend = { live: false };
    plots.push(new uPlot(made.opts, made.rows, el));
  });
  addEventListener('resize', function () {
    plots.forEach(function (u) { u.setSize({ width: u.root.parentNode.clientWidth, height: HEIGHT }); });
  });
  // uPlot draws on its next microtask; a frame later every chart is on screen.
  requestAnimationFrame(function () {
    document.body.dataset.chartsExpected = String(elements.length);
    document.body.dataset.chartsDrawn = String(plots.filter(hasSeriesInk).length);
    document.body.dataset.charts = Array.prototype.map.call(elements, function (el) {
      return el.getAttribute('data-chart');
    }).join(' ');
  });
})();
