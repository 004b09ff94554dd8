// Watches a region of a window as the X server draws it, with the times of each change, so a
// test can tell how soon a player shows what it must without taking screenshots in a loop.
// Usage: e2e_watch_window WINDOW-ID X Y WIDTH HEIGHT MILLISECONDS [space | resize W H | frames]
//
// Prints "shows 0 HASH" for the region as it was before the key or the resize was sent, if
// asked, then "shows T HASH" after each drawing into the window that changed the region: T in
// milliseconds since the key or the resize was sent (or the start), when the server's report
// of the drawing came, HASH the crc32 of the region's RGB bytes, row by row. A region that
// cannot be read (outside the window) hashes as "none". Ends after MILLISECONDS. With
// `frames`, each line that can be read is followed by the region's RGB bytes: every picture
// it showed, none missed as screenshots taken in turn may miss one.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xdamage.h>
#include <X11/keysym.h>

#include <poll.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

struct Area {
    int x, y, width, height;
};

int ignoreErrors(Display*, XErrorEvent*) {
    return 0; // a region outside the window reads as none
}

double nowMs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000.0 + now.tv_nsec / 1e6;
}

// The region's RGB bytes, row by row; empty when it cannot be read.
std::vector<Bytef> readArea(Display* display, Window window, const Area& area) {
    std::vector<Bytef> rgb;
    XImage* image =
        XGetImage(display, window, area.x, area.y, area.width, area.height, AllPlanes, ZPixmap);
    if (image == nullptr) {
        return rgb;
    }
    rgb.resize(static_cast<size_t>(area.width) * static_cast<size_t>(area.height) * 3);
    Bytef* at = rgb.data();
    for (int y = 0; y < area.height; ++y) {
        for (int x = 0; x < area.width; ++x) {
            unsigned long pixel = XGetPixel(image, x, y);
            *at++ = static_cast<Bytef>(pixel >> 16);
            *at++ = static_cast<Bytef>(pixel >> 8);
            *at++ = static_cast<Bytef>(pixel);
        }
    }
    XDestroyImage(image);
    return rgb;
}

// The crc32 of zlib of the bytes; "none" for none.
std::string hashOf(const std::vector<Bytef>& rgb) {
    if (rgb.empty()) {
        return "none";
    }
    char text[9];
    snprintf(text, sizeof text, "%08lx",
             crc32(crc32(0, nullptr, 0), rgb.data(), static_cast<uInt>(rgb.size())));
    return text;
}

void sendSpace(Display* display, Window window) {
    XKeyEvent key = {};
    key.display = display;
    key.window = window;
    key.root = DefaultRootWindow(display);
    key.time = CurrentTime;
    key.same_screen = True;
    key.keycode = XKeysymToKeycode(display, XK_space);
    key.type = KeyPress;
    XSendEvent(display, window, True, KeyPressMask, reinterpret_cast<XEvent*>(&key));
    key.type = KeyRelease;
    XSendEvent(display, window, True, KeyReleaseMask, reinterpret_cast<XEvent*>(&key));
}

struct Watch {
    Display* display;
    Window window;
    Area area;
    int damageNotify;
    std::string shown;
    double drawn; // when the report of the last drawing the shown hash includes came
    bool dirty;   // drawn into since the hash was taken
    double later; // when the report of the last drawing after it came
    bool frames;  // each picture's bytes follow its line
};

// One line for what the region shows now; its bytes after it when frames are asked for.
void tell(const Watch& watch, double at, const std::vector<Bytef>& rgb) {
    printf("shows %.1f %s\n", at, watch.shown.c_str());
    if (watch.frames && !rgb.empty()) {
        fwrite(rgb.data(), 1, rgb.size(), stdout);
    }
}

// Takes in the damage reports: those of drawings done before the request `before`, which
// read the region, came in tell when what it read was drawn; later ones make it dirty.
void takeReports(Watch* watch, unsigned long before) {
    while (XPending(watch->display) != 0) {
        XEvent event;
        XNextEvent(watch->display, &event);
        if (event.type != watch->damageNotify) {
            continue;
        }
        // The server's times in the reports may be stale: the time each is read is not
        // earlier than the drawing.
        const auto& damage = reinterpret_cast<const XDamageNotifyEvent&>(event);
        if (damage.serial < before) {
            watch->drawn = nowMs();
        } else {
            watch->dirty = true;
            watch->later = nowMs();
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    bool space = argc == 8 && strcmp(argv[7], "space") == 0;
    bool resize = argc == 10 && strcmp(argv[7], "resize") == 0;
    Watch watch = {};
    watch.frames = argc == 8 && strcmp(argv[7], "frames") == 0;
    if (argc != 7 && !space && !resize && !watch.frames) {
        fprintf(stderr,
                "usage: %s WINDOW-ID X Y WIDTH HEIGHT MILLISECONDS [space | resize W H | frames]\n",
                argv[0]);
        return 2;
    }
    watch.window = static_cast<Window>(strtoul(argv[1], nullptr, 0));
    watch.area = {atoi(argv[2]), atoi(argv[3]), atoi(argv[4]), atoi(argv[5])};
    long duration = atol(argv[6]);
    watch.display = XOpenDisplay(nullptr);
    Display* display = watch.display;
    int eventBase = 0;
    int errorBase = 0;
    if (display == nullptr || !XDamageQueryExtension(display, &eventBase, &errorBase)) {
        fprintf(stderr, "no display with the DAMAGE extension\n");
        return 1;
    }
    watch.damageNotify = eventBase + XDamageNotify;
    XSetErrorHandler(ignoreErrors);
    XDamageCreate(display, watch.window, XDamageReportRawRectangles);
    unsigned long hashed = NextRequest(display);
    std::vector<Bytef> first = readArea(display, watch.window, watch.area);
    watch.shown = hashOf(first);
    XSync(display, False);
    double begin = nowMs();
    if (space) {
        sendSpace(display, watch.window);
    } else if (resize) {
        XResizeWindow(display, watch.window, atoi(argv[8]), atoi(argv[9]));
    }
    XFlush(display);
    tell(watch, 0, first);
    double end = begin + static_cast<double>(duration);
    for (;;) {
        takeReports(&watch, hashed);
        if (!watch.dirty) {
            double left = end - nowMs();
            if (left <= 0) {
                break;
            }
            pollfd connection = {ConnectionNumber(display), POLLIN, 0};
            poll(&connection, 1, static_cast<int>(left) + 1);
            continue;
        }
        watch.dirty = false;
        watch.drawn = watch.later;
        hashed = NextRequest(display);
        std::vector<Bytef> rgb = readArea(display, watch.window, watch.area);
        takeReports(&watch, hashed);
        std::string now = hashOf(rgb);
        if (now != watch.shown) {
            watch.shown = now;
            tell(watch, watch.drawn - begin, rgb);
        }
    }
    XCloseDisplay(display);
    return 0;
}
