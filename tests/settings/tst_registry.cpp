// The settings store and the registry file under it: values come back as
// they were written, missing ones give the default, and the file is never
// lost or left half-written.
#include "Registry.h"
#include "hive_file.h"
#include "registry.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
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
    void writesCreateTheWholePath();
    void textsComeBackAsWritten();
    void integersComeBackAsWritten();
    void otherTypesReadAsTheDefault();
    void everyTypeRoundTripsByteForByte();
    void sizeQueriesAndHandles();
    void theFileIsTheRegistryEditorsFormat();
    void filesReadAsTheirValuesOrAreSetAside_data();
    void filesReadAsTheirValuesOrAreSetAside();
    void anUnusableLocationFailsCleanly();
    void aKilledSaveLeavesOldOrNewNeverBroken();

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
    QCOMPARE(ReadValue(HKEY_CURRENT_USER, kKey, "MainLeft", "0"), QVariant("0"));
    QCOMPARE(ReadValue(HKEY_CURRENT_USER, kKey + "\\Deeper", "Quality", "75"), QVariant("75"));
    HKEY key = nullptr;
    QCOMPARE(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Nobody", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    QVERIFY(!fileText(file_).contains("Nobody"));
}

void RegistryTest::writesCreateTheWholePath() {
    QCOMPARE(WriteDWordValue(HKEY_CURRENT_USER, kKey, "MainTop", 120), ERROR_SUCCESS);
    for (const char* path : {"Software", "Software\\Corvane", "software\\corvane\\PELLICOR", "Software\\Corvane\\Pellicor\\Main"}) {
        HKEY key = nullptr;
        QCOMPARE(RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key), ERROR_SUCCESS);
        QCOMPARE(RegCloseKey(key), ERROR_SUCCESS);
    }
    QCOMPARE(ReadValue(HKEY_CURRENT_USER, kKey, "maintop", "0"), QVariant(120));  // names ignore case
}

void RegistryTest::textsComeBackAsWritten() {
    const QStringList texts = {"", "  two blanks before and after  ", "C:\\with \"quotes\" and \\ back", "Blåbær på Ön — 山",
                               "line\nbreak"};
    for (const QString& text : texts) {
        QCOMPARE(WriteStringValue(HKEY_CURRENT_USER, kKey, "Text", text), ERROR_SUCCESS);
        QCOMPARE(ReadValue(HKEY_CURRENT_USER, kKey, "Text", "default"), QVariant(text));
    }
    // A NUL inside the data ends the text.
    QCOMPARE(setRaw("Cut", REG_SZ, QByteArray("before\0after\0", 13)), ERROR_SUCCESS);
    QCOMPARE(ReadValue(HKEY_CURRENT_USER, kKey, "Cut", "default"), QVariant("before"));
    QCOMPARE(TrimAtNull(QString("abc") + QChar(0) + "def"), QStringLiteral("abc"));
    QCOMPARE(TrimAtNull(QString()), QString());
}

void RegistryTest::integersComeBackAsWritten() {
    for (qint32 value : {0, 1, -1, 2147483647, -2147483647 - 1, -4500}) {
        QCOMPARE(WriteDWordValue(HKEY_CURRENT_USER, kKey, "MainLeft", value), ERROR_SUCCESS);
        QCOMPARE(ReadValue(HKEY_CURRENT_USER, kKey, "MainLeft", "0"), QVariant(value));
    }
    WriteDWordValue(HKEY_CURRENT_USER, kKey, "MainLeft", -1);
    DWORD type = 0;
    QCOMPARE(queryRaw("MainLeft", &type), QByteArray("\xff\xff\xff\xff", 4));
    QCOMPARE(type, REG_DWORD);
    // A value rewritten with another type takes the new type.
    WriteStringValue(HKEY_CURRENT_USER, kKey, "MainLeft", "300");
    QCOMPARE(ReadValue(HKEY_CURRENT_USER, kKey, "MainLeft", "0"), QVariant("300"));
}

void RegistryTest::otherTypesReadAsTheDefault() {
    QCOMPARE(setRaw("Expand", REG_EXPAND_SZ, QByteArray("75", 3)), ERROR_SUCCESS);
    QCOMPARE(setRaw("Binary", REG_BINARY, QByteArray("\x4b\0\0\0", 4)), ERROR_SUCCESS);
    for (const char* name : {"Expand", "Binary"})
        QCOMPARE(ReadValue(HKEY_CURRENT_USER, kKey, name, "default"), QVariant("default"));
}

void RegistryTest::everyTypeRoundTripsByteForByte() {
    QByteArray all;
    for (int i = 0; i < 256; ++i) all.append(char(i));
    const QList<QPair<DWORD, QByteArray>> values = {
        {REG_SZ, QByteArray("\xff\xfe not UTF-8\0", 13)},
        {REG_SZ, QByteArray("no terminator")},
        {REG_SZ, QByteArray("two\0\0", 5)},
        {REG_EXPAND_SZ, QByteArray("%HOME%/x\0", 9)},
        {REG_BINARY, all},
        {REG_BINARY, QByteArray()},
        {REG_MULTI_SZ, QByteArray("a\0b\0\0", 5)},
        {REG_QWORD, QByteArray("\1\2\3\4\5\6\7\x08", 8)},
        {REG_DWORD, QByteArray("\1\2\3\4\5", 5)},
        {0x1234, QByteArray("odd type")},
    };
    int n = 0;
    for (const auto& [type, data] : values) {
        const QByteArray name = "Value" + QByteArray::number(n++);
        QCOMPARE(setRaw(name.constData(), type, data), ERROR_SUCCESS);
    }
    // A value that would make the file too big to read back is refused, and nothing is lost.
    QCOMPARE(setRaw("Huge", REG_BINARY, QByteArray(400000, 'x')), ERROR_OUTOFMEMORY);
    n = 0;
    for (const auto& [type, data] : values) {
        const QByteArray name = "Value" + QByteArray::number(n++);
        DWORD got = 0;
        QCOMPARE(queryRaw(name.constData(), &got), data);
        QCOMPARE(got, type);
    }
}

void RegistryTest::sizeQueriesAndHandles() {
    WriteStringValue(HKEY_CURRENT_USER, kKey, "Quality", "100");
    HKEY key = nullptr;
    QCOMPARE(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Corvane\\Pellicor\\Main", 0, KEY_QUERY_VALUE, &key), ERROR_SUCCESS);
    DWORD type = 0, size = 0;
    QCOMPARE(RegQueryValueExA(key, "Quality", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    QCOMPARE(size, DWORD(4));
    char small[2];
    DWORD room = sizeof small;
    QCOMPARE(RegQueryValueExA(key, "Quality", nullptr, nullptr, reinterpret_cast<LPBYTE>(small), &room), ERROR_MORE_DATA);
    QCOMPARE(room, DWORD(4));
    QCOMPARE(RegQueryValueExA(key, "Missing", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
    const BYTE one = 1;
    QCOMPARE(RegSetValueExA(key, "x", 0, REG_BINARY, &one, 1), ERROR_ACCESS_DENIED);  // opened for reading only
    QCOMPARE(RegCloseKey(key), ERROR_SUCCESS);
    QCOMPARE(RegCloseKey(key), ERROR_INVALID_HANDLE);
    QCOMPARE(RegQueryValueExA(key, "Quality", nullptr, &type, nullptr, &size), ERROR_INVALID_HANDLE);
}

void RegistryTest::theFileIsTheRegistryEditorsFormat() {
    WriteDWordValue(HKEY_CURRENT_USER, kKey, "MainWidth", 9000);
    WriteStringValue(HKEY_CURRENT_USER, kKey, "FilePath", "/home/ann/Pictures");
    const QByteArray text = fileText(file_);
    QVERIFY(text.startsWith("Windows Registry Editor Version 5.00\n"));
    QVERIFY(text.contains("[HKEY_CURRENT_USER\\Software\\Corvane\\Pellicor\\Main]\n"
                          "\"MainWidth\"=dword:00002328\n"
                          "\"FilePath\"=\"/home/ann/Pictures\"\n"));
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

QTEST_APPLESS_MAIN(RegistryTest)
#include "tst_registry.moc"
