#!/usr/bin/python3
"""Measures how the web page loads a story over a slow link: headless Chromium with its
network throttled as DevTools' "Fast 3G" (1.6 Mbit/s down, 562.5 ms of latency), no cache.

For a story of three 1600 x 900 truecolour scenes (4.3 MB each as BMP files, drawn as
tests/web/native.py's truecolour_scene does), the median of --runs loads of:
- the time from navigation to the first picture of the first scene;
- the time the story's data had come whole;
and the size of the web archives of that story and of the demo.

Usage: measure_web_load.py [--pack build/bexu-pack] [--web-player build-web] [--runs 3]
                           [--site DIR] [--story-out DIR]
--story-out DIR writes the three-scene story there and ends (to pack it otherwise);
--site DIR measures a page made already (e.g. by an older build) instead of packing.
Run with /usr/bin/python3 (Debian's python3-websocket and python3-pil).
"""

import argparse
import os
import shutil
import statistics
import sys
import tempfile
import time

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
sys.path.insert(0, os.path.join(ROOT, "tests", "web"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import browser  # noqa: E402
import measure_player as desktop  # noqa: E402
import native  # noqa: E402
from measure_web import instrumented_page, web_page  # noqa: E402


def first_picture(page, url, data_name):
    """Seconds from navigation to the first scene's picture, and to the last bytes of
    the story data (None when they did not all come within two minutes)."""
    page.throttle()
    page.navigate(url)
    page.wait_for("window.__scenePicture !== undefined", 120, "the first scene")
    picture = page.evaluate("window.__scenePicture") / 1000
    sent = [e["params"] for e in page.events if e["method"] == "Network.requestWillBeSent"]
    navigation = min(p["timestamp"] for p in sent)
    ids = {p["requestId"] for p in sent if p["request"]["url"].split("?")[0].endswith(
        "/" + data_name)}
    end = time.monotonic() + 120
    ended = None
    while ended is None and time.monotonic() < end:
        page.evaluate("1")  # takes in the events that came meanwhile
        ended = next((e["params"]["timestamp"] for e in page.events
                      if e["method"] in ("Network.loadingFinished", "Network.loadingFailed")
                      and e["params"]["requestId"] in ids), None)
        time.sleep(0.2)
    last = max((e["params"]["timestamp"] for e in page.events
                if e["method"] == "Network.dataReceived" and e["params"]["requestId"] in ids),
               default=None)
    page.unthrottle()
    return picture, None if ended is None or last is None else last - navigation


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--pack", default=os.path.join(ROOT, "build", "bexu-pack"))
    parser.add_argument("--web-player", default=os.path.join(ROOT, "build-web"))
    parser.add_argument("--demo", default=os.path.join(ROOT, "examples", "demo"))
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--site", help="a page made already, measured as it is")
    parser.add_argument("--data", default="story.bexw", help="the story data's file name")
    parser.add_argument("--story-out", help="write the three-scene story here and end")
    args = parser.parse_args()
    if args.story_out:
        native.scenes_story(os.path.abspath(args.story_out), os.path.abspath(args.demo))
        return 0
    work = tempfile.mkdtemp(prefix="bexu-load-")
    try:
        story = native.scenes_story(os.path.join(work, "scenes"), os.path.abspath(args.demo))
        probe = desktop.first_scene(story)[1]
        if args.site:
            site = os.path.abspath(args.site)
        else:
            site = os.path.join(work, "scenes-web")
            archive = web_page(args.pack, args.web_player, story, site)
            demo = web_page(args.pack, args.web_player, args.demo, os.path.join(work, "demo-web"))
            print("web archive of the demo: %d bytes; of the three-scene story: %d bytes"
                  % (os.path.getsize(demo), os.path.getsize(archive)))
        server = browser.Server(site)
        chromium = browser.Browser(work)
        try:
            page = instrumented_page(chromium, probe)
            pictures, data = [], []
            for _ in range(args.runs):
                picture, whole = first_picture(page, server.url("index.html"), args.data)
                pictures.append(picture)
                data.append(whole)
            print("first picture at 1.6 Mbit/s: median %.1f s (%s)" % (
                statistics.median(pictures), ", ".join("%.1f" % p for p in pictures)))
            if all(d is not None for d in data):
                print("story data whole at: median %.1f s (%s)" % (
                    statistics.median(data), ", ".join("%.1f" % d for d in data)))
        finally:
            chromium.close()
            server.close()
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
