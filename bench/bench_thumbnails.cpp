// Speed of the folder browser, offscreen: the Thumbnails page of a folder (made on the
// bar's worker threads, through the thumbnail cache of $XDG_CACHE_HOME, from the start of
// the build to its end), and the Names list of a folder (SetFolder: read, filter, sort, fill).
//
//   bench_thumbnails thumbnails FOLDER       prints the milliseconds of one build
//   bench_thumbnails list FOLDER [RUNS]      prints the median milliseconds of SetFolder

#include "browser/file_list_bar.h"
#include "browser/image_file_list.h"
#include "browser/tab_view_container.h"
#include "browser/viewer_model.h"

#include <QApplication>
#include <QEventLoop>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

namespace {

const char* const kExtensions = "jpg|jpeg|jpe|bmp|dib|png|gif|tif|tiff|pcx|pct|pict|tga|pgm|wmf|emf";

double Milliseconds(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

int Usage() {
    std::fprintf(stderr, "usage: bench_thumbnails thumbnails FOLDER | list FOLDER [RUNS]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The progress popup remembers its place in the settings: keep them out of the user's.
    QTemporaryDir settings;
    qputenv("XDG_CONFIG_HOME", settings.path().toLocal8Bit());
    QApplication app(argc, argv);
    const QString folder = QString::fromLocal8Bit(argv[2]);

    CViewerModel model;
    CFileListBar bar(model);
    bar.NamesList()->SetFilter(QString::fromLatin1(kExtensions));
    if (std::strcmp(argv[1], "thumbnails") == 0) {
        if (!bar.NamesList()->SetFolder(folder)) return Usage();
        model.g_strLastDirectory = folder;
        model.g_bFolderChanged = true;
        bar.Tabs()->ActivatePage(1);
        const double ms = Milliseconds([&] {
            QEventLoop loop;
            QObject::connect(&bar, &CFileListBar::BuildEnded, &loop, &QEventLoop::quit);
            bar.BuildThumbnails();
            if (bar.IsBuilding()) loop.exec();
        });
        std::printf("%.1f ms for %d thumbnails\n", ms, bar.ThumbnailList()->count());
        return bar.ThumbnailList()->count() > 0 ? 0 : 1;
    }
    if (std::strcmp(argv[1], "list") == 0) {
        const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 9;
        std::vector<double> times;
        for (int run = 0; run < runs; ++run)
            times.push_back(Milliseconds([&] { bar.NamesList()->SetFolder(folder); }));
        std::sort(times.begin(), times.end());
        std::printf("%.2f ms median for %d rows\n", times[times.size() / 2], bar.NamesList()->count());
        return 0;
    }
    return Usage();
}
