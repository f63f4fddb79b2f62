// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/archive.h"

#include <sys/resource.h>

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <algorithm>
#include <cstdio>

#include "cli/outputfiles.h"
#include "convert/conversion.h"
#include "filelist/naturalorder.h"
#include "pdffile/documentinfo.h"
#include "pictures/picture.h"

namespace pictolio {

namespace {

// A number of the environment; none when it is not set or no whole number.
std::optional<int> environmentNumber(const char* name) {
    bool ok = false;
    const int n = qEnvironmentVariable(name).toInt(&ok);
    return ok ? std::optional<int>(n) : std::nullopt;
}

// Names in natural order, the same on every machine whatever its language: a job's pictures, and
// so what its PDF is made from, do not depend on the node.
void naturalSort(QStringList& names) { names = NaturalOrder(QLocale(QLocale::English)).sorted(names); }

void addJobs(const QDir& top, const QString& folder, const QString& outputRoot, bool joined, std::vector<ArchiveJob>& jobs) {
    const QDir dir(folder);
    // (files that cannot be read are taken too: the conversion says why each is no picture)
    QStringList files = dir.entryList(QDir::Files | QDir::Hidden, QDir::NoSort);
    files.erase(std::remove_if(files.begin(), files.end(),
                               [&](const QString& name) { return name.startsWith(QLatin1Char('.')) || !PictureDecoder::hasPictureExtension(name); }),
                files.end());
    naturalSort(files);
    const QString relative = top.relativeFilePath(folder);  // "." for the top
    const QString mirrored = relative == QLatin1String(".") ? outputRoot : outputRoot + QLatin1Char('/') + relative;
    if (joined && !files.isEmpty()) {
        ArchiveJob job{relative, {}, relative == QLatin1String(".") ? outputRoot + QLatin1Char('/') + top.dirName() + QStringLiteral(".pdf")
                                                                    : mirrored + QStringLiteral(".pdf")};
        for (const QString& name : files) job.pictures << dir.filePath(name);
        jobs.push_back(std::move(job));
    } else if (!joined) {
        QHash<QString, int> stems;  // (case aside: a file system may not tell X.pdf from x.pdf)
        for (const QString& name : files) ++stems[QFileInfo(name).completeBaseName().toLower()];
        for (const QString& name : files) {
            const QString stem = QFileInfo(name).completeBaseName();
            const bool shared = stems.value(stem.toLower()) > 1;
            const QString key = relative == QLatin1String(".") ? name : relative + QLatin1Char('/') + name;
            jobs.push_back({key, {dir.filePath(name)}, mirrored + QLatin1Char('/') + (shared ? name : stem) + QStringLiteral(".pdf")});
        }
    }
    QStringList folders = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::NoSort);
    folders.erase(std::remove_if(folders.begin(), folders.end(), [](const QString& name) { return name.startsWith(QLatin1Char('.')); }),
                  folders.end());
    naturalSort(folders);
    for (const QString& name : folders) addJobs(top, dir.filePath(name), outputRoot, joined, jobs);
}

double processorSeconds() {
    rusage use{};
    ::getrusage(RUSAGE_SELF, &use);
    return double(use.ru_utime.tv_sec + use.ru_stime.tv_sec) + double(use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
}

}  // namespace

std::optional<Shard> parseShard(const QString& value, QString* why) {
    const QStringList parts = value.split(QLatin1Char('/'));
    bool ok = parts.size() <= 2;
    Shard shard;
    if (ok && parts[0] == QLatin1String("auto")) {
        const auto task = environmentNumber("SLURM_ARRAY_TASK_ID"), completion = environmentNumber("JOB_COMPLETION_INDEX");
        if (parts.size() == 2) {
            // auto/N: the share is the task's number (a Slurm array numbered 1 to N, or any part of
            // it), or a Kubernetes indexed Job's index plus one.
            if (task) shard.index = *task;
            else if (completion) shard.index = *completion + 1;
            else {
                *why = QStringLiteral("auto: neither SLURM_ARRAY_TASK_ID nor JOB_COMPLETION_INDEX is set");
                return std::nullopt;
            }
            shard.count = parts[1].toInt(&ok);
        } else {
            // auto: a whole Slurm array of consecutive tasks, each a share.
            const auto first = environmentNumber("SLURM_ARRAY_TASK_MIN"), last = environmentNumber("SLURM_ARRAY_TASK_MAX");
            const auto tasks = environmentNumber("SLURM_ARRAY_TASK_COUNT");
            if (!task || !first || !last || !tasks) {
                *why = QStringLiteral("auto: not a task of a Slurm job array (a Kubernetes indexed Job says auto/N)");
                return std::nullopt;
            }
            if (*last - *first + 1 != *tasks) {
                *why = QStringLiteral("auto: the array's tasks %1 to %2 are not %3 consecutive numbers; say the number of "
                                      "shares, as auto/N, with tasks numbered 1 to N").arg(*first).arg(*last).arg(*tasks);
                return std::nullopt;
            }
            shard.index = *task - *first + 1;
            shard.count = *tasks;
        }
    } else if (ok && parts.size() == 2) {
        bool indexOk = false;
        shard.index = parts[0].toInt(&indexOk);
        shard.count = parts[1].toInt(&ok);
        ok = ok && indexOk;
    } else {
        ok = false;
    }
    if (!ok || shard.count < 1 || shard.index < 1 || shard.index > shard.count) {
        *why = QStringLiteral("\"%1\" is no share: K/N with K from 1 to N, auto (a Slurm job array) or auto/N").arg(value);
        return std::nullopt;
    }
    return shard;
}

bool inShard(const QString& key, const Shard& shard) {
    // FNV-1a, 64 bits, of the key's UTF-8.
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : key.toUtf8()) hash = (hash ^ std::uint8_t(c)) * 1099511628211ull;
    return int(hash % std::uint64_t(shard.count)) == shard.index - 1;
}

std::vector<ArchiveJob> archiveJobs(const QStringList& roots, const QString& outputRoot, bool joined) {
    std::vector<ArchiveJob> jobs;
    for (const QString& root : roots) {
        // Several trees each go in a folder of their name.
        const std::size_t first = jobs.size();
        const QString name = QDir(root).dirName();
        addJobs(QDir(root), root, roots.size() > 1 ? outputRoot + QLatin1Char('/') + name : outputRoot, joined, jobs);
        if (roots.size() > 1)
            for (std::size_t i = first; i < jobs.size(); ++i)
                jobs[i].key = jobs[i].key == QLatin1String(".") ? name : name + QLatin1Char('/') + jobs[i].key;
    }
    return jobs;
}

QString sharedOutput(const std::vector<ArchiveJob>& jobs) {
    QHash<QString, const ArchiveJob*> made;
    for (const ArchiveJob& job : jobs) {
        const ArchiveJob*& first = made[job.output.toLower()];
        if (first) return QStringLiteral("%1 and %2 would both make %3").arg(first->key, job.key, job.output);
        first = &job;
    }
    return {};
}

QString madeFrom(const ArchiveJob& job, const QString& settings) {
    QCryptographicHash digest(QCryptographicHash::Sha256);
    digest.addData(settings.toUtf8());
    for (const QString& picture : job.pictures) {
        const QFileInfo info(picture);
        digest.addData(QStringLiteral("\n%1 %2 %3").arg(info.fileName()).arg(info.size())
                           .arg(info.lastModified().toMSecsSinceEpoch()).toUtf8());
    }
    return QStringLiteral("1 ") + QString::fromLatin1(digest.result().toHex());
}

bool upToDate(const ArchiveJob& job, const QString& made) {
    const QFileInfo pdf(job.output);
    if (!pdf.isFile()) return false;
    for (const QString& picture : job.pictures)
        if (QFileInfo(picture).lastModified() > pdf.lastModified()) return false;
    return QString::fromStdString(pdffile::madeFromOf(QFile::encodeName(job.output).toStdString())) == made;
}

int runArchive(const ArchiveRun& run) {
    QFile report;
    if (run.reportPath == QLatin1String("-")) {
        if (!report.open(stdout, QIODevice::WriteOnly)) return 1;
    } else if (!run.reportPath.isEmpty()) {
        report.setFileName(run.reportPath);
        if (!report.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            std::fprintf(stderr, "pictolio-convert: cannot write the report to %s: %s\n", qPrintable(run.reportPath),
                         qPrintable(report.errorString()));
            return 1;
        }
    }
    const auto write = [&](const QJsonObject& line) {
        if (report.isOpen()) report.write(QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n'), report.flush();
    };
    std::vector<const ArchiveJob*> mine;
    for (const ArchiveJob& job : run.jobs)
        if (inShard(job.key, run.shard)) mine.push_back(&job);
    QElapsedTimer runClock;
    runClock.start();
    const double runCpu = processorSeconds();
    int made = 0, kept = 0, failed = 0, pages = 0, refused = 0;
    qint64 bytes = 0;
    for (std::size_t i = 0; i < mine.size() && !run.interrupted(); ++i) {
        const ArchiveJob& job = *mine[i];
        QJsonObject line{{QStringLiteral("job"), job.key}, {QStringLiteral("output"), job.output},
                         {QStringLiteral("pictures"), QJsonArray::fromStringList(job.pictures)}};
        QElapsedTimer clock;
        clock.start();
        const double cpu = processorSeconds();
        const QString from = madeFrom(job, run.settings);
        QString why;
        if (run.update && upToDate(job, from)) {
            line.insert(QStringLiteral("status"), QStringLiteral("kept"));
            line.insert(QStringLiteral("bytes"), QFileInfo(job.output).size());
            ++kept;
            write(line);
            continue;
        }
        if (run.progress) run.progress(int(i) + 1, int(mine.size()), job.output);
        const ConversionReport converted = run.convert(job, from);
        if (run.tellProblems) run.tellProblems(converted);
        if (!converted.invalidPictures.isEmpty()) {
            // (made without them, or not at all)
            line.insert(QStringLiteral("not_pictures"), QJsonArray::fromStringList(converted.invalidPictures));
            ++refused;
        }
        const QString folder = QFileInfo(job.output).absolutePath();
        if (!converted.incomplete.isEmpty()) {
            why = QStringLiteral("pictures changed while it was made");
            for (const QString& staged : converted.created) QFile::remove(staged);
        } else if (!converted.created.isEmpty()) {
            why = QDir().mkpath(folder) ? moveTo(converted.created.first(), job.output).reason()
                                        : QStringLiteral("cannot make the folder %1").arg(folder);
            if (!why.isEmpty()) QFile::remove(converted.created.first());
            else line.insert(QStringLiteral("pages"), converted.pages), pages += converted.pages;
        } else if (!converted.whyNotCreated.isEmpty()) {
            why = converted.whyNotCreated.first();
        } else if (converted.stopped || run.interrupted()) {
            why = QStringLiteral("interrupted");
        } else if (!converted.invalidPictures.isEmpty()) {
            const QString& picture = converted.invalidPictures.first();
            why = QStringLiteral("not a picture: %1: %2").arg(picture, converted.refusals.value(picture, QStringLiteral("cannot be read")));
        } else {
            why = QStringLiteral("no PDF was made");
        }
        line.insert(QStringLiteral("seconds"), clock.elapsed() / 1000.0);
        line.insert(QStringLiteral("processor_seconds"), processorSeconds() - cpu);
        if (why.isEmpty()) {
            const qint64 size = QFileInfo(job.output).size();
            line.insert(QStringLiteral("status"), QStringLiteral("made"));
            line.insert(QStringLiteral("bytes"), size);
            bytes += size;
            ++made;
        } else {
            line.insert(QStringLiteral("status"), QStringLiteral("failed"));
            line.insert(QStringLiteral("reason"), why);
            std::fprintf(stderr, "pictolio-convert: PDF not created: %s: %s\n", qPrintable(job.output), qPrintable(why));
            ++failed;
        }
        write(line);
    }
    const bool stopped = run.interrupted();
    write(QJsonObject{{QStringLiteral("summary"), true},
                      {QStringLiteral("shard"), QStringLiteral("%1/%2").arg(run.shard.index).arg(run.shard.count)},
                      {QStringLiteral("jobs"), int(mine.size())},
                      {QStringLiteral("made"), made},
                      {QStringLiteral("kept"), kept},
                      {QStringLiteral("failed"), failed},
                      {QStringLiteral("interrupted"), stopped},
                      {QStringLiteral("pages"), pages},
                      {QStringLiteral("bytes"), bytes},
                      {QStringLiteral("seconds"), runClock.elapsed() / 1000.0},
                      {QStringLiteral("processor_seconds"), processorSeconds() - runCpu}});
    if (!run.quiet)
        std::fprintf(stderr, "pictolio-convert: share %d of %d: %d of %zu PDFs made, %d up to date, %d failed\n", run.shard.index,
                     run.shard.count, made, mine.size(), kept, failed);
    return failed > 0 || refused > 0 || stopped ? 1 : 0;
}

}  // namespace pictolio
