// SPDX-License-Identifier: GPL-3.0-or-later
// The conversion run's steps as the window numbers them for its error report.
#include "app/conversionlines.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "platform/printservice.h"
#include "platform/registry.h"
#include "tests/support/printingfixture.h"
#include "tests/support/testpictures.h"

namespace pictolio {
namespace {

using ConversionEngine = testing::PrintingFixture;

// The steps the run reports, by the line numbers the window's error report gives them: each
// mode, output place and drawing, with a row that is a picture and one that is not.
TEST_F(ConversionEngine, StepsAreReportedByTheirLines) {
    installPrinting();
    QTemporaryDir pics, out;
    const QString a = pics.filePath("a.jpg"), bad = pics.filePath("bad.jpg");
    testing::writeFile(a, testing::makeJpeg({}));
    testing::writeFile(bad, "not a picture");
    using Lines = QList<int>;
    for (const bool joined : {false, true})
        for (const bool beside : {false, true})
            for (const bool stretch : {false, true}) {
                // The output path's steps, and the drawing's.
                const Lines path = joined ? (beside ? Lines{174, 178, 180, 182} : Lines{174, 176, 182})
                                          : (beside ? Lines{126, 130, 132, 134} : Lines{126, 128, 134});
                const int d = joined ? 220 : 158;
                const Lines draw = stretch ? Lines{d, d + 4, d + 6} : Lines{d, d + 2};
                Lines expected;
                if (joined) {
                    expected << path << 184 << 196 << 202;
                    expected << 204 << 216 << 218 << draw << 228 << 230;  // a.jpg, then a new page
                    expected << 204 << 216;                               // bad.jpg
                    expected << 234 << 236;
                } else {
                    expected << 112;
                    expected << 114 << path << 136 << 148 << 154 << 156 << draw << 166;  // a.jpg
                    expected << 114 << path << 136 << 148 << 154;                        // bad.jpg
                }
                Lines steps;
                ConversionJob::Caller caller;
                const QStringList rows{a, bad};
                caller.rowCount = [&] { return int(rows.size()); };
                caller.rowText = [&](int row) { return rows[row - 1]; };
                caller.options = [&] {
                    RowOptions o;
                    o.inFolder = !beside;
                    o.besideSource = beside;
                    o.folder = out.path();
                    o.keepSize = !stretch;
                    o.stretch = stretch;
                    return o;
                };
                caller.step = [&](ConversionJob::Step step, const std::function<void()>& f) {
                    steps << conversionLine(joined, step);
                    f();
                };
                caller.beginPass = [&](int row, QString* source) {
                    steps << passLine(joined);
                    *source = rows[row - 1];
                    return true;
                };
                ConversionJob job(*service, *registry, decoder, 5000, caller);
                const ConversionReport report = joined ? job.runJoined() : job.runPerPicture();
                EXPECT_EQ(report.created.size(), 1) << joined << beside << stretch;
                EXPECT_EQ(steps, expected) << "joined " << joined << ", beside " << beside << ", stretch " << stretch;
                QFile::remove(pics.filePath("a.pdf"));
                QFile::remove(out.filePath("a.pdf"));
            }
}

}  // namespace
}  // namespace pictolio
