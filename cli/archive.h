// SPDX-License-Identifier: GPL-3.0-or-later
// Archives: a tree of folders converted into a mirrored tree of PDFs, in jobs (a folder's pictures
// joined, or a picture each) that split into shares without a coordinator, that a later run leaves
// alone while they are up to date, and that are reported one JSON line each.
#pragma once

#include <QFile>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

namespace pictolio {

class ConversionJob;
struct ConversionReport;

// Share `index` of `count` (1 to count) of the jobs.
struct Shard {
    int index = 1, count = 1;
};

// "K/N"; "auto": the task of a Slurm job array of consecutive tasks (SLURM_ARRAY_TASK_ID from
// SLURM_ARRAY_TASK_MIN, of SLURM_ARRAY_TASK_COUNT); "auto/N": of N shares, the Slurm task's number
// (1 to N) or a Kubernetes indexed Job's index plus one (JOB_COMPLETION_INDEX). None, and *why,
// when it is none of these.
std::optional<Shard> parseShard(const QString& value, QString* why);

// Whether the job of this key (its path relative to the tree's top) falls in the share: a stable
// hash of the key, the same on every machine and in every run.
bool inShard(const QString& key, const Shard& shard);

struct ArchiveJob {
    QString key;          // relative to its tree's top: "a/b" (a folder), "a/b/x.jpg" (a picture), "."
    QStringList pictures;  // full paths, in natural order
    QString output;        // the PDF's full path
};

// The jobs of the trees (each in a folder of its name under outputRoot when there are several): with `joined`, one PDF per folder that holds pictures, named after the
// folder, beside its sub-folders' PDFs (the top folder's in `outputRoot` itself); otherwise one
// PDF per picture at its relative path (x.pdf; x.jpg.pdf when another picture of the folder is
// called x too). Links to folders are not followed.
std::vector<ArchiveJob> archiveJobs(const QStringList& roots, const QString& outputRoot, bool joined);

// "" when no two jobs make the same PDF; else the first two that would, as a sentence.
QString sharedOutput(const std::vector<ArchiveJob>& jobs);

// What a job's PDF is made from: a digest of its pictures (names, sizes, modification times) and
// of the settings given.
QString madeFrom(const ArchiveJob& job, const QString& settings);

// Whether the job's PDF is there, newer than each of its pictures, and made from `made`.
bool upToDate(const ArchiveJob& job, const QString& made);

// What a run of the jobs needs from the command line: how one job's PDF is made (its pictures
// joined into `stagedIn`, returning the conversion's report), and where progress goes.
struct ArchiveRun {
    std::vector<ArchiveJob> jobs;
    Shard shard;
    bool update = false;
    bool quiet = false;  // no line on the share's outcome
    QString settings;   // the settings' text, for madeFrom
    QString stagedIn;   // a folder of the run's own on the output's file system
    QString reportPath;  // "" for none, "-" for standard output
    // Converts the pictures into one PDF in stagedIn, its document made from `made`.
    std::function<ConversionReport(const ArchiveJob& job, const QString& made)> convert;
    std::function<void(int index, int total, const QString& output)> progress;
    std::function<bool()> interrupted;
    // Says what a job's conversion reported that went wrong (pictures refused, notes).
    std::function<void(const ConversionReport&)> tellProblems;
};

// Runs the share's jobs; the exit status: 0 when every job was made or kept from pictures that all
// were pictures, 1 otherwise.
int runArchive(const ArchiveRun& run);

}  // namespace pictolio
