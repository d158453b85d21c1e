#pragma once

// The registry layout and the texts that more than one window shows. Everything here is fixed at
// build time; the variables are inline so that every translation unit sees them initialised
// before its own statics, whatever the link order.

#include <QString>

#include <array>

// Key paths under HKEY_LOCAL_MACHINE. An entry's key is sUninstallKey + "\" + its subkey name; its
// usage record lives under sARPCacheKey + "\" + a subkey of the same name.
inline const QString sUninstallKey = QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall");
inline const QString sARPCacheKey =
    QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\App Management\\ARPCache");

// Value names the logic uses as literals of its own rather than through the catalogue.
namespace ValueName {
inline const QString DisplayName = QStringLiteral("DisplayName");
inline const QString UninstallString = QStringLiteral("UninstallString");
inline const QString DisplayIcon = QStringLiteral("DisplayIcon");
inline const QString SlowInfoCache = QStringLiteral("SlowInfoCache");
inline const QString EstimatedSize = QStringLiteral("EstimatedSize"); // kilobytes, as installers write it
inline const QString InstallLocation = QStringLiteral("InstallLocation");
inline const QString Publisher = QStringLiteral("Publisher");
} // namespace ValueName

// One row of the details page: the caption shown and the registry value it comes from.
struct CatalogueField
{
    QString label;
    QString valueName;
};

// The details page lists the fields in exactly this order and addresses them by position.
namespace FieldCatalogue {
inline const std::array<CatalogueField, 9> SupportFields{{
    {QStringLiteral("Publisher:"), QStringLiteral("Publisher")},
    {QStringLiteral("Version:"), QStringLiteral("DisplayVersion")},
    {QStringLiteral("Contact:"), QStringLiteral("Contact")},
    {QStringLiteral("Contact Phone:"), QStringLiteral("HelpTelephone")},
    {QStringLiteral("About:"), QStringLiteral("URLInfoAbout")},
    {QStringLiteral("Support Information:"), QStringLiteral("HelpLink")},
    {QStringLiteral("Readme:"), QStringLiteral("Readme")},
    {QStringLiteral("Product Updates:"), QStringLiteral("URLUpdateInfo")},
    {QStringLiteral("Comments:"), QStringLiteral("Comments")},
}};

inline const std::array<CatalogueField, 8> SetupFields{{
    {QStringLiteral("Uninstall Command:"), QStringLiteral("UninstallString")},
    {QStringLiteral("Modify Command:"), QStringLiteral("ModifyPath")},
    {QStringLiteral("Display Icon:"), QStringLiteral("DisplayIcon")},
    {QStringLiteral("Language:"), QStringLiteral("Language")},
    {QStringLiteral("Source:"), QStringLiteral("InstallSource")},
    {QStringLiteral("Location:"), QStringLiteral("InstallLocation")},
    {QStringLiteral("Install Program:"), QStringLiteral("WindowsInstaller")},
    {QStringLiteral("Install Date:"), QStringLiteral("InstallDate")},
}};

// SetupFields before this position are listed in order; the last two are looked up on their own.
inline constexpr std::size_t ListedSetupFieldCount = 6;
inline constexpr std::size_t SetupInstallProgram = 6;
inline constexpr std::size_t SetupInstallDate = 7;
} // namespace FieldCatalogue

// The maker's notice, also shown by the About window.
inline const QString sCopyrightNotice = QStringLiteral("Copyright (C) 2026 Varnholt Software");
inline const QString sMakerWebAddress = QStringLiteral("https://kestrin.example.org");

// Shared messages. A prefix and its suffix enclose the entry's display name. Blanks at either end
// are part of the text.
inline const QString sCanUninstallPrefix = QStringLiteral("The selected program (");
inline const QString sCanUninstallSuffix =
    QStringLiteral(") can be uninstalled from your computer by clicking the Uninstall button above.");
inline const QString sMissingUninstallerPrefix = QStringLiteral("It seems that the uninstall program for ");
inline const QString sMissingUninstallerSuffix =
    QStringLiteral(" (or one of its components) is missing. It is possible that you have already removed this "
                   "program from your computer. To check if the program is really gone, please try to uninstall it "
                   "by clicking the Uninstall button above.");
inline const QString sSelectProgram = QStringLiteral("Please select a program you wish to uninstall");
inline const QString sAboutToUninstall =
    QStringLiteral("You are about to uninstall or modify the installed components of the following program");
inline const QString sUninstallButtonHint = QStringLiteral("Click this button to run the vendor's Uninstall program");
inline const QString sConfirmDeleteSuffix = QStringLiteral("\" from the list of programs installed on your computer ?");
inline const QString sConfirmDeletePrefix = QStringLiteral("Are you sure you want to delete \"");
inline const QString sUninstallDoneRemoved =
    QStringLiteral("The Uninstall program has completed and the program name was removed from the list of programs "
                   "installed on your computer");
inline const QString sUninstallDoneNotRemoved =
    QStringLiteral("The Uninstall program has completed. However, it did not remove the program name from the list "
                   "of programs installed on your computer");
inline const QString sDeleteButtonHint = QStringLiteral("Click this button to delete the program from the list ");
inline const QString sEntryExists = QStringLiteral("Registry entry already exists !");
inline const QString sCannotCreateEntry = QStringLiteral("We cannot create the specified registry entry !");
inline const QString sFillAllFields = QStringLiteral("Please fill in all fields !");
inline const QString sLogHeader = QStringLiteral(
    "Kestrin Uninstall Log \r\nContains information about programs you have uninstalled from your computer");
inline const QString sLogUninstallOK = QStringLiteral("Uninstall OK. Uninstaller removed program from list.");
inline const QString sLogUninstallFailed =
    QStringLiteral("Uninstaller did not complete the uninstall process or did not remove program from list.");
inline const QString sLogDeletedOK = QStringLiteral("Deleted OK.");
inline const QString sLogDeleteFailed = QStringLiteral("Failed to delete entry.");
inline const QString sAuditTitle = QStringLiteral(" Software Audit Report for: ");
inline const QString sAuditGenerated = QStringLiteral(" Generated on ");
inline const QString sAuditProducer =
    QStringLiteral(" By Kestrin\r\n") + QLatin1Char(' ') + sCopyrightNotice + QStringLiteral(" - ") + sMakerWebAddress;
inline const QString sAuditMissingUninstaller =
    QStringLiteral("It seems that the uninstall program for this product (or one of its components) is missing. It "
                   "is possible that you have already removed this program from your computer.");
inline const QString sAuditComputerName = QStringLiteral(" Computer Name: ");
inline const QString sAuditUserName = QStringLiteral(" User Name: ");

// Captions of the details page whose values are computed rather than read from one registry value.
inline const QString sLabelProgramName = QStringLiteral("Program Name:");
inline const QString sLabelSize = QStringLiteral("Size:");
inline const QString sLabelUsed = QStringLiteral("Used:");
inline const QString sLabelLastUsed = QStringLiteral("Last Used:");

// True from start-up; the audit print clears it when printing fails, so that a command-line print
// run leaves the main window open instead of quitting. It never goes back to true.
inline bool QuitAfterReport = true;
