#include "inventory/Texts.h"

#include <QTest>

class TestTexts : public QObject
{
    Q_OBJECT

private slots:
    // The blanks and line ends that concatenating callers rely on.
    void exactTexts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("uninstall key") << sUninstallKey
                                       << QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall");
        QTest::newRow("cache key") << sARPCacheKey
                                   << QStringLiteral(
                                          "Software\\Microsoft\\Windows\\CurrentVersion\\App Management\\ARPCache");
        QTest::newRow("confirm prefix") << sConfirmDeletePrefix << QStringLiteral("Are you sure you want to delete \"");
        QTest::newRow("confirm suffix") << sConfirmDeleteSuffix
                                        << QStringLiteral("\" from the list of programs installed on your computer ?");
        QTest::newRow("delete hint") << sDeleteButtonHint
                                     << QStringLiteral("Click this button to delete the program from the list ");
        QTest::newRow("log header") << sLogHeader
                                    << QStringLiteral("Kestrin Uninstall Log \r\nContains information about programs "
                                                      "you have uninstalled from your computer");
        QTest::newRow("missing prefix") << sMissingUninstallerPrefix
                                        << QStringLiteral("It seems that the uninstall program for ");
        QTest::newRow("audit title") << sAuditTitle << QStringLiteral(" Software Audit Report for: ");
        QTest::newRow("audit generated") << sAuditGenerated << QStringLiteral(" Generated on ");
        QTest::newRow("computer name") << sAuditComputerName << QStringLiteral(" Computer Name: ");
        QTest::newRow("user name") << sAuditUserName << QStringLiteral(" User Name: ");
    }
    void exactTexts()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(text, expected);
    }

    void auditProducerIsTwoLines()
    {
        const QStringList lines = sAuditProducer.split(QStringLiteral("\r\n"));
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines.at(0), QStringLiteral(" By Kestrin"));
        QVERIFY(lines.at(1).startsWith(QLatin1Char(' ')));
        QVERIFY(lines.at(1).contains(QStringLiteral("Copyright")));
        QVERIFY(lines.at(1).contains(QStringLiteral("https://")));
        QVERIFY(!lines.at(1).contains(QLatin1Char('\n')) && !lines.at(1).contains(QLatin1Char('\r')));
    }

    // The details page addresses the fields by position.
    void catalogueOrder()
    {
        QStringList support, setup;
        for (const CatalogueField& field : FieldCatalogue::SupportFields)
            support << field.label + QLatin1Char('=') + field.valueName;
        for (const CatalogueField& field : FieldCatalogue::SetupFields)
            setup << field.label + QLatin1Char('=') + field.valueName;
        QCOMPARE(support.join(QLatin1Char('|')),
                 QStringLiteral("Publisher:=Publisher|Version:=DisplayVersion|Contact:=Contact|Contact "
                                "Phone:=HelpTelephone|About:=URLInfoAbout|Support Information:=HelpLink|"
                                "Readme:=Readme|Product Updates:=URLUpdateInfo|Comments:=Comments"));
        QCOMPARE(setup.join(QLatin1Char('|')),
                 QStringLiteral("Uninstall Command:=UninstallString|Modify Command:=ModifyPath|Display "
                                "Icon:=DisplayIcon|Language:=Language|Source:=InstallSource|Location:=InstallLocation|"
                                "Install Program:=WindowsInstaller|Install Date:=InstallDate"));
        QCOMPARE(FieldCatalogue::SetupFields[FieldCatalogue::SetupInstallProgram].valueName,
                 QStringLiteral("WindowsInstaller"));
        QCOMPARE(FieldCatalogue::SetupFields[FieldCatalogue::SetupInstallDate].valueName,
                 QStringLiteral("InstallDate"));
    }

    void quitAfterReportStartsTrue() { QVERIFY(QuitAfterReport); }
};

QTEST_GUILESS_MAIN(TestTexts)
#include "tst_texts.moc"
