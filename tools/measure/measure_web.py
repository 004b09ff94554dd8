#!/usr/bin/python3
"""Measures the web player in headless Chromium, side by side with the native
players in the same run:

- the size of bexu.wasm, plain and gzipped;
- page load to first picture: from the start of navigation to the first canvas
  update, and to the first one showing the story's first scene (median of runs);
- frame times at 1920 x 1080: the work of one loop iteration, from the wake-up of
  its sleep to the next sleep: unchanged frames, frames where the marker changed,
  frames while playing the story on, new scenes in a story of scenes and lines only
  (no sound decoded in the same iteration), and whole frames after a resize (back
  buffer tiled, canvas stretched, all rows put);
- CPU while the demo waits for Space at 1600 x 900, as a share of one core: all of
  Chromium's processes and its renderer alone, against the SDL player (and its X
  server) on a virtual display, measured the same way;
- the smoothing stretch to 1920 x 1080, the same program in wasm and natively.

Usage: measure_web.py [--build build-web] [--native build] [--story examples/demo]
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

# Wraps the page's timers and canvas before any of its scripts run. The loop's sleep
# is a 16 ms timeout: the time from its callback to the next such timeout is one
# iteration's work; the puts and rows drawn meanwhile tell what kind of frame it was.
INSTRUMENT = """
(() => {
  const timeout = window.setTimeout.bind(window);
  window.__frames = [];
  let woke = null, puts = 0, rows = 0, putMs = 0;
  window.setTimeout = function(callback, ms, ...rest) {
    if (ms !== 16) return timeout(callback, ms, ...rest);
    if (woke !== null) window.__frames.push([performance.now() - woke, puts, rows, putMs]);
    woke = null;
    return timeout(function() {
      woke = performance.now(); puts = 0; rows = 0; putMs = 0;
      return callback.apply(this, arguments);
    }, ms, ...rest);
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
    return "median %.2f ms (min %.2f, max %.2f, %d frames)" % (
        statistics.median(values), min(values), max(values), len(values))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build-web"))
    parser.add_argument("--native", default=os.path.join(ROOT, "build"))
    parser.add_argument("--story", default=os.path.join(ROOT, "examples", "demo"))
    parser.add_argument("--runs", type=int, default=9)
    parser.add_argument("--idle-seconds", type=float, default=10.0)
    args = parser.parse_args()
    build, native, story = (os.path.abspath(p) for p in (args.build, args.native, args.story))

    wasm = open(os.path.join(build, "bexu.wasm"), "rb").read()
    print("bexu.wasm: %d bytes, %d gzipped (-9)" % (len(wasm), len(gzip.compress(wasm, 9))))

    work = tempfile.mkdtemp(prefix="bexu-measure-")
    site = os.path.join(work, "site")
    pack = os.path.join(native, "bexu-pack")
    web_page(pack, build, story, site)
    for name in ("bexu-stretch-timing.js", "bexu-stretch-timing.wasm"):
        shutil.copy(os.path.join(build, name), site)
    with open(os.path.join(site, "stretch.html"), "w") as f:
        f.write("<!doctype html><script src='bexu-stretch-timing.js'></script>\n")
    # The floor of any page that wakes every 16 ms: a timer loop doing nothing.
    with open(os.path.join(site, "timer.html"), "w") as f:
        f.write("<!doctype html><script>function tick() { setTimeout(tick, 16); } tick();"
                "</script>\n")
    # New scenes with no sound to decode in their frames: each scene of the story in turn,
    # a line after each, so a scene's frame holds the canvas's rebuild and a line's step.
    scenes_story = os.path.join(work, "scenes-story")
    shutil.copytree(story, scenes_story)
    names = re.findall(rb"\[cg~([^\]]+)\]", open(os.path.join(story, "script.bexu"), "rb").read())
    with open(os.path.join(scenes_story, "script.bexu"), "wb") as f:
        f.write(b"{0" + b"".join(b"[cg~%s][say~Scene %d.]" % (names[i % len(names)], i)
                                 for i in range(13)) + b"}")
    web_page(pack, build, scenes_story, os.path.join(site, "scenes"))
    probe = desktop.first_scene(story)[1]
    server = browser.Server(site)
    chromium = browser.Browser(work)
    try:
        page = instrumented_page(chromium, probe)
        firsts, scenes = [], []
        for _ in range(args.runs):
            page.navigate(server.url("index.html"))
            page.wait_for("window.__scenePicture !== undefined", 10, "the first scene")
            first, scene = page.evaluate("[window.__firstPicture, window.__scenePicture]")
            firsts.append(first)
            scenes.append(scene)
        print("page load to first picture (1600x900, loopback): median %.0f ms (min %.0f, "
              "max %.0f); to the first scene: median %.0f ms (min %.0f, max %.0f); %d loads"
              % (statistics.median(firsts), min(firsts), max(firsts), statistics.median(scenes),
                 min(scenes), max(scenes), len(firsts)))

        # CPU while the first key wait lasts, at 1600 x 900.
        time.sleep(1.0)
        web_cpu, renderer_cpu = cpu_share(chromium.process.pid, args.idle_seconds)
        print("web CPU while waiting for Space at 1600x900: %.1f %% of one core, all of "
              "Chromium (renderer alone %.1f %%)" % (100 * web_cpu, 100 * renderer_cpu))
        page.navigate(server.url("timer.html"))
        time.sleep(1.0)
        floor_cpu, floor_renderer = cpu_share(chromium.process.pid, args.idle_seconds)
        print("the same Chromium on a page with an empty 16 ms timer loop: %.1f %% of one core "
              "(renderer alone %.1f %%)" % (100 * floor_cpu, 100 * floor_renderer))
        page.navigate(server.url("index.html"))
        page.wait_for("document.querySelectorAll('#bexu-lines p').length == 1", 10,
                      "the first key wait")

        # Frame times at 1920 x 1080, in the same key wait.
        page.size(1920, 1080)
        time.sleep(0.5)
        page.evaluate("window.__frames = []")
        time.sleep(8.0)
        frames = page.evaluate("window.__frames")
        unchanged = [f[0] for f in frames if f[1] == 0]
        changed = [f[0] for f in frames if f[1] > 0]
        # Play the rest of the story: new lines, page turns and new scenes.
        page.evaluate("window.__frames = []")
        for _ in range(14):
            page.key_space()
            time.sleep(1.0 if page.evaluate("!document.getElementById('bexu-lines')"
                                             ".lastChild") else 0.6)
            page.wait_for("window.__frames.length > 0", 5, "frames")
        played = page.evaluate("window.__frames")
        changed_play = [f[0] for f in played if f[1] > 0 and f[2] > 48]
        scenes = [f[0] for f in played if f[2] >= 1000]
        scene_puts = [f[3] for f in played if f[2] >= 1000]
        whole, whole_puts = [], []
        for index in range(12):
            page.evaluate("window.__frames = []")
            page.size(1920, 1080 - 2 * (index % 2 + 1))
            page.wait_for("window.__frames.some(f => f[2] >= 1000)", 5, "a whole frame")
            whole_frames = [f for f in page.evaluate("window.__frames") if f[2] >= 1000]
            whole += [f[0] for f in whole_frames]
            whole_puts += [f[3] for f in whole_frames]
        # New scenes alone, at 1920 x 1080.
        page.navigate(server.url("scenes/index.html"))
        page.wait_for("document.querySelectorAll('#bexu-lines p').length == 1", 10,
                      "the scenes' first line")
        time.sleep(0.5)
        page.evaluate("window.__frames = []")
        for _ in range(12):
            page.key_space()
            time.sleep(0.3)
        scene_only = [f for f in page.evaluate("window.__frames") if f[2] >= 1000]
        print("web frame at 1920x1080, unchanged: " + median_ms(unchanged))
        print("web frame at 1920x1080, marker changed (its cell redrawn, stretched and put): " +
              median_ms(changed))
        print("web frame at 1920x1080 with more than a marker changed while playing on (lines, "
              "page turns, scenes): " + median_ms(changed_play))
        if scenes:
            print("web frame at 1920x1080 showing a new scene (every row put): " +
                  median_ms(scenes) + "; of which putImageData: " + median_ms(scene_puts))
        print("web frame at 1920x1080 showing a new scene, no sound in its step: " +
              median_ms([f[0] for f in scene_only]) + "; of which putImageData: " +
              median_ms([f[3] for f in scene_only]))
        print("web frame at 1920x1080 after a resize (tiled, stretched, every row put): " +
              median_ms(whole) + "; of which putImageData: " + median_ms(whole_puts))

        page.navigate(server.url("stretch.html"))
        page.wait_for("document.readyState == 'complete'", 10, "the stretch page")
        end = time.monotonic() + 60
        lines = []
        while len(lines) < 3 and time.monotonic() < end:
            lines = [e["params"]["args"][0]["value"] for e in page.events
                     if e["method"] == "Runtime.consoleAPICalled"
                     and e["params"]["args"][0].get("value", "").startswith("stretch")]
            page.evaluate("1")  # takes in the events that came meanwhile
            time.sleep(0.2)
        web_stretch = lines
    finally:
        chromium.close()
        server.close()

    # The same, natively, in the same run.
    native_stretch = subprocess.run([os.path.join(native, "bexu-stretch-timing")], check=True,
                                    capture_output=True, text=True).stdout.splitlines()
    for web_line, native_line in zip(web_stretch, native_stretch):
        web_ms = float(web_line.split("median ")[1].split()[0])
        native_ms = float(native_line.split("median ")[1].split()[0])
        print("wasm   " + web_line)
        print("native " + native_line + "  (wasm / native: %.2f)" % (web_ms / native_ms))

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
        desktop.measure_idle(player, env, xlib, probe, xvfb, 1.0, args.idle_seconds)
        player_cpu, server_cpu = player.cpu[0], player.server[0]
    finally:
        desktop.end(xvfb)
    print("desktop CPU while waiting for Space at 1600x900: %.1f %% of one core (the X server "
          "meanwhile %.1f %%)" % (100 * player_cpu, 100 * server_cpu))
    print("web / desktop CPU: %.2f (all of Chromium / player), %.2f (renderer / player), "
          "%.2f (all of Chromium / player and X server)"
          % (web_cpu / player_cpu, renderer_cpu / player_cpu,
             web_cpu / (player_cpu + server_cpu)))
    shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
