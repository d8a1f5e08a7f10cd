// The settings store and the registry file under it: values come back as
// they were written, missing ones give the default, and the file is never
// lost or left half-written.
#include "Registry.h"
#include "hive_file.h"
#include "registry_api.h"
#include "test_hooks.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString kKey = QStringLiteral("Software\\Corvane\\Pellicor\\Main");

QByteArray fileText(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

LONG setRaw(const char* name, DWORD type, const QByteArray& data) {
    HKEY key = nullptr;
    LONG rc = RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Corvane\\Pellicor\\Main", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr);
    if (rc) return rc;
    rc = RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.constData()), DWORD(data.size()));
    RegCloseKey(key);
    return rc;
}

// A file as the Windows registry editor writes it: UTF-16LE behind a byte-order mark.
QByteArray utf16(const QString& text) {
    QByteArray bytes("\xff\xfe");
    for (const QChar c : text) bytes.append(char(c.unicode() & 0xff)).append(char(c.unicode() >> 8));
    return bytes;
}

QByteArray queryRaw(const char* name, DWORD* type) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Corvane\\Pellicor\\Main", 0, KEY_READ, &key)) return "<no key>";
    DWORD size = 0;
    QByteArray data;
    if (RegQueryValueExA(key, name, nullptr, type, nullptr, &size) == ERROR_SUCCESS) {
        data.resize(size);
        RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<LPBYTE>(data.data()), &size);
    } else {
        data = "<no value>";
    }
    RegCloseKey(key);
    return data;
}

}  // namespace

class RegistryTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void missingGivesTheDefaultAndCreatesNothing();
    void writtenValuesComeBack_data();
    void writtenValuesComeBack();
    void storedValuesReadByType_data();
    void storedValuesReadByType();
    void theFileIsTheRegistryEditorsFormat();
    void filesReadAsTheirValuesOrAreSetAside_data();
    void filesReadAsTheirValuesOrAreSetAside();
    void anUnusableLocationFailsCleanly();
    void aKilledSaveLeavesOldOrNewNeverBroken();
    void aRefusedWriteKeepsTheOldFile();
    void twoProcessesSavingAtOnceLoseNothing();

private:
    std::unique_ptr<QTemporaryDir> dir_;
    QString file_;
};

void RegistryTest::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    file_ = dir_->filePath("config/pellicor/registry.reg");
    qputenv("PELLICOR_REGISTRY_FILE", QFile::encodeName(file_));
}

void RegistryTest::missingGivesTheDefaultAndCreatesNothing() {
    QCOMPARE(ReadValue(HKEY_CURRENT_USER, kKey, "Quality", "75"), QVariant("75"));
    QVERIFY(!QFile::exists(file_));
    QCOMPARE(WriteStringValue(HKEY_CURRENT_USER, kKey, "Quality", "90"), ERROR_SUCCESS);
    QCOMPARE(ReadValue(HKEY_CURRENT_USER, kKey.toUpper(), "quality", "75"), QVariant("90"));  // names ignore case
    QCOMPARE(ReadValue(HKEY_CURRENT_USER, kKey, "MainLeft", "0"), QVariant("0"));
    QCOMPARE(ReadValue(HKEY_CURRENT_USER, kKey + "\\Deeper", "Quality", "75"), QVariant("75"));
    HKEY key = nullptr;
    QCOMPARE(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Nobody", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    QVERIFY(!fileText(file_).contains("Nobody"));
}

// Written by the settings code, read back as written, whatever the value had been before.
void RegistryTest::writtenValuesComeBack_data() {
    QTest::addColumn<QVariant>("value");  // a text is written as REG_SZ, an integer as REG_DWORD
    for (const QString& text : {QString(), QStringLiteral("  two blanks before and after  "),
                                QStringLiteral("C:\\with \"quotes\" and \\ back"), QStringLiteral("Blåbær på Ön — 山"),
                                QStringLiteral("line\nbreak")})
        QTest::newRow(qPrintable("text " + text)) << QVariant(text);
    for (qint32 number : {0, 1, -1, 2147483647, -2147483647 - 1, -4500})
        QTest::newRow(qPrintable("integer " + QString::number(number))) << QVariant(number);
}

void RegistryTest::writtenValuesComeBack() {
    QFETCH(QVariant, value);
    const bool text = value.typeId() == QMetaType::QString;
    QCOMPARE(text ? WriteDWordValue(HKEY_CURRENT_USER, kKey, "Value", 7) : WriteStringValue(HKEY_CURRENT_USER, kKey, "Value", "x"),
             ERROR_SUCCESS);
    QCOMPARE(text ? WriteStringValue(HKEY_CURRENT_USER, kKey, "Value", value.toString())
                  : WriteDWordValue(HKEY_CURRENT_USER, kKey, "Value", value.toInt()),
             ERROR_SUCCESS);
    QCOMPARE(ReadValue(HKEY_CURRENT_USER, kKey, "Value", "default"), value);
}

// Any value survives the file byte for byte; the settings code reads texts
// (up to a NUL) and 32-bit integers, and anything else as the default.
void RegistryTest::storedValuesReadByType_data() {
    QTest::addColumn<uint>("type");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QVariant>("read");
    QByteArray all;
    for (int i = 0; i < 256; ++i) all.append(char(i));
    const QVariant none("default");
    QTest::newRow("text") << uint(REG_SZ) << QByteArray("75", 3) << QVariant("75");
    QTest::newRow("text to its first NUL") << uint(REG_SZ) << QByteArray("before\0after\0", 13) << QVariant("before");
    QTest::newRow("text, no terminator") << uint(REG_SZ) << QByteArray("no terminator") << QVariant("no terminator");
    QTest::newRow("text, not UTF-8") << uint(REG_SZ) << QByteArray("\xff\xfe not UTF-8\0", 13)
                                     << QVariant(QStringLiteral("\uFFFD\uFFFD not UTF-8"));
    QTest::newRow("integer -1") << uint(REG_DWORD) << QByteArray("\xff\xff\xff\xff", 4) << QVariant(-1);
    QTest::newRow("integer, five bytes") << uint(REG_DWORD) << QByteArray("\1\2\3\4\5", 5) << none;
    QTest::newRow("expandable text") << uint(REG_EXPAND_SZ) << QByteArray("%HOME%/x\0", 9) << none;
    QTest::newRow("binary, every byte") << uint(REG_BINARY) << all << none;
    QTest::newRow("binary, empty") << uint(REG_BINARY) << QByteArray() << none;
    QTest::newRow("texts") << uint(REG_MULTI_SZ) << QByteArray("a\0b\0\0", 5) << none;
    QTest::newRow("64 bits") << uint(REG_QWORD) << QByteArray("\1\2\3\4\5\6\7\x08", 8) << none;
    QTest::newRow("a type of no name") << 0x1234u << QByteArray("odd type") << none;
}

void RegistryTest::storedValuesReadByType() {
    QFETCH(uint, type);
    QFETCH(QByteArray, data);
    QFETCH(QVariant, read);
    QCOMPARE(setRaw("Value", type, data), ERROR_SUCCESS);
    DWORD got = 0;
    QCOMPARE(queryRaw("Value", &got), data);
    QCOMPARE(got, DWORD(type));
    QCOMPARE(ReadValue(HKEY_CURRENT_USER, kKey, "Value", "default"), read);
}

void RegistryTest::theFileIsTheRegistryEditorsFormat() {
    WriteDWordValue(HKEY_CURRENT_USER, kKey, "MainWidth", 9000);
    WriteStringValue(HKEY_CURRENT_USER, kKey, "FilePath", "/home/ann/Pictures");
    const QByteArray text = fileText(file_);
    QVERIFY(text.startsWith("Windows Registry Editor Version 5.00\n"));
    QVERIFY(text.contains("[HKEY_CURRENT_USER\\Software\\Corvane\\Pellicor\\Main]\n"
                          "\"MainWidth\"=dword:00002328\n"
                          "\"FilePath\"=\"/home/ann/Pictures\"\n"));
    // A value that would make the file too big to read back is refused, and nothing is lost.
    QCOMPARE(setRaw("Huge", REG_BINARY, QByteArray(400000, 'x')), ERROR_OUTOFMEMORY);
    QCOMPARE(fileText(file_), text);
}

// A file as it reads: the bytes of "Quality" (none: the file reads as empty,
// and the next save sets it aside). Bytes never crash it or stop a start.
void RegistryTest::filesReadAsTheirValuesOrAreSetAside_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("quality");
    const QString key = "[HKEY_CURRENT_USER\\Software\\Corvane\\Pellicor\\Main]\r\n";
    const QString exported = "Windows Registry Editor Version 5.00\r\n\r\n" + key + "\"MainTop\"=dword:00000f00\r\n";
    const QByteArray head = "Windows Registry Editor Version 5.00\n" + key.toLatin1() + "\"Quality\"=\"60\"\n";
    QTest::newRow("export, UTF-16") << utf16(exported + "\"Quality\"=\"Blåbær \\\"山\\\" 😀\"\r\n")
                                    << QByteArray("Bl\xc3\xa5\x62\xc3\xa6r \"\xe5\xb1\xb1\" \xf0\x9f\x98\x80", 20);
    QTest::newRow("export, UTF-16, lone surrogate") << utf16(exported + "\"Quality\"=\"a" + QChar(0xd800) + "b\"\r\n")
                                                    << QByteArray("a\xef\xbf\xbd\x62", 6);
    QTest::newRow("export, REGEDIT4, code page 1252") << "REGEDIT4\r\n\r\n" + key.toLatin1() + "\"Quality\"=\"J\xf6rg \x80\"\r\n"
                                                      << QByteArray("J\xc3\xb6rg \xe2\x82\xac", 10);
    QTest::newRow("by hand, wrapped hex, comment") << "Windows Registry Editor Version 5.00\r\n; settings\r\n" + key.toLatin1() +
                                                          "\"Quality\"=hex(1):36,30,\\\r\n  00\r\n"
                                                   << QByteArray("60", 3);
    QTest::newRow("no header") << QByteArray("this is not a registry file\n\"Quality\"=\"80\"\n") << QByteArray();
    QTest::newRow("type beyond 64 bits") << head + "\"X\"=hex(fffffffffffffffffffff):00\n" << QByteArray();
    QTest::newRow("type beyond 32 bits") << head + "\"X\"=hex(100000000):00\n" << QByteArray();
    QTest::newRow("over 1 MiB") << head + "; " + QByteArray(1 << 20, 'x') + "\n" << QByteArray();
    QTest::newRow("UTF-16, odd length") << utf16(QString::fromLatin1(head)) + "\n" << QByteArray();
    QTest::newRow("backslashes to the end") << head + "\"X\"=hex:00,\\\n\\\n\\\n" << QByteArray();
    QTest::newRow("NUL in a number") << head + QByteArray("\"X\"=dword:0000\0\x30\x30\x30\n", 19) << QByteArray();
    QTest::newRow("[ alone") << head + "[\n" << QByteArray();
    // Lines no editor writes: the whole file is set aside, not the line skipped.
    QTest::newRow("a value before any key") << QByteArray("Windows Registry Editor Version 5.00\n\"Quality\"=\"60\"\n") << QByteArray();
    QTest::newRow("a key without its ]") << head + "[HKEY_CURRENT_USER\\Other\n" << QByteArray();
    QTest::newRow("a key to delete") << head + "[-HKEY_CURRENT_USER\\Other]\n" << QByteArray();
    QTest::newRow("a name without =") << head + "\"X\"\n" << QByteArray();
    QTest::newRow("a name without quotes") << head + "X=\"1\"\n" << QByteArray();
    QTest::newRow("a text without its end quote") << head + "\"X\"=\"abc\n" << QByteArray();
    QTest::newRow("a text ending in a backslash") << head + "\"X\"=\"abc\\\n" << QByteArray();
    QTest::newRow("more after a text") << head + "\"X\"=\"a\"b\n" << QByteArray();
    QTest::newRow("a short dword") << head + "\"X\"=dword:123\n" << QByteArray();
    QTest::newRow("a dword not in hex") << head + "\"X\"=dword:0000000g\n" << QByteArray();
    QTest::newRow("a byte not in hex") << head + "\"X\"=hex:0g\n" << QByteArray();
    QTest::newRow("bytes without commas") << head + "\"X\"=hex:0000\n" << QByteArray();
    QTest::newRow("a kind of no name") << head + "\"X\"=string:abc\n" << QByteArray();
}

void RegistryTest::filesReadAsTheirValuesOrAreSetAside() {
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, quality);
    QVERIFY(QDir().mkpath(QFileInfo(file_).path()));
    QFile f(file_);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(file) == file.size());
    f.close();
    DWORD type = 0;
    QCOMPARE(queryRaw("Quality", &type), quality.isEmpty() ? QByteArray("<no key>") : quality);
    QCOMPARE(fileText(file_), file);  // reading changes nothing

    QCOMPARE(setRaw("Other", REG_SZ, "x"), ERROR_SUCCESS);
    QCOMPARE(fileText(file_ + ".corrupt-1"), quality.isEmpty() ? file : QByteArray());
    QCOMPARE(queryRaw("Quality", &type), quality.isEmpty() ? QByteArray("<no value>") : quality);
}

void RegistryTest::anUnusableLocationFailsCleanly() {
    QFile plain(dir_->filePath("plain"));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    qputenv("PELLICOR_REGISTRY_FILE", QFile::encodeName(dir_->filePath("plain/pellicor/registry.reg")));
    QVERIFY(WriteStringValue(HKEY_CURRENT_USER, kKey, "Quality", "90") != ERROR_SUCCESS);
    QVERIFY(WriteDWordValue(HKEY_CURRENT_USER, kKey, "MainLeft", 1) != ERROR_SUCCESS);
    QCOMPARE(ReadValue(HKEY_CURRENT_USER, kKey, "Quality", "75"), QVariant("75"));

    // The hive file itself is a folder: nothing can be read or written.
    QVERIFY(QDir().mkpath(dir_->filePath("odd/registry.reg")));
    qputenv("PELLICOR_REGISTRY_FILE", QFile::encodeName(dir_->filePath("odd/registry.reg")));
    QVERIFY(WriteStringValue(HKEY_CURRENT_USER, kKey, "Quality", "90") != ERROR_SUCCESS);
    QCOMPARE(ReadValue(HKEY_CURRENT_USER, kKey, "Quality", "75"), QVariant("75"));

    // A pipe in its place: the defaults at once, not a start that waits forever.
    const QByteArray pipe = QFile::encodeName(dir_->filePath("pipe.reg"));
    QCOMPARE(::mkfifo(pipe.constData(), 0600), 0);
    qputenv("PELLICOR_REGISTRY_FILE", pipe);
    QCOMPARE(ReadValue(HKEY_CURRENT_USER, kKey, "Quality", "75"), QVariant("75"));
}

void RegistryTest::aKilledSaveLeavesOldOrNewNeverBroken() {
    QCOMPARE(WriteStringValue(HKEY_CURRENT_USER, kKey, "Quality", "old"), ERROR_SUCCESS);
    for (int step = 1; step <= 5; ++step) {
        const pid_t child = ::fork();
        if (child == 0) {
            registryCrashAtSaveStep(step);
            WriteStringValue(HKEY_CURRENT_USER, kKey, "Quality", QStringLiteral("new %1").arg(step));
            ::_exit(1);  // not reached: the save ends the process at the step
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 0, "the save did not stop at its step");
        Hive hive;
        QVERIFY2(registry_file::parse(fileText(file_).toStdString(), hive), qPrintable(QString::number(step)));
        const QVariant now = ReadValue(HKEY_CURRENT_USER, kKey, "Quality", "gone");
        QVERIFY2(now == QVariant("old") || now == QVariant(QStringLiteral("new %1").arg(step)),
                 qPrintable(now.toString()));
        QCOMPARE(now == QVariant("old"), step < 5);  // the rename is the moment it changes
        WriteStringValue(HKEY_CURRENT_USER, kKey, "Quality", "old");
    }
    // The next save cleared away what the killed ones left behind.
    QCOMPARE(QDir(QFileInfo(file_).path()).entryList(QDir::Files), (QStringList{"registry.reg", "registry.reg.lock"}));
}

// A save the disk takes only part of (here a file size limit, which binds
// root too) fails, and leaves the old file as it was and nothing beside it.
void RegistryTest::aRefusedWriteKeepsTheOldFile() {
    QCOMPARE(WriteStringValue(HKEY_CURRENT_USER, kKey, "Quality", "old"), ERROR_SUCCESS);
    const QByteArray before = fileText(file_);
    const pid_t child = ::fork();
    if (child == 0) {
        rlimit limit{};
        ::getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = static_cast<rlim_t>(before.size());
        ::signal(SIGXFSZ, SIG_IGN);
        const bool limited = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
        ::_exit(limited && WriteStringValue(HKEY_CURRENT_USER, kKey, "Quality", QString(4096, 'n')) == ERROR_WRITE_FAULT ? 0 : 1);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 0, "the save did not report the refused write");
    QCOMPARE(fileText(file_), before);
    QCOMPARE(QDir(QFileInfo(file_).path()).entryList(QDir::Files), (QStringList{"registry.reg", "registry.reg.lock"}));
}

// Two programs closing at once: every save of each lands (the lock makes a
// read, change and write one step), and the file is never a mix or broken.
void RegistryTest::twoProcessesSavingAtOnceLoseNothing() {
    QCOMPARE(WriteStringValue(HKEY_CURRENT_USER, kKey, "Quality", "none"), ERROR_SUCCESS);
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        if ((children[c] = ::fork()) != 0) continue;
        const QString me = c ? "B" : "A";
        bool ok = true;
        for (int i = 0; i < 40; ++i) {
            ok = ok && WriteDWordValue(HKEY_CURRENT_USER, kKey, me + QString::number(i), i) == ERROR_SUCCESS;
            ok = ok && WriteStringValue(HKEY_CURRENT_USER, kKey, "Quality", me) == ERROR_SUCCESS;
        }
        ::_exit(ok ? 0 : 1);
    }
    for (pid_t child : children) {
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    Hive hive;
    QVERIFY(registry_file::parse(fileText(file_).toStdString(), hive));
    for (const QString me : {"A", "B"})
        for (int i = 0; i < 40; ++i) QCOMPARE(ReadValue(HKEY_CURRENT_USER, kKey, me + QString::number(i), -1), QVariant(i));
    const QVariant last = ReadValue(HKEY_CURRENT_USER, kKey, "Quality", "gone");
    QVERIFY2(last == QVariant("A") || last == QVariant("B"), qPrintable(last.toString()));
}

QTEST_APPLESS_MAIN(RegistryTest)
#include "tst_registry.moc"
