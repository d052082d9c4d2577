// A worker of the page: one WebAssembly instance of the pipeline, which
// either frames the file into parts (see "The framer" below) or converts the
// parts it is given, one at a time. A part comes with its bytes (or, rarely,
// as a range of the file, read here); only a line that reaches beyond them
// is read here, synchronously. Each part's output goes back as the buffers
// the pipeline wrote, handed over whole, so no part is copied twice.
//
// The engine's code comes first in this worker's source (see page.js); it
// defines createMintEngine.
'use strict';

let engine = null;
// The part being converted: where its bytes are read and its output goes.
let part = null;
const reader = new FileReaderSync();

// Beyond the bytes the page gave, the file is read this much at a time: each
// read of a File costs a trip to the browser's own process, whatever its size.
const READ_AHEAD = 4 << 20;

function readSlice(file, from, to) {
  return new Uint8Array(reader.readAsArrayBuffer(file.slice(from, to)));
}

// Collects a part's written bytes (the pipeline writes them a buffer at a
// time) into a few large buffers, as large as the part's output is likely to
// be: one allocation rather than one a write. A part's output is the most a
// worker holds.
function newCollector(expected) {
  return { size: Math.max(1 << 16, expected), pieces: [], piece: null, used: 0 };
}

function collect(collector, bytes) {
  let offset = 0;
  while (offset < bytes.length) {
    if (collector.piece === null || collector.used === collector.piece.length) {
      if (collector.piece !== null) collector.pieces.push(collector.piece);
      collector.piece = new Uint8Array(Math.max(collector.size, bytes.length - offset));
      collector.used = 0;
    }
    const count = Math.min(bytes.length - offset, collector.piece.length - collector.used);
    collector.piece.set(bytes.subarray(offset, offset + count), collector.used);
    collector.used += count;
    offset += count;
  }
}

// The collected bytes, as views of the buffers that hold them.
function collected(collector) {
  if (collector.piece !== null) collector.pieces.push(collector.piece.subarray(0, collector.used));
  collector.piece = null;
  return collector.pieces;
}

// The file's bytes from `offset` on (at least one, before its end): from the
// bytes the page gave when they hold it, else read from the file.
function bytesAt(source, offset) {
  if (offset < source.start || offset >= source.start + source.bytes.length) {
    if (framing && source === framing.source) return framingSlice(offset);
    const bytes = readSlice(source.file, offset, Math.min(offset + READ_AHEAD, source.file.size));
    if (bytes.length === 0) throw new Error('the file changed while it was read');
    source.bytes = bytes;
    source.start = offset;
  }
  return source.bytes.subarray(offset - source.start);
}

// The part's bytes from `at` on, at most `count`.
function partBytes(count) {
  return bytesAt(part.source, part.at).subarray(0, Math.min(count, part.end - part.at));
}

// Two devices the pipeline reads and writes through file descriptors, as it
// reads and writes files in mintbatch: the part's bytes, read from the file
// when asked for, and its output (and report), collected as they come.
function makeDevices(M) {
  const FS = M.FS;
  const heapBytes = (buffer, offset, length) => new Uint8Array(buffer.buffer, buffer.byteOffset + offset, length);
  const input = FS.makedev(64, 0);
  FS.registerDevice(input, {
    read(stream, buffer, offset, length) {
      const count = Math.min(length, part.end - part.at);
      if (count <= 0) return 0;
      let bytes;
      try {
        bytes = partBytes(count);
      } catch (e) {
        part.readError = e && e.message ? e.message : 'read error';
        throw new FS.ErrnoError(29);  // EIO: the pipeline reports a read failure
      }
      heapBytes(buffer, offset, bytes.length).set(bytes);
      part.at += bytes.length;
      if (part.index >= 0) postMessage({ type: 'progress', index: part.index, bytes: part.at - part.start,
                    lines: M._mint_web_lines_so_far() });
      return bytes.length;
    },
    write() { throw new FS.ErrnoError(9); },
  });
  const sink = (minor, collector) => {
    const device = FS.makedev(64, minor);
    FS.registerDevice(device, {
      read() { throw new FS.ErrnoError(9); },
      write(stream, buffer, offset, length) {
        collect(collector(), heapBytes(buffer, offset, length));
        return length;
      },
    });
    return device;
  };
  FS.mkdev('/input', input);
  FS.mkdev('/output', sink(1, () => part.output));
  FS.mkdev('/report', sink(2, () => part.report));
}

// The text at a pointer of the engine's memory.
function text(pointer) {
  return pointer ? engine.UTF8ToString(pointer) : '';
}

function withBytes(bytes, use) {
  const pointer = engine._malloc(Math.max(bytes.length, 1));
  engine.HEAPU8.set(bytes, pointer);
  try {
    return use(pointer, bytes.length);
  } finally {
    engine.HEAPU8.fill(0, pointer, pointer + bytes.length);
    engine._free(pointer);
  }
}

function withText(value, use) {
  return withBytes(new TextEncoder().encode(value + '\0'), (pointer) => use(pointer));
}

// Reads the key file by the rules of --key-file and, when it holds a key,
// uses it for the runs that follow. Answers null or the reason it is not a key.
function takeKey(file) {
  engine._mint_web_key_clear();
  if (!file) return null;
  let bytes;
  try {
    bytes = readSlice(file, 0, file.size);
  } catch (e) {
    return 'unreadable';
  }
  engine._mint_web_key_begin();
  let fault = withBytes(bytes, (pointer, length) => engine._mint_web_key_take(pointer, length));
  bytes.fill(0);
  if (fault === 0) fault = engine._mint_web_key_finish();
  return fault === 0 ? null : text(engine._mint_web_key_reason(fault));
}

function applyOptions(options) {
  const M = engine;
  M._mint_web_reset_options();
  M._mint_web_set_by_name(options.byName ? 1 : 0);
  M._mint_web_set_delimiter(options.delimiter.charCodeAt(0) || 0);
  options.columns.forEach((column, field) => M._mint_web_set_column(field, column));
  withText(options.dateFormat, (pointer) => M._mint_web_set_date_format(pointer));
  withText(options.genderValues, (pointer) => M._mint_web_set_gender_values(pointer));
  M._mint_web_set_output(options.output);
  M._mint_web_set_report(options.report ? 1 : 0);
}

// The first line start at or after `offset`: 0, or just after a line feed.
// A line feed always ends a line, whatever comes before it, so a part that
// starts there starts with a whole line, as a record of the positional format.
// (By name, a quoted field may hold line breaks, so a line start need not be
// a record start: there the page cuts parts where the by-name reader's
// framing, run over the file ahead (frame below), says a record starts.)
function lineStartFrom(source, offset) {
  if (offset <= 0) return 0;
  for (let at = offset - 1; at < source.file.size;) {
    const bytes = bytesAt(source, at);
    const found = bytes.indexOf(10);
    if (found >= 0) return at + found + 1;
    at += bytes.length;
  }
  return source.file.size;
}

// The header line read by name with the options, for the page's dropdowns:
// the columns, the delimiter, each field's column and what is wrong, named.
function readHeader(options, bytes, atEnd) {
  const M = engine;
  applyOptions(options);
  const maps = withBytes(bytes, (pointer, length) => M._mint_web_read_header(pointer, length, atEnd ? 1 : 0));
  const columns = [];
  for (let column = 0; column < M._mint_web_header_columns(); ++column) columns.push(text(M._mint_web_header_column(column)));
  const fieldColumns = [];
  for (let field = 0; field < M._mint_web_field_count(); ++field) fieldColumns.push(M._mint_web_header_field_column(field));
  return {
    maps: maps === 1, columns, fieldColumns, delimiter: String.fromCharCode(M._mint_web_header_delimiter()),
    length: M._mint_web_header_length(0), lineEnd: M._mint_web_header_length(1),
    message: maps === 1 ? '' : text(M._mint_web_header_message()),
    problemFields: [M._mint_web_header_problem_field(0), M._mint_web_header_problem_field(1)],
  };
}

// The framer: one worker reads the file once, front to back, through the
// by-name reader's framing (a record may hold quoted line breaks, so a line
// start need not be a record start), and hands on each part's bytes as it is
// cut at a record start, with the numbers of its first line and record.
//
// Each part is read as one slice from where it starts, a little longer than
// a part (FRAME_MARGIN: the framing reads in blocks, and the part ends at
// the first record start beyond its size), and that slice is handed on whole
// to its worker, without a copy: copying costs more than reading the margin
// twice. A part that does not fit its slice (a long record) is put together
// from the slices read for it, or, beyond HELD_MOST, handed on as a range of
// the file that its worker reads itself.
const FRAME_MARGIN = 512 << 10;
const FRAME_READ = 1 << 20;
const HELD_MOST = 64 << 20;
let framing = null;

function startFraming(file, delimiter, margin, heldMost) {
  const M = engine;
  if (framing) M.FS.close(framing.input);
  // The engine reads from the file through `part`, as a part's conversion
  // does, from the slices read (framingSlice).
  const source = { file, bytes: new Uint8Array(0), start: 0 };
  part = { index: -1, source, start: 0, at: 0, end: file.size, readError: null };
  framing = { file, source, input: M.FS.open('/input', 'r'), from: 0, line: 1, record: 1, slices: [], done: false,
              reading: null,
              margin: margin || FRAME_MARGIN, heldMost: heldMost || HELD_MOST };
  M._mint_web_frame_start(framing.input.fd, delimiter.charCodeAt(0));
}

function keepSlice(start, bytes) {
  framing.slices.push({ start, bytes });
  let held = 0;
  for (const slice of framing.slices) held += slice.bytes.length;
  // A record too long to hold: only the slice being read is kept.
  if (held > framing.heldMost) framing.slices = [framing.slices[framing.slices.length - 1]];
}

// The slice of the file at `offset` for the framing: the part's, read
// ahead, or else one read here and now.
function framingSlice(offset) {
  const source = framing.source;
  const slice = framing.slices.find((held) => held.start <= offset && offset < held.start + held.bytes.length);
  if (slice) {
    source.bytes = slice.bytes;
    source.start = slice.start;
  } else {
    const bytes = readSlice(framing.file, offset, Math.min(offset + FRAME_READ, framing.file.size));
    if (bytes.length === 0) throw new Error('the file changed while it was read');
    source.bytes = bytes;
    source.start = offset;
    keepSlice(offset, bytes);
  }
  return source.bytes.subarray(offset - source.start);
}

// The part's bytes [from, to): its own slice, whole (its worker reads only
// to `to`), or the slices read for it put together, or null (a range). The
// slices the framing needs no more are let go.
function takePart(from, to) {
  const slices = framing.slices;
  let bytes = null;
  let bytesFrom = from;
  const own = slices.find((slice) => slice.start <= from && slice.start + slice.bytes.length >= to);
  if (own) {
    bytes = own.bytes;
    bytesFrom = own.start;
  } else {
    const covering = slices.filter((slice) => slice.start < to && slice.start + slice.bytes.length > from);
    let at = from;
    for (const slice of covering) if (slice.start <= at) at = Math.max(at, slice.start + slice.bytes.length);
    if (at >= to) {
      bytes = new Uint8Array(to - from);
      for (const slice of covering) {
        const start = Math.max(from, slice.start);
        const end = Math.min(to, slice.start + slice.bytes.length);
        bytes.set(slice.bytes.subarray(start - slice.start, end - slice.start), start - from);
      }
    }
  }
  // A slice handed on is no longer here to read from.
  framing.slices = slices.filter((slice) => slice !== own && slice.start + slice.bytes.length > to);
  if (framing.source.bytes === (own && own.bytes)) framing.source.bytes = new Uint8Array(0);
  return { bytes, bytesFrom };
}

// Starts reading the slice of the file from `start` for a part, without
// blocking (which costs the browser less than reading as the framing goes).
function readPartSlice(start, partSize) {
  const end = Math.min(start + partSize + framing.margin, framing.file.size);
  const reading = framing.file.slice(start, end).arrayBuffer().then((buffer) => ({ start, bytes: new Uint8Array(buffer) }));
  reading.catch(() => {});
  return reading;
}

// The next part: the records from the last cut to the first record start at
// least `partSize` bytes on, or to the end of the file.
async function nextFramedPart(partSize) {
  const M = engine;
  if (framing.done) return { end: true };
  const from = framing.from;
  // The part's slice: read ahead while the last part was framed, from where
  // this one could start at the earliest, or read now. A failure to read
  // here is met again where the framing reads, and said there.
  let reading = framing.reading;
  framing.reading = null;
  if (reading && reading.start > from) reading = null;
  for (let tries = 0; tries < 2; ++tries) {
    try {
      const slice = await (reading || readPartSlice(from, partSize));
      // Read ahead for a part that came later (after a long record): read again.
      if (slice.start + slice.bytes.length <= from + partSize && slice.start + slice.bytes.length < framing.file.size) {
        reading = null;
        continue;
      }
      if (slice.bytes.length > 0) keepSlice(slice.start, slice.bytes);
    } catch (e) {
      // (see above)
    }
    break;
  }
  // The next part starts at least `partSize` on: its slice is read meanwhile.
  if (from + partSize < framing.file.size) {
    framing.reading = readPartSlice(from + partSize, partSize);
    framing.reading.start = from + partSize;
  }
  const found = M._mint_web_frame_next(from + partSize);
  if (found < 0) return { end: true, readError: part.readError || 'read error' };
  const to = found === 1 ? M._mint_web_cut(0) : framing.file.size;
  const taken = takePart(from, to);
  const result = { end: false, from, to, firstLine: framing.line, firstRecord: framing.record, ...taken };
  // A cut at the file's very end leaves nothing after it: the last part.
  if (found === 1 && to < framing.file.size) {
    framing.from = to;
    framing.line = M._mint_web_cut(1);
    framing.record = M._mint_web_cut(2);
  } else {
    framing.done = true;
  }
  return result;
}

function runPart(job) {
  const M = engine;
  const source = { file: job.file, bytes: job.bytes ? new Uint8Array(job.bytes) : new Uint8Array(0),
                   start: job.bytesFrom };
  // The part owns the lines that start in [from, to): they run from the
  // first line start in it to the first one after it. By name the page
  // gives record starts, found by framing.
  const size = job.file.size;
  const start = job.exact ? job.from : Math.min(lineStartFrom(source, job.from), size);
  const end = job.exact ? job.to : job.to >= size ? size : lineStartFrom(source, job.to);
  // The output is the input with an identifier a line, about 14 bytes in 50.
  const expected = Math.ceil((Math.max(start, end) - start) * 1.3);
  part = { index: job.index, source, start, at: start, end: Math.max(start, end), readError: null,
           output: newCollector(expected), report: newCollector(1 << 16) };
  const input = M.FS.open('/input', 'r');
  const output = M.FS.open('/output', 'w');
  const report = job.report ? M.FS.open('/report', 'w') : null;
  let status;
  try {
    status = withBytes(job.header, (pointer, length) =>
      M._mint_web_run_part(input.fd, output.fd, report ? report.fd : -1, job.index === 0 ? 1 : 0, pointer, length,
                           job.firstLine, job.firstRecord));
  } finally {
    M.FS.close(input);
    M.FS.close(output);
    if (report) M.FS.close(report);
  }
  const done = part;
  part = null;
  const outputBytes = collected(done.output);
  const reportBytes = collected(done.report);
  postMessage({
    type: 'done', index: job.index, status, readError: done.readError, bytes: done.end - done.start,
    counts: [0, 1, 2].map((which) => M._mint_web_count(which)), output: outputBytes, report: reportBytes,
  }, [...outputBytes, ...reportBytes].map((view) => view.buffer));
}

onmessage = async (event) => {
  const message = event.data;
  try {
    if (message.type === 'key') {
      postMessage({ type: 'key', id: message.id, problem: takeKey(message.file) });
    } else if (message.type === 'setup') {
      applyOptions(message.options);
      const problem = takeKey(message.keyFile);
      postMessage({ type: 'setup', problem });
    } else if (message.type === 'header') {
      postMessage({ type: 'header', id: message.id, ...readHeader(message.options, message.bytes, message.atEnd) });
    } else if (message.type === 'frame-start') {
      startFraming(message.file, message.delimiter, message.margin, message.heldMost);
      postMessage({ type: 'frame-started' });
    } else if (message.type === 'frame-next') {
      const framed = await nextFramedPart(message.partSize);
      postMessage({ type: 'framed', ...framed }, framed.bytes ? [framed.bytes.buffer] : []);
    } else if (message.type === 'part') {
      runPart(message);
    }
  } catch (e) {
    postMessage({ type: 'failed', index: message.index, message: String(e && e.message || e) });
  }
};

// The engine prints nothing the page shows: refused records are counted,
// failures come back as statuses, and no value of a record reaches the console.
createMintEngine({ print() {}, printErr() {} }).then((M) => {
  engine = M;
  makeDevices(M);
  const fields = [];
  for (let field = 0; field < M._mint_web_field_count(); ++field) fields.push(text(M._mint_web_field_name(field)));
  postMessage({ type: 'ready', features: M._mint_web_features(), fields,
                positionalFields: M._mint_web_positional_fields() });
}, (e) => postMessage({ type: 'failed', message: String(e && e.message || e) }));
