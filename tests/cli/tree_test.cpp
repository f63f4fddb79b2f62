// SPDX-License-Identifier: GPL-3.0-or-later
// Archives: a tree of folders converted as a mirrored tree, split into shares that make the whole
// exactly once, brought up to date without redoing, and reported as JSON Lines.
#include <QDirIterator>
#include <QJsonDocument>
#include <QJsonObject>

#include "tests/cli/commandfixture.h"

using pictolio::testing::ConvertCommand;

namespace {

// Each PDF under the folder (relative path) with its bytes.
std::map<QString, QByteArray> pdfsUnder(const QString& folder) {
    std::map<QString, QByteArray> found;
    for (QDirIterator it(folder, {"*"}, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();) {
        const QString path = it.next();
        found[QDir(folder).relativeFilePath(path)] = pictolio::testing::readFile(path);
    }
    return found;
}

// The report's lines, each a JSON object; the last is the summary.
std::vector<QJsonObject> reportLines(const QString& text) {
    std::vector<QJsonObject> lines;
    for (const QString& line : text.split('\n', Qt::SkipEmptyParts)) {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(line.toUtf8(), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
        lines.push_back(document.object());
    }
    return lines;
}

std::map<QString, QString> statusOf(const std::vector<QJsonObject>& lines) {
    std::map<QString, QString> status;
    for (const QJsonObject& line : lines)
        if (!line.contains("summary")) status[line["job"].toString()] = line["status"].toString();
    return status;
}

}  // namespace

TEST_F(ConvertCommand, ArchivesSplitIntoSharesAndResume) {
    // Twenty folders, two levels deep, of small pictures; one not a picture.
    for (int f = 0; f < 20; ++f)
        for (int p = 0; p < 2; ++p) picture(QStringLiteral("archive/box%1/folder%2/page%3.jpg").arg(f / 5).arg(f).arg(p));
    picture("archive/cover.jpg");
    pictolio::testing::writeFile(pics.filePath("archive/box0/folder0/notes.jpg"), QByteArray("not a picture"));
    const QString archive = pics.filePath("archive"), whole = tmp.filePath("whole"), split = tmp.filePath("split");
    variables["SOURCE_DATE_EPOCH"] = "1700000000";

    for (const bool joined : {true, false}) {
        SCOPED_TRACE(joined ? "a PDF per folder" : "a PDF per picture");
        QDir(whole).removeRecursively(), QDir(split).removeRecursively();
        const QStringList join = joined ? QStringList{"--join"} : QStringList{};
        EXPECT_EQ(run(QStringList{"--tree", "-o", whole, "--report", "-", archive} + join), 1) << errors.toStdString();
        const std::vector<QJsonObject> plain = reportLines(output);
        ASSERT_FALSE(plain.empty());
        EXPECT_TRUE(plain.back()["summary"].toBool());
        const std::map<QString, QByteArray> expected = pdfsUnder(whole);
        ASSERT_EQ(expected.size(), joined ? 21u : 41u);
        EXPECT_EQ(expected.count(joined ? "archive.pdf" : "cover.pdf"), 1u);
        EXPECT_EQ(expected.count(joined ? "box3/folder19.pdf" : "box3/folder19/page1.pdf"), 1u);

        // Four shares, side by side: the same PDFs to the byte, each made by one share.
        std::map<QString, int> madeBy;
        for (int k = 1; k <= 4; ++k) {
            run(QStringList{"--tree", "-o", split, "--shard", QStringLiteral("%1/4").arg(k), "--report", "-", archive} + join);
            for (const auto& [job, status] : statusOf(reportLines(output))) madeBy[job] += status == "made";
        }
        EXPECT_TRUE(pdfsUnder(split) == expected);
        EXPECT_EQ(madeBy.size(), expected.size() + (joined ? 0 : 1));  // (and the picture that fails)
        for (const auto& [job, count] : madeBy) EXPECT_LE(count, 1) << job.toStdString();

        // Run again: every PDF is kept. A picture touched and a PDF removed are made again, alone.
        run(QStringList{"--tree", "--update", "-o", split, "--report", "-", archive} + join);
        for (const auto& [job, status] : statusOf(reportLines(output))) {
            if (!job.contains("folder0")) {
                EXPECT_EQ(status, "kept") << job.toStdString();
            }
        }
        QFile touched(pics.filePath("archive/box1/folder7/page0.jpg"));
        ASSERT_TRUE(touched.open(QIODevice::ReadWrite));
        ASSERT_TRUE(touched.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime));
        ASSERT_TRUE(QFile::remove(split + (joined ? "/box2/folder12.pdf" : "/box2/folder12/page1.pdf")));
        QFile older(split + (joined ? "/box3/folder16.pdf" : "/box3/folder16/page0.pdf"));  // older than its pictures
        ASSERT_TRUE(older.open(QIODevice::ReadWrite));
        ASSERT_TRUE(older.setFileTime(QDateTime::fromSecsSinceEpoch(86400), QFileDevice::FileModificationTime));
        run(QStringList{"--tree", "--update", "-o", split, "--report", "-", archive} + join);
        std::vector<QString> remade;
        for (const auto& [job, status] : statusOf(reportLines(output)))
            if (status == "made") remade.push_back(job);
        EXPECT_EQ(remade, (std::vector<QString>{joined ? "box1/folder7" : "box1/folder7/page0.jpg",
                                                joined ? "box2/folder12" : "box2/folder12/page1.jpg",
                                                joined ? "box3/folder16" : "box3/folder16/page0.jpg"}));
        // Other settings make every PDF again.
        run(QStringList{"--tree", "--update", "--mono", "-o", split, "--report", "-", archive} + join);
        EXPECT_EQ(reportLines(output).back()["made"].toInt(), int(expected.size()));
        ASSERT_TRUE(touched.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
    }
    EXPECT_EQ(run({"--tree", "-o", split, "--shard", "5/4", archive}), 2);
    EXPECT_EQ(run({"--update", archive}), 2);
    EXPECT_EQ(run({"--tree", "-o", split, "--report", "-", "--sidecar", "-", archive}), 2);
}

TEST_F(ConvertCommand, ArchivesTakeTheirShareFromTheBatchSystem) {
    picture("scans/a/1.jpg"), picture("scans/b/2.jpg"), picture("more/c/3.jpg");
    const struct {
        const char* shard;
        std::map<QString, QString> environment;
        const char* share;  // "" when refused
    } rows[] = {
        {"auto", {{"SLURM_ARRAY_TASK_ID", "3"}, {"SLURM_ARRAY_TASK_MIN", "1"}, {"SLURM_ARRAY_TASK_MAX", "4"}, {"SLURM_ARRAY_TASK_COUNT", "4"}}, "3/4"},
        {"auto", {{"SLURM_ARRAY_TASK_ID", "10"}, {"SLURM_ARRAY_TASK_MIN", "10"}, {"SLURM_ARRAY_TASK_MAX", "12"}, {"SLURM_ARRAY_TASK_COUNT", "3"}}, "1/3"},
        {"auto", {{"SLURM_ARRAY_TASK_ID", "2"}, {"SLURM_ARRAY_TASK_MIN", "0"}, {"SLURM_ARRAY_TASK_MAX", "30"}, {"SLURM_ARRAY_TASK_COUNT", "16"}}, ""},
        {"auto/16", {{"SLURM_ARRAY_TASK_ID", "7"}}, "7/16"},
        {"auto/4", {{"JOB_COMPLETION_INDEX", "0"}}, "1/4"},
        {"auto/4", {{"JOB_COMPLETION_INDEX", "4"}}, ""},
        {"auto", {}, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.shard + (" " + QString::number(&row - rows)).toStdString());
        variables = row.environment;
        for (const char* name : {"SLURM_ARRAY_TASK_ID", "SLURM_ARRAY_TASK_MIN", "SLURM_ARRAY_TASK_MAX", "SLURM_ARRAY_TASK_COUNT", "JOB_COMPLETION_INDEX"})
            variables.emplace(name, QString());  // (none of the machine's own)
        const int code = run({"--tree", "-o", tmp.filePath("out"), "--shard", row.shard, "--report", "-", pics.filePath("scans")});
        if (!*row.share) {
            EXPECT_EQ(code, 2) << output.toStdString();
            continue;
        }
        ASSERT_EQ(code, 0) << errors.toStdString();
        EXPECT_EQ(QJsonDocument::fromJson(output.split('\n', Qt::SkipEmptyParts).last().toUtf8())["shard"].toString().toStdString(), row.share);
    }
    // Several trees each in a folder of their name; two that would make one PDF are refused.
    variables.clear();
    ASSERT_EQ(run({"--tree", "-o", tmp.filePath("both"), pics.filePath("scans"), pics.filePath("more")}), 0) << errors.toStdString();
    for (const char* made : {"both/scans/a/1.pdf", "both/scans/b/2.pdf", "both/more/c/3.pdf"}) EXPECT_TRUE(QFile::exists(tmp.filePath(made))) << made;
    picture("scans/scans/4.jpg"), picture("scans/5.jpg");
    EXPECT_EQ(run({"--tree", "--join", "-o", tmp.filePath("clash"), pics.filePath("scans")}), 2);
    EXPECT_TRUE(errors.contains("would both make")) << errors.toStdString();
}
