// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <memory>

#include "app/form1.h"
#include "platform/filesystem.h"
#include "pictures/picture.h"
#include "platform/printservice.h"
#include "platform/registry.h"
#include "platform/settingsstore.h"
#include "tests/fakes/fakedialogs.h"
#include "tests/fakes/fakeshell.h"

namespace pictolio::testing {

// Records every value saved, in order, and keeps it in a real settings file.
class RecordingSettings : public SettingsStore {
public:
    explicit RecordingSettings(const QString& root) : m_store(root) {}
    QStringList saved;  // "key=value"
    QString getSetting(const QString& a, const QString& s, const QString& k,
                       const QString& d) const override {
        return m_store.getSetting(a, s, k, d);
    }
    void saveSetting(const QString& a, const QString& s, const QString& k,
                     const QString& v) override {
        m_store.saveSetting(a, s, k, v);
        saved << k + "=" + v;
    }

private:
    PlatformSettingsStore m_store;
};

// The main window with real settings, printing and files in temporary folders, and recording
// dialogs and shell.
class AppFixture : public ::testing::Test {
protected:
    void SetUp() override;
    // Creates the window (not yet loaded).
    Form1& form();
    // Creates and loads the window.
    Form1& loadedForm();
    void installPdfPrinter();
    void store(const QString& key, const QString& value);
    QString stored(const QString& key) const;
    // Copies the program's files (cursor, skin, icon, help) into the program folder.
    void shipResources();

    QTemporaryDir programFolder, settingsRoot, printRoot, work;
    FakeDialogs dialogs;
    FakeShell shell;
    std::unique_ptr<RecordingSettings> settings;
    std::unique_ptr<PrintService> printing;
    std::unique_ptr<Registry> registry;
    PictureDecoder decoder;
    PosixFileSystem realFiles;
    FileSystem* files = &realFiles;  // a test may put a wrapper in its place
    AppConfig config;
    double randomValue = 0.5;
    std::unique_ptr<Form1> window;
};

}  // namespace pictolio::testing
