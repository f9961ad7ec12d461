#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "tools/tool_files.h"

using namespace sonavel;

// How the tool files are found, with real files.
class ToolsTest : public QObject {
    Q_OBJECT
private slots:
    void toolFiles();
};

void ToolsTest::toolFiles() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString d = dir.path();
    const auto write = [&](const QString& name, QFile::Permissions permissions) {
        QFile file(d + "/" + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\n");
        file.close();
        QVERIFY(file.setPermissions(permissions));
    };
    write("adb", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    write("scrcpy", QFile::ReadOwner | QFile::WriteOwner);
    QVERIFY(QDir(d).mkdir("scrcpy-server"));
    QVERIFY(QFile::link(d + "/adb", d + "/linked"));

    QCOMPARE(toolPath(d, "adb"), d + "/adb");
    QCOMPARE(toolPath(d + "/", "adb"), d + "/adb");
    QVERIFY(toolFileUsable(toolPath(d, "adb"), true));
    QVERIFY(toolFileUsable(toolPath(d, "linked"), true));   // bundles may link their tools
    QVERIFY(!toolFileUsable(toolPath(d, "scrcpy"), true));  // not executable
    QVERIFY(toolFileUsable(toolPath(d, "scrcpy"), false));
    QVERIFY(!toolFileUsable(toolPath(d, "none"), false));
    QVERIFY(!toolFileUsable(toolPath(d, "scrcpy-server"), true));  // a folder is no program
    QVERIFY(toolFileUsable(toolPath(d, "scrcpy-server"), false));
    QCOMPARE(missingToolFiles(d), (QStringList{"scrcpy"}));
    QCOMPARE(missingToolFiles(std::nullopt), (QStringList{"adb", "scrcpy", "scrcpy-server"}));
}

QTEST_GUILESS_MAIN(ToolsTest)
#include "tst_tools.moc"
