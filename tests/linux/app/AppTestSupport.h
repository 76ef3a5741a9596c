// A sandbox for dialog tests: a temporary working directory with the default settings file and a
// hosts file of its own, and message boxes answered "No" and counted instead of shown.
#pragma once

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "linux/controls/MessageBox.h"

class AppSandbox : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_oldCwd = QDir::currentPath();
        const QString source = qEnvironmentVariable("VANTREL_TEST_SOURCE_DIR");
        ASSERT_TRUE(QFile::copy(source + "/res/vantrel_settings.txt",
                                m_dir.filePath("vantrel_settings.txt")));
        ASSERT_TRUE(QDir::setCurrent(m_dir.path()));
        m_hostsPath = m_dir.filePath("hosts");
        UseHostsFile(m_hostsPath);
        // A browser window on the tester's display must not put a question into the test.
        qunsetenv("DISPLAY");
        SetMessageHook([this](const MessageRequest&) {
            ++m_nMessages;
            return QMessageBox::No;
        });
    }

    void TearDown() override {
        SetMessageHook({});
        QDir::setCurrent(m_oldCwd);
        qunsetenv("VANTREL_HOSTS_FILE");
    }

    static void UseHostsFile(const QString& path) {
        qputenv("VANTREL_HOSTS_FILE", QFile::encodeName(path));
    }

    void WriteHosts(const QByteArray& bytes) {
        QFile file(m_hostsPath);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(bytes), bytes.size());
    }

    QByteArray ReadHosts() const {
        QFile file(m_hostsPath);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir m_dir;
    QString m_oldCwd;
    QString m_hostsPath;
    int m_nMessages = 0;
};
