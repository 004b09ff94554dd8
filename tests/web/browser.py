"""Headless Chromium driven over its DevTools protocol, and a static web server,
both on 127.0.0.1 only. Every process started here is ended by its id."""

import base64
import functools
import http.server
import itertools
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

import websocket  # Debian's python3-websocket

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))

from cases import Failure  # noqa: E402,F401  (the suites' failure, raised here too)

CHROMIUM = os.environ.get("BEXU_CHROMIUM", "chromium")
# DevTools' "Fast 3G", a slow phone link: 1.6 Mbit/s less 10 % for the link's overhead,
# and its latency in milliseconds.
FAST_3G_BYTES = 1.6e6 / 8 * 0.9
FAST_3G_LATENCY = 562.5
CHROMIUM_FLAGS = [
    "--headless", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    "--remote-debugging-address=127.0.0.1", "--remote-debugging-port=0",
    # The loop's timers must keep their pace in a page nobody looks at.
    "--disable-background-timer-throttling", "--disable-renderer-backgrounding",
    "--disable-backgrounding-occluded-windows",
]


# The player's canvas in its own page.
CANVAS = "document.getElementById('canvas')"


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    extensions_map = dict(http.server.SimpleHTTPRequestHandler.extensions_map,
                          **{".wasm": "application/wasm", ".js": "text/javascript"})

    def log_message(self, *args):
        pass

    def end_headers(self):
        self.send_header("Cache-Control", "no-store")
        super().end_headers()


class Server:
    """Serves `root` on 127.0.0.1 at a free port, from a thread of this process."""

    def __init__(self, root):
        handler = functools.partial(QuietHandler, directory=root)
        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        # A page that goes away in the middle of an answer is no error of the test's.
        self.httpd.handle_error = lambda request, address: None
        self.port = self.httpd.server_address[1]
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self.thread.start()

    def url(self, path):
        return "http://127.0.0.1:%d/%s" % (self.port, path)

    def close(self):
        self.httpd.shutdown()
        self.httpd.server_close()


class Browser:
    """One headless Chromium with a fresh profile; `page` is its first tab."""

    def __init__(self, work):
        self.profile = tempfile.mkdtemp(prefix="profile-", dir=work)
        flags = list(CHROMIUM_FLAGS) + ["--user-data-dir=" + self.profile]
        if os.geteuid() == 0:
            flags.append("--no-sandbox")  # Chromium refuses to run as root otherwise
        self.log_path = os.path.join(work, "chromium.log")
        self.log = open(self.log_path, "wb")
        self.process = subprocess.Popen([CHROMIUM] + flags + ["about:blank"], stdout=self.log,
                                        stderr=self.log, start_new_session=True)
        self.port = self.wait_port()
        self.page = None

    def wait_port(self):
        end = time.monotonic() + 30
        while time.monotonic() < end:
            if self.process.poll() is not None:
                raise Failure("chromium ended at once (log %s)" % self.log_path)
            with open(self.log_path, "rb") as f:
                found = re.search(rb"DevTools listening on ws://127\.0\.0\.1:(\d+)/", f.read())
            if found:
                return int(found.group(1))
            time.sleep(0.1)
        raise Failure("chromium gave no DevTools port")

    def open_page(self):
        with urllib.request.urlopen("http://127.0.0.1:%d/json/list" % self.port) as answer:
            targets = json.load(answer)
        page = next(t for t in targets if t["type"] == "page")
        self.page = Page(page["webSocketDebuggerUrl"])
        return self.page

    def close(self):
        if self.page is not None:
            self.page.close()
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGTERM)
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                os.killpg(self.process.pid, signal.SIGKILL)
                self.process.wait()
        self.log.close()
        shutil.rmtree(self.profile, ignore_errors=True)


class Page:
    """A tab over one DevTools connection: commands, and the events that came meanwhile."""

    def __init__(self, url):
        self.socket = websocket.create_connection(url, timeout=60, suppress_origin=True)
        self.ids = itertools.count(1)
        self.events = []
        self.send("Page.enable")
        self.send("Runtime.enable")

    def send(self, method, **params):
        message_id = next(self.ids)
        self.socket.send(json.dumps({"id": message_id, "method": method, "params": params}))
        while True:
            message = json.loads(self.socket.recv())
            if message.get("id") == message_id:
                if "error" in message:
                    raise Failure("%s: %s" % (method, message["error"]))
                return message.get("result", {})
            if "method" in message:
                self.events.append(message)

    def evaluate(self, expression, wait=False):
        result = self.send("Runtime.evaluate", expression=expression, returnByValue=True,
                           awaitPromise=wait)
        if "exceptionDetails" in result:
            raise Failure("page script failed: %s" % json.dumps(result["exceptionDetails"])[:800])
        return result["result"].get("value")

    def wait_for(self, expression, timeout, what):
        end = time.monotonic() + timeout
        while True:
            try:
                value = self.evaluate(expression)
            except Failure:
                value = None  # the page may still be on its way in
            if value:
                return value
            if time.monotonic() > end:
                raise Failure("timed out after %.1f s waiting for %s" % (timeout, what))
            time.sleep(0.05)

    def size(self, width, height, scale=1):
        self.send("Emulation.setDeviceMetricsOverride", width=width, height=height,
                  deviceScaleFactor=scale, mobile=False)
        self.send("Emulation.setTouchEmulationEnabled", enabled=False)

    def phone(self, width, height, scale=2.625):
        """A phone's screen, held as its sides say, with touch and no mouse."""
        portrait = height > width
        self.send("Emulation.setDeviceMetricsOverride", width=width, height=height,
                  deviceScaleFactor=scale, mobile=True,
                  screenOrientation={"type": "portraitPrimary" if portrait else
                                     "landscapePrimary", "angle": 0 if portrait else 90})
        self.send("Emulation.setTouchEmulationEnabled", enabled=True, maxTouchPoints=5)

    def tap(self, x, y):
        """A finger's tap: down and up at (x, y), as a touch screen sends it."""
        point = [{"x": x, "y": y}]
        self.send("Input.dispatchTouchEvent", type="touchStart", touchPoints=point)
        self.send("Input.dispatchTouchEvent", type="touchEnd", touchPoints=[])

    def throttle(self, bytes_per_second=FAST_3G_BYTES, latency_ms=FAST_3G_LATENCY):
        """The network as slow as a phone's link; the cache off, so every file comes."""
        self.send("Network.enable")
        self.send("Network.setCacheDisabled", cacheDisabled=True)
        self.send("Network.emulateNetworkConditions", offline=False, latency=latency_ms,
                  downloadThroughput=bytes_per_second, uploadThroughput=bytes_per_second)

    def unthrottle(self):
        self.send("Network.emulateNetworkConditions", offline=False, latency=0,
                  downloadThroughput=-1, uploadThroughput=-1)

    def navigate(self, url):
        """Opens `url` and returns once its document has been made (not yet loaded)."""
        self.events = []
        self.send("Page.navigate", url=url)
        self.wait_event("Page.domContentEventFired", 20)

    def wait_event(self, method, timeout):
        end = time.monotonic() + timeout
        while not any(e["method"] == method for e in self.events):
            if time.monotonic() > end:
                raise Failure("no %s within %.0f s" % (method, timeout))
            self.socket.settimeout(max(0.1, end - time.monotonic()))
            try:
                message = json.loads(self.socket.recv())
            except websocket.WebSocketTimeoutException:
                continue
            finally:
                self.socket.settimeout(60)
            if "method" in message:
                self.events.append(message)

    def key_space(self, repeat=False):
        common = dict(key=" ", code="Space", windowsVirtualKeyCode=32, nativeVirtualKeyCode=32)
        self.send("Input.dispatchKeyEvent", type="keyDown", text=" ", autoRepeat=repeat, **common)
        self.send("Input.dispatchKeyEvent", type="keyUp", **common)

    def key(self, key, code, virtual):
        common = dict(key=key, code=code, windowsVirtualKeyCode=virtual)
        self.send("Input.dispatchKeyEvent", type="keyDown", **common)
        self.send("Input.dispatchKeyEvent", type="keyUp", **common)

    def click(self, x, y):
        for kind in ("mousePressed", "mouseReleased"):
            self.send("Input.dispatchMouseEvent", type=kind, x=x, y=y, button="left",
                      clickCount=1)

    def set_files(self, selector, paths):
        """Gives the file input `selector` these files (a folder for a folder input)."""
        root = self.send("DOM.getDocument", depth=0)["root"]["nodeId"]
        node = self.send("DOM.querySelector", nodeId=root, selector=selector)["nodeId"]
        if not node:
            raise Failure("no %s in the page" % selector)
        self.send("DOM.setFileInputFiles", nodeId=node, files=list(paths))

    def canvas_digest(self, canvas=CANVAS):
        """(width, height, SHA-256 of the canvas's RGBA bytes); `canvas` is a script
        expression giving the canvas element."""
        value = self.evaluate(
            "(async () => { const c = " + canvas + ";"
            " const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;"
            " const h = new Uint8Array(await crypto.subtle.digest('SHA-256', d));"
            " return [c.width, c.height, Array.from(h, b => b.toString(16).padStart(2, '0'))"
            ".join('')]; })()", wait=True)
        return tuple(value)

    def keep_canvas(self, slot, cleared=()):
        """Keeps a copy of the canvas's pixels in the page as `slot` (canvas_pixels reads it
        back); returns (width, height, SHA-256 of its RGBA bytes with the rectangles
        `cleared`, (x0, y0, x1, y1) each, zeroed)."""
        value = self.evaluate(
            "(async () => { const c = document.getElementById('canvas');"
            " const d = c.getContext('2d').getImageData(0, 0, c.width, c.height);"
            " (window.bexuKept = window.bexuKept || {})[%s] = d;"
            " const m = new Uint8Array(d.data);"
            " for (const [x0, y0, x1, y1] of %s)"
            "  for (let y = Math.max(y0, 0); y < Math.min(y1, c.height); ++y)"
            "   m.fill(0, (y * c.width + Math.max(x0, 0)) * 4,"
            " (y * c.width + Math.min(x1, c.width)) * 4);"
            " const h = new Uint8Array(await crypto.subtle.digest('SHA-256', m));"
            " return [c.width, c.height, Array.from(h, b => b.toString(16).padStart(2, '0'))"
            ".join('')]; })()" % (json.dumps(slot), json.dumps([list(r) for r in cleared])),
            wait=True)
        return tuple(value)

    def canvas_pixels(self, canvas=CANVAS, slot=None):
        """(width, height, RGB bytes) of the canvas (a script expression), or of the copy
        kept as `slot`."""
        source = ("window.bexuKept[%s]" % json.dumps(slot) if slot is not None else
                  "(c => c.getContext('2d').getImageData(0, 0, c.width, c.height))(%s)"
                  % canvas)
        value = self.evaluate(
            "(async () => { const d = %s;"
            " const url = await new Promise(done => { const r = new FileReader();"
            " r.onload = () => done(r.result); r.readAsDataURL(new Blob([d.data])); });"
            " return [d.width, d.height, url.slice(url.indexOf(',') + 1)]; })()" % source,
            wait=True)
        rgba = base64.b64decode(value[2])
        rgb = bytearray(len(rgba) // 4 * 3)
        for channel in range(3):
            rgb[channel::3] = rgba[channel::4]
        return value[0], value[1], bytes(rgb)

    def blob_bytes(self, blob):
        """The bytes of the Blob that the script expression `blob` gives."""
        value = self.evaluate(
            "(async () => { const b = " + blob + "; if (!b) return null;"
            " return await new Promise((done, failed) => { const r = new FileReader();"
            " r.onload = () => done(r.result.slice(r.result.indexOf(',') + 1));"
            " r.onerror = () => failed(r.error); r.readAsDataURL(b); }); })()", wait=True)
        if value is None:
            raise Failure("no blob at %s" % blob)
        return base64.b64decode(value)

    def console_errors(self):
        return [e for e in self.events if e["method"] == "Runtime.exceptionThrown"]

    def close(self):
        try:
            self.socket.close()
        except OSError:
            pass
