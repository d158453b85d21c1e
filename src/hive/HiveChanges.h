#pragma once

#include "hive/RegistryValue.h"

#include <QString>
#include <QStringList>

#include <vector>

class HiveDocument;

// One step of a change to a hive, as a running Wine carries it out.
struct HiveChange
{
    enum class Kind
    {
        CreateKey,
        SetValue,
        DeleteValue,
        DeleteKey, // with all its subkeys
    };
    Kind kind = Kind::CreateKey;
    QStringList key;     // from the hive's root
    QString name;        // of the value; empty for the default value
    RegistryValue value; // SetValue

    friend bool operator==(const HiveChange&, const HiveChange&) = default;
};

// What the changes made to `changed` since its text was read come to, key by key, as steps that
// take the text's keys to the document's: keys created and values set first (a key before its
// subkeys), then values deleted, then keys deleted. A key deleted and made anew in between is
// compared as a whole, subkeys included. Walks the trees without recursion.
std::vector<HiveChange> changesOf(const HiveDocument& changed);
