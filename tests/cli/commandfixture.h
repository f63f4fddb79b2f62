// SPDX-License-Identifier: GPL-3.0-or-later
// What the tests of pictolio-convert share: each run with its own configuration, cache and
// temporary folders, pictures made in a folder of their own.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <functional>
#include <map>

#include "tests/support/testpictures.h"

namespace pictolio::testing {

class ConvertCommand : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(home.isValid() && pics.isValid() && out.isValid() && tmp.isValid()); }
    QString picture(const QString& relative, const JpegRecipe& recipe = {}) {
        const QString path = pics.filePath(relative);
        QDir().mkpath(QFileInfo(path).path());
        writeFile(path, makeJpeg(recipe));
        return path;
    }
    // Runs pictolio-convert (or another of the programs) with its own configuration, cache and
    // temporary folders, in the output folder; the exit code. during: called once it has started.
    int run(const QStringList& arguments, QProcess* process = nullptr, const QString& program = "pictolio-convert",
            const std::function<void(QProcess&)>& during = {}) {
        QProcess own;
        QProcess& p = process ? *process : own;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", home.path());
        env.insert("XDG_CACHE_HOME", home.filePath("cache"));
        env.insert("TMPDIR", tempFolder.isEmpty() ? tmp.path() : tempFolder);
        for (const auto& [name, value] : variables)
            if (value.isNull()) env.remove(name);
            else env.insert(name, value);
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(out.path());
        p.start(program.startsWith('/') ? program : QCoreApplication::applicationDirPath() + "/" + program, arguments);
        if (during) during(p);
        if (!p.waitForFinished(waitMs)) {
            p.kill();
            p.waitForFinished();
        }
        errors = QString::fromUtf8(p.readAllStandardError());
        output = QString::fromUtf8(p.readAllStandardOutput());
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    QStringList made(const QString& folder) const {
        return QDir(folder).entryList({"*.pdf", ".pictolio-*", "*.part"}, QDir::Files | QDir::Hidden, QDir::Name);
    }

    // What runs left in their temporary folder.
    QStringList leftInTmp() const { return QDir(tmp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot); }

    QTemporaryDir home, pics, out, tmp;
    QString tempFolder;  // TMPDIR for the runs, when not tmp
    std::map<QString, QString> variables;  // more of the runs' environment; a null value removes one
    int waitMs = 120000;  // then a run is killed
    QString errors, output;
};

}  // namespace pictolio::testing
