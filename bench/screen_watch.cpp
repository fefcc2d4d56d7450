// Key press to pixels on the screen: presses a key through `xdotool` and polls one screen
// pixel every millisecond until it changes, as a person would see the next picture appear.
// The time runs from just before the key is sent, so it is an upper bound.
//   screen_watch X Y KEY STEPS SETTLE_MS
// prints one line per step: milliseconds until the pixel at (X, Y) of the root window
// changed, then the median. A step whose pixel does not change within 5 s counts 5000.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

unsigned long PixelAt(Display* display, Window root, int x, int y) {
    XImage* image = XGetImage(display, root, x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image) return 0;
    const unsigned long pixel = XGetPixel(image, 0, 0);
    XDestroyImage(image);
    return pixel;
}

}  // namespace

int main(int argc, char** argv) {
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
