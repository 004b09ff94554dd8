#!/usr/bin/python3
"""Measures the web player in headless Chromium, side by side with the native
players in the same run. Given several web builds (--build A --build B), each one's
figures are taken in the same Chromium, interleaved, and printed beside the first's
with their ratio to it:

- the size of bexu.wasm, plain and gzipped;
- page load to first picture: from the start of navigation to the first canvas
  update, and to the first one showing the story's first scene (median of runs);
- frame times at 1920 x 1080: the work of one loop iteration, from the end of its pause
  to its next pause: unchanged frames, frames where the marker changed, frames while
  playing the story on, new scenes in a story of scenes and lines only (no sound
  decoded in the same iteration), and whole frames after a resize (back buffer tiled,
  canvas stretched, all rows put);
- CPU while the demo waits for Space at 1600 x 900, as a share of one core: all of
  Chromium's processes and its renderer alone, against the SDL player (and its X
  server) on a virtual display, measured the same way;
- the smoothing stretch to 1920 x 1080, the same program in wasm and natively.

Usage: measure_web.py [--build build-web ...] [--native build] [--story examples/demo]
Needs the web preset built (bexu, bexu-stretch-timing) and the default one (bexu,
bexu-pack, bexu-stretch-timing), Chromium, Xvfb and python3-websocket (run with
/usr/bin/python3). The pages are the web archives bexu-pack makes, unpacked.
"""

import argparse
import glob
import gzip
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import zipfile

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
sys.path.insert(0, os.path.join(ROOT, "tests", "web"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import browser  # noqa: E402
import measure_player as desktop  # noqa: E402

# Wraps the page's timers and canvas before any of its scripts run. The loop pauses in
# timeouts: 16 ms after a command, longer while a wait shows, which a key, a click or a
# resize ends early. From a timeout's callback, or such an event, to the loop's next
# timeout is one iteration's work; the puts and rows drawn meanwhile tell what kind of
# frame it was.
INSTRUMENT = """
(() => {
  const timeout = window.setTimeout.bind(window);
  window.__frames = [];
  let woke = null, puts = 0, rows = 0, putMs = 0;
  function begin() { woke = performance.now(); puts = 0; rows = 0; putMs = 0; }
  for (const type of ["keydown", "click", "resize"]) addEventListener(type, begin, true);
  window.setTimeout = function(callback, ms, ...rest) {
    if (woke !== null) window.__frames.push([performance.now() - woke, puts, rows, putMs]);
    woke = null;
    return timeout(function() { begin(); return callback.apply(this, arguments); }, ms,
                   ...rest);
  };
  const put = CanvasRenderingContext2D.prototype.putImageData;
  CanvasRenderingContext2D.prototype.putImageData = function(image, x, y, dx, dy, dw, dh) {
    const begun = performance.now();
    const result = put.apply(this, arguments);
    putMs += performance.now() - begun;
    puts += 1;
    rows += dh === undefined ? image.height : dh;
    const now = performance.now();
    if (window.__firstPicture === undefined) window.__firstPicture = now;
    if (window.__scenePicture === undefined && window.__probe) {
      const [px, py, colour] = window.__probe;
      const i = (py * image.width + px) * 4;
      const d = image.data;
      if (((d[i] << 16) | (d[i + 1] << 8) | d[i + 2]) === colour) window.__scenePicture = now;
    }
    return result;
  };
})();
"""


def web_page(pack, web_player, story, site):
    """bexu-pack's web archive of `story` (as it is, errors and all), unpacked into `site`;
    returns the archive's path, which stays beside `site`."""
    archives = site + "-archives"
    os.makedirs(archives)
    stand_in = os.path.join(archives, "stand-in.exe")
    with open(stand_in, "wb") as f:
        f.write(b"MZ" + bytes(62))
    subprocess.run([pack, story, "--out", archives, "--windows-player", stand_in,
                    "--web-player", web_player, "--force"], check=True,
                   stdout=subprocess.DEVNULL)
    archive = glob.glob(os.path.join(archives, "*-web.zip"))[0]
    with zipfile.ZipFile(archive) as z:
        z.extractall(site)
    return archive


def instrumented_page(chromium, probe):
    """Chromium's first tab at 1600 x 900, with the timers and canvas instrumented and the
    pixel `probe` (x, y, 0xRRGGBB) of the first scene to watch for."""
    page = chromium.open_page()
    page.send("Page.addScriptToEvaluateOnNewDocument",
              source=INSTRUMENT + "window.__probe = [%d, %d, %d];" % probe)
    page.size(1600, 900)
    return page


def cpu_of_group(group):
    """{pid: (run time in seconds, whether it is a renderer)} of every process in a process
    group, counted as the desktop player's is (desktop.cpu_seconds)."""
    found = {}
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % pid) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                command = f.read()
            if int(fields[2]) != group:
                continue
            found[int(pid)] = (desktop.cpu_seconds(int(pid)), b"--type=renderer" in command)
        except OSError:
            continue
    return found


def cpu_share(group, seconds):
    """Shares of one core over `seconds`: all of the group's processes, and its busiest
    renderer (a navigation may have left other renderers behind)."""
    before = cpu_of_group(group)
    start = time.monotonic()
    time.sleep(seconds)
    after = cpu_of_group(group)
    span = time.monotonic() - start
    used = {pid: after[pid][0] - before.get(pid, (0.0, False))[0] for pid in after}
    renderer = max([used[pid] for pid in after if after[pid][1]] or [0.0])
    return sum(used.values()) / span, renderer / span


def median_ms(values):
    if not values:
        return "no frames"
    return "median %.2f ms (min %.2f, max %.2f, %d frames)" % (
        statistics.median(values), min(values), max(values), len(values))


def make_site(pack, build, story, site):
    """The demo's page of `build` (bexu-pack's web archive), the stretch timing page, and a
    story of scenes and lines (each scene of the story in turn, a line after each, so a
    scene's frame holds the canvas's rebuild and a line's step) at site/scenes."""
    web_page(pack, build, story, site)
    for name in ("bexu-stretch-timing.js", "bexu-stretch-timing.wasm"):
        shutil.copy(os.path.join(build, name), site)
    with open(os.path.join(site, "stretch.html"), "w") as f:
        f.write("<!doctype html><script src='bexu-stretch-timing.js'></script>\n")
    scenes_story = site + "-scenes-story"
    shutil.copytree(story, scenes_story)
    names = re.findall(rb"\[cg~([^\]]+)\]", open(os.path.join(story, "script.bexu"), "rb").read())
    with open(os.path.join(scenes_story, "script.bexu"), "wb") as f:
        f.write(b"{0" + b"".join(b"[cg~%s][say~Scene %d.]" % (names[i % len(names)], i)
                                 for i in range(13)) + b"}")
    web_page(pack, build, scenes_story, os.path.join(site, "scenes"))


class Build:
    """One web build and its figures."""

    def __init__(self, path, name):
        self.path, self.name = path, name
        self.firsts, self.scenes_first, self.cpu, self.renderer = [], [], [], []
        self.frames = {}
        self.stretch = []


def first_pictures(page, url, build):
    page.navigate(url)
    page.wait_for("window.__scenePicture !== undefined", 10, "the first scene")
    first, scene = page.evaluate("[window.__firstPicture, window.__scenePicture]")
    build.firsts.append(first)
    build.scenes_first.append(scene)


def idle_cpu(page, url, chromium, seconds, build):
    page.size(1600, 900)
    page.navigate(url)
    page.wait_for("document.querySelectorAll('#bexu-lines p').length == 1", 10,
                  "the first key wait")
    time.sleep(1.0)
    share, renderer = cpu_share(chromium.process.pid, seconds)
    build.cpu.append(share)
    build.renderer.append(renderer)


def frame_times(page, url, build):
    """Frame times at 1920 x 1080 in the demo and in the story of scenes."""
    page.size(1600, 900)
    page.navigate(url + "index.html")
    page.wait_for("document.querySelectorAll('#bexu-lines p').length == 1", 10,
                  "the first key wait")
    page.size(1920, 1080)
    time.sleep(0.5)
    page.evaluate("window.__frames = []")
    time.sleep(8.0)
    frames = page.evaluate("window.__frames")
    figures = build.frames
    figures["unchanged"] = [f[0] for f in frames if f[1] == 0]
    figures["marker"] = [f[0] for f in frames if f[1] > 0]
    whole, whole_puts = [], []
    for index in range(12):
        page.evaluate("window.__frames = []")
        page.size(1920, 1080 - 2 * (index % 2 + 1))
        page.wait_for("window.__frames.some(f => f[2] >= 1000)", 5, "a whole frame")
        whole_frames = [f for f in page.evaluate("window.__frames") if f[2] >= 1000]
        whole += [f[0] for f in whole_frames]
        whole_puts += [f[3] for f in whole_frames]
    figures["resize"] = whole
    figures["resize, putImageData"] = whole_puts
    page.size(1920, 1080)
    time.sleep(0.5)
    # Play the rest of the story: new lines, page turns and new scenes.
    page.evaluate("window.__frames = []")
    for _ in range(14):
        page.key_space()
        time.sleep(1.0 if page.evaluate("!document.getElementById('bexu-lines')"
                                         ".lastChild") else 0.6)
    played = page.evaluate("window.__frames")
    figures["play"] = [f[0] for f in played if f[1] > 0 and f[2] > 48]
    figures["scene in the demo"] = [f[0] for f in played if f[2] >= 1000]
    figures["scene in the demo, putImageData"] = [f[3] for f in played if f[2] >= 1000]
    page.navigate(url + "scenes/index.html")
    page.wait_for("document.querySelectorAll('#bexu-lines p').length == 1", 10,
                  "the scenes' first line")
    time.sleep(0.5)
    page.evaluate("window.__frames = []")
    for _ in range(12):
        page.key_space()
        time.sleep(0.3)
    scene_only = [f for f in page.evaluate("window.__frames") if f[2] >= 1000]
    figures["scene"] = [f[0] for f in scene_only]
    figures["scene, putImageData"] = [f[3] for f in scene_only]


def stretch_lines(page, url):
    page.navigate(url + "stretch.html")
    page.wait_for("document.readyState == 'complete'", 10, "the stretch page")
    end = time.monotonic() + 60
    lines = []
    while len(lines) < 3 and time.monotonic() < end:
        lines = [e["params"]["args"][0]["value"] for e in page.events
                 if e["method"] == "Runtime.consoleAPICalled"
                 and e["params"]["args"][0].get("value", "").startswith("stretch")]
        page.evaluate("1")  # takes in the events that came meanwhile
        time.sleep(0.2)
    return lines


def side_by_side(label, builds, values, unit="ms", scale=1.0, digits=2):
    """One figure of every build, with the ratio of each to the first's."""
    cells = []
    for build, value in zip(builds, values):
        text = "%s %.*f %s" % (build.name, digits, value * scale, unit)
        if build is not builds[0] and values[0] > 0:
            text += " (%.2f x)" % (value / values[0])
        cells.append(text)
    print("%s: %s" % (label, "; ".join(cells)))


FRAME_LABELS = [
    ("unchanged", "web frame at 1920x1080, unchanged"),
    ("marker", "web frame at 1920x1080, marker changed (its cell redrawn, stretched and put)"),
    ("play", "web frame at 1920x1080 with more than a marker changed while playing on (lines, "
             "page turns, scenes)"),
    ("scene in the demo", "web frame at 1920x1080 showing a new scene (every row put)"),
    ("scene in the demo, putImageData", "  of which putImageData"),
    ("scene", "web frame at 1920x1080 showing a new scene, no sound in its step (median of 12)"),
    ("scene, putImageData", "  of which putImageData"),
    ("resize", "web frame at 1920x1080 after a resize (tiled, stretched, every row put)"),
    ("resize, putImageData", "  of which putImageData"),
]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", action="append",
                        help="a build folder of the web preset; several are measured side by "
                             "side (default build-web)")
    parser.add_argument("--native", default=os.path.join(ROOT, "build"))
    parser.add_argument("--story", default=os.path.join(ROOT, "examples", "demo"))
    parser.add_argument("--runs", type=int, default=9)
    parser.add_argument("--idle-seconds", type=float, default=30.0)
    parser.add_argument("--idle-rounds", type=int, default=1)
    args = parser.parse_args()
    paths = [os.path.abspath(p) for p in args.build or [os.path.join(ROOT, "build-web")]]
    names = [os.path.basename(os.path.normpath(p)) for p in paths]
    if len(set(names)) != len(names):
        names = ["build %d" % (i + 1) for i in range(len(paths))]
    builds = [Build(path, name) for path, name in zip(paths, names)]
    native, story = os.path.abspath(args.native), os.path.abspath(args.story)

    for build in builds:
        wasm = open(os.path.join(build.path, "bexu.wasm"), "rb").read()
        print("%s: bexu.wasm %d bytes, %d gzipped (-9)" % (build.name, len(wasm),
                                                           len(gzip.compress(wasm, 9))))

    work = tempfile.mkdtemp(prefix="bexu-measure-")
    sites = os.path.join(work, "sites")
    os.makedirs(sites)
    for index, build in enumerate(builds):
        make_site(os.path.join(native, "bexu-pack"), build.path, story,
                  os.path.join(sites, str(index)))
    # The floor of any page that wakes every 16 ms: a timer loop doing nothing.
    with open(os.path.join(sites, "timer.html"), "w") as f:
        f.write("<!doctype html><script>function tick() { setTimeout(tick, 16); } tick();"
                "</script>\n")
    probe = desktop.first_scene(story)[1]
    server = browser.Server(sites)
    chromium = browser.Browser(work)
    floor_cpu = floor_renderer = 0.0
    try:
        page = instrumented_page(chromium, probe)
        urls = [server.url("%d/" % index) for index in range(len(builds))]
        # Interleaved, so that no build profits from a quieter moment.
        for run in range(args.runs):
            for build, url in zip(builds, urls):
                first_pictures(page, url + "index.html", build)
        for run in range(args.idle_rounds):
            order = list(zip(builds, urls))
            for build, url in (order if run % 2 == 0 else order[::-1]):
                idle_cpu(page, url + "index.html", chromium, args.idle_seconds, build)
        page.navigate(server.url("timer.html"))
        time.sleep(1.0)
        floor_cpu, floor_renderer = cpu_share(chromium.process.pid, args.idle_seconds)
        for build, url in zip(builds, urls):
            frame_times(page, url, build)
        for build, url in zip(builds, urls):
            build.stretch = stretch_lines(page, url)
    finally:
        chromium.close()
        server.close()

    side_by_side("page load to first picture (1600x900, loopback), median of %d" % args.runs,
                 builds, [statistics.median(b.firsts) for b in builds], digits=0)
    side_by_side("page load to the first scene, median", builds,
                 [statistics.median(b.scenes_first) for b in builds], digits=0)
    side_by_side("web CPU while waiting for Space at 1600x900 over %.0f s, all of Chromium"
                 % args.idle_seconds, builds, [statistics.median(b.cpu) for b in builds], "%",
                 100, 2)
    side_by_side("  the renderer alone", builds, [statistics.median(b.renderer) for b in builds],
                 "%", 100, 2)
    print("the same Chromium on a page with an empty 16 ms timer loop: %.2f %% of one core "
          "(renderer alone %.2f %%)" % (100 * floor_cpu, 100 * floor_renderer))
    for key, label in FRAME_LABELS:
        for build in builds:
            print("%s, %s: %s" % (label, build.name, median_ms(build.frames.get(key, []))))
        values = [b.frames.get(key) for b in builds]
        if len(builds) > 1 and all(values):
            side_by_side("  medians", builds, [statistics.median(v) for v in values])

    # The same stretch, natively, in the same run.
    native_stretch = subprocess.run([os.path.join(native, "bexu-stretch-timing")], check=True,
                                    capture_output=True, text=True).stdout.splitlines()
    for build in builds:
        for web_line, native_line in zip(build.stretch, native_stretch):
            web_ms = float(web_line.split("median ")[1].split()[0])
            native_ms = float(native_line.split("median ")[1].split()[0])
            print("wasm (%s) %s" % (build.name, web_line))
            print("native %s  (wasm / native: %.2f)" % (native_line, web_ms / native_ms))

    bench = os.path.join(native, "bench", "bench_compose")
    if os.path.exists(bench):
        # A full page of dialogue rebuilt every frame: more text than the demo's waits.
        out = subprocess.run([bench, "--benchmark_filter=BM_ComposeChangedFrame/1920/1080",
                              "--benchmark_repetitions=5", "--benchmark_report_aggregates_only"],
                             check=True, capture_output=True, text=True).stdout
        median = next(line for line in out.splitlines() if "_median" in line).split()
        print("native changed frame at 1920x1080 (bench_compose, a full page of text): median "
              "%s %s" % (median[1], median[2]))

    xvfb, display = desktop.start_xvfb()
    try:
        title = open(os.path.join(story, "init.bexc"), "rb").read().split(b"\0")[0].decode(
            "latin-1")
        env = dict(os.environ, DISPLAY=display, SDL_VIDEODRIVER="x11", SDL_AUDIODRIVER="dummy",
                   SDL_FRAMEBUFFER_ACCELERATION="0")
        xlib = desktop.Xlib(display)
        player = desktop.Program("bexu", [os.path.join(native, "bexu")], story, title)
        desktop.measure_idle(player, env, xlib, probe, xvfb, 6.0, args.idle_seconds)
        player_cpu, server_cpu = player.cpu[0], player.server[0]
    finally:
        desktop.end(xvfb)
    print("desktop CPU while waiting for Space at 1600x900 (%s): %.3f %% of one core (the X "
          "server meanwhile %.3f %%)" % (native, 100 * player_cpu, 100 * server_cpu))
    for build in builds:
        web_cpu = statistics.median(build.cpu)
        if player_cpu > 0:
            print("web (%s) / desktop CPU: %.1f (all of Chromium / player)"
                  % (build.name, web_cpu / player_cpu))
    shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
