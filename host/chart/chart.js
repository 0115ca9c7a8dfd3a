// The chart page of morvane-server's admin listener: asks /chart/data for a
// product's bars (the same query a client sends to the public port), reads
// the pipe-separated records itself and draws them as candles with their
// volume, with uPlot (vendored beside this file).
//
// window.morvaneChart tells a reader (the page's test, a person in the
// console) what the page shows: state 'loading', 'drawn' or 'message';
// bars (data records read), candles (bars with prices), drawn (candles
// painted by the last draw), message, request (the query asked).
'use strict';

(function () {
  const state = (window.morvaneChart = {
    state: 'loading', bars: 0, candles: 0, drawn: 0, message: '', request: '',
  });
  const $ = (id) => document.getElementById(id);
  const UP = '#1a7f37';
  const DOWN = '#c62828';
  let plot = null;
  let asked = 0; // the latest request: answers to older ones are dropped

  function set(fields) {
    Object.assign(state, fields);
    document.body.dataset.state = state.state;
  }

  function showMessage(text, isError) {
    if (plot) {
      plot.destroy();
      plot = null;
    }
    const m = $('message');
    m.textContent = text;
    m.className = isError ? 'error' : '';
    m.hidden = false;
    set({ state: 'message', message: text, bars: 0, candles: 0, drawn: 0 });
  }

  // "2026-12-09" (a date field) as the request's short date, "2026/12/9".
  function requestDate(value) {
    const [y, m, d] = value.split('-').map(Number);
    return y + '/' + m + '/' + d;
  }

  function isoDate(date) {
    const p = (n) => String(n).padStart(2, '0');
    return date.getFullYear() + '-' + p(date.getMonth() + 1) + '-' + p(date.getDate());
  }

  // A date column as "yyyy/mm/dd" whichever form the store gave it.
  function fullDate(text) {
    const [y, m, d] = text.split('/');
    return y + '/' + String(m).padStart(2, '0') + '/' + String(d).padStart(2, '0');
  }

  function number(text) {
    if (text === undefined || text === '' || text === '-') return null;
    const v = Number(text);
    return Number.isFinite(v) ? v : null;
  }

  // The records of an answer: bars ("TICK" or "INTERVAL": index, date,
  // time, open, high, low, close, volume), the names and the count note,
  // the error records. Lines end with CR LF, the last one perhaps not.
  function parseAnswer(text) {
    const a = { time: [], o: [], h: [], l: [], c: [], v: [], errors: [], ename: '', cname: '', count: null };
    for (const line of text.split('\r\n')) {
      if (line === '') continue;
      const f = line.split('|');
      if (f[0] === 'TICK' || f[0] === 'INTERVAL') {
        a.time.push(fullDate(f[2] || '') + ' ' + (f[3] || ''));
        a.o.push(number(f[4]));
        a.h.push(number(f[5]));
        a.l.push(number(f[6]));
        a.c.push(number(f[7]));
        a.v.push(number(f[8]));
      } else if (f[0] === 'NOTE' && f[1] === 'ENAME') {
        a.ename = (f[2] || '').trim();
      } else if (f[0] === 'NOTE' && f[1] === 'CNAME') {
        a.cname = (f[2] || '').trim();
      } else if (f[0] === 'NOTE' && f[1] === 'RECORDCOUNT') {
        a.count = Number(f[2]);
      } else if (f[0] === 'ERROR') {
        a.errors.push(f[1] || '');
      }
    }
    // An empty bar (mode 6) carries no prices: a gap.
    for (let i = 0; i < a.time.length; i++) {
      if ([a.o[i], a.h[i], a.l[i], a.c[i]].includes(null)) a.o[i] = a.h[i] = a.l[i] = a.c[i] = null;
    }
    return a;
  }

  // The form as a request, or a reason it is not one.
  function readForm() {
    const symbol = $('symbol').value.trim();
    const from = $('from').value;
    const to = $('to').value;
    const kind = $('kind').value;
    const length = Number($('length').value);
    if (!symbol) return { problem: 'Pick a product.' };
    if (!from || !to) return { problem: 'Give the first and the last day of the range.' };
    if (from > to) return { problem: 'The range is backwards: ' + from + ' comes after ' + to + '.' };
    if (!Number.isInteger(length) || length < 1 || length > 86400) {
      return { problem: 'The bar length must be a whole number from 1 to 86400.' };
    }
    const q = new URLSearchParams({ symbol: symbol, mode: kind, interval: String(length) });
    if (kind === '5') q.set('iunit', '1');
    q.set('dateStart', requestDate(from));
    q.set('dateOver', requestDate(to));
    const t0 = $('time-from').value;
    const t1 = $('time-to').value;
    if (t0 || t1) {
      if (!t0 || !t1) return { problem: 'Give both hours of the day, or neither.' };
      q.set('timeStart', t0);
      q.set('timeOver', t1);
    }
    return { query: q.toString(), symbol: symbol, from: from, to: to, kind: kind, length: length };
  }

  async function load() {
    const form = readForm();
    const mine = ++asked;
    $('title').textContent = '';
    $('title').title = '';
    if (form.problem) {
      showMessage(form.problem, true);
      return;
    }
    history.replaceState(null, '', '/chart?' + new URLSearchParams({
      symbol: form.symbol, from: form.from, to: form.to, mode: form.kind, length: String(form.length),
      hours: $('time-from').value && $('time-to').value ? $('time-from').value + '-' + $('time-to').value : '',
    }));
    set({ state: 'loading', message: '', request: form.query });
    let status = 0;
    let type = '';
    let body = '';
    try {
      const r = await fetch('/chart/data?' + form.query, { cache: 'no-store' });
      status = r.status;
      type = r.headers.get('Content-Type') || '';
      body = await r.text();
    } catch (e) {
      if (mine === asked) showMessage('The server could not be reached (' + e.message + ').', true);
      return;
    }
    if (mine !== asked) return;
    if (status !== 200) {
      if (body.includes('Maximum number of concurrent connections exceeded')) {
        showMessage('The server is at its limit: every data module is busy (MaxConnection). ' +
                    'Try again in a moment.', true);
      } else {
        const text = /html/i.test(type) ? body.replace(/<[^>]*>/g, ' ') : body;
        showMessage('The server answered ' + status + ': ' + text.replace(/\s+/g, ' ').trim().slice(0, 300), true);
      }
      return;
    }
    const a = parseAnswer(body);
    const name = a.ename ? ' — ' + a.ename : '';
    const what = form.kind === '5' ? form.length + '-minute bars' : form.length + '-second bars';
    const range = form.from === form.to ? form.from : form.from + ' to ' + form.to;
    if (a.time.length === 0) {
      const said = a.errors.length ? ' (the server said: ' + a.errors.join('; ') + ')' : '';
      const invalid = a.errors.find((e) => e.startsWith('Invalid'));
      showMessage(invalid ? 'The request was refused: ' + a.errors.join(' ')
                          : 'No data: ' + form.symbol + name + ' has no ' + what + ' on ' + range + said + '.', false);
      return;
    }
    const candles = a.o.filter((v) => v !== null).length;
    if (candles === 0) {
      showMessage('No trades: every one of the ' + a.time.length + ' bars of ' + form.symbol + name +
                  ' on ' + range + ' is empty.', false);
      return;
    }
    $('message').hidden = true;
    $('title').textContent = form.symbol + name + ' · ' + what + ' · ' + range + ' · ' + a.time.length +
                             ' bars';
    // The other name as the title's tooltip: a browser without a font for
    // it would draw boxes in the heading.
    $('title').title = a.cname;
    draw(a, form.kind === '6' ? 3 : 2);
    set({ state: 'drawn', bars: a.time.length, candles: candles, message: '' });
  }

  // Candles and volume, painted over uPlot's frame on its canvas.
  function paint(u) {
    const [, o, h, l, c, v] = u.data;
    const n = o.length;
    const first = Math.max(0, Math.ceil(u.scales.x.min));
    const last = Math.min(n - 1, Math.floor(u.scales.x.max));
    const step = Math.abs(u.valToPos(1, 'x', true) - u.valToPos(0, 'x', true));
    const width = Math.max(1, Math.min(Math.round(step * 0.7), 24 * devicePixelRatio));
    const ctx = u.ctx;
    ctx.save();
    ctx.beginPath();
    ctx.rect(u.bbox.left, u.bbox.top, u.bbox.width, u.bbox.height);
    ctx.clip();
    const base = u.valToPos(0, 'vol', true);
    ctx.globalAlpha = 0.35;
    for (let i = first; i <= last; i++) {
      if (v[i] === null || v[i] <= 0) continue;
      const x = Math.round(u.valToPos(i, 'x', true));
      const y = u.valToPos(v[i], 'vol', true);
      ctx.fillStyle = c[i] !== null && c[i] < o[i] ? DOWN : UP;
      ctx.fillRect(x - width / 2, y, width, Math.max(1, base - y));
    }
    ctx.globalAlpha = 1;
    let drawn = 0;
    for (let i = first; i <= last; i++) {
      if (o[i] === null) continue;
      const x = Math.round(u.valToPos(i, 'x', true));
      const colour = c[i] < o[i] ? DOWN : UP;
      ctx.strokeStyle = ctx.fillStyle = colour;
      ctx.lineWidth = Math.max(1, Math.round(devicePixelRatio));
      ctx.beginPath();
      ctx.moveTo(x, Math.round(u.valToPos(h[i], 'price', true)));
      ctx.lineTo(x, Math.round(u.valToPos(l[i], 'price', true)));
      ctx.stroke();
      const top = Math.round(u.valToPos(Math.max(o[i], c[i]), 'price', true));
      const bottom = Math.round(u.valToPos(Math.min(o[i], c[i]), 'price', true));
      ctx.fillRect(x - width / 2, top, width, Math.max(1, bottom - top));
      drawn++;
    }
    ctx.restore();
    state.drawn = drawn;
  }

  function size() {
    return { width: Math.max(320, Math.min(window.innerWidth - 40, 1600)), height: 480 };
  }

  function draw(a, decimals) {
    if (plot) plot.destroy();
    const n = a.time.length;
    const xs = Array.from({ length: n }, (_, i) => i);
    const price = (u, v) => (v === null || v === undefined ? '–' : v.toFixed(decimals));
    const hidden = { paths: () => null, points: { show: false }, stroke: 'transparent' };
    const all = () => [-0.5, n - 0.5];
    const zoomTo = (u, min, max) => {
      const span = Math.min(Math.max(max - min, 4), n);
      let lo = Math.max(-0.5, Math.min(min, n - 0.5 - span));
      u.setScale('x', { min: lo, max: lo + span });
    };
    // Axis labels: the bar's time, with its day where the day changes.
    const label = (u, splits) => splits.map((s, k) => {
      const i = Math.round(s);
      if (i !== s || i < 0 || i >= n) return '';
      const [day, time] = a.time[i].split(' ');
      const before = k > 0 ? a.time[Math.max(0, Math.round(splits[k - 1]))] : '';
      return k === 0 || !before.startsWith(day) ? time.slice(0, 5) + '\n' + day : time.slice(0, time.endsWith(':00') ? 5 : 8);
    });
    plot = new uPlot({
      ...size(),
      scales: {
        x: { time: false },
        price: { range: (u, min, max) => { const pad = (max - min) * 0.05 || Math.abs(max) * 0.01 || 1; return [min - pad, max + pad]; } },
        vol: { range: (u, min, max) => [0, Math.max(1, max) * 4] },
      },
      axes: [
        { values: label, space: 90, incrs: [1, 2, 5, 10, 15, 20, 30, 60, 120, 300, 600, 1200, 3000, 6000, 12000, 30000, 60000] },
        { scale: 'price', values: (u, splits) => splits.map((v) => v.toFixed(decimals)), size: 70 },
      ],
      series: [
        { label: 'Time', value: (u, i) => (i === null || a.time[Math.round(i)] === undefined ? '–' : a.time[Math.round(i)]) },
        { label: 'Open', scale: 'price', value: price, ...hidden },
        { label: 'High', scale: 'price', value: price, ...hidden },
        { label: 'Low', scale: 'price', value: price, ...hidden },
        { label: 'Close', scale: 'price', value: price, ...hidden },
        { label: 'Volume', scale: 'vol', value: (u, v) => (v === null || v === undefined ? '–' : String(v)), ...hidden },
      ],
      cursor: { drag: { x: true, y: false }, points: { show: false } },
      legend: { live: true },
      hooks: {
        draw: [paint],
        ready: [(u) => {
          // The wheel zooms around the cursor.
          u.over.addEventListener('wheel', (e) => {
            e.preventDefault();
            const { min, max } = u.scales.x;
            const at = u.posToVal(e.offsetX, 'x');
            const f = e.deltaY < 0 ? 0.8 : 1.25;
            zoomTo(u, at - (at - min) * f, at + (max - at) * f);
          }, { passive: false });
          // Shift-drag pans; taken before uPlot's own drag (which zooms).
          u.root.addEventListener('mousedown', (e) => {
            if (!e.shiftKey || !u.over.contains(e.target)) return;
            e.stopPropagation();
            e.preventDefault();
            const { min, max } = u.scales.x;
            const x0 = e.clientX;
            const perPixel = (max - min) / u.over.clientWidth;
            const move = (m) => zoomTo(u, min - (m.clientX - x0) * perPixel, max - (m.clientX - x0) * perPixel);
            const up = () => { document.removeEventListener('mousemove', move); document.removeEventListener('mouseup', up); };
            document.addEventListener('mousemove', move);
            document.addEventListener('mouseup', up);
          }, true);
        }],
      },
    }, [xs, a.o, a.h, a.l, a.c, a.v], $('chart'));
    plot.zoomTo = (min, max) => zoomTo(plot, min, max);
    // Half a bar of room at each end when every bar is shown.
    plot.showAll = () => plot.setScale('x', { min: all()[0], max: all()[1] });
    plot.showAll();
  }

  function pan(share) {
    if (!plot) return;
    const { min, max } = plot.scales.x;
    plot.zoomTo(min + (max - min) * share, max + (max - min) * share);
  }

  function zoom(factor) {
    if (!plot) return;
    const { min, max } = plot.scales.x;
    const mid = (min + max) / 2;
    plot.zoomTo(mid - ((max - min) / 2) * factor, mid + ((max - min) / 2) * factor);
  }

  function unitChanged() {
    const kind = $('kind').value;
    $('unit').textContent = kind === '5' ? 'min' : 's';
    // A full grid starts at the first hour asked for: without hours it
    // would hold every empty bar from midnight.
    if (kind === '6' && !$('time-from').value && !$('time-to').value) {
      $('time-from').value = '09:30';
      $('time-to').value = '16:00';
    }
  }

  async function loadProducts() {
    try {
      const r = await fetch('/chart/symbols', { cache: 'no-store' });
      const text = await r.text();
      if (!r.ok) return [];
      const list = $('products');
      const products = [];
      for (const line of text.split('\n')) {
        if (!line) continue;
        const [symbol, name] = line.split('\t');
        const option = document.createElement('option');
        option.value = symbol;
        option.label = name || symbol;
        list.appendChild(option);
        products.push(symbol);
      }
      return products;
    } catch (e) {
      return [];
    }
  }

  async function start() {
    const p = new URLSearchParams(location.search);
    const today = new Date();
    const weekAgo = new Date(today.getTime() - 6 * 86400000);
    $('symbol').value = p.get('symbol') || '';
    $('from').value = p.get('from') || isoDate(weekAgo);
    $('to').value = p.get('to') || isoDate(today);
    if (['4', '5', '6'].includes(p.get('mode'))) $('kind').value = p.get('mode');
    if (p.get('length')) $('length').value = p.get('length');
    const hours = (p.get('hours') || '').split('-');
    if (hours.length === 2) {
      $('time-from').value = hours[0];
      $('time-to').value = hours[1];
    }
    unitChanged();
    const products = await loadProducts();
    if (!$('symbol').value) {
      if (products.length === 0) {
        showMessage('No products are listed (the order database lists none as valid, or it ' +
                    'cannot be read): type a product code.', true);
        return;
      }
      $('symbol').value = products[0];
    }
    await load();
  }

  $('ask').addEventListener('submit', (e) => {
    e.preventDefault();
    load();
  });
  $('kind').addEventListener('change', unitChanged);
  $('left').addEventListener('click', () => pan(-0.25));
  $('right').addEventListener('click', () => pan(0.25));
  $('zoom-in').addEventListener('click', () => zoom(0.5));
  $('zoom-out').addEventListener('click', () => zoom(2));
  $('reset').addEventListener('click', () => plot && plot.showAll());
  document.addEventListener('keydown', (e) => {
    if (e.target instanceof HTMLInputElement || e.target instanceof HTMLSelectElement) return;
    if (e.key === 'ArrowLeft') pan(-0.25);
    else if (e.key === 'ArrowRight') pan(0.25);
    else if (e.key === '+' || e.key === '=') zoom(0.5);
    else if (e.key === '-') zoom(2);
  });
  window.addEventListener('resize', () => plot && plot.setSize(size()));
  start();
})();
