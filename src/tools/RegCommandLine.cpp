#include "tools/RegCommandLine.h"

#include "tools/RegDataFormat.h"

#include "base/KestrinError.h"

namespace RegCommandLine {

namespace {

using Operation = RegCommand::Operation;

bool isHelp(const QString& arg)
{
    return arg == u"/?" || arg == u"-?" || arg == u"--help" || arg == u"-h";
}

bool isOption(const QString& arg)
{
    return arg.size() >= 2 && (arg.front() == u'/' || arg.front() == u'-');
}

bool isKnownOption(const QString& arg)
{
    static const QStringList known{QStringLiteral("v"), QStringLiteral("ve"), QStringLiteral("t"), QStringLiteral("d"),
                                   QStringLiteral("f")};
    return isOption(arg) && known.contains(arg.mid(1).toLower());
}

void parseKey(const QString& text, RegCommand& command)
{
    const qsizetype slash = text.indexOf(u'\\');
    const QString rootText = text.left(slash < 0 ? text.size() : slash).toUpper();
    if (rootText == u"HKLM" || rootText == u"HKEY_LOCAL_MACHINE") {
        command.root = RegistryRoot::LocalMachine;
        command.keyName = QStringLiteral("HKEY_LOCAL_MACHINE");
    } else if (rootText == u"HKCU" || rootText == u"HKEY_CURRENT_USER") {
        command.root = RegistryRoot::CurrentUser;
        command.keyName = QStringLiteral("HKEY_CURRENT_USER");
    } else if (rootText == u"HKCR" || rootText == u"HKEY_CLASSES_ROOT" || rootText == u"HKU" ||
               rootText == u"HKEY_USERS" || rootText == u"HKCC" || rootText == u"HKEY_CURRENT_CONFIG") {
        throw KestrinError(QStringLiteral("%1 is not available: kestrin-reg reaches only HKEY_LOCAL_MACHINE "
                                          "(system.reg) and HKEY_CURRENT_USER (user.reg) of the prefix.")
                               .arg(text.left(slash < 0 ? text.size() : slash)));
    } else {
        throw KestrinError(QStringLiteral("Invalid key name \"%1\": it must begin with HKLM\\ or HKCU\\.").arg(text));
    }

    QString path = slash < 0 ? QString() : text.mid(slash + 1);
    while (path.endsWith(u'\\'))
        path.chop(1);
    if (path.isEmpty())
        return;
    const QStringList names = path.split(u'\\');
    for (const QString& name : names) {
        // The registry layer skips empty components; a doubled backslash is more likely a quoting
        // mistake than a wish to address the parent key.
        if (name.isEmpty())
            throw KestrinError(QStringLiteral("Invalid key name \"%1\": it has an empty component.").arg(text));
    }
    command.keyPath = path;
    command.keyName += u'\\' + path;
}

Operation operationFromName(const QString& name)
{
    const QString lower = name.toLower();
    if (lower == u"query")
        return Operation::Query;
    if (lower == u"add")
        return Operation::Add;
    if (lower == u"delete")
        return Operation::Delete;
    throw KestrinError(QStringLiteral("Unknown operation \"%1\": use query, add, delete or trash.").arg(name));
}

// "trash list", "trash restore ID [/f]", "trash purge ID|/all".
RegCommand parseTrash(const QStringList& arguments)
{
    RegCommand command;
    const QString what = arguments.value(1).toLower();
    const QStringList rest = arguments.mid(2);
    if (what == u"list") {
        command.operation = Operation::TrashList;
        if (!rest.isEmpty())
            throw KestrinError(QStringLiteral("Unexpected argument \"%1\".").arg(rest.front()));
        return command;
    }
    if (what == u"restore" || what == u"purge") {
        command.operation = what == u"restore" ? Operation::TrashRestore : Operation::TrashPurge;
        for (const QString& arg : rest) {
            const QString option = isOption(arg) ? arg.mid(1).toLower() : QString();
            if (option == u"f" && command.operation == Operation::TrashRestore && !command.force)
                command.force = true;
            else if (option == u"all" && command.operation == Operation::TrashPurge && !command.allRecords)
                command.allRecords = true;
            else if (option.isEmpty() && command.recordId.isEmpty())
                command.recordId = arg;
            else
                throw KestrinError(QStringLiteral("Unexpected argument \"%1\".").arg(arg));
        }
        if (command.recordId.isEmpty() == !command.allRecords)
            throw KestrinError(command.allRecords ? QStringLiteral("Give either a record's id or /all, not both.")
                                                  : QStringLiteral("trash %1 needs a record's id.").arg(what));
        return command;
    }
    throw KestrinError(
        QStringLiteral("Unknown trash operation \"%1\": use list, restore or purge.").arg(arguments.value(1)));
}

} // namespace

RegCommand parse(const QStringList& arguments)
{
    RegCommand command;
    if (arguments.isEmpty())
        throw KestrinError(QStringLiteral("No operation given."));
    // Help only where an option may stand: "/d -h" is data.
    if (isHelp(arguments.front()) || (arguments.size() >= 2 && isHelp(arguments.at(1))))
        return command;
    if (arguments.front().toLower() == u"trash")
        return parseTrash(arguments);
    command.operation = operationFromName(arguments.front());
    const QString operationName = arguments.front().toLower();
    if (arguments.size() < 2 || isOption(arguments.at(1)))
        throw KestrinError(QStringLiteral("%1 needs a key.").arg(operationName));
    parseKey(arguments.at(1), command);

    QStringList seen;
    bool typeGiven = false;
    for (qsizetype i = 2; i < arguments.size(); ++i) {
        const QString& arg = arguments.at(i);
        if (isHelp(arg))
            return RegCommand();
        if (!isOption(arg))
            throw KestrinError(QStringLiteral("Unexpected argument \"%1\".").arg(arg));
        const QString option = arg.mid(1).toLower();
        if (seen.contains(option))
            throw KestrinError(QStringLiteral("The option %1 is given twice.").arg(arg));
        seen << option;
        const auto optionValue = [&]() -> QString {
            // "/v /f" is a forgotten name rather than a value called "/f". Data may look like an option.
            if (i + 1 >= arguments.size() || (option != u"d" && isKnownOption(arguments.at(i + 1))))
                throw KestrinError(QStringLiteral("The option %1 needs a value.").arg(arg));
            return arguments.at(++i);
        };
        const bool forAdd = command.operation == Operation::Add;
        const bool forDelete = command.operation == Operation::Delete;

        if (option == u"v") {
            command.valueName = optionValue();
        } else if (option == u"ve") {
            command.valueName = QString();
        } else if (option == u"t" && forAdd) {
            const QString name = optionValue();
            const auto type = RegDataFormat::typeFromName(name);
            if (!type) {
                throw KestrinError(QStringLiteral("Unknown type \"%1\": use REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, "
                                                  "REG_DWORD, REG_QWORD, REG_BINARY or REG_NONE.")
                                       .arg(name));
            }
            command.type = *type;
            typeGiven = true;
        } else if (option == u"d" && forAdd) {
            command.data = optionValue();
        } else if (option == u"f" && (forAdd || forDelete)) {
            command.force = true;
        } else {
            throw KestrinError(QStringLiteral("%1 does not take the option %2.").arg(operationName, arg));
        }
    }

    if (seen.contains(QStringLiteral("v")) && seen.contains(QStringLiteral("ve")))
        throw KestrinError(QStringLiteral("Give either /v or /ve, not both."));
    // As in Wine's reg, data or a type without a value name is meant for the default value.
    if (!command.valueName && (command.data || typeGiven))
        command.valueName = QString();
    if (command.operation != Operation::Query && command.keyPath.isEmpty())
        throw KestrinError(QStringLiteral("%1 needs a key below %2.").arg(operationName, command.keyName));
    return command;
}

QString usage()
{
    return QStringLiteral(
        "Usage: kestrin-reg query KEY [/v NAME | /ve]\n"
        "       kestrin-reg add KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f]\n"
        "       kestrin-reg delete KEY [/v NAME | /ve] [/f]\n"
        "       kestrin-reg trash list | trash restore ID [/f] | trash purge ID|/all\n"
        "       kestrin-reg /?\n"
        "\n"
        "Reads and changes the registry of the Wine prefix $WINEPREFIX (else ~/.wine) without starting Wine;\n"
        "while Wine runs there, through Wine itself.\n"
        "\n"
        "  KEY      HKLM\\path or HKCU\\path (also HKEY_LOCAL_MACHINE\\path, HKEY_CURRENT_USER\\path)\n"
        "  /v NAME  the value NAME\n"
        "  /ve      the default value, shown as (Default)\n"
        "  /t TYPE  REG_SZ (the default), REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD, REG_BINARY\n"
        "           or REG_NONE\n"
        "  /d DATA  the data: REG_MULTI_SZ items separated by \\0, REG_DWORD and REG_QWORD in decimal or\n"
        "           0x hex, REG_BINARY and REG_NONE as pairs of hex digits\n"
        "  /f       overwrite or delete without asking\n"
        "\n"
        "add without /v or /ve creates the key only. delete without /v or /ve deletes the key with all\n"
        "its subkeys. Without /f, add overwrites no existing value and delete deletes nothing, unless\n"
        "the question asked on a terminal is answered Yes. While Wine runs in the prefix, writes go\n"
        "through it; they are refused only when that Wine cannot be reached (a server started under\n"
        "another TMPDIR).\n"
        "\n"
        "Every uninstall entry that is deleted or changed is first copied to the entry trash in\n"
        "$XDG_DATA_HOME/kestrin/trash/ (default ~/.local/share/kestrin/trash/). trash list shows its\n"
        "records, newest first; trash restore writes a record's entry back, replacing an entry of that\n"
        "key only with /f or a Yes on a terminal; trash purge removes a record, or all of the prefix's\n"
        "with /all. Records are never removed otherwise. Each has a .reg file that\n"
        "\"wine reg import FILE /reg:64\" imports (/reg:64: where 32-bit Wine is installed, plain\n"
        "\"wine regedit\" is the 32-bit program and would import into Wow6432Node).\n"
        "\n"
        "Exit status: 0 on success, 1 when a key or value is missing or the operation fails or is\n"
        "refused, 2 for wrong arguments.\n");
}

} // namespace RegCommandLine
