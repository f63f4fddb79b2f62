// SPDX-License-Identifier: GPL-3.0-or-later
// thumb-bench FILE...: how soon a row's tooltip has its picture. For each file, the time from
// the request to the thumbnail, first with an empty thumbnail cache, then from the cache; and,
// hovering down the list (a new row every 20 ms, the list ten times over), the longest time the
// window's events waited.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "pictures/thumbnails.h"

using namespace pictolio;

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Milliseconds from each request to its thumbnail, one picture at a time.
std::vector<double> latencies(const QString& cacheRoot, const QStringList& files) {
    Thumbnailer thumbnailer(cacheRoot);
    std::vector<double> ms;
    for (const QString& f : files) {
        QElapsedTimer t;
        t.start();
        QEventLoop loop;
        QObject::connect(&thumbnailer, &Thumbnailer::ready, &loop, &QEventLoop::quit);
        if (!thumbnailer.facts(f)) loop.exec();
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    return ms;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList files = app.arguments().mid(1);
    if (files.isEmpty()) {
        std::fprintf(stderr, "usage: thumb-bench FILE...\n");
        return 2;
    }
    QTemporaryDir cache;
    const std::vector<double> uncached = latencies(cache.path(), files);
    const std::vector<double> cached = latencies(cache.path(), files);

    // Hovering down 1,000 rows: a new row every 20 ms; the events are looked at every 5 ms.
    QTemporaryDir fresh;
    Thumbnailer thumbnailer(fresh.path());
    QStringList rows;
    for (int i = 0; i < 10; ++i) rows += files;
    int next = 0;
    QElapsedTimer sinceTick, all;
    double longest = 0;
    QTimer tick, hover;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longest = std::max(longest, sinceTick.nsecsElapsed() / 1e6);
        sinceTick.restart();
    });
    QObject::connect(&hover, &QTimer::timeout, [&] {
        if (next >= rows.size()) return app.quit();
        thumbnailer.keepOnly({rows[next]});
        thumbnailer.facts(rows[next++]);
    });
    sinceTick.start();
    all.start();
    tick.start(5);
    hover.start(20);
    app.exec();
    std::printf("thumbnail of a %d-file list: uncached median %.1f ms (max %.1f), cached median %.1f ms (max %.1f); "
                "hovering down %lld rows in %.1f s, the events never more than %.1f ms apart\n",
                int(files.size()), median(uncached), *std::max_element(uncached.begin(), uncached.end()),
                median(cached), *std::max_element(cached.begin(), cached.end()), qlonglong(rows.size()),
                all.elapsed() / 1000.0, longest);
    return 0;
}
