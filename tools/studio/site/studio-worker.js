// The studio's tools, off the page's thread: bexu-check, bexu-shot's play and bexu-pack in
// the wasm of their own code, one fresh instance per call (as a shell starts a tool). The
// core deflates with pako (core/zlib_pako.cpp), loaded here first.
"use strict";
importScripts("vendor/pako_deflate.min.js", "bexu-studio-core.js");

// The core's compiled module, handed over by the page, which compiles it once.
let haveModule;
const compiled = new Promise((resolve) => { haveModule = resolve; });

// The story as the page last handed it over: {name, entries}; players: {windows, linux}.
let story = null;
let players = null;

// A byte string from the wasm's memory, one character per byte.
function byteString(core, pointer) {
  const heap = core.HEAPU8;
  let end = pointer;
  while (heap[end] != 0) ++end;
  let out = "";
  for (let at = pointer; at < end; at += 32768) {
    out += String.fromCharCode.apply(null, heap.subarray(at, Math.min(end, at + 32768)));
  }
  return out;
}

// A new instance of the core with the story mounted at /<name> and the players at
// /players, the current folder /.
async function instance(hooks) {
  const module = await compiled;
  const core = await createStudioCore(Object.assign({
    instantiateWasm(imports, done) {
      WebAssembly.instantiate(module, imports).then((made) => done(made, module));
      return {};
    },
    print: (text) => console.log(text),
    printErr: (text) => console.warn(text),
  }, hooks));
  core.FS.mkdir("/" + story.name);
  core.FS.mount(core.STORYFS, {entries: story.entries}, "/" + story.name);
  if (players) {
    core.FS.mkdir("/players");
    core.FS.mount(core.STORYFS, {entries: players}, "/players");
  }
  core.FS.chdir("/");
  return core;
}

// Calls the core; a play that ends the instance from inside ends the call too.
function call(core, name, types, args) {
  try {
    return JSON.parse(byteString(core, core.ccall(name, "number", types, args)));
  } catch (error) {
    if (error && error.name == "ExitStatus") return null;
    throw error;
  }
}

async function check(job) {
  const core = await instance({});
  return call(core, "studioCheck", ["string", "number"], [story.name, job.notes ? 1 : 0]);
}

// The player's 0x00RRGGBB pixels as opaque RGBA.
function rgbaOf(pixels, width, height) {
  const from = new Uint32Array(pixels.buffer, pixels.byteOffset, width * height);
  const to = new Uint32Array(width * height);
  for (let i = 0; i < to.length; ++i) {
    const p = from[i];
    to[i] = 0xFF000000 | ((p & 0xFF) << 16) | (p & 0xFF00) | ((p >>> 16) & 0xFF);
  }
  return new ImageData(new Uint8ClampedArray(to.buffer), width, height);
}

// A PNG of the pixels, made by the browser: lossless, so its pixels are the player's.
// One at a time: the browser encodes one picture many times faster than several at once.
const canvas = new OffscreenCanvas(1, 1);

async function pngOf(image) {
  if (canvas.width != image.width || canvas.height != image.height) {
    canvas.width = image.width;
    canvas.height = image.height;
  }
  canvas.getContext("2d").putImageData(image, 0, 0);
  return canvas.convertToBlob({type: "image/png"});
}

// Every key wait as a PNG of the exact pixels, sent as they come, from page
// job.fromPage on and at most job.most of them. The pictures of a play wait to be
// encoded until it is over, so a play makes a few at a time: the next one runs ahead to
// the page after its last picture, as a reader who pressed Space through would find it.
const PICTURES_AT_ONCE = 24;

async function shots(job) {
  const last = job.fromPage + job.most - 1;
  let from = job.fromPage;
  for (;;) {
    const waiting = [];
    let run = null;
    const core = await instance({
      onPicture(name, width, height, pixels, place) {
        const index = from - 1 + waiting.length;
        postMessage({id: job.id, progress: Object.assign({pictures: index + 1}, place)});
        waiting.push({index, line: place.line, column: place.column,
                      image: rgbaOf(pixels, width, height)});
        return true;
      },
      onShotsDone(json) { run = JSON.parse(json); },
    });
    call(core, "studioShots",
         ["string", "number", "number", "number", "number", "number", "number"],
         [story.name, job.width, job.height, job.seed, from,
          Math.min(PICTURES_AT_ONCE, last - from + 1), job.commands]);
    waiting.forEach((picture, i) => {
      // Its command's place as bexu-shot names it on its sheet.
      const shot = run && run.shots[i];
      picture.place = shot ? shot.place : "";
    });
    for (const picture of waiting) {
      picture.blob = await pngOf(picture.image);
      delete picture.image;
      postMessage({id: job.id, picture});
    }
    from += waiting.length;
    if (!run || run.end != "more" || from > last) {
      return run && Object.assign(run, {nextPage: from});
    }
  }
}

// bexu-pack's findings and plan, and its archive of `job.kind` as a Blob.
async function exportArchive(job) {
  const core = await instance({});
  core.FS.mkdir("/out");
  const answer = call(core, "studioExport",
                      ["string", "string", "string", "string", "number", "string", "string"],
                      [story.name, "/players/bexu.exe", "/players/bexu-static", "/players/web",
                       job.force ? 1 : 0, job.ending, "/out/archive"]);
  if (answer.archive && !answer.archive.error) {
    const bytes = core.FS.readFile("/out/archive");
    const type = answer.archive.name.endsWith(".zip") ? "application/zip" : "application/gzip";
    answer.blob = new Blob([bytes], {type});
  }
  return answer;
}

const jobs = {check, shots, export: exportArchive};

onmessage = async (event) => {
  const message = event.data;
  if (message.module) {
    haveModule(message.module);
    return;
  }
  if (message.story) {
    story = message.story;
    return;
  }
  if (message.players) {
    players = message.players;
    return;
  }
  try {
    const result = await jobs[message.kind](message);
    postMessage({id: message.id, result});
  } catch (error) {
    postMessage({id: message.id, error: String(error && error.message || error)});
  }
};
