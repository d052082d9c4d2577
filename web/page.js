// The page: choosing the file, the options and the run. The conversion itself
// runs in workers (worker.js), each with its own instance of the pipeline
// compiled to WebAssembly: one frames the file into parts as it reads it,
// the others convert them; this script hands the parts out, shows the
// progress and streams the parts' outputs in input order into one Blob to
// download.
'use strict';

(() => {
  const $ = (id) => document.getElementById(id);

  // Parts of this many bytes: enough that a part's start costs little, small
  // enough that the workers finish close together and memory stays small.
  // Tests ask for small sizes in the address (#part-size=N&frame-margin=N
  // &held-most=N&result-queue=N&workers=N), so that small files cross many
  // part edges, take the framing's rarer ways (see worker.js) and show what
  // the page holds at once.
  const asked = (name, otherwise) => {
    const found = new RegExp('(?:^#|&)' + name + '=(\\d+)').exec(location.hash);
    return found && Number(found[1]) >= 1 ? Number(found[1]) : otherwise;
  };
  const PART_SIZE = asked('part-size', 4 << 20);
  const FRAMING = { margin: asked('frame-margin', 0), heldMost: asked('held-most', 0) };
  // A part is read with this much more, which holds where its last line ends
  // unless that line is longer (the worker then reads on itself).
  const PART_EDGE = 64 << 10;
  const PREVIEW_BYTES = 64 << 10;
  // Bytes of the result the page queues for the browser at most, before it
  // waits to give out more parts.
  const RESULT_QUEUE = asked('result-queue', 32 << 20);
  // The progress is drawn at most this often (ms): drawing takes time from
  // the conversion, on machines with few cores.
  const PROGRESS_EVERY = 200;
  const PREVIEW_ROWS = 5;

  const OUTPUTS = [
    { value: 0, suffix: '-mint', label: 'With identifiers: every column as it is, and the identifier' },
    { value: 1, suffix: '-pseudonymised', feature: 16,
      label: 'Pseudonymised: names, SSNs and birth dates dropped, the identifier added' },
    { value: 2, suffix: '-keys', label: 'Key only: the record key and the identifier' },
  ];
  const FEATURE = { byName: 1, delimiter: 2, dateFormat: 4, genderValues: 8, dropIdentifying: 16, report: 32 };

  // Words for the fields in the mapping.
  const FIELD_LABELS = {
    data_record: 'Record key', patient_name: 'Patient name', patient_ssn: 'Patient SSN',
    patient_gender: 'Patient gender', patient_birth_year: 'Patient birth year',
    patient_birth_month: 'Patient birth month', patient_birth_day: 'Patient birth day',
    policy_name: 'Policy holder name', policy_ssn: 'Policy holder SSN', policy_gender: 'Policy holder gender',
    policy_birth_year: 'Policy holder birth year', policy_birth_month: 'Policy holder birth month',
    policy_birth_day: 'Policy holder birth day', patient_birth_date: 'Patient birth date',
    policy_birth_date: 'Policy holder birth date',
  };

  const workerSource = $('mint-worker-source').textContent;
  const workerUrl = URL.createObjectURL(new Blob([workerSource], { type: 'text/javascript' }));

  const state = {
    engine: null,        // what the first worker said when ready: features, fields
    file: null,
    header: new Uint8Array(0),
    columns: [],         // the header's column names
    proposed: [],        // by name: each field's column by the by-name rules (-1: none)
    mappingProblem: '',  // by name: what the engine says is wrong with the mapping
    mappingCheck: 0,     // the latest mapping check asked for
    keyFile: null,
    keyProblem: null,
    run: null,           // the run going on, if any
    started: null,       // settles when the engine is ready for the user's files
    downloads: [],       // object URLs to revoke
  };

  // Workers -----------------------------------------------------------------

  let pool = [];
  // By name, one more worker frames the file: it reads it once, front to
  // back, and hands each part's bytes on as it cuts them.
  let framer = null;
  const workerCount = () => Math.min(asked('workers', Math.max(1, navigator.hardwareConcurrency || 1)), 8);

  function startWorker() {
    const worker = new Worker(workerUrl);
    const entry = { worker, ready: null, busy: false };
    entry.ready = new Promise((resolve, reject) => {
      worker.onmessage = (event) => {
        if (event.data.type === 'ready') resolve(event.data);
        else if (event.data.type === 'failed') reject(new Error(event.data.message));
      };
      worker.onerror = (event) => { event.preventDefault(); reject(new Error(event.message)); };
    });
    return entry;
  }

  function startPool() {
    pool = [];
    for (let i = 0; i < workerCount(); ++i) pool.push(startWorker());
    framer = startWorker();
    return pool[0].ready;
  }

  // New workers after a Cancel or a failure, warmed up as at start (see
  // warmUp); whatever comes next waits for them.
  function restartPool() {
    stopPool();
    state.started = startPool().then(warmUp);
  }

  function stopPool() {
    for (const entry of pool) entry.worker.terminate();
    pool = [];
    if (framer) framer.worker.terminate();
    framer = null;
  }

  // One request to one worker, answered by one message of `type`.
  function ask(entry, message, type) {
    return new Promise((resolve, reject) => {
      entry.worker.onmessage = (event) => {
        if (event.data.type === type) resolve(event.data);
        else if (event.data.type === 'failed') reject(new Error(event.data.message));
      };
      entry.worker.postMessage(message);
    });
  }

  // Messages ----------------------------------------------------------------

  function say(id, text) {
    const element = $(id);
    element.textContent = text || '';
    element.hidden = !text;
  }

  function sizeText(bytes) {
    if (bytes < 1000) return bytes + ' bytes';
    if (bytes < 1e6) return (bytes / 1e3).toFixed(1) + ' kB';
    if (bytes < 1e9) return (bytes / 1e6).toFixed(1) + ' MB';
    return (bytes / 1e9).toFixed(2) + ' GB';
  }

  // One formatter: making one for each number costs the page's thread.
  const numberFormat = new Intl.NumberFormat('en-US', { maximumFractionDigits: 0 });
  const number = (value) => numberFormat.format(Math.round(value));

  // The file -----------------------------------------------------------------

  // Splits the first lines for the preview only: the conversion never uses it.
  function previewRows(text, delimiter) {
    const rows = [];
    for (const line of text.split(/\r\n|\r|\n/)) {
      if (rows.length === PREVIEW_ROWS + 1) break;
      const cells = [];
      let cell = '';
      let quoted = false;
      for (let i = 0; i < line.length; ++i) {
        const c = line[i];
        if (quoted) {
          if (c === '"' && line[i + 1] === '"') { cell += '"'; ++i; } else if (c === '"') quoted = false; else cell += c;
        } else if (c === '"' && cell === '') quoted = true;
        else if (c === delimiter) { cells.push(cell); cell = ''; } else cell += c;
      }
      cells.push(cell);
      rows.push(cells);
    }
    return rows;
  }

  function showPreview(rows) {
    const table = $('preview-table');
    table.replaceChildren();
    const caption = document.createElement('caption');
    caption.textContent = 'The first rows of ' + state.file.name;
    table.append(caption);
    rows.forEach((cells, index) => {
      const row = document.createElement('tr');
      for (const value of cells) {
        const cell = document.createElement(index === 0 ? 'th' : 'td');
        if (index === 0) cell.scope = 'col';
        cell.textContent = value;
        row.append(cell);
      }
      (index === 0 ? table.createTHead() : (table.tBodies[0] || table.createTBody())).append(row);
    });
    $('preview').hidden = false;
  }

  async function chooseFile(file) {
    // A file chosen while the page starts waits for it.
    await state.started;
    clearResult();
    say('file-error', '');
    state.file = null;
    $('preview').hidden = true;
    $('options').hidden = true;
    if (!file) return;
    let head;
    try {
      head = new Uint8Array(await file.slice(0, PREVIEW_BYTES).arrayBuffer());
    } catch (e) {
      say('file-error', 'The file "' + file.name + '" cannot be read. It may have been moved or deleted, ' +
          'or this browser may not be allowed to read it.');
      return;
    }
    state.file = file;
    let found = ',';
    if (byName()) {
      // The engine reads the header line by the by-name rules: the columns,
      // the delimiter and the field each maps to (the dropdowns start there).
      const answer = await readHeader(head, file.size <= head.length, noColumnsChosen());
      if (state.file !== file) return;
      state.header = head.slice(0, answer.length);
      state.columns = answer.columns;
      state.proposed = answer.fieldColumns;
      found = answer.delimiter;
      $('delimiter-found').textContent = 'Found: ' + DELIMITER_NAMES[found] + '.';
    } else {
      let end = head.findIndex((b) => b === 10 || b === 13);
      if (end < 0) end = head.length;
      state.header = head.slice(0, end);
    }
    const text = new TextDecoder('utf-8').decode(head);
    const rows = previewRows(text.replace(/^\ufeff/, ''), byName() ? found : delimiter());
    if (!byName()) state.columns = rows.length > 0 ? rows[0] : [];
    $('file-summary').textContent = file.name + ', ' + sizeText(file.size) + '.';
    if (file.size === 0) {
      say('file-error', 'The file "' + file.name + '" is empty: there is nothing to convert.');
    }
    showPreview(rows);
    buildMapping();
    $('options').hidden = false;
    checkReady();
    if (byName()) checkMapping();
  }

  const DELIMITER_NAMES = { ',': 'comma (,)', ';': 'semicolon (;)', '\t': 'tab', '|': 'vertical bar (|)' };

  const byName = () => Boolean(state.engine && state.engine.features & FEATURE.byName);

  function noColumnsChosen() {
    return state.engine.fields.map(() => -1);
  }

  // The header line as the engine reads it with these options (columns
  // chosen for fields), in the first worker.
  async function readHeader(bytes, atEnd, columns, entry = pool[0]) {
    await entry.ready;
    const opts = options(columns);
    return ask(entry, { type: 'header', options: opts, bytes, atEnd }, 'header');
  }

  // By name: asks the engine whether the dropdowns' mapping holds, and says
  // what is wrong next to the field it is about.
  async function checkMapping() {
    const check = ++state.mappingCheck;
    state.mappingProblem = 'checking';
    checkReady();
    const answer = await readHeader(state.header, true, chosenColumns());
    if (check !== state.mappingCheck) return;
    state.mappingProblem = answer.maps ? '' : answer.message.trim() || 'These columns cannot be read.';
    const about = answer.problemFields.filter((field) => field >= 0).map((field) => state.engine.fields[field]);
    for (const select of document.querySelectorAll('#mapping-fields select')) {
      const problem = about.includes(select.dataset.field) ? state.mappingProblem : '';
      say(select.id + '-problem', problem);
      select.setAttribute('aria-invalid', problem ? 'true' : 'false');
    }
    say('mapping-error', about.length === 0 ? state.mappingProblem : '');
    checkReady();
  }

  function delimiter() {
    const value = $('delimiter').value;
    return value === 'tab' ? '\t' : value === 'auto' ? ',' : value;
  }

  // The mapping --------------------------------------------------------------

  function fieldsShown() {
    const engine = state.engine;
    const byName = engine.features & FEATURE.byName;
    return engine.fields.slice(0, byName ? engine.fields.length : engine.positionalFields);
  }

  function buildMapping() {
    const list = $('mapping-fields');
    list.replaceChildren();
    const byName = state.engine.features & FEATURE.byName;
    fieldsShown().forEach((field, index) => {
      const row = document.createElement('div');
      row.className = 'field';
      const label = document.createElement('label');
      label.htmlFor = 'map-' + field;
      label.textContent = FIELD_LABELS[field] || field;
      const select = document.createElement('select');
      select.id = 'map-' + field;
      select.dataset.field = field;
      select.append(new Option('(no column)', '-1'));
      state.columns.forEach((name, column) => {
        select.append(new Option('Column ' + (column + 1) + ': ' + (name === '' ? '(unnamed)' : name), String(column)));
      });
      // By position, field i is column i; by name the engine said.
      const wanted = byName ? state.proposed[index] : index;
      select.value = wanted >= 0 && wanted < state.columns.length ? String(wanted) : '-1';
      // By name, a field the rules found a column for can be given another
      // column, but not none: mintbatch --by-name has no way to say that
      // either, and the page does nothing it cannot.
      if (byName && select.value !== '-1') {
        select.options[0].disabled = true;
      }
      select.dataset.expected = String(index < state.engine.positionalFields ? index : -1);
      const problem = document.createElement('span');
      problem.className = 'problem';
      problem.id = 'map-' + field + '-problem';
      problem.hidden = true;
      select.setAttribute('aria-describedby', problem.id);
      select.dataset.proposed = select.value;
      select.addEventListener('change', () => (byName ? checkMapping() : checkReady()));
      row.append(label, select, problem);
      list.append(row);
    });
  }

  function mappingProblems() {
    let problems = 0;
    const byName = state.engine.features & FEATURE.byName;
    if (byName) return state.mappingProblem ? 1 : 0;
    for (const select of document.querySelectorAll('#mapping-fields select')) {
      let problem = '';
      if (!byName && select.value !== select.dataset.expected) {
        problem = 'This version reads the columns in their fixed order only: this field is column ' +
          (Number(select.dataset.expected) + 1) + '.';
      }
      say(select.id + '-problem', problem);
      select.setAttribute('aria-invalid', problem ? 'true' : 'false');
      if (problem) ++problems;
    }
    return problems;
  }

  function checkReady() {
    const ready = state.engine && state.file && state.file.size > 0 && !state.run &&
      mappingProblems() === 0 && !state.keyProblem;
    $('run').disabled = !ready;
    return ready;
  }

  // The key file -------------------------------------------------------------

  async function chooseKey(file) {
    await state.started;
    clearResult();
    state.keyFile = null;
    state.keyProblem = null;
    say('key-error', '');
    $('key-status').textContent = 'No key: plain identifiers.';
    $('key-clear').hidden = true;
    if (file) {
      $('key-status').textContent = 'Checking the key file…';
      const entry = pool[0];
      await entry.ready;
      const answer = await ask(entry, { type: 'key', file }, 'key');
      if (answer.problem === 'unreadable') {
        state.keyProblem = 'The key file "' + file.name + '" cannot be read.';
      } else if (answer.problem) {
        state.keyProblem = 'The key file "' + file.name + '" is not a key: ' + answer.problem + '.';
      }
      if (state.keyProblem) {
        say('key-error', state.keyProblem);
        $('key-status').textContent = 'No usable key.';
      } else {
        state.keyFile = file;
        $('key-status').textContent = 'Keyed identifiers with the key in "' + file.name +
          '". The key is read inside this page only.';
      }
      $('key-clear').hidden = false;
    }
    checkReady();
  }

  // The run ------------------------------------------------------------------

  // Each field's column in the dropdowns. By name, only a column changed
  // from the one the rules found is given (as --map FIELD=NAME); the rest
  // are left to the rules (-1).
  function chosenColumns() {
    const columns = [];
    const shown = fieldsShown();
    for (let field = 0; field < state.engine.fields.length; ++field) {
      const select = field < shown.length ? $('map-' + shown[field]) : null;
      if (!select) columns.push(-1);
      else if (byName()) columns.push(select.value === select.dataset.proposed ? -1 : Number(select.value));
      else columns.push(Number(select.value));
    }
    return columns;
  }

  function options(columns = chosenColumns()) {
    const code1 = $('gender-1').value.trim();
    const code2 = $('gender-2').value.trim();
    const genderValues = code1 || code2 ? [code1 && code1 + '=1', code2 && code2 + '=2'].filter(Boolean).join(',') : '';
    const delimiterValue = $('delimiter').value;
    return {
      byName: Boolean(state.engine.features & FEATURE.byName),
      delimiter: delimiterValue === 'auto' ? '' : delimiter(),
      columns,
      dateFormat: $('date-format').value,
      genderValues,
      output: Number($('output').value),
      report: $('report').checked && !$('report').disabled,
    };
  }

  function baseName(name) {
    const dot = name.lastIndexOf('.');
    return dot > 0 ? name.slice(0, dot) : name;
  }

  function clearResult() {
    for (const url of state.downloads) URL.revokeObjectURL(url);
    state.downloads = [];
    $('result').hidden = true;
    say('run-error', '');
  }

  function showProgress(run) {
    let bytes = 0;
    let lines = 0;
    run.progress.forEach((p) => {
      bytes += p.bytes;
      lines += p.lines;
    });
    const share = run.file.size > 0 ? Math.min(1, bytes / run.file.size) : 1;
    const seconds = (performance.now() - run.started) / 1000;
    const rate = seconds > 0 ? lines / seconds : 0;
    const left = share > 0 ? seconds * (1 - share) / share : 0;
    $('progress-bar').value = share;
    let text = number(lines) + ' records, ' + Math.floor(share * 100) + '%';
    if (seconds >= 0.5) text += ', ' + number(rate) + ' records/s, about ' + Math.ceil(left) + ' s left';
    $('progress-text').textContent = text;
  }

  const STATUS_WORDS = {
    1: 'The file could not be read to its end. It may have been changed, moved or deleted while it was read.',
    2: 'The result could not be written: the browser ran out of room for it.',
    3: 'This version cannot use these options yet: it reads the columns in their fixed order, separated by commas.',
    4: 'The columns cannot be read by name with this mapping.',
    5: 'The date format or the gender codes cannot be used.',
    6: 'The report could not be written: the browser ran out of room for it.',
  };

  const READ_FAILED = (file) => 'The file "' + file.name + '" could not be read to its end. ' +
    'It may have been changed, moved or deleted while it was read.';

  // The parts of the file, in order, each with its bytes (or null: its
  // worker reads them itself) and its first line and record numbers. By
  // name, the framer cuts them where records start (a record may hold quoted
  // line breaks) as it reads the file; by position, every run.partSize bytes
  // (the workers move each cut to a line start). `ahead` parts are kept
  // ready, so that reading overlaps converting.
  async function partsOf(run, ahead, workers, framing) {
    const { file, opts, partSize } = run;
    let index = 0;
    if (!opts.byName) {
      let from = 0;
      const reads = [];
      const readOne = () => {
        const part = { from, to: Math.min(from + partSize, file.size), exact: false, firstLine: 1, firstRecord: 1,
                       bytesFrom: Math.max(0, from - 1) };
        part.bytes = file.slice(part.bytesFrom, Math.min(file.size, part.to + PART_EDGE)).arrayBuffer();
        reads.push(part);
        from += partSize;
      };
      return async () => {
        while (reads.length < ahead && from < file.size) readOne();
        const part = reads.shift();
        if (!part) return null;
        try {
          part.bytes = await part.bytes;
        } catch (e) {
          throw new Error(READ_FAILED(file));
        }
        part.index = index++;
        return part;
      };
    }
    await framing.ready;
    const header = await readHeader(run.header, true, opts.columns, workers[0]);
    if (!run.live()) return async () => null;
    await ask(framing, { type: 'frame-start', file, delimiter: header.delimiter, ...FRAMING }, 'frame-started');
    // The framer answers its requests in turn.
    let chain = Promise.resolve();
    let ended = false;
    const requested = [];
    const request = () => {
      const answer = chain.then(() => ask(framing, { type: 'frame-next', partSize }, 'framed')).then((framed) => {
        // Read ahead and not given out yet: held too.
        run.aheadBytes += framed.bytes ? framed.bytes.byteLength : 0;
        run.noteHeld();
        return framed;
      });
      chain = answer.then((framed) => { if (framed.end) ended = true; }, () => { ended = true; });
      requested.push(answer);
    };
    return async () => {
      while (!ended && requested.length < ahead) request();
      if (requested.length === 0) return null;
      const framed = await requested.shift();
      run.aheadBytes -= framed.bytes ? framed.bytes.byteLength : 0;
      if (framed.readError) throw new Error(READ_FAILED(file));
      if (framed.end) return null;
      return { index: index++, from: framed.from, to: framed.to, exact: true, firstLine: framed.firstLine,
               firstRecord: framed.firstRecord, bytes: framed.bytes ? framed.bytes.buffer : null, bytesFrom: framed.bytesFrom };
    };
  }

  // The parts' outputs, put together in input order as they come, into one
  // Blob the browser builds from a stream: it takes the bytes in large
  // pieces and keeps them its own way (on disk when they are many), which
  // costs it far less than a Blob made of each part's, and the page holds
  // only the parts that finished ahead of an earlier one.
  function orderedResult() {
    let controller;
    // Parts wait for the browser to take what came before once this much
    // is queued: the page holds the result for no longer than that.
    const waiters = [];
    const wake = () => { for (const resolve of waiters.splice(0)) resolve(); };
    const stream = new ReadableStream({ start(c) { controller = c; }, pull: wake },
                                      new ByteLengthQueuingStrategy({ highWaterMark: RESULT_QUEUE }));
    const blob = new Response(stream, { headers: { 'Content-Type': 'text/csv' } }).blob();
    blob.catch(() => {});
    const waiting = new Map();
    let next = 0;
    return {
      blob,
      size: 0,
      // Bytes of the result held here: waiting for an earlier part, or
      // queued for the browser.
      held() {
        let bytes = RESULT_QUEUE - controller.desiredSize;
        for (const pieces of waiting.values()) for (const piece of pieces) bytes += piece.length;
        return bytes;
      },
      put(index, pieces) {
        for (const piece of pieces) this.size += piece.length;
        waiting.set(index, pieces);
        while (waiting.has(next)) {
          for (const piece of waiting.get(next)) if (piece.length > 0) controller.enqueue(piece);
          waiting.delete(next);
          ++next;
        }
      },
      // Settles once the browser has room for more of the result.
      room() {
        return controller.desiredSize > 0 ? Promise.resolve() : new Promise((resolve) => waiters.push(resolve));
      },
      close() { controller.close(); },
      abandon() {
        waiting.clear();
        try { controller.error(new Error('abandoned')); } catch (e) { /* closed already */ }
        wake();
      },
    };
  }

  // Converts run.file with run.opts on the workers, cutting the file by
  // run.partSize: each part's output goes into run.output in input order,
  // its report and counts into run. Nothing more is given out once
  // run.live() is false (a Cancel).
  async function convert(run, workers, framing) {
    const { file, opts } = run;
    const nextPart = await partsOf(run, workers.length + 1, workers, framing);
    if (!run.live()) return;
    await Promise.all(workers.map(async (entry) => {
      await entry.ready;
      const setup = await ask(entry, { type: 'setup', options: opts, keyFile: run.keyFile }, 'setup');
      if (setup.problem) throw new Error('The key file could not be used: ' + setup.problem + '.');
      await new Promise((resolve, reject) => {
        const give = async () => {
          if (run.failed || !run.live()) return resolve();
          await run.output.room();
          if (run.failed || !run.live()) return resolve();
          let part;
          try {
            part = await nextPart();
          } catch (e) {
            run.failed = e.message;
            return reject(e);
          }
          if (part === null || run.failed || !run.live()) return resolve();
          run.progress[part.index] = { bytes: 0, lines: 0, held: part.bytes ? part.bytes.byteLength : 0 };
          run.givenBytes += run.progress[part.index].held;
          run.noteHeld();
          entry.worker.postMessage({
            type: 'part', index: part.index, file, from: part.from, to: part.to, bytes: part.bytes,
            bytesFrom: part.bytesFrom, header: run.header, firstLine: part.firstLine,
            firstRecord: part.firstRecord, exact: part.exact, report: opts.report,
          }, part.bytes ? [part.bytes] : []);
        };
        entry.worker.onmessage = (event) => {
          const message = event.data;
          if (message.type === 'progress') {
            run.progress[message.index].bytes = message.bytes;
            run.progress[message.index].lines = message.lines;
            run.onProgress();
          } else if (message.type === 'done') {
            if (message.status !== 0) {
              run.failed = STATUS_WORDS[message.status] || 'The conversion failed.';
              return reject(new Error(run.failed));
            }
            run.output.put(message.index, message.output);
            run.givenBytes -= run.progress[message.index].held;
            run.noteHeld();
            run.reports[message.index] = new Blob(message.report);
            message.counts.forEach((count, which) => { run.counts[which] += count; });
            run.progress[message.index].bytes = message.bytes;
            run.progress[message.index].lines = message.counts.reduce((a, b) => a + b, 0);
            give();
          } else if (message.type === 'failed') {
            reject(new Error('The conversion stopped: ' + message.message));
          }
        };
        give();
      });
    }));
  }

  function newRun(file, opts, header, keyFile, partSize) {
    const run = { file, opts, header, keyFile, partSize, output: orderedResult(), reports: [], counts: [0, 0, 0],
                  progress: [], givenBytes: 0, aheadBytes: 0, mostHeld: 0, started: performance.now(), failed: null,
                  live: () => true, onProgress: () => {} };
    // The most bytes of the file and the result the page held at once (the
    // parts given to workers, the outputs not yet taken by the browser):
    // what bounds its memory, whatever the file's size.
    run.noteHeld = () => {
      run.mostHeld = Math.max(run.mostHeld, run.output.held() + run.aheadBytes + run.givenBytes);
    };
    return run;
  }

  async function run() {
    if (!checkReady()) return;
    clearResult();
    const current = newRun(state.file, options(), state.header, state.keyFile, PART_SIZE);
    // A Cancel replaces the workers, and what is still under way for this
    // run must not reach the new ones.
    current.live = () => state.run === current;
    current.onProgress = () => {
      if (current.drawing) return;
      current.drawing = true;
      setTimeout(() => { current.drawing = false; if (current.live()) showProgress(current); }, PROGRESS_EVERY);
    };
    state.run = current;
    $('run').disabled = true;
    $('cancel').disabled = false;
    $('progress').hidden = false;
    $('progress-bar').value = 0;
    $('progress-text').textContent = 'Starting…';
    $('cancel').focus();
    try {
      // Workers started after a Cancel may still be warming up.
      await state.started;
      if (!current.live()) return;
      await convert(current, pool, framer);
      if (!current.live()) return;
      await finish(current);
    } catch (e) {
      current.output.abandon();
      if (!current.live()) return;
      state.run = null;
      restartPool();
      say('run-error', e.message);
      $('progress').hidden = true;
      $('cancel').disabled = true;
      checkReady();
      $('run').focus();
    }
  }

  // Made-up records in the columns of an export.
  function madeUpFile(count) {
    const names = ['"Garcia, James"', 'Mary Smith', 'Chen Wei', '"O\'Brien, Aoife"', 'Nguyen Thi Lan', 'Ali Hassan'];
    const lines = ['data_record,patient_name,patient_ssn,patient_gender,patient_birth_date,policy_name,policy_ssn,' +
                   'policy_gender,policy_birth_date'];
    for (let i = 0; i < count; ++i) {
      const ssn = String(100000000 + ((i * 7919) % 899999999));
      const date = (1930 + (i % 90)) + '-' + String(1 + (i % 12)).padStart(2, '0') + '-' + String(1 + (i % 28)).padStart(2, '0');
      const policy = i % 3 === 0 ? [names[(i + 1) % names.length], ssn, 2, date] : ['', '', '', ''];
      lines.push([i, names[i % names.length], i % 4 === 0 ? '' : ssn, 1 + (i % 2), date, ...policy].join(','));
    }
    const header = new TextEncoder().encode(lines[0]);
    return { file: new File([lines.join('\r\n') + '\r\n'], 'made-up.csv', { type: 'text/csv' }), header };
  }

  // Runs made-up records through the whole conversion once, in small parts
  // and with a report, and throws the result away: the browser does much
  // of its setting up (compiling the engine fully, the workers' messages,
  // reading files, building results) on first use, which would otherwise
  // slow the user's first run.
  async function warmUp() {
    const { file, header } = madeUpFile(8000);
    const opts = { byName: true, delimiter: '', columns: state.engine.fields.map(() => -1), dateFormat: '%Y-%m-%d',
                   genderValues: '', output: 0, report: true };
    const made = newRun(file, opts, header, null, 16 << 10);
    try {
      await convert(made, pool, framer);
      made.output.close();
      await made.output.blob;
    } catch (e) {
      made.output.abandon();
    }
  }

  async function finish(current) {
    const seconds = (performance.now() - current.started) / 1000;
    const base = baseName(current.file.name);
    const output = OUTPUTS.find((o) => o.value === current.opts.output);
    current.output.close();
    // The browser keeps the result until it is saved, within limits of its
    // own: a result beyond them cannot be read, and its download would fail
    // without a word.
    let result;
    try {
      result = await current.output.blob;
      if (result.size > 0) await result.slice(result.size - 1).arrayBuffer();
    } catch (e) {
      throw new Error('The result (' + sizeText(current.output.size) + ') is larger than this browser can keep for a ' +
        'download. Convert the file in smaller pieces, or with the mintbatch program.');
    }
    if (state.run !== current) return;
    state.run = null;
    const link = $('download-output');
    const url = URL.createObjectURL(result);
    state.downloads.push(url);
    link.href = url;
    link.download = base + output.suffix + '.csv';
    link.textContent = 'Download the result: ' + link.download + ' (' + sizeText(result.size) + ')';
    const reportLink = $('download-report');
    if (current.opts.report) {
      const report = new Blob(current.reports, { type: 'text/csv' });
      const reportUrl = URL.createObjectURL(report);
      state.downloads.push(reportUrl);
      reportLink.href = reportUrl;
      reportLink.download = base + '-report.csv';
      reportLink.textContent = 'Download the report: ' + reportLink.download + ' (' + sizeText(report.size) + ')';
      reportLink.hidden = false;
    } else {
      reportLink.hidden = true;
    }
    const [identified, refused, skipped] = current.counts;
    $('count-identified').textContent = number(identified);
    $('count-refused').textContent = number(refused);
    $('count-skipped').textContent = number(skipped);
    $('count-time').textContent = seconds.toFixed(2) + ' s (' +
      number((identified + refused + skipped) / Math.max(seconds, 1e-3)) + ' records/s)';
    $('progress-bar').value = 1;
    $('progress-text').textContent = 'Done.';
    $('cancel').disabled = true;
    $('result').dataset.mostHeld = String(current.mostHeld);
    $('result').hidden = false;
    checkReady();
    link.focus();
  }

  function cancel() {
    if (!state.run) return;
    state.run.output.abandon();
    state.run = null;
    restartPool();
    $('progress').hidden = true;
    $('cancel').disabled = true;
    say('run-error', 'Cancelled: nothing was written.');
    checkReady();
    $('run').focus();
  }

  // Set up -------------------------------------------------------------------

  function fillOutputs() {
    const select = $('output');
    for (const o of OUTPUTS) {
      const option = new Option(o.label, String(o.value));
      if (o.feature && !(state.engine.features & o.feature)) {
        option.disabled = true;
        option.text += ' (not in this version)';
      }
      select.append(option);
    }
  }

  function offerFeatures() {
    const features = state.engine.features;
    const unavailable = (id, feature) => {
      const control = $(id);
      if (features & feature) return;
      control.disabled = true;
      $(id + '-note').hidden = false;
    };
    unavailable('delimiter', FEATURE.delimiter);
    unavailable('date-format', FEATURE.dateFormat);
    unavailable('gender-1', FEATURE.genderValues);
    unavailable('gender-2', FEATURE.genderValues);
    unavailable('report', FEATURE.report);
    if (!(features & FEATURE.delimiter)) $('delimiter').value = ',';
  }

  function onDrop(event) {
    event.preventDefault();
    $('drop').classList.remove('over');
    const file = event.dataTransfer.files[0];
    if (file) chooseFile(file);
  }

  async function start() {
    $('file').addEventListener('change', () => chooseFile($('file').files[0]));
    $('key').addEventListener('change', () => chooseKey($('key').files[0]));
    $('key-clear').addEventListener('click', () => { $('key').value = ''; chooseKey(null); $('key').focus(); });
    $('delimiter').addEventListener('change', () => { if (state.file) chooseFile(state.file); });
    $('run').addEventListener('click', run);
    $('cancel').addEventListener('click', cancel);
    for (const type of ['dragenter', 'dragover']) {
      $('drop').addEventListener(type, (event) => { event.preventDefault(); $('drop').classList.add('over'); });
    }
    $('drop').addEventListener('dragleave', () => $('drop').classList.remove('over'));
    $('drop').addEventListener('drop', onDrop);
    try {
      state.started = startPool().then((engine) => { state.engine = engine; return warmUp(); });
      await state.started;
    } catch (e) {
      state.engine = null;
      say('file-error', 'This page could not start its engine in this browser: ' + e.message);
      return;
    }
    fillOutputs();
    offerFeatures();
    $('engine-status').textContent = 'Ready.';
    document.body.dataset.ready = 'true';
    checkReady();
  }

  start();
})();
