'use strict';

// The explorer keeps one view: fourteen texts, exactly what goes to the
// server. Numbers are kept as the user's (or the gesture's) decimal text so
// that the picture, the fragment, the command and quatdepth's arguments all
// describe the same render; they are parsed only to be changed (and a
// negative zero loses its sign).
(() => {
  // quatdepth-render's parameters as the server gives them: each one's key,
  // kind and default, a real group's value names, a choice's names. Empty
  // when the page was opened without the server.
  const PARAMETERS = (() => {
    try {
      const parsed = JSON.parse(document.getElementById('parameters').textContent);
      if (Array.isArray(parsed)) return parsed;
    } catch {
      // Opened as a file: nothing to render with.
    }
    return [];
  })();
  const KEYS = PARAMETERS.map((p) => p.key);
  // For keys neither the server's start view nor the fragment gives.
  const DEFAULTS = Object.fromEntries(PARAMETERS.map((p) => [p.key, p.default]));
  const REALS = PARAMETERS.filter((p) => p.kind === 'reals');
  const REAL_NAMES = REALS.flatMap((p) => p.values);
  const REAL_GROUPS = REALS.map((p) => [p.key, p.values.length]);
  const NON_REAL_KEYS = PARAMETERS.filter((p) => p.kind !== 'reals').map((p) => p.key);
  const CHOICES = PARAMETERS.filter((p) => p.kind === 'choice');
  const COUNTS = PARAMETERS.filter((p) => p.kind === 'count');
  const SWITCHES = PARAMETERS.filter((p) => p.kind === 'switch').map((p) => p.key);
  // The set and how it is turned: what quatdepth-mesh takes.
  const VIEW_KEYS = PARAMETERS.filter((p) => p.view).map((p) => p.key);

  // A preview still in flight this long is abandoned for a newer view; a
  // younger one is let finish, so a drag keeps showing pictures instead of
  // restarting the same request on every mouse move.
  const PREVIEW_PATIENCE_MS = 250;
  const TYPING_PAUSE_MS = 350;
  // Chromium refuses history.replaceState past about 200 calls in ten
  // seconds; a drag would reach that in three.
  const FRAGMENT_INTERVAL_MS = 150;
  const MAX_TIMINGS = 1000;
  const MAX_FRAMES = 1000000;  // quatdepth-render's --frames
  // Zoom stops at a box side of a billionth of its distance from the origin
  // (of one unit near it): a double's sixteen digits then still give every
  // pixel and depth level its own point, and the text keeps six digits of the
  // side. It stops at a side of a thousand units, where the set (some four
  // across) is a speck and the values are far from overflowing.
  const SMALLEST_SIDE = 1e-9;
  const LARGEST_SIDE = 1000;

  const $ = (id) => document.getElementById(id);

  // ---- decimals --------------------------------------------------------

  // Plain decimal text: no exponent, no trailing zeros, no "-0". These
  // become the view's exact text, and quatdepth reads plain decimals only.
  function plainDecimal(value, decimals) {
    if (!Number.isFinite(value)) return String(value);
    const places = Math.min(Math.max(Math.round(decimals), 0), 100);
    let text = Math.abs(value) >= 1e21 ? BigInt(Math.round(value)).toString() : value.toFixed(places);
    if (text.includes('.')) text = text.replace(/0+$/, '').replace(/\.$/, '');
    if (text === '-0') text = '0';
    return text;
  }

  // Decimal places that keep `digits` significant digits of `magnitude`.
  function placesFor(magnitude, digits) {
    if (!(magnitude > 0) || !Number.isFinite(magnitude)) return 0;
    return Math.max(0, digits - 1 - Math.floor(Math.log10(magnitude)));
  }

  function parseNumber(text) {
    if (typeof text !== 'string' || text.trim() === '') return NaN;
    return Number(text.trim());
  }

  function parseList(text, count) {
    const parts = String(text).split(',');
    if (parts.length !== count) return null;
    const values = parts.map(parseNumber);
    return values.every(Number.isFinite) ? values : null;
  }

  function parseSize(text) {
    const m = /^\s*(\d+)\s*x\s*(\d+)\s*$/i.exec(String(text));
    return m ? { width: Number(m[1]), height: Number(m[2]) } : null;
  }

  function parseWhole(text) {
    return /^\s*\d+\s*$/.test(String(text)) ? Number(text) : NaN;
  }

  // Each box value keeps six significant digits of itself and of its
  // axis's extent, so a deep zoom far from the origin keeps its width.
  function formatBox(values) {
    return values.map((v, i) => {
      const axis = i % 3;
      const extent = Math.abs(values[axis + 3] - values[axis]);
      return plainDecimal(v, Math.min(20, Math.max(placesFor(Math.abs(v), 6), placesFor(extent, 6))));
    }).join(',');
  }

  const formatAngles = (values) => values.map((v) => plainDecimal(v, 4)).join(',');

  // ---- views as text ---------------------------------------------------

  // Commas stay readable in the fragment and the query; everything else
  // that could be taken for a separator is escaped.
  const encodeValue = (text) => encodeURIComponent(text).replace(/%2C/gi, ',');

  function decodeValue(text) {
    try {
      return decodeURIComponent(text);
    } catch {
      return text;
    }
  }

  const queryOf = (view) => KEYS.map((k) => `${k}=${encodeValue(view[k])}`).join('&');

  // "-0" is the renderer's 0: written as 0, so that no link or command
  // carries a sign that means nothing.
  const unsignedZeros = (text) => String(text).split(',')
    .map((part) => (Object.is(parseNumber(part), -0) ? part.replace('-', '') : part)).join(',');

  function withUnsignedZeros(view) {
    for (const [key] of REAL_GROUPS) view[key] = unsignedZeros(view[key]);
    return view;
  }

  function completeView(partial, base) {
    const view = {};
    for (const k of KEYS) {
      const v = partial ? partial[k] : undefined;
      if (typeof v === 'string') view[k] = v;
      else if (typeof v === 'number' || typeof v === 'boolean') view[k] = String(v);
      else view[k] = base[k];
    }
    return withUnsignedZeros(view);
  }

  function parseFragment(hash) {
    const found = {};
    const text = hash.startsWith('#') ? hash.slice(1) : hash;
    for (const part of text.split('&')) {
      if (!part) continue;
      const eq = part.indexOf('=');
      const key = decodeValue(eq < 0 ? part : part.slice(0, eq));
      if (KEYS.includes(key)) found[key] = eq < 0 ? '' : decodeValue(part.slice(eq + 1));
    }
    return found;
  }

  function readStartView() {
    try {
      const parsed = JSON.parse($('start-view').textContent);
      if (parsed && typeof parsed === 'object') return completeView(parsed, DEFAULTS);
    } catch {
      // The page was opened without the server filling in its start view.
    }
    return { ...DEFAULTS };
  }

  const sameView = (a, b) => KEYS.every((k) => a[k] === b[k]);

  // The view at a quarter of the size on each side and a quarter of the
  // coarse steps; null when the size or steps are not plain whole numbers,
  // so that the full request goes straight out and the server says what is
  // wrong.
  function previewOf(view) {
    const size = parseSize(view.size);
    const coarse = parseWhole(view.coarse);
    if (!size || !Number.isSafeInteger(coarse) || size.width < 1 || size.height < 1 || coarse < 1) {
      return null;
    }
    return {
      ...view,
      size: `${Math.max(1, Math.floor(size.width / 4))}x${Math.max(1, Math.floor(size.height / 4))}`,
      coarse: String(Math.max(1, Math.floor(coarse / 4))),
    };
  }

  // ---- commands --------------------------------------------------------

  function shellQuote(text) {
    if (text !== '' && /^[A-Za-z0-9_.,:=/+%@-]+$/.test(text)) return text;
    return `'${text.replace(/'/g, `'\\''`)}'`;
  }

  // A switch (--occlusion): on is the bare option and off its absence;
  // another word goes as the server was given it.
  function optionOf(view, key) {
    if (!SWITCHES.includes(key)) return `--${key} ${shellQuote(view[key])}`;
    if (view[key] === 'true') return `--${key}`;
    if (view[key] === 'false') return null;
    return `--${key}=${shellQuote(view[key])}`;
  }

  const optionsOf = (view, keys) => keys.map((k) => optionOf(view, k)).filter(Boolean).join(' ');
  const renderOptions = (view) => optionsOf(view, KEYS);

  const renderCommand = (view) => `quatdepth-render ${renderOptions(view)} -o view.png`;

  // The view's mesh: its options alone, the rest being a picture's.
  const meshCommand = (view) => `quatdepth-mesh ${optionsOf(view, VIEW_KEYS)} --resolution 512 -o view.ply`;

  // The fourteen real parameters' texts, or a message naming the group
  // that does not split into its count.
  function realTexts(view) {
    const texts = [];
    for (const [key, count] of REAL_GROUPS) {
      const parts = String(view[key]).split(',');
      if (parts.length !== count) return { error: `${key} is not ${count} number${count > 1 ? 's' : ''}` };
      texts.push(...parts.map((p) => p.trim()));
    }
    return { texts };
  }

  function sameReal(a, b) {
    const x = parseNumber(a);
    const y = parseNumber(b);
    return Number.isFinite(x) && Number.isFinite(y) ? x === y : a === b;
  }

  // The command that sweeps every real parameter that differs between A
  // and B; the other settings cannot be swept, so A's are rendered.
  function animation(a, b, framesText) {
    const notes = [];
    const ra = realTexts(a);
    const rb = realTexts(b);
    if (ra.error || rb.error) {
      return { command: '', notes: [`Cannot sweep: ${ra.error ? `A's ${ra.error}` : `B's ${rb.error}`}.`] };
    }
    const sweeps = [];
    REAL_NAMES.forEach((name, i) => {
      if (!sameReal(ra.texts[i], rb.texts[i])) {
        sweeps.push(`--animate ${shellQuote(`${name}=${ra.texts[i]}:${rb.texts[i]}`)}`);
      }
    });
    if (sweeps.length === 0) notes.push('A and B have the same real parameters: every frame is the same.');
    const differing = NON_REAL_KEYS.filter((k) => a[k] !== b[k]);
    if (differing.length) {
      notes.push(`A and B differ in ${differing.join(', ')}: A's ${differing.length > 1 ? 'are' : 'is'} used.`);
    }
    // No command for a count quatdepth-render refuses.
    const frames = /^\s*\d+\s*$/.test(framesText) ? Number(framesText) : NaN;
    if (!(frames >= 1 && frames <= MAX_FRAMES)) {
      return { command: '', notes: [...notes, `frames: give a whole number from 1 to ${MAX_FRAMES}.`] };
    }
    const command = ['quatdepth-render', renderOptions(a), `--frames ${frames}`, ...sweeps,
      '-o frame%04d.png'].join(' ');
    return { command, notes };
  }

  // ---- state -----------------------------------------------------------

  const PAGE_ID = (() => {
    const alphabet = 'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-';
    const bytes = new Uint8Array(20);
    crypto.getRandomValues(bytes);
    return Array.from(bytes, (b) => alphabet[b & 63]).join('');
  })();

  const startView = readStartView();
  const state = {
    view: completeView(parseFragment(location.hash), startView),
    shown: null,
    shownBlob: null,
    lastFull: null,
    lastFullPicture: null,
    timings: [],
    refusal: null,
    marks: { A: null, B: null },
  };

  const render = { pending: null, inflight: null, patienceTimer: 0, retryTimer: 0, seq: 0 };

  // ---- fragment --------------------------------------------------------

  let fragmentTimer = 0;
  let fragmentLastWrite = -Infinity;

  function writeFragment() {
    clearTimeout(fragmentTimer);
    fragmentTimer = 0;
    fragmentLastWrite = performance.now();
    const hash = `#${queryOf(state.view)}`;
    if (location.hash !== hash) history.replaceState(history.state, '', hash);
  }

  function scheduleFragment() {
    if (fragmentTimer) return;
    const wait = Math.max(0, fragmentLastWrite + FRAGMENT_INTERVAL_MS - performance.now());
    fragmentTimer = setTimeout(writeFragment, wait);
  }

  // ---- inputs ----------------------------------------------------------

  // Sliders with a text box beside them. `part` picks one component of a
  // comma list (c's four numbers); `places` is how the slider's value is
  // written as text.
  const SLIDERS = [
    { id: 'c0', key: 'c', part: 0, places: 3 },
    { id: 'c1', key: 'c', part: 1, places: 3 },
    { id: 'c2', key: 'c', part: 2, places: 3 },
    { id: 'c3', key: 'c', part: 3, places: 3 },
    { id: 'w', key: 'w', places: 3 },
    { id: 'iterations', key: 'iterations', places: 0 },
    { id: 'coarse', key: 'coarse', places: 0 },
    { id: 'fine', key: 'fine', places: 0 },
    { id: 'bailout', key: 'bailout', places: 0 },
  ];
  // Text fields: the page's own, and one for each parameter the page has
  // no control of its own for (added by addPlainFields).
  const TEXTS = ['box', 'angles', 'size'];
  const SELECTS = [...CHOICES, ...COUNTS].map((p) => p.key);

  function componentsOf(text, count) {
    const parts = String(text).split(',');
    // Anything past the last box stays in it, so the text reassembles as it was.
    return Array.from({ length: count }, (_, i) => (i < count - 1 ? parts[i] ?? '' : parts.slice(i).join(',')));
  }

  function textOfSlider(slider) {
    if (slider.part === undefined) return state.view[slider.key];
    return componentsOf(state.view.c, 4)[slider.part];
  }

  function setSliderPosition(slider, text) {
    const value = parseNumber(text);
    if (Number.isFinite(value)) $(`${slider.id}-range`).value = String(value);
  }

  function ensureOption(select, value) {
    if (![...select.options].some((o) => o.value === value)) {
      const option = document.createElement('option');
      option.value = value;
      option.textContent = value;
      select.append(option);
    }
    select.value = value;
  }

  // Writes the view into every control except `except`, the one being typed in.
  function syncInputs(except) {
    for (const slider of SLIDERS) {
      const text = textOfSlider(slider);
      if ($(slider.id) !== except) $(slider.id).value = text;
      if ($(`${slider.id}-range`) !== except) setSliderPosition(slider, text);
    }
    for (const id of TEXTS) if ($(id) !== except) $(id).value = state.view[id];
    for (const id of SELECTS) if ($(id) !== except) ensureOption($(id), state.view[id]);
    // A word other than true or false (from a link) is neither on nor off.
    for (const key of SWITCHES) {
      $(key).checked = state.view[key] === 'true';
      $(key).indeterminate = !['true', 'false'].includes(state.view[key]);
    }
  }

  // A plain text field for each parameter without a control on the page,
  // so that a parameter the server lists can be seen and set.
  function addPlainFields() {
    const section = $('h-render').parentElement;
    for (const { key } of PARAMETERS) {
      if ($(key) || SLIDERS.some((slider) => slider.key === key)) continue;
      const field = document.createElement('div');
      field.className = 'field';
      field.dataset.key = key;
      const label = document.createElement('label');
      label.htmlFor = key;
      label.textContent = key;
      const input = document.createElement('input');
      input.id = key;
      input.type = 'text';
      input.spellcheck = false;
      input.autocomplete = 'off';
      const error = document.createElement('p');
      error.className = 'field-error';
      error.id = `error-${key}`;
      error.hidden = true;
      field.append(label, input, error);
      section.append(field);
      TEXTS.push(key);
    }
  }

  function viewWithSliderText(slider, text) {
    if (slider.part === undefined) return { [slider.key]: text };
    const parts = SLIDERS.filter((s) => s.key === slider.key)
      .map((s) => (s === slider ? text : $(s.id).value));
    return { [slider.key]: parts.join(',') };
  }

  // ---- the view changes ------------------------------------------------

  function setView(changes, t0, except) {
    const next = withUnsignedZeros({ ...state.view, ...changes });
    if (sameView(next, state.view)) return;
    state.view = next;
    syncInputs(except);
    showZoomLimit();
    scheduleFragment();
    requestRender(t0);
  }

  function replaceView(view, t0) {
    state.view = completeView(view, startView);
    syncInputs(null);
    showZoomLimit();
    writeFragment();
    requestRender(t0);
  }

  // ---- rendering -------------------------------------------------------

  function requestRender(t0) {
    const view = { ...state.view };
    if (state.shown && state.shown.kind === 'full' && state.shown.query === queryOf(view)) {
      // Back to the picture on screen (a refused value undone): nothing to render.
      render.pending = null;
      clearPatience();
      render.inflight?.controller.abort();
      render.inflight = null;
      clearRetry();
      clearRefusal();
      setStatus(view.size, '');
      return;
    }
    render.pending = { view, t0 };
    pump();
  }

  function clearPatience() {
    clearTimeout(render.patienceTimer);
    render.patienceTimer = 0;
  }

  function clearRetry() {
    clearTimeout(render.retryTimer);
    render.retryTimer = 0;
  }

  // Retry-After in seconds or as a date, kept within a second and a
  // minute; null without one.
  function retryDelay(header) {
    if (header === null) return null;
    const seconds = /^\s*\d+\s*$/.test(header) ? Number(header) : (Date.parse(header) - Date.now()) / 1000;
    return Number.isFinite(seconds) ? Math.min(60, Math.max(1, seconds)) * 1000 : null;
  }

  // At most one picture request is in flight. A newer view replaces a full
  // render at once (the server stops the older one through page and seq)
  // and replaces a preview once it has had its chance.
  function pump() {
    const job = render.pending;
    if (!job) return;
    const busy = render.inflight;
    if (busy) {
      const age = performance.now() - busy.started;
      if (busy.kind === 'preview' && age < PREVIEW_PATIENCE_MS) {
        if (!render.patienceTimer) {
          render.patienceTimer = setTimeout(() => {
            render.patienceTimer = 0;
            pump();
          }, PREVIEW_PATIENCE_MS - age + 1);
        }
        return;
      }
      busy.controller.abort();
      render.inflight = null;
    }
    clearPatience();
    render.pending = null;
    const preview = previewOf(job.view);
    startRequest(job, preview ? 'preview' : 'full', preview ?? job.view);
  }

  async function fetchPicture(query, seq, signal) {
    const response = await fetch(`image.png?${query}&page=${PAGE_ID}&seq=${seq}`, { signal, cache: 'no-store' });
    if (response.status === 409) return { superseded: true };
    if (response.status === 503) {
      const text = (await response.text()).trim();
      return { unavailable: { text, retryMs: retryDelay(response.headers.get('Retry-After')) } };
    }
    if (!response.ok) {
      return { refusal: { status: response.status, text: (await response.text()).trim() } };
    }
    const blob = await response.blob();
    const url = URL.createObjectURL(blob);
    const img = new Image();
    img.src = url;
    try {
      // Decoded before it replaces the old picture, so nothing flickers.
      await img.decode();
    } catch {
      URL.revokeObjectURL(url);
      return { refusal: { status: 0, text: 'the server sent a picture that does not decode' } };
    }
    return { img, blob };
  }

  async function startRequest(job, kind, requestView) {
    const query = queryOf(requestView);
    const flight = { job, kind, query, controller: new AbortController(), started: performance.now() };
    clearRetry();
    render.inflight = flight;
    setStatus(kind === 'preview' ? 'preview' : 'rendering', 'busy');
    let outcome;
    try {
      outcome = await fetchPicture(query, ++render.seq, flight.controller.signal);
    } catch (err) {
      if (flight.controller.signal.aborted) return;
      outcome = { refusal: { status: 0, text: `the server could not be reached (${err.message})` } };
    }
    if (render.inflight !== flight) {
      if (outcome.img) URL.revokeObjectURL(outcome.img.src);
      return;
    }
    render.inflight = null;
    if (outcome.superseded) {
      // Only a newer request of this page supersedes one; it is on its way.
      setStatus('superseded', '');
      pump();
      return;
    }
    if (outcome.unavailable) {
      showUnavailable(outcome.unavailable, kind, () => startRequest(job, kind, requestView));
      pump();  // a newer view goes now, and drops the wait
      return;
    }
    if (outcome.refusal) {
      if (kind === 'preview' && !render.pending) {
        // The preview's own size or steps would be named: ask for the view
        // itself, whose refusal names what the user gave.
        startRequest(job, 'full', job.view);
        return;
      }
      showRefusal(outcome.refusal);
      // A preview of the refused view must not stand for a picture.
      if (kind === 'full' && state.shown?.kind === 'preview') restoreLastFull();
      pump();
      return;
    }
    const ms = showPicture(outcome, kind, query, job);
    if (kind === 'preview' && !render.pending) {
      startRequest(job, 'full', job.view);
    } else {
      if (kind === 'full') setStatus(`${requestView.size}`, '');
      pump();
    }
    return ms;
  }

  // Puts a decoded picture on screen in place of the one there.
  function placePicture(img, kind, query) {
    const old = $('picture');
    img.id = 'picture';
    img.alt = old.alt;
    img.draggable = false;
    img.dataset.kind = kind;
    img.dataset.query = query;
    old.replaceWith(img);
    if (old.src.startsWith('blob:')) URL.revokeObjectURL(old.src);
  }

  // Back to the last full picture (the one the panel describes), or to
  // none when there was none.
  async function restoreLastFull() {
    const last = state.lastFullPicture;
    const refused = state.shown;
    $('timing-preview').textContent = 'preview –';
    $('timing-full').textContent = 'full –';
    if (!last) {
      const img = new Image();
      placePicture(img, '', '');
      state.shown = null;
      state.shownBlob = null;
      return;
    }
    const img = new Image();
    img.src = URL.createObjectURL(last.blob);
    try {
      await img.decode();
    } catch {
      URL.revokeObjectURL(img.src);
      return;
    }
    if (state.shown !== refused) {
      URL.revokeObjectURL(img.src);  // a newer picture came meanwhile
      return;
    }
    placePicture(img, 'full', last.query);
    state.shown = { kind: 'full', query: last.query, src: `image.png?${last.query}`, view: last.query };
    state.shownBlob = last.blob;
  }

  function showPicture({ img, blob }, kind, query, job) {
    placePicture(img, kind, query);
    const ms = performance.now() - job.t0;

    const viewQuery = queryOf(job.view);
    state.shown = { kind, query, src: `image.png?${query}`, view: viewQuery };
    state.shownBlob = blob;
    state.timings.push({ kind, ms, query, view: viewQuery });
    if (state.timings.length > MAX_TIMINGS) state.timings.splice(0, state.timings.length - MAX_TIMINGS);
    $(`timing-${kind}`).textContent = `${kind} ${ms.toFixed(0)} ms`;
    if (kind === 'preview') $('timing-full').textContent = 'full …';
    clearRefusal();
    if (kind === 'full') {
      state.lastFull = { ...job.view };
      state.lastFullPicture = { blob, query };
      describeShown(job.view);
    }
    return ms;
  }

  function setStatus(text, cls) {
    const status = $('status');
    status.textContent = text;
    status.className = cls;
  }

  // ---- refusals --------------------------------------------------------

  // quatdepth-render's messages start with the options at fault
  // ("--c '1,2': ...", "--coarse, --fine: ..."); the message goes beside
  // each of them, or above everything when it names none of ours.
  function fieldsNamedBy(text) {
    const lead = /^\s*(--[a-z][a-z-]*(?:\s*,\s*--[a-z][a-z-]*)*)/i.exec(text);
    if (!lead) return [];
    return lead[1].split(',').map((s) => s.trim().slice(2)).filter((k) => KEYS.includes(k));
  }

  function showRefusal({ status, text }) {
    clearRefusal();
    const message = text || `the server answered ${status}`;
    let fields = fieldsNamedBy(message);
    // Too many pixels is the size's doing (with supersampling) even when
    // the message names no option.
    if (fields.length === 0 && status === 413) fields = ['size'];
    state.refusal = { status, text: message, fields };
    if (fields.length === 0) {
      const general = $('general-message');
      general.textContent = message;
      general.hidden = false;
    }
    for (const key of fields) {
      const slot = $(`error-${key}`);
      slot.textContent = message;
      slot.hidden = false;
      slot.closest('.field').classList.add('refused');
    }
    setStatus(status ? `refused (${status})` : 'failed', 'refused');
    $('timing-preview').textContent = 'preview –';
    $('timing-full').textContent = 'full –';
  }

  // 503 is about the server, not the view: a busy one says when to ask
  // again and the same request goes then; a stopping one does not, and the
  // page says so until the next change.
  function showUnavailable({ text, retryMs }, kind, again) {
    clearRefusal();
    const general = $('general-message');
    general.textContent = text || 'the server cannot render now';
    general.hidden = false;
    if (retryMs === null) {
      setStatus('unavailable (503)', 'refused');
      if (kind === 'full' && state.shown?.kind === 'preview') restoreLastFull();
      return;
    }
    setStatus(`busy (503): again in ${Math.round(retryMs / 1000)} s`, 'busy');
    render.retryTimer = setTimeout(() => {
      render.retryTimer = 0;
      if (!render.inflight && !render.pending) again();
    }, retryMs);
  }

  function clearRefusal() {
    state.refusal = null;
    for (const slot of document.querySelectorAll('.field-error')) {
      slot.hidden = true;
      slot.textContent = '';
    }
    for (const field of document.querySelectorAll('.field.refused')) field.classList.remove('refused');
    $('general-message').hidden = true;
    $('general-message').textContent = '';
  }

  // ---- what is on screen, reproduced -----------------------------------

  let argsController = null;

  async function fetchArgs(view) {
    argsController?.abort();
    const controller = new AbortController();
    argsController = controller;
    const query = queryOf(view);
    const out = $('positional-args');
    delete out.dataset.query;
    out.textContent = '…';
    try {
      const response = await fetch(`args?${query}`, { signal: controller.signal, cache: 'no-store' });
      const text = await response.text();
      if (controller !== argsController) return;
      if (!response.ok) {
        out.textContent = `(refused: ${text.trim()})`;
        return;
      }
      out.textContent = text.replace(/\r?\n$/, '');
      out.dataset.query = query;
    } catch (err) {
      if (!controller.signal.aborted) out.textContent = `(the server could not be reached: ${err.message})`;
    }
  }

  // A command is shown as its options, each kept whole on a line (an option
  // cut at its dashes reads as two); its text stays exactly the command.
  function showCommand(out, text) {
    out.replaceChildren();
    if (!text) return;
    text.split(/ (?=--|-o )/).forEach((piece, i) => {
      if (i > 0) out.append(' ');
      const span = document.createElement('span');
      span.className = 'option';
      span.textContent = piece;
      out.append(span);
    });
  }

  function describeShown(view) {
    const query = queryOf(view);
    const command = $('render-command');
    showCommand(command, renderCommand(view));
    command.dataset.query = query;
    showCommand($('mesh-command'), meshCommand(view));
    $('save-png').href = `image.png?${query}`;
    $('save-exr').href = `depth.exr?${query}`;
    fetchArgs(view);
  }

  // ---- copying ---------------------------------------------------------

  function copyByTextarea(text) {
    const area = document.createElement('textarea');
    area.value = text;
    area.setAttribute('readonly', '');
    area.style.position = 'fixed';
    area.style.opacity = '0';
    document.body.append(area);
    area.select();
    let ok = false;
    try {
      ok = document.execCommand('copy');
    } finally {
      area.remove();
    }
    return ok;
  }

  async function copyText(text) {
    if (navigator.clipboard && window.isSecureContext) {
      try {
        await navigator.clipboard.writeText(text);
        return true;
      } catch {
        // Permission refused (an unfocused page, a policy): try the old way.
      }
    }
    return copyByTextarea(text);
  }

  let copyNoteTimer = 0;
  function noteCopy(text) {
    const note = $('copy-note');
    note.textContent = text;
    clearTimeout(copyNoteTimer);
    copyNoteTimer = setTimeout(() => { note.textContent = ''; }, 2000);
  }

  // ---- marks and the animation -----------------------------------------

  function updateAnimation() {
    const { A, B } = state.marks;
    const note = $('animate-note');
    const out = $('animate-command');
    $('goto-a').disabled = !A;
    $('goto-b').disabled = !B;
    $('mark-a').classList.toggle('marked', !!A);
    $('mark-b').classList.toggle('marked', !!B);
    if (!A || !B) {
      note.textContent = A || B ? `Mark ${A ? 'B' : 'A'} too to sweep between them.` : 'Mark two views to sweep between them.';
      out.textContent = '';
      return;
    }
    const { command, notes } = animation(A, B, $('frames').value);
    showCommand(out, command);
    note.textContent = notes.join(' ') || 'Every real parameter that differs is swept from A to B.';
  }

  function mark(which) {
    state.marks[which] = { ...state.view };
    $(`mark-${which.toLowerCase()}`).title = queryOf(state.view);
    updateAnimation();
  }

  // ---- gestures --------------------------------------------------------

  // Where the picture sits in the stage (object-fit: contain), in CSS pixels.
  function pictureRect() {
    const stage = $('stage');
    const size = parseSize(state.view.size);
    const img = $('picture');
    const aspect = size && size.width > 0 && size.height > 0 ? size.width / size.height
      : img.naturalWidth > 0 && img.naturalHeight > 0 ? img.naturalWidth / img.naturalHeight : 1;
    const w = stage.clientWidth;
    const h = stage.clientHeight;
    return w / h > aspect ? { width: h * aspect, height: h } : { width: w, height: w / aspect };
  }

  function turn(dx, dy, roll, t0) {
    const angles = parseList(state.view.angles, 3);
    if (!angles) return;
    // Across the whole picture is half a turn.
    const k = Math.PI / Math.max(1, pictureRect().width);
    if (roll) angles[2] += dx * k;
    else {
      angles[0] += dy * k;
      angles[1] += dx * k;
    }
    setView({ angles: formatAngles(angles) }, t0);
  }

  // Row 0 is yMin and column 0 is xMin, so moving the box against the
  // mouse makes the set follow it.
  function pan(dx, dy, t0) {
    const box = parseList(state.view.box, 6);
    if (!box) return;
    const rect = pictureRect();
    const sx = (box[3] - box[0]) / Math.max(1, rect.width);
    const sy = (box[4] - box[1]) / Math.max(1, rect.height);
    box[0] -= dx * sx;
    box[3] -= dx * sx;
    box[1] -= dy * sy;
    box[4] -= dy * sy;
    setBox(box, t0);
  }

  // A moved box that a double cannot hold is not taken.
  function setBox(box, t0) {
    if (box.every(Number.isFinite)) setView({ box: formatBox(box) }, t0);
  }

  const smallestSide = (low, high) => SMALLEST_SIDE * Math.max(1, Math.abs(low), Math.abs(high));

  // The part of `factor` the box may take: all its sides scale alike and
  // none goes past the smallest or the largest. A box already past a limit
  // (typed, or from a link) can still zoom back towards it.
  function zoomFactor(box, factor) {
    let allowed = factor;
    for (let axis = 0; axis < 3; axis++) {
      const side = Math.abs(box[axis + 3] - box[axis]);
      const smallest = smallestSide(box[axis], box[axis + 3]);
      if (factor < 1) allowed = side === 0 ? 1 : Math.max(allowed, Math.min(1, smallest / side));
      else if (side > 0) allowed = Math.min(allowed, Math.max(1, LARGEST_SIDE / side));
    }
    // The box's text keeps six digits: one a rounding from its limit is at it.
    return allowed !== factor && Math.abs(allowed - 1) < 1e-3 ? 1 : allowed;
  }

  function zoomLimit(view) {
    const box = parseList(view.box, 6);
    if (!box) return '';
    if (zoomFactor(box, 0.5) === 1) return 'smallest box: zoom out to go back';
    if (zoomFactor(box, 2) === 1) return 'largest box: zoom in to go back';
    return '';
  }

  function showZoomLimit() {
    const note = $('zoom-limit');
    note.textContent = zoomLimit(state.view);
    note.hidden = !note.textContent;
  }

  function zoom(factor, t0) {
    const box = parseList(state.view.box, 6);
    if (!box) return;
    const allowed = zoomFactor(box, factor);
    if (allowed === 1) return;
    for (let axis = 0; axis < 3; axis++) {
      const centre = (box[axis] + box[axis + 3]) / 2;
      box[axis] = centre + (box[axis] - centre) * allowed;
      box[axis + 3] = centre + (box[axis + 3] - centre) * allowed;
      // A side narrower than the smallest (none at all, typed) cannot grow
      // by scaling: zooming out starts it at the smallest.
      const smallest = smallestSide(box[axis], box[axis + 3]);
      if (allowed > 1 && Math.abs(box[axis + 3] - box[axis]) < smallest) {
        const direction = Math.sign(box[axis + 3] - box[axis]) || 1;
        box[axis] = centre - (direction * smallest) / 2;
        box[axis + 3] = centre + (direction * smallest) / 2;
      }
    }
    setBox(box, t0);
  }

  function stepBox(fx, fy, t0) {
    const box = parseList(state.view.box, 6);
    if (!box) return;
    const dx = (box[3] - box[0]) * fx;
    const dy = (box[4] - box[1]) * fy;
    box[0] += dx;
    box[3] += dx;
    box[1] += dy;
    box[4] += dy;
    setBox(box, t0);
  }

  function wireGestures() {
    const stage = $('stage');
    let drag = null;

    stage.addEventListener('contextmenu', (e) => e.preventDefault());
    stage.addEventListener('pointerdown', (e) => {
      if (e.target.closest('button') || (e.button !== 0 && e.button !== 2)) return;
      e.preventDefault();
      stage.focus({ preventScroll: true });
      drag = { id: e.pointerId, x: e.clientX, y: e.clientY, pan: e.button === 2 };
      stage.setPointerCapture(e.pointerId);
      stage.classList.add('dragging');
    });
    stage.addEventListener('pointermove', (e) => {
      if (!drag || e.pointerId !== drag.id) return;
      const t0 = performance.now();
      const dx = e.clientX - drag.x;
      const dy = e.clientY - drag.y;
      if (dx === 0 && dy === 0) return;
      drag.x = e.clientX;
      drag.y = e.clientY;
      if (drag.pan) pan(dx, dy, t0);
      else turn(dx, dy, e.shiftKey, t0);
    });
    const end = (e) => {
      if (!drag || e.pointerId !== drag.id) return;
      drag = null;
      stage.classList.remove('dragging');
      // A drag ends with the fragment current, for a reload or a copied link.
      writeFragment();
    };
    stage.addEventListener('pointerup', end);
    stage.addEventListener('pointercancel', end);
    stage.addEventListener('lostpointercapture', end);

    stage.addEventListener('wheel', (e) => {
      e.preventDefault();
      const t0 = performance.now();
      const unit = e.deltaMode === 1 ? 16 : e.deltaMode === 2 ? 400 : 1;
      const factor = Math.min(2, Math.max(0.5, Math.exp(e.deltaY * unit * 0.0015)));
      zoom(factor, t0);
    }, { passive: false });

    document.addEventListener('keydown', (e) => {
      if (e.target.closest('input, select, textarea') || e.ctrlKey || e.metaKey || e.altKey) return;
      const t0 = performance.now();
      const step = e.shiftKey ? 0.25 : 0.05;
      const moves = { ArrowLeft: [-step, 0], ArrowRight: [step, 0], ArrowUp: [0, -step], ArrowDown: [0, step] };
      if (moves[e.key]) {
        e.preventDefault();
        stepBox(moves[e.key][0], moves[e.key][1], t0);
      } else if (e.key === '+' || e.key === '=') {
        zoom(0.8, t0);
      } else if (e.key === '-') {
        zoom(1.25, t0);
      }
    });
    document.addEventListener('keyup', (e) => {
      if (e.key.startsWith('Arrow')) writeFragment();
    });
  }

  // ---- controls --------------------------------------------------------

  // A text box commits after a pause in typing, or at once on Enter or
  // leaving it; the time counts from the last keystroke.
  function wireText(input, changesOf) {
    let timer = 0;
    let t0 = 0;
    const commit = () => {
      clearTimeout(timer);
      timer = 0;
      setView(changesOf(input.value), t0 || performance.now(), input);
    };
    input.addEventListener('input', () => {
      t0 = performance.now();
      clearTimeout(timer);
      timer = setTimeout(commit, TYPING_PAUSE_MS);
    });
    input.addEventListener('change', () => {
      if (timer) commit();
    });
    input.addEventListener('keydown', (e) => {
      if (e.key === 'Enter') {
        t0 = performance.now();
        commit();
      }
    });
  }

  function wireControls() {
    const addOption = (select, value, text) => {
      const option = document.createElement('option');
      option.value = value;
      option.textContent = text;
      select.append(option);
    };
    for (const choice of CHOICES) {
      for (const name of choice.choices) addOption($(choice.key), name, name);
    }
    // A count of samples a side: n x n a pixel.
    for (const count of COUNTS) {
      for (let n = 1; n <= count.most; n++) addOption($(count.key), String(n), n === 1 ? '1 (off)' : `${n}×${n}`);
    }

    for (const slider of SLIDERS) {
      const range = $(`${slider.id}-range`);
      const text = $(slider.id);
      range.addEventListener('input', () => {
        const value = plainDecimal(Number(range.value), slider.places);
        text.value = value;
        setView(viewWithSliderText(slider, value), performance.now(), range);
      });
      range.addEventListener('change', writeFragment);
      wireText(text, (value) => {
        setSliderPosition(slider, value);
        return viewWithSliderText(slider, value);
      });
    }
    for (const id of TEXTS) wireText($(id), (value) => ({ [id]: value }));
    for (const id of SELECTS) {
      $(id).addEventListener('change', (e) => setView({ [id]: e.target.value }, performance.now(), e.target));
    }
    for (const key of SWITCHES) {
      $(key).addEventListener('change', (e) => {
        setView({ [key]: String(e.target.checked) }, performance.now(), e.target);
      });
    }

    $('fit-size').addEventListener('click', () => {
      const stage = $('stage');
      setView({ size: `${Math.max(1, stage.clientWidth)}x${Math.max(1, stage.clientHeight)}` }, performance.now());
    });
    $('reset-view').addEventListener('click', () => replaceView(startView, performance.now()));

    $('panel-toggle').addEventListener('click', () => {
      const hidden = $('app').classList.toggle('panel-hidden');
      $('panel-toggle').setAttribute('aria-expanded', String(!hidden));
    });

    for (const button of document.querySelectorAll('button.copy')) {
      button.addEventListener('click', async () => {
        const text = $(button.dataset.copy).textContent;
        if (!text) return;
        noteCopy((await copyText(text)) ? 'copied' : 'copy failed: select the text and copy it by hand');
      });
    }

    $('mark-a').addEventListener('click', () => mark('A'));
    $('mark-b').addEventListener('click', () => mark('B'));
    $('goto-a').addEventListener('click', () => state.marks.A && replaceView(state.marks.A, performance.now()));
    $('goto-b').addEventListener('click', () => state.marks.B && replaceView(state.marks.B, performance.now()));
    $('frames').addEventListener('input', updateAnimation);

    window.addEventListener('hashchange', () => {
      const view = completeView(parseFragment(location.hash), startView);
      if (!sameView(view, state.view)) replaceView(view, performance.now());
    });
  }

  // ---- start -----------------------------------------------------------

  window.quatdepthExplorer = {
    get view() { return { ...state.view }; },
    get shown() { return state.shown ? { ...state.shown } : null; },
    // The PNG on screen as the server sent it (the page's policy lets no
    // script fetch its blob: address back).
    get shownBlob() { return state.shownBlob; },
    get refusal() { return state.refusal ? { ...state.refusal } : null; },
    get marks() { return { A: state.marks.A && { ...state.marks.A }, B: state.marks.B && { ...state.marks.B } }; },
    timings: state.timings,
    pageId: PAGE_ID,
    queryOf,
    previewOf,
    animation,
    plainDecimal,
    formatBox,
  };

  if (PARAMETERS.length === 0) {
    setStatus('open this page through quatdepth-explore: it lists the parameters', 'refused');
    return;
  }
  const t0 = performance.now();
  addPlainFields();
  wireControls();
  wireGestures();
  syncInputs(null);
  showZoomLimit();
  showCommand($('render-command'), renderCommand(state.view));
  showCommand($('mesh-command'), meshCommand(state.view));
  updateAnimation();
  writeFragment();
  requestRender(t0);
})();
