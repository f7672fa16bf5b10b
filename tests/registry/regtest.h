// A fresh, empty registry for each test: our files and the Wine prefix in a temporary folder.
#pragma once

#include "platform/registry/registry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tmp_.isValid());
        ours_ = tmp_.filePath("ours").toStdString();
        prefix_ = tmp_.filePath("wine").toStdString();
        setenv("QUIBREL_REGISTRY_DIR", ours_.c_str(), 1);
        setenv("WINEPREFIX", prefix_.c_str(), 1);
    }

    // Forgets what the store holds in memory, so the next call reads the files again.
    void Reload() {
        QTemporaryDir elsewhere;
        setenv("QUIBREL_REGISTRY_DIR", elsewhere.path().toUtf8().constData(), 1);
        RegistryUserFile();
        setenv("QUIBREL_REGISTRY_DIR", ours_.c_str(), 1);
        RegistryUserFile();
    }

    static void WriteFile(const std::string& path, const std::string& text) {
        QDir().mkpath(QFileInfo(QString::fromStdString(path)).absolutePath());
        QFile f(QString::fromStdString(path));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text.data(), qint64(text.size()));
    }
    static std::string ReadFile(const std::string& path) {
        QFile f(QString::fromStdString(path));
        if (!f.open(QIODevice::ReadOnly)) return {};
        return f.readAll().toStdString();
    }

    // A Wine prefix as Wine lays it out: drive_c, dosdevices links for c: and z:, and the
    // registry files given (Wine's own format).
    void MakeWinePrefix(const std::string& systemReg, const std::string& userReg = {}) {
        QDir().mkpath(QString::fromStdString(prefix_ + "/drive_c/windows/system32"));
        QDir().mkpath(QString::fromStdString(prefix_ + "/dosdevices"));
        QFile::link("../drive_c", QString::fromStdString(prefix_ + "/dosdevices/c:"));
        QFile::link("/", QString::fromStdString(prefix_ + "/dosdevices/z:"));
        WriteFile(prefix_ + "/system.reg", "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n\n" + systemReg);
        if (!userReg.empty()) WriteFile(prefix_ + "/user.reg", "WINE REGISTRY Version 2\n\n" + userReg);
    }

    static HKEY Create(HKEY root, const char* path, REGSAM sam = KEY_ALL_ACCESS) {
        HKEY k = nullptr;
        EXPECT_EQ(RegCreateKeyExA(root, path, 0, nullptr, 0, sam, nullptr, &k, nullptr), ERROR_SUCCESS) << path;
        return k;
    }
    static std::string Read(HKEY root, const char* key, const char* value = nullptr) {
        std::string s;
        return RegReadString(root, key, value, &s) ? s : "<absent>";
    }

    QTemporaryDir tmp_;
    std::string ours_, prefix_;
};
