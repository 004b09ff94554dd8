// The release archives of bexu-pack, written in the page from the plan its own code
// made (studioPlan): the same entries in the same order, the same headers, dated
// 2024-01-01 and owned by root, deflated by pako with zlib's settings (level 6,
// window 15, memory level 8), which gives zlib's bytes.
"use strict";

const ARCHIVE_YEAR = 2024;
const ARCHIVE_UNIX_TIME = 1704067200; // 2024-01-01 00:00:00 UTC
const STREAM_CHUNK = 256 * 1024;
const ZIP_LIMIT = 0xFFFFFFFF;
const ZIP_MOST_ENTRIES = 0xFFFF;
const DOS_DATE = ((ARCHIVE_YEAR - 1980) << 9) | (1 << 5) | 1; // January 1st, 00:00:00
const MADE_BY_UNIX = (3 << 8) | 20; // keeps the Unix modes in the attributes
const NEEDED = 20; // deflate
const TAR_BLOCK = 512;
const TAR_RECORD = 20 * TAR_BLOCK; // what tar itself pads an archive to
const DEFLATE_SETTINGS = {level: 6, windowBits: 15, memLevel: 8, strategy: 0};

// A byte string (one character per byte, as the plan's JSON gives texts) as bytes.
function bytesOf(text) {
  const out = new Uint8Array(text.length);
  for (let i = 0; i < text.length; ++i) out[i] = text.charCodeAt(i) & 0xFF;
  return out;
}

const CRC_TABLE = (() => {
  const table = new Uint32Array(256);
  for (let n = 0; n < 256; ++n) {
    let c = n;
    for (let k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320 ^ (c >>> 1) : c >>> 1;
    table[n] = c >>> 0;
  }
  return table;
})();

function crc32(crc, bytes) {
  let c = ~crc >>> 0;
  for (let i = 0; i < bytes.length; ++i) c = CRC_TABLE[(c ^ bytes[i]) & 0xFF] ^ (c >>> 8);
  return ~c >>> 0;
}

// Little-endian fields, as zip wants them.
class Fields {
  constructor() { this.bytes = []; }
  u16(value) { this.bytes.push(value & 0xFF, (value >>> 8) & 0xFF); return this; }
  u32(value) { return this.u16(value & 0xFFFF).u16(value >>> 16); }
  raw(bytes) { for (const b of bytes) this.bytes.push(b); return this; }
  done() { return new Uint8Array(this.bytes); }
}

// Calls take(chunk) for each chunk of an entry's content, read through `source`
// (source(path, start, end) gives a promise of the bytes); fails when the file no
// longer has the size the plan saw.
async function streamEntry(entry, source, take) {
  if (!entry.source) {
    take(bytesOf(entry.bytes));
    return;
  }
  for (let start = 0; start < entry.size; start += STREAM_CHUNK) {
    const end = Math.min(entry.size, start + STREAM_CHUNK);
    const chunk = await source(entry.source, start, end);
    if (chunk.length != end - start) {
      throw new Error(entry.source + ": became shorter while it was packed");
    }
    take(chunk);
  }
}

function entrySize(entry) {
  return entry.source ? entry.size : entry.bytes.length;
}

// The output, kept as parts of a Blob.
class Output {
  constructor() { this.parts = []; this.written = 0; }
  write(bytes) { this.parts.push(bytes); this.written += bytes.length; }
}

function zipHeader(central, isCentral) {
  const fields = new Fields();
  if (isCentral) fields.u32(0x02014b50).u16(MADE_BY_UNIX); else fields.u32(0x04034b50);
  fields.u16(NEEDED).u16(0).u16(central.method).u16(0).u16(DOS_DATE).u32(central.crc)
    .u32(central.compressed).u32(central.size).u16(central.path.length).u16(0);
  if (isCentral) {
    fields.u16(0).u16(0).u16(0).u32(central.attributes).u32(central.offset);
  }
  return fields.raw(central.path).done();
}

function unixAttributes(entry) {
  const mode = entry.folder ? 0o40755 : entry.executable ? 0o100755 : 0o100644;
  return ((mode << 16) | (entry.folder ? 0x10 : 0)) >>> 0;
}

async function writeZipEntry(out, entry, source, directory) {
  if (out.written > ZIP_LIMIT || entrySize(entry) > ZIP_LIMIT) {
    throw new Error("the story is too large for a zip archive (4 GiB)");
  }
  const central = {path: bytesOf(entry.path), method: entry.folder ? 0 : 8, crc: 0,
                   compressed: 0, size: entrySize(entry), attributes: unixAttributes(entry),
                   offset: out.written};
  const headerAt = out.parts.length;
  out.write(zipHeader(central, false));
  if (!entry.folder) {
    const deflate = new pako.Deflate(Object.assign({raw: true}, DEFLATE_SETTINGS));
    let crc = 0;
    let compressed = 0;
    deflate.onData = (chunk) => { out.write(chunk); compressed += chunk.length; };
    await streamEntry(entry, source, (chunk) => {
      crc = crc32(crc, chunk);
      deflate.push(chunk, false);
    });
    deflate.push(new Uint8Array(0), true);
    if (deflate.err) throw new Error("compression failed: " + deflate.msg);
    if (compressed > ZIP_LIMIT) {
      throw new Error(entry.path + " is too large for a zip archive (4 GiB)");
    }
    central.crc = crc;
    central.compressed = compressed;
    // The header again, now with the checksum and sizes.
    out.parts[headerAt] = zipHeader(central, false);
  }
  directory.push(central);
}

async function writeZip(entries, source) {
  if (entries.length > ZIP_MOST_ENTRIES) {
    throw new Error("the story has too many files for a zip archive");
  }
  const out = new Output();
  const directory = [];
  for (const entry of entries) await writeZipEntry(out, entry, source, directory);
  const directoryAt = out.written;
  let directorySize = 0;
  for (const central of directory) {
    const header = zipHeader(central, true);
    out.write(header);
    directorySize += header.length;
  }
  if (directoryAt + directorySize > ZIP_LIMIT) {
    throw new Error("the story is too large for a zip archive (4 GiB)");
  }
  out.write(new Fields().u32(0x06054b50).u16(0).u16(0).u16(directory.length)
    .u16(directory.length).u32(directorySize).u32(directoryAt).u16(0).done());
  return out.parts;
}

// ---- tar.gz -----------------------------------------------------------------------

class TarStream {
  constructor() {
    this.out = new Output();
    // A gzip wrapper whose header holds no name and time 0, as zlib writes it.
    this.deflate = new pako.Deflate(Object.assign({gzip: true}, DEFLATE_SETTINGS));
    this.deflate.onData = (chunk) => this.out.write(chunk);
    this.length = 0; // tar bytes so far
  }
  pump(bytes) {
    this.deflate.push(bytes, false);
    this.length += bytes.length;
  }
  padToBlock() {
    const over = this.length % TAR_BLOCK;
    if (over != 0) this.pump(new Uint8Array(TAR_BLOCK - over));
  }
  finish() {
    this.deflate.push(new Uint8Array(0), true);
    if (this.deflate.err) throw new Error("compression failed: " + this.deflate.msg);
    return this.out.parts;
  }
}

// width - 1 octal digits and a NUL, as tar writes them.
function octal(block, at, width, value) {
  for (let i = width - 1; i-- > 0;) {
    block[at + i] = 0x30 + (value % 8);
    value = Math.floor(value / 8);
  }
  block[at + width - 1] = 0;
}

// Fills name and prefix; false when the path cannot be split into them.
function splitPath(path, block) {
  if (path.length <= 100) {
    block.set(path, 0);
    return true;
  }
  for (let slash = path.indexOf(0x2F); slash != -1; slash = path.indexOf(0x2F, slash + 1)) {
    if (slash <= 155 && path.length - slash - 1 <= 100 && slash + 1 < path.length) {
      block.set(path.subarray(0, slash), 345);
      block.set(path.subarray(slash + 1), 0);
      return true;
    }
  }
  return false;
}

function tarHeader(path, type, mode, size) {
  const block = new Uint8Array(TAR_BLOCK);
  if (!splitPath(path, block)) {
    // The pax record before it holds the whole path.
    block.set(path.subarray(0, 100), 0);
  }
  octal(block, 100, 8, mode);
  octal(block, 108, 8, 0); // uid
  octal(block, 116, 8, 0); // gid
  octal(block, 124, 12, size);
  octal(block, 136, 12, ARCHIVE_UNIX_TIME);
  block[156] = type.charCodeAt(0);
  block.set(bytesOf("ustar\0"), 257);
  block.set(bytesOf("00"), 263);
  block.set(bytesOf("root"), 265);
  block.set(bytesOf("root"), 297);
  block.fill(0x20, 148, 156);
  let sum = 0;
  for (const b of block) sum += b;
  octal(block, 148, 7, sum);
  block[155] = 0x20;
  return block;
}

// "<length> path=<path>\n", where the length counts itself.
function paxPath(path) {
  const body = " path=" + path + "\n";
  let length = body.length + 1;
  while (String(length).length + body.length != length) ++length;
  return String(length) + body;
}

async function writeTarEntry(tar, entry, source) {
  const path = bytesOf(entry.path);
  if (!splitPath(path, new Uint8Array(TAR_BLOCK))) {
    const record = bytesOf(paxPath(entry.path));
    tar.pump(tarHeader(bytesOf("PaxHeader/" + entry.path.slice(entry.path.length - 80)), "x",
                       0o644, record.length));
    tar.pump(record);
    tar.padToBlock();
  }
  const mode = entry.folder || entry.executable ? 0o755 : 0o644;
  tar.pump(tarHeader(path, entry.folder ? "5" : "0", mode, entry.folder ? 0 : entrySize(entry)));
  if (entry.folder) return;
  await streamEntry(entry, source, (chunk) => tar.pump(chunk));
  tar.padToBlock();
}

async function writeTarGz(entries, source) {
  const tar = new TarStream();
  for (const entry of entries) await writeTarEntry(tar, entry, source);
  // Two empty blocks end the archive; the record is filled up as tar does.
  tar.pump(new Uint8Array(2 * TAR_BLOCK));
  if (tar.length % TAR_RECORD != 0) tar.pump(new Uint8Array(TAR_RECORD - tar.length % TAR_RECORD));
  return tar.finish();
}

// The archive of one plan entry list, as the parts of a Blob.
async function writeArchive(archive, source) {
  return archive.zip ? writeZip(archive.entries, source) : writeTarGz(archive.entries, source);
}
