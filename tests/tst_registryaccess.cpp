#include "TestPrefix.h"

#include "base/KestrinError.h"
#include "hive/HiveFile.h"
#include "inventory/RegistryAccess.h"

#include <QTest>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString uninstall = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"_s;

QString errorOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const KestrinError& e) {
        return e.message();
    }
    return QString();
}

} // namespace

class TestRegistryAccess : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void opensKeysAsTheCallersRelyOn();
    void enumeratesInRegistryOrder();
    void tellsTypesAndSizes_data();
    void tellsTypesAndSizes();
    void reportsReadFailures_data();
    void reportsReadFailures();
    void writesAndDeletes();
    void deletesKeysWithSubkeys();
    void otherRootsDoNotOpen();
    void needsRightsToTheFiles();

private:
    std::unique_ptr<TestPrefix> m_prefix;
    std::unique_ptr<RegistryAccess> m_reg;
};

void TestRegistryAccess::init()
{
    m_prefix = std::make_unique<TestPrefix>();
    QVERIFY(m_prefix->copyFixtureHives());
    m_reg = std::make_unique<RegistryAccess>(WinePrefix(m_prefix->path()));
    m_reg->RootKey(RegistryRoot::LocalMachine);
}

void TestRegistryAccess::opensKeysAsTheCallersRelyOn()
{
    RegistryAccess& reg = *m_reg;
    QVERIFY(reg.OpenKey(uninstall, false));
    QVERIFY(!reg.OpenKey(u"Missing"_s, false)); // relative to the open key; nothing changes on false
    QCOMPARE(reg.CurrentPath(), uninstall);
    QVERIFY(reg.KeyExists(u"Baer"_s));
    QVERIFY(reg.KeyExists(u"\\Software\\Microsoft"_s)); // a leading "\" starts at the root
    QCOMPARE(reg.CurrentPath(), uninstall);
    QVERIFY(reg.OpenKey(u"Baer"_s, false));
    QCOMPARE(reg.CurrentPath(), uninstall + u"\\Baer"_s);
    QCOMPARE(reg.ReadString(u"DisplayName"_s).left(4), u"B\u00e4r "_s);

    reg.CloseKey();
    QVERIFY(!reg.KeyExists(u"Software\\New\\Deep"_s));
    QVERIFY(reg.OpenKey(u"Software\\New\\Deep"_s, true));
    QVERIFY(reg.KeyExists(u"\\Software\\New\\Deep"_s));
    QVERIFY(reg.CreateKey(u"More\\Levels"_s));
    QVERIFY(reg.KeyExists(u"\\Software\\New\\Deep\\More\\Levels"_s));
    QVERIFY(reg.OpenKeyReadOnly(u"\\"_s + uninstall + u"\\FooTool_is1"_s));

    // Changing the root closes the key.
    reg.RootKey(RegistryRoot::CurrentUser);
    QVERIFY(!reg.hasCurrentKey());
}

void TestRegistryAccess::enumeratesInRegistryOrder()
{
    QStringList names{u"stale"_s};
    QVERIFY(m_reg->OpenKeyReadOnly(uninstall + u"\\Types"_s));
    m_reg->GetValueNames(names);
    QCOMPARE(names.first(), QString()); // the default value comes first
    QVERIFY(names.indexOf(u"DisplayName"_s) < names.indexOf(u"UninstallString"_s));
    QVERIFY(m_reg->OpenKeyReadOnly(u"\\"_s + uninstall));
    m_reg->GetKeyNames(names);
    QCOMPARE(names.size(), 11);
    QCOMPARE(names.first(), u"Baer"_s);
    QCOMPARE(names.indexOf(u"lowercase"_s) + 1, names.indexOf(u"NoCommand"_s));

    // A missing key reads as an empty list.
    m_reg->CloseKey();
    QVERIFY(!m_reg->OpenKey(u"Software\\Nothing"_s, false));
    m_reg->GetKeyNames(names);
    QVERIFY(names.isEmpty());
}

void TestRegistryAccess::tellsTypesAndSizes_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<RegDataType>("type");
    QTest::addColumn<int>("size");
    QTest::newRow("string") << u"DisplayName"_s << RegDataType::String << 32;
    QTest::newRow("integer") << u"EstimatedSize"_s << RegDataType::Integer << 4;
    QTest::newRow("binary") << u"Blob"_s << RegDataType::Binary << 40;
    QTest::newRow("multi-string is other") << u"Multi"_s << RegDataType::Other << 30;
    QTest::newRow("qword is other") << u"Qw"_s << RegDataType::Other << 8;
    QTest::newRow("missing") << u"NotThere"_s << RegDataType::Other << -1;
}

void TestRegistryAccess::tellsTypesAndSizes()
{
    QFETCH(QString, name);
    QFETCH(RegDataType, type);
    QFETCH(int, size);
    RegistryAccess& reg = *m_reg;
    QVERIFY(reg.OpenKey(uninstall + u"\\Types"_s, false));
    // Written here so that the rows do not depend on the fixture's exact values.
    reg.writeValue(u"Blob"_s, RegistryValue::fromBinary(QByteArray(40, '\x7f')));
    reg.writeValue(u"Multi"_s, RegistryValue::fromMultiString({u"one"_s, u"two"_s, u"three"_s}));
    reg.writeValue(u"Qw"_s, RegistryValue::fromQword(1));
    reg.WriteString(u"DisplayName"_s, u"Fifteen letters"_s);
    reg.WriteInteger(u"EstimatedSize"_s, -5);
    QCOMPARE(reg.GetDataType(name), type);
    QCOMPARE(reg.GetDataSize(name), size);
    QCOMPARE(reg.ValueExists(name), size >= 0);
}

void TestRegistryAccess::reportsReadFailures_data()
{
    QTest::addColumn<QString>("read");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("error");
    QTest::newRow("string of an integer") << u"string"_s << u"Dw"_s << u"Invalid data type for 'Dw'"_s;
    QTest::newRow("integer of a string") << u"integer"_s << u"S"_s << u"Invalid data type for 'S'"_s;
    QTest::newRow("missing integer") << u"integer"_s << u"Gone"_s << u"Failed to get data for 'Gone'"_s;
    QTest::newRow("binary of a string") << u"binary"_s << u"S"_s << u"Invalid data type for 'S'"_s;
    QTest::newRow("binary too large") << u"binary"_s << u"Big"_s << u"Failed to get data for 'Big'"_s;
    QTest::newRow("missing string is empty") << u"string"_s << u"Gone"_s << QString();
}

void TestRegistryAccess::reportsReadFailures()
{
    QFETCH(QString, read);
    QFETCH(QString, name);
    QFETCH(QString, error);
    RegistryAccess& reg = *m_reg;
    QVERIFY(reg.OpenKey(u"Software\\Kestrin Test"_s, true));
    reg.WriteInteger(u"Dw"_s, 7);
    reg.WriteString(u"S"_s, u"text"_s);
    reg.writeValue(u"Big"_s, RegistryValue::fromBinary(QByteArray(600, 'x')));
    char buffer[552];
    const QString message = errorOf([&] {
        if (read == u"string"_s)
            QVERIFY(reg.ReadString(name).isEmpty());
        else if (read == u"integer"_s)
            reg.ReadInteger(name);
        else
            reg.ReadBinaryData(name, buffer, sizeof buffer);
    });
    QCOMPARE(message, error);
}

void TestRegistryAccess::writesAndDeletes()
{
    RegistryAccess& reg = *m_reg;
    QVERIFY(reg.OpenKey(uninstall + u"\\{6B2A1C44-0F5E-4C59-9D1E-1B2C3D4E5F60}"_s, false));
    QCOMPARE(reg.GetDataType(u"UninstallString"_s), RegDataType::ExpandString);
    QCOMPARE(reg.ReadString(u"UninstallString"_s), u"MsiExec.exe /X{6B2A1C44-0F5E-4C59-9D1E-1B2C3D4E5F60}"_s);
    reg.WriteString(u"UninstallString"_s, u"%SystemRoot%\\x.exe"_s);
    QCOMPARE(reg.GetDataType(u"UninstallString"_s), RegDataType::String);
    reg.WriteInteger(u"Count"_s, -2);
    QCOMPARE(reg.ReadInteger(u"Count"_s), -2);
    QVERIFY(reg.DeleteValue(u"Count"_s));
    QVERIFY(!reg.DeleteValue(u"Count"_s));

    // A second registry object on the same prefix sees the change at once, as does the file.
    RegistryAccess other{WinePrefix(m_prefix->path())};
    other.RootKey(RegistryRoot::LocalMachine);
    QVERIFY(other.OpenKeyReadOnly(reg.CurrentPath()));
    QCOMPARE(other.ReadString(u"UninstallString"_s), u"%SystemRoot%\\x.exe"_s);
    QVERIFY(m_prefix->read(u"system.reg"_s).contains("\"UninstallString\"=\"%SystemRoot%\\\\x.exe\"\n"));

    // A key opened for reading takes no writes.
    QCOMPARE(errorOf([&] { other.WriteString(u"X"_s, u"y"_s); }), u"Failed to set data for 'X'"_s);
    other.CloseKey();
    QCOMPARE(errorOf([&] { other.WriteInteger(u"X"_s, 1); }), u"Failed to set data for 'X'"_s);

    // Closing a key lets its values go only when they hold nothing unsaved.
    {
        HiveFile::WriteBatch batch;
        reg.WriteString(u"Comments"_s, u"unsaved"_s);
        QVERIFY(other.OpenKeyReadOnly(reg.CurrentPath()));
        QCOMPARE(other.ReadString(u"Comments"_s), u"unsaved"_s);
        other.CloseKey();
        QCOMPARE(reg.ReadString(u"Comments"_s), u"unsaved"_s);
        batch.commit();
    }
    reg.CloseKey();
    QVERIFY(other.OpenKeyReadOnly(uninstall + u"\\{6B2A1C44-0F5E-4C59-9D1E-1B2C3D4E5F60}"_s));
    QCOMPARE(other.ReadString(u"Comments"_s), u"unsaved"_s);
    QCOMPARE(other.ReadString(u"UninstallString"_s), u"%SystemRoot%\\x.exe"_s);
    QVERIFY(m_prefix->read(u"system.reg"_s).contains("\"Comments\"=\"unsaved\"\n"));
}

void TestRegistryAccess::deletesKeysWithSubkeys()
{
    RegistryAccess& reg = *m_reg;
    QVERIFY(reg.KeyExists(uninstall + u"\\Twin2\\Components\\Core"_s));
    QVERIFY(reg.DeleteKey(uninstall + u"\\Twin2"_s));
    QVERIFY(!reg.KeyExists(uninstall + u"\\Twin2"_s));
    QVERIFY(!reg.KeyExists(uninstall + u"\\Twin2\\Components"_s));
    QVERIFY(reg.KeyExists(uninstall + u"\\Twin1"_s));
    QVERIFY(!m_prefix->read(u"system.reg"_s).contains("Uninstall\\\\Twin2"));
    QVERIFY(reg.DeleteKey(uninstall + u"\\Twin2"_s)); // already gone
}

void TestRegistryAccess::otherRootsDoNotOpen()
{
    RegistryAccess& reg = *m_reg;
    reg.RootKey(RegistryRoot::ClassesRoot);
    QVERIFY(!reg.OpenKeyReadOnly(u"Software"_s));
    QVERIFY(!reg.OpenKey(u"Software"_s, true));
    QVERIFY(!reg.CreateKey(u"X"_s));
    QVERIFY(!reg.KeyExists(u"Software"_s));
    reg.RootKey(RegistryRoot::CurrentUser);
    QVERIFY(reg.OpenKey(u"Software\\Varnholt\\Kestrin\\Desktop"_s, true));
    reg.WriteString(u"Width"_s, u"740"_s);
    QVERIFY(m_prefix->read(u"user.reg"_s).contains("[Software\\\\Varnholt\\\\Kestrin\\\\Desktop] "));
}

void TestRegistryAccess::needsRightsToTheFiles()
{
    if (::geteuid() == 0)
        QSKIP("file permissions do not bind root");
    QFile::setPermissions(m_prefix->file(u"system.reg"_s), QFile::ReadOwner);
    RegistryAccess& reg = *m_reg;
    QVERIFY(!reg.OpenKey(uninstall, false));
    QVERIFY(reg.OpenKeyReadOnly(uninstall));
    QVERIFY(!reg.CreateKey(u"Software\\X"_s));
    QFile::setPermissions(m_prefix->file(u"system.reg"_s), QFile::WriteOwner);
    QVERIFY(!reg.OpenKeyReadOnly(uninstall)); // an unreadable hive: an empty list, not an error
}

QTEST_GUILESS_MAIN(TestRegistryAccess)
#include "tst_registryaccess.moc"
