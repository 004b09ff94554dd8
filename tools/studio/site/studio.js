// bexu studio: open a story folder, see the checker's findings at their lines, play from
// any line or page, see every page, and export the release archives. The tools run in a
// worker (studio-worker.js); the player is the web player in a frame (play/).
"use strict";

// What the studio holds and shows; tests read it too.
const studio = {
  story: null,   // {name, files: Map(path -> {size, mtime, blob | url}), source, ...}
  check: null,   // the checker's answer: {text, report, uses}
  script: null,  // {text, starts}: the script's text and where each line starts
  run: null,     // the pictures' play: {end, message, shots, ...}
  pictures: [],  // {index, blob, url, line, column, place}
  place: null,   // where the player starts: {line, column} or {page}; null: the start
  exports: {},   // archive name -> Blob, as last made
  timings: {},   // milliseconds: check, pages, play, export
  generation: 0, // bumped at every (re)opening of the story
};

// Beyond these the studio says so rather than trying.
const MOST_FILES = 100000;
const JOB_TIME_LIMIT = {check: 60000, shots: 300000, export: 600000};
const POLL_HANDLE_MS = 700;
const ROW_HEIGHT = 18;

const $ = (id) => document.getElementById(id);

function say(text, bad) {
  $("status").textContent = text;
  $("status").classList.toggle("bad", !!bad);
}

function now() {
  return performance.now();
}

// Bytes as one character each, and back: how the tools' texts travel.
function utf8Text(byteString) {
  const bytes = new Uint8Array(byteString.length);
  for (let i = 0; i < byteString.length; ++i) bytes[i] = byteString.charCodeAt(i);
  return new TextDecoder("utf-8").decode(bytes);
}

// ---- the worker ---------------------------------------------------------------------

// A wasm file compiled once for every instance the page or its workers make.
async function compileWasm(url) {
  const answer = await fetch(url);
  if (!answer.ok) throw new Error(url + ": " + answer.status);
  return WebAssembly.compile(await answer.arrayBuffer());
}

const tools = {
  worker: null,
  next: 1,
  waiting: new Map(),
  players: null, // the players' entries once fetched

  start() {
    this.worker = new Worker("studio-worker.js");
    this.worker.postMessage({module: studio.coreModule});
    this.worker.onmessage = (event) => this.answer(event.data);
    this.worker.onerror = (event) => {
      event.preventDefault();
      this.restart("the tools stopped: " + (event.message || "an error in the worker"));
    };
    if (studio.story) this.worker.postMessage({story: storyForWorker(studio.story)});
    if (this.players) this.worker.postMessage({players: this.players});
  },

  answer(message) {
    const job = this.waiting.get(message.id);
    if (!job) return;
    if (message.progress) return job.onProgress && job.onProgress(message.progress);
    if (message.picture) return job.onPicture && job.onPicture(message.picture);
    clearTimeout(job.timer);
    this.waiting.delete(message.id);
    if (message.error !== undefined) job.reject(new Error(message.error));
    else job.resolve(message.result);
  },

  // Ends the worker and every job it had, and starts a new one.
  restart(why) {
    this.worker.terminate();
    for (const job of this.waiting.values()) {
      clearTimeout(job.timer);
      job.reject(new Error(why));
    }
    this.waiting.clear();
    this.start();
  },

  run(kind, params, hooks) {
    return new Promise((resolve, reject) => {
      const id = this.next++;
      const job = Object.assign({resolve, reject}, hooks);
      job.timer = setTimeout(() => {
        this.restart(kind + " took longer than " + JOB_TIME_LIMIT[kind] / 1000 + " s: stopped");
      }, JOB_TIME_LIMIT[kind]);
      this.waiting.set(id, job);
      this.worker.postMessage(Object.assign({id, kind}, params));
    });
  },

  // The story as it is now (studio.story); a new worker is handed it as it starts.
  story(story) {
    // Work still going on for the story as it was is of no use now.
    if (this.waiting.size > 0) this.restart("the story changed");
    else this.worker.postMessage({story: storyForWorker(story)});
  },

  async ensurePlayers() {
    if (this.players) return;
    const entries = [];
    for (const [path, url] of [["bexu.exe", "players/bexu.exe"],
                               ["bexu-static", "players/bexu-static"],
                               ["web/index.html", "players/web/index.html"],
                               ["web/bexu.js", "players/web/bexu.js"],
                               ["web/bexu.wasm", "players/web/bexu.wasm"]]) {
      const answer = await fetch(url);
      // A missing player is told by the plan, as bexu-pack tells it.
      if (!answer.ok) continue;
      const blob = await answer.blob();
      entries.push({path, size: blob.size, blob});
    }
    this.players = entries;
    this.worker.postMessage({players: entries});
  },
};

function storyForWorker(story) {
  const entries = [];
  for (const [path, file] of story.files) {
    entries.push({path, size: file.size, mtime: file.mtime, blob: file.blob, url: file.url});
  }
  return {name: story.name, entries};
}

// ---- opening a story ----------------------------------------------------------------

// Files given as [relativePath, File] with the folder's name first in every path.
function storyFromFiles(list, source) {
  const files = new Map();
  let name = null;
  for (const [path, file] of list) {
    const slash = path.indexOf("/");
    if (slash < 0) continue;
    name = name || path.slice(0, slash);
    files.set(path.slice(slash + 1), {size: file.size, mtime: file.lastModified, blob: file});
  }
  return {name: name || "story", files, source};
}

// A chosen folder: each file's path begins with the folder's name. Files chosen one by
// one (browsers that cannot open folders) make a story folder of their own, "story".
function openFromInput(input) {
  const list = Array.from(input.files, (file) =>
    [file.webkitRelativePath || "story/" + file.name, file]);
  if (list.length == 0) return;
  const story = storyFromFiles(list, "upload");
  story.input = input.id;
  openStory(story);
}

// Every file under a directory handle: [relative path, File].
async function filesOfHandle(handle, prefix, out) {
  for await (const [name, child] of handle.entries()) {
    if (out.length > MOST_FILES) break;
    if (child.kind == "directory") {
      await filesOfHandle(child, prefix + name + "/", out);
    } else {
      out.push([prefix + name, await child.getFile()]);
    }
  }
  return out;
}

async function openFromHandle(handle) {
  say("Reading " + handle.name + "…");
  const list = await filesOfHandle(handle, handle.name + "/", []);
  const story = storyFromFiles(list, "handle");
  story.name = handle.name;
  story.handle = handle;
  openStory(story);
}

// Every file under a dropped folder's entry (browsers without folder handles).
function filesOfEntry(entry, prefix, out) {
  return new Promise((resolve, reject) => {
    if (entry.isFile) {
      entry.file((file) => { out.push([prefix + entry.name, file]); resolve(out); }, reject);
      return;
    }
    const reader = entry.createReader();
    const readMore = () => reader.readEntries(async (entries) => {
      if (entries.length == 0 || out.length > MOST_FILES) return resolve(out);
      for (const child of entries) await filesOfEntry(child, prefix + entry.name + "/", out);
      readMore();
    }, reject);
    readMore();
  });
}

async function openDropped(items) {
  const item = Array.from(items).find((i) => i.kind == "file");
  if (!item) return;
  if (item.getAsFileSystemHandle) {
    const handle = await item.getAsFileSystemHandle();
    if (handle && handle.kind == "directory") return openFromHandle(handle);
  }
  const entry = item.webkitGetAsEntry && item.webkitGetAsEntry();
  if (!entry || !entry.isDirectory) {
    say("Drop the story's folder, not a file.", true);
    return;
  }
  const list = [];
  for (const child of await new Promise((resolve, reject) =>
    entry.createReader().readEntries(resolve, reject))) {
    await filesOfEntry(child, entry.name + "/", list);
  }
  const story = storyFromFiles(list, "dropped");
  story.name = entry.name;
  story.entry = entry;
  openStory(story);
}

// Why the folder cannot be a story, or null.
function folderProblem(story) {
  if (story.files.size > MOST_FILES) {
    return "The folder '" + story.name + "' holds more than " + MOST_FILES.toLocaleString("en") +
      " files: open the story's own folder.";
  }
  if (story.files.has("script.bexu")) return null;
  const inside = [...story.files.keys()].filter((p) => p.endsWith("/script.bexu"))
    .map((p) => p.slice(0, -"/script.bexu".length)).sort().slice(0, 5);
  return "No script.bexu in '" + story.name + "': a story folder holds its script at its top" +
    (inside.length ? " (found in " + inside.map((p) => "'" + p + "'").join(", ") + ")" : "") +
    ". The player would say: script.bexu could not be located.";
}

async function openStory(story) {
  const previous = studio.story;
  studio.story = story;
  const generation = ++studio.generation;
  studio.openedAt = now();
  studio.timings = {};
  $("story-name").textContent = story.name;
  $("reload").hidden = story.source == "handle" || story.source == "server";
  tools.story(story);
  const problem = folderProblem(story);
  showFilesNote(story);
  if (problem) {
    say(problem, true);
    clearStoryViews();
    showCheck({text: "", report: null, uses: []}, null);
    return;
  }
  say("Checking " + story.name + "…");
  // The same story changed: it plays again at once with the files the last check found,
  // while the check runs.
  const again = previous && studio.check && previous.name == story.name &&
    previous.source == story.source;
  if (again && studio.showing) {
    studio.place = {line: studio.showing.line, column: studio.showing.column};
  }
  if (again) play(studio.place);
  await refresh(generation, again ? studio.check.uses : null);
}

// How many files the folder holds, and how many of them the story opens.
function showFilesNote(story) {
  const count = story.files.size;
  let text = count.toLocaleString("en") + " file" + (count == 1 ? "" : "s");
  if (studio.check && story == studio.story) {
    const used = playerFileNames().length;
    text += ", " + used.toLocaleString("en") + " used by the story" +
      (used < count ? " (the exports pack only those)" : "");
  }
  $("story-files").textContent = text;
}

function clearStoryViews() {
  studio.check = null;
  studio.script = null;
  studio.run = null;
  releasePictures();
  $("pages").textContent = "";
  $("pages-count").textContent = "";
  stopPlayer();
  drawScript();
  for (const button of document.querySelectorAll("button.export")) button.disabled = true;
}

// Check, show, play and picture the story as it is now. `played` are the names the
// player was given, when it was started already.
async function refresh(generation, played) {
  const started = now();
  let check;
  try {
    const [answer, script] = await Promise.all([
      tools.run("check", {notes: $("notes").checked}), readScript(studio.story)]);
    check = answer;
    studio.script = script;
  } catch (error) {
    if (generation == studio.generation) say("The checker stopped: " + error.message, true);
    return;
  }
  if (generation != studio.generation) return;
  showCheck(check, started);
  showFilesNote(studio.story);
  studio.timings.check = now() - started;
  enableExports();
  if (!played || played.join("\n") != check.uses.join("\n")) play(studio.place);
  await makePictures(generation);
}

// The script as text, each byte one character (the player's single-byte text), and
// where each of its lines starts; a line is cut out only when it is shown.
async function readScript(story) {
  const file = story.files.get("script.bexu");
  if (!file) return {text: "", starts: new Uint32Array([0, 1])};
  const bytes = new Uint8Array(await readWhole(file));
  let count = 1;
  for (let i = 0; i < bytes.length; ++i) if (bytes[i] == 10) ++count;
  const starts = new Uint32Array(count + 1);
  for (let i = 0, line = 1; i < bytes.length; ++i) if (bytes[i] == 10) starts[line++] = i + 1;
  starts[count] = bytes.length + 1;
  return {text: new TextDecoder("windows-1252").decode(bytes), starts};
}

function lineCount() {
  return studio.script ? studio.script.starts.length - 1 : 0;
}

function lineText(line) {
  const starts = studio.script.starts;
  return studio.script.text.slice(starts[line - 1], starts[line] - 1).replace(/\r$/, "");
}

function readWhole(file) {
  if (file.blob) return file.blob.arrayBuffer();
  return fetch(file.url).then((answer) => {
    if (!answer.ok) throw new Error(file.url + ": " + answer.status);
    return answer.arrayBuffer();
  });
}

// ---- findings and the script --------------------------------------------------------

// Rows of the script view: every line, and under it its findings. rowOf[row] is a line
// number, or -(1 + i) for findings[i]; lineRows[line] is the line's row.
const view = {rowOf: new Int32Array(0), lineRows: new Int32Array(1), findings: [],
              worst: new Map()};

function showCheck(check, started) {
  studio.check = check;
  const lines = check.text ? utf8Text(check.text).split("\n") : [];
  if (lines.length && lines[lines.length - 1] == "") lines.pop();
  const diagnostics = check.report ? check.report.diagnostics : [];
  const list = $("findings");
  list.textContent = "";
  lines.forEach((text, i) => {
    const item = document.createElement("li");
    item.textContent = text;
    const diagnostic = diagnostics[i];
    if (diagnostic) {
      item.className = diagnostic.severity;
      if (diagnostic.line) item.onclick = () => scrollToLine(diagnostic.line);
    } else {
      item.className = "summary";
    }
    list.append(item);
  });
  if (check.report) {
    const r = check.report;
    $("findings-summary").textContent = "(" + r.errors + " error" + (r.errors == 1 ? "" : "s") +
      ", " + r.warnings + " warning" + (r.warnings == 1 ? "" : "s") + ")";
    if (!r.readable) say("script.bexu cannot be read: " + (lines[0] || ""), true);
    else say(r.errors ? r.errors + " error" + (r.errors == 1 ? "" : "s") + " in " +
             studio.story.name : studio.story.name + ": no errors", r.errors > 0);
  } else {
    $("findings-summary").textContent = "";
  }
  buildRows(diagnostics);
  drawScript();
}

function buildRows(diagnostics) {
  const byLine = new Map();
  const script = studio.story.name + "/script.bexu";
  for (const d of diagnostics) {
    if (utf8Text(d.file) != script || !d.line || d.line > lineCount()) continue;
    if (!byLine.has(d.line)) byLine.set(d.line, []);
    byLine.get(d.line).push(d);
  }
  const lines = lineCount();
  let findingCount = 0;
  for (const found of byLine.values()) findingCount += found.length;
  view.rowOf = new Int32Array(lines + findingCount);
  view.lineRows = new Int32Array(lines + 1);
  view.findings = [];
  view.worst = new Map();
  for (let line = 1, row = 0; line <= lines; ++line) {
    view.lineRows[line] = row;
    view.rowOf[row++] = line;
    const found = byLine.get(line);
    if (!found) continue;
    view.worst.set(line, worstOf(found));
    for (const d of found) {
      view.findings.push({severity: d.severity, text: utf8Text(d.line + ":" + d.column + ": " +
        d.severity + ": " + d.message + " [" + d.code + "]")});
      view.rowOf[row++] = -view.findings.length;
    }
  }
  $("script-space").style.height = view.rowOf.length * ROW_HEIGHT + "px";
}

function worstOf(found) {
  if (found.some((d) => d.severity == "error")) return "error";
  if (found.some((d) => d.severity == "warning")) return "warning";
  return found.length ? "note" : null;
}

// Only the rows in sight are made, so a script of any length scrolls at once.
function drawScript() {
  const box = $("script");
  const rows = view.rowOf.length;
  const first = Math.max(0, Math.floor(box.scrollTop / ROW_HEIGHT) - 20);
  const last = Math.min(rows, first + Math.ceil(box.clientHeight / ROW_HEIGHT) + 40);
  const holder = $("script-rows");
  holder.style.top = first * ROW_HEIGHT + "px";
  holder.textContent = "";
  const playing = studio.showing && studio.showing.line;
  for (let i = first; i < last; ++i) {
    const line = view.rowOf[i];
    const element = document.createElement("div");
    if (line < 0) {
      const finding = view.findings[-line - 1];
      element.className = "row finding " + finding.severity;
      element.textContent = finding.text;
      element.title = finding.text;
    } else {
      const worst = view.worst.get(line);
      element.className = "row" + (worst ? " has-" + worst : "") +
        (line == playing ? " playing" : "");
      const number = document.createElement("span");
      number.className = "ln";
      number.textContent = line;
      number.title = "Play from line " + line;
      number.onclick = () => playFrom({line, column: 0});
      const text = document.createElement("span");
      text.className = "text";
      text.textContent = lineText(line);
      element.append(number, text);
    }
    holder.append(element);
  }
}

function scrollToLine(line) {
  if (line < 1 || line > lineCount()) return;
  const row = view.lineRows[line];
  $("script").scrollTop = Math.max(0, row * ROW_HEIGHT - $("script").clientHeight / 3);
  drawScript();
}

// ---- the player ---------------------------------------------------------------------

// The player's pages: the one playing, and a spare one loaded and waiting for a story
// (play/story.js), so that playing again costs only the play.
const player = {current: null, spare: null, requests: 0};

window.studioPlayerModule = () => studio.playerModule;

// Where the playing player started, and the key wait it shows: after a change, the story
// plays again from there.
window.studioPlayerPlace = (frameWindow, place) => {
  if (!player.current || player.current.contentWindow != frameWindow) return;
  if (place.what == "wait") {
    studio.showing = {line: place.line, column: place.column, page: place.page};
  } else if (place.what != "start") {
    studio.showing = null;
    say(place.what == "held" ? "The play holds for good at script.bexu:" + place.line + " (a " +
        "command without an argument), before the place asked for." :
        "The play ends before the place asked for.", true);
  }
  showPlace();
};

function showPlace() {
  const shown = studio.showing;
  $("player-place").textContent = shown ? "script.bexu:" + shown.line + " \u2014 page " +
    shown.page : "";
  drawScript();
}

window.studioPlayerFrameReady = (frameWindow) => {
  const spare = player.spare;
  if (spare && spare.frame.contentWindow == frameWindow) spare.ready(frameWindow);
};

function makeSpareFrame() {
  const frame = document.createElement("iframe");
  frame.title = "The story's player";
  frame.className = "spare";
  frame.tabIndex = -1;
  const spare = {frame};
  spare.window = new Promise((resolve) => { spare.ready = resolve; });
  player.spare = spare;
  // A fixed start for the clock, whose first reading seeds the stammers (tests).
  const tick = new URLSearchParams(location.search).get("start-tick");
  frame.src = "play/index.html" + (tick ? "?start-tick=" + encodeURIComponent(tick) : "");
  $("player-frame").append(frame);
}

function stopPlayer() {
  if (player.current) player.current.remove();
  player.current = null;
  $("play-start").disabled = true;
  $("player-place").textContent = "";
}

// The files the player opens: the fixed ones and those the script names (`all`: also
// those the folder lacks).
function playerFileNames(all) {
  const names = new Set(["script.bexu", "font.bmp", "transparency.bmp", "init.bexc"]);
  for (const name of studio.check ? studio.check.uses : []) names.add(utf8Text(name));
  return [...names].filter((name) => all || studio.story.files.has(name));
}

// The bytes of the player's files, kept while they do not change.
const playerBytes = new Map();

async function bytesFor(name) {
  const file = studio.story.files.get(name);
  const key = studio.story.name + "/" + name;
  const kept = playerBytes.get(key);
  if (kept && kept.file.size == file.size && kept.file.mtime == file.mtime) return kept.bytes;
  const bytes = new Uint8Array(await readWhole(file));
  playerBytes.set(key, {file, bytes});
  return bytes;
}

// The most memory the web player may take (BEXU_WEB_MEMORY_CAP): a larger file cannot be
// read into it, so the player is not handed one; it says "Failed to load scene." as it
// does when the file cannot be read.
const PLAYER_MEMORY_CAP = 256 << 20;

async function play(place) {
  const request = ++player.requests;
  const asked = now();
  const names = playerFileNames().filter((name) =>
    studio.story.files.get(name).size < PLAYER_MEMORY_CAP);
  const files = await Promise.all(names.map(async (name) => {
    try {
      return [name, await bytesFor(name)];
    } catch (error) {
      return null; // unreadable: the player meets it as a missing file
    }
  }));
  let spare;
  let frameWindow;
  do {
    if (!player.spare) makeSpareFrame();
    spare = player.spare;
    frameWindow = await spare.window;
    // A later play was asked for meanwhile: it plays instead.
    if (request != player.requests) return;
  } while (spare != player.spare);
  // The next spare page loads once this play shows its first picture, not against it.
  player.spare = null;
  if (player.current) player.current.remove();
  player.current = spare.frame;
  spare.frame.className = "playing";
  spare.frame.tabIndex = 0;
  frameWindow.studioPlay({files: files.filter((f) => f), start: place});
  frameWindow.focus();
  watchFirstFrame(spare.frame, asked);
  $("play-start").disabled = false;
  studio.showing = null;
  showPlace();
}

// The time from the asking to the first picture the player shows; then the next spare
// page loads (or a second at the latest, for a play that shows none).
const SPARE_AT_THE_LATEST = 1000;

function watchFirstFrame(frame, asked) {
  let spareDue = setTimeout(() => { spareDue = null; spareLater(); }, SPARE_AT_THE_LATEST);
  const look = () => {
    const canvas = frame.contentDocument && frame.contentDocument.getElementById("canvas");
    if (canvas && canvas.width > 0 &&
        canvas.getContext("2d").getImageData(0, 0, 1, 1).data[3] != 0) {
      studio.timings.play = now() - asked;
      if (spareDue) {
        clearTimeout(spareDue);
        spareLater();
      }
      return;
    }
    if (frame.isConnected) requestAnimationFrame(look);
  };
  look();
}

function spareLater() {
  if (!player.spare) makeSpareFrame();
}

function playFrom(place) {
  studio.place = place;
  drawScript();
  play(place);
}

// ---- the pages ----------------------------------------------------------------------

function releasePictures() {
  for (const picture of studio.pictures) URL.revokeObjectURL(picture.url);
  studio.pictures = [];
}

// The pages pictured at a time; a longer story has a button for the next ones. (A test
// may ask for fewer: ?pages-at-once=N.)
const PAGES_AT_ONCE =
  Number(new URLSearchParams(location.search).get("pages-at-once")) || 240;

async function makePictures(generation, fromPage) {
  const started = now();
  fromPage = fromPage || 1;
  if (fromPage == 1) {
    releasePictures();
    $("pages").textContent = "";
  }
  $("more-pages").hidden = true;
  const progress = $("pages-progress");
  progress.hidden = false;
  progress.value = 0;
  $("pages-count").textContent = "(making…)";
  let run;
  try {
    const commands = studio.check && studio.check.report ? studio.check.report.commands : 0;
    run = await tools.run("shots", {width: 1600, height: 900, seed: 100000, fromPage,
                                    most: PAGES_AT_ONCE, commands}, {
      onProgress(p) {
        if (p.commands) progress.value = p.reached / p.commands;
        $("pages-count").textContent = "(making page " + p.pictures + "…)";
      },
      onPicture(picture) { addPicture(picture); },
    });
  } catch (error) {
    if (generation == studio.generation) {
      $("pages-count").textContent = "(stopped: " + error.message + ")";
      progress.hidden = true;
    }
    return;
  }
  if (generation != studio.generation) return;
  progress.hidden = true;
  studio.run = run;
  studio.timings.pages = now() - started;
  const count = studio.pictures.length;
  let note = "(" + count + " page" + (count == 1 ? "" : "s") + ")";
  if (run && run.end == "more") {
    note += " the story goes on";
    $("more-pages").hidden = false;
    $("more-pages").onclick = () => makePictures(studio.generation, run.nextPage);
  } else if (run && run.end != "finished") {
    note += " the play stopped: " + utf8Text(run.message);
  }
  $("pages-count").textContent = note;
}

function addPicture(picture) {
  const url = URL.createObjectURL(picture.blob);
  const entry = Object.assign({url}, picture);
  studio.pictures[picture.index] = entry;
  const figure = document.createElement("figure");
  figure.title = "Play from page " + (picture.index + 1);
  const image = document.createElement("img");
  image.src = url;
  image.alt = "Page " + (picture.index + 1);
  image.loading = "lazy";
  const caption = document.createElement("figcaption");
  caption.textContent = (picture.index + 1) + " \u00b7 " + utf8Text(picture.place);
  figure.append(image, caption);
  figure.onclick = () => playFrom({page: picture.index + 1});
  $("pages").append(figure);
}

// ---- export -------------------------------------------------------------------------

function enableExports() {
  for (const button of document.querySelectorAll("button.export")) {
    button.disabled = false;
  }
}

function download(blob, name) {
  const link = document.createElement("a");
  link.href = URL.createObjectURL(blob);
  link.download = name;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 60000);
}

// The endings of bexu-pack's archive names, by the export buttons' kinds.
const ARCHIVE_ENDINGS = {windows: "-windows.zip", linux: "-linux-x86_64.tar.gz",
                         web: "-web.zip"};

// bexu-pack in the page: its findings and refusal as it prints them, and the archive of
// `kind`, written by its own writers.
async function exportArchive(kind) {
  const started = now();
  const log = $("export-log");
  log.textContent = "Checking…";
  let answer;
  try {
    await tools.ensurePlayers();
    answer = await tools.run("export", {force: $("force").checked, ending: ARCHIVE_ENDINGS[kind]});
  } catch (error) {
    log.textContent = "The packing stopped: " + error.message;
    return null;
  }
  studio.plan = answer;
  log.textContent = utf8Text(answer.findings);
  if (answer.refusal) {
    const refused = document.createElement("span");
    refused.className = "refused";
    refused.textContent = "bexu-pack: " + utf8Text(answer.refusal) + "\n";
    log.append(refused);
    return null;
  }
  log.append("bexu-pack: \"" + printable(answer.title) + "\": " + answer.files +
             " story files, " + answer.size + "\n");
  for (const left of answer.leftOut) log.append("  left out: " + utf8Text(left) + "\n");
  const archive = answer.archive;
  const name = utf8Text(archive.name);
  if (archive.error) {
    log.append("bexu-pack: " + name + ": " + utf8Text(archive.error) + ": nothing packed\n");
    return null;
  }
  studio.exports[name] = answer.blob;
  studio.timings.export = now() - started;
  log.append("  " + name + " (" + (answer.blob.size / 1e6).toFixed(2) + " MB)\n");
  download(answer.blob, name);
  return name;
}

function printable(title) {
  return title.replace(/[^\x20-\x7e]/g, "?");
}

// ---- watching the folder -------------------------------------------------------------

// With a folder handle, the files are looked at again and again: a change reopens.
async function pollHandle() {
  const story = studio.story;
  if (story && story.source == "handle" && !studio.pollBusy) {
    studio.pollBusy = true;
    try {
      const fresh = storyOfList(await filesOfHandle(story.handle, story.name + "/", []), story);
      if (studio.story == story) {
        if (mattersFor(fresh)) openStory(fresh);
        else studio.story.files = fresh.files;
      }
    } catch (error) {
      say("The folder cannot be read any more: " + error.message, true);
    } finally {
      studio.pollBusy = false;
    }
  }
  setTimeout(pollHandle, POLL_HANDLE_MS);
}

// Whether a story's files changed in a way its check, play or pages could see: files
// the player opens, or may open under another case or separator, and the files the
// script names but the folder lacked. Other files (an editor's swap file) do not count.
function mattersFor(fresh) {
  const story = studio.story;
  if (!story || !studio.check || fresh.name != story.name) return true;
  const watched = new Set(playerFileNames(true).map((name) =>
    name.replace(/\\/g, "/").toLowerCase()));
  const paths = new Set([...story.files.keys(), ...fresh.files.keys()]);
  for (const path of paths) {
    const before = story.files.get(path);
    const after = fresh.files.get(path);
    const same = before && after && before.size == after.size && before.mtime == after.mtime;
    if (!same && watched.has(path.toLowerCase())) return true;
  }
  return false;
}

function storyOfList(list, like) {
  const fresh = storyFromFiles(list, like.source);
  fresh.name = like.name;
  fresh.handle = like.handle;
  return fresh;
}

async function reload() {
  const story = studio.story;
  if (!story) return;
  if (story.source == "dropped" && story.entry) {
    const list = [];
    for (const child of await new Promise((resolve, reject) =>
      story.entry.createReader().readEntries(resolve, reject))) {
      await filesOfEntry(child, story.entry.name + "/", list);
    }
    const fresh = storyFromFiles(list, "dropped");
    fresh.name = story.name;
    fresh.entry = story.entry;
    return openStory(fresh);
  }
  // An uploaded folder is read anew only by choosing it again.
  $(story.input).value = "";
  $(story.input).click();
}

// ---- local mode: bexu-studio serves the story and tells of changes ----------------------

async function openServedStory() {
  let answer;
  try {
    answer = await fetch("api/story", {cache: "no-store"});
  } catch (error) {
    return false;
  }
  if (!answer.ok) return false;
  const listing = await answer.json();
  const files = new Map();
  for (const file of listing.files) {
    files.set(file.path, {size: file.size, mtime: file.mtime,
                          url: "story/" + file.path.split("/").map(encodeURIComponent).join("/")});
  }
  const story = {name: listing.name, files, source: "server"};
  if (listing.note) say(listing.note, true);
  if (mattersFor(story)) await openStory(story);
  else studio.story.files = story.files;
  return true;
}

function listenToServer() {
  const events = new EventSource("api/events");
  events.addEventListener("change", () => openServedStory());
}

// ---- start ---------------------------------------------------------------------------

async function start() {
  try {
    [studio.coreModule, studio.playerModule] = await Promise.all([
      compileWasm("bexu-studio-core.wasm"), compileWasm("play/bexu.wasm")]);
  } catch (error) {
    say("The studio cannot start: " + error.message, true);
    return;
  }
  tools.start();
  makeSpareFrame();
  $("open-folder").onclick = async () => {
    if (window.showDirectoryPicker) {
      try {
        return await openFromHandle(await window.showDirectoryPicker());
      } catch (error) {
        if (error.name == "AbortError") return;
      }
    }
    $("folder-input").click();
  };
  $("folder-input").onchange = (event) => openFromInput(event.target);
  $("open-files").onclick = () => $("files-input").click();
  $("files-input").onchange = (event) => openFromInput(event.target);
  $("reload").onclick = reload;
  // bexu-check --notes: the findings again, with the notes on style.
  $("notes").onchange = async () => {
    if (!studio.story || !studio.check) return;
    const generation = studio.generation;
    const check = await tools.run("check", {notes: $("notes").checked});
    if (generation == studio.generation) showCheck(check, 0);
  };
  $("play-start").onclick = () => playFrom(null);
  $("script").addEventListener("scroll", () => requestAnimationFrame(drawScript));
  window.addEventListener("resize", () => drawScript());
  for (const button of document.querySelectorAll("button.export")) {
    button.onclick = () => exportArchive(button.dataset.kind);
  }
  let dragDepth = 0;
  document.addEventListener("dragenter", (e) => { e.preventDefault(); ++dragDepth;
    $("drop-hint").hidden = false; });
  document.addEventListener("dragleave", () => { if (--dragDepth <= 0) $("drop-hint").hidden = true; });
  document.addEventListener("dragover", (e) => e.preventDefault());
  document.addEventListener("drop", (e) => {
    e.preventDefault();
    dragDepth = 0;
    $("drop-hint").hidden = true;
    openDropped(e.dataTransfer.items).catch((error) => say(error.message, true));
  });
  setTimeout(pollHandle, POLL_HANDLE_MS);
  openServedStory().then((served) => {
    if (served) listenToServer();
    studio.ready = true;
    // Milliseconds from the page's start to a studio that takes a story.
    studio.readyAt = now();
  });
}

start();
