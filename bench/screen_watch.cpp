// Key press to pixels on the screen: presses a key through `xdotool` and polls one screen
// pixel every millisecond until it changes, as a person would see the next picture appear.
// The time runs from just before the key is sent, so it is an upper bound.
//   screen_watch X Y KEY STEPS SETTLE_MS
// prints one line per step: milliseconds until the pixel at (X, Y) of the root window
// changed, then the median. A step whose pixel does not change within 5 s counts 5000.
//   screen_watch launch X Y COLOUR PROGRAM ARGS...
// starts the program and prints the milliseconds until the pixel at (X, Y) shows COLOUR
// (0xRRGGBB, within 40 per channel), then the program's process id; the program is left
// running for the caller to end.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

unsigned long PixelAt(Display* display, Window root, int x, int y) {
    XImage* image = XGetImage(display, root, x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image) return 0;
    const unsigned long pixel = XGetPixel(image, 0, 0);
    XDestroyImage(image);
    return pixel;
}

bool Near(unsigned long pixel, unsigned long colour) {
    for (int shift : {0, 8, 16}) {
        const int a = static_cast<int>((pixel >> shift) & 0xFF);
        const int b = static_cast<int>((colour >> shift) & 0xFF);
        if (std::abs(a - b) > 40) return false;
    }
    return true;
}

int Launch(char** argv) {
    const int x = std::atoi(argv[2]);
    const int y = std::atoi(argv[3]);
    const unsigned long colour = std::strtoul(argv[4], nullptr, 16);
    Display* display = XOpenDisplay(nullptr);
    if (!display) return 1;
    const Window root = DefaultRootWindow(display);
    // A window of an earlier run may still show the colour while it goes away.
    for (int wait = 0; wait < 2000 && Near(PixelAt(display, root, x, y), colour); ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const auto start = std::chrono::steady_clock::now();
    const pid_t program = fork();
    if (program == 0) {
        // The caller reads this program's output to its end: the viewer must not hold it open.
        freopen("/dev/null", "w", stdout);
        execvp(argv[5], argv + 5);
        _exit(127);
    }
    for (;;) {
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        if (Near(PixelAt(display, root, x, y), colour) || ms > 30000) {
            std::printf("%.1f %d\n", ms, static_cast<int>(program));
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    XCloseDisplay(display);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 6 && std::string(argv[1]) == "launch") return Launch(argv);
    if (argc != 6) {
        std::fputs("usage: screen_watch X Y KEY STEPS SETTLE_MS\n", stderr);
        return 2;
    }
    const int x = std::atoi(argv[1]);
    const int y = std::atoi(argv[2]);
    const std::string key = argv[3];
    const int steps = std::atoi(argv[4]);
    const int settleMs = std::atoi(argv[5]);
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fputs("screen_watch: no X display\n", stderr);
        return 1;
    }
    const Window root = DefaultRootWindow(display);
    std::vector<double> times;
    for (int step = 0; step < steps; ++step) {
        // The neighbours are decoded ahead meanwhile.
        std::this_thread::sleep_for(std::chrono::milliseconds(settleMs));
        const unsigned long before = PixelAt(display, root, x, y);
        const auto start = std::chrono::steady_clock::now();
        if (std::system(("xdotool key " + key).c_str()) != 0) return 1;
        double elapsed = 5000;
        for (;;) {
            const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            if (PixelAt(display, root, x, y) != before) {
                elapsed = ms;
                break;
            }
            if (ms > 5000) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::printf("step %d: %.1f ms\n", step + 1, elapsed);
        times.push_back(elapsed);
    }
    std::sort(times.begin(), times.end());
    std::printf("median %.1f ms\n", times[times.size() / 2]);
    XCloseDisplay(display);
    return 0;
}
