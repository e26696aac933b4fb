// Two starts of the built program: the second ends at once with exit code -9.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include "support/wait_until.hpp"

namespace {

QString ProgramPath() {
    const QByteArray dir = qgetenv("QUENDREL_BIN");
    const QString base =
        dir.isEmpty() ? QCoreApplication::applicationDirPath() + QStringLiteral("/..") : dir;
    return base + QStringLiteral("/quendrel");
}

// Starts the program in `folder` where nobody could close a box: the boxes go to
// standard error. Its lock lives in `runtimeFolder`, so that the tool running on
// this machine, or another test, holds another one.
void Start(QProcess& process, const QString& folder, const QString& runtimeFolder) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeFolder);
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(folder);
    process.start(ProgramPath(), {});
}

TEST(SingleInstance, SecondStartEndsWithMinusNineAndLeavesTheFirstRunning) {
    ASSERT_TRUE(QFileInfo(ProgramPath()).isExecutable()) << ProgramPath().toStdString();
    QTemporaryDir firstFolder;
    QTemporaryDir secondFolder;
    QTemporaryDir runtimeFolder;

    QProcess first;
    Start(first, firstFolder.path(), runtimeFolder.path());
    ASSERT_TRUE(first.waitForStarted(10000));
    // Up once it has read (and missed) its settings file, after taking the lock.
    QByteArray firstErrors;
    const bool up = testsupport::WaitUntil(
        [&] {
            first.waitForReadyRead(100);
            firstErrors += first.readAllStandardError();
            return firstErrors.contains("SetDataFile Read Error");
        },
        30);
    ASSERT_TRUE(up) << firstErrors.toStdString();

    QProcess second;
    Start(second, secondFolder.path(), runtimeFolder.path());
    ASSERT_TRUE(second.waitForFinished(30000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 247);
    const QByteArray secondErrors = second.readAllStandardError();
    EXPECT_TRUE(secondErrors.contains("The program is already in the start-up!"))
        << secondErrors.toStdString();
    EXPECT_FALSE(secondErrors.contains("SetDataFile"));

    EXPECT_EQ(first.state(), QProcess::Running);
    first.kill();
    EXPECT_TRUE(first.waitForFinished(10000));
}

}  // namespace
