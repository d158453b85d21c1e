#pragma once

#include "hive/RegistryValue.h"

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class HiveDocument;

struct HiveValue
{
    QString name; // empty for the default value
    RegistryValue value;
    bool modified = false; // changed since the file was read or last saved
};

// One key of a hive. Subkeys and values stay sorted in Wine's name order, which is also the
// order in which the registry enumerates them. A key's values are read from the file's text the
// first time something asks for them.
class HiveKey
{
public:
    HiveKey() = default;
    // Frees the subkeys level by level: a file can make keys deeper than the stack.
    ~HiveKey();
    HiveKey(const HiveKey&) = delete;
    HiveKey& operator=(const HiveKey&) = delete;

    const QString& name() const { return m_name; }
    HiveKey* parent() const { return m_parent; }
    const std::vector<std::unique_ptr<HiveKey>>& subkeys() const { return m_subkeys; }
    const std::vector<HiveValue>& values() const { return valueList(); }

    HiveKey* findSubkey(QStringView name) const;
    const HiveValue* findValue(QStringView name) const;
    // The names from the hive's root down to this key.
    QStringList path() const;

private:
    friend class HiveDocument;
    struct Section;

    std::vector<std::unique_ptr<HiveKey>>::const_iterator subkeyPosition(QStringView name) const;
    std::vector<HiveValue>::iterator valuePosition(QStringView name);
    std::vector<HiveValue>& valueList() const;
    bool needsSection() const;

    QString m_name;
    HiveKey* m_parent = nullptr;
    const HiveDocument* m_document = nullptr; // whose text holds the sections
    std::vector<std::unique_ptr<HiveKey>> m_subkeys;
    std::vector<Section*> m_sections; // the parts of the file that describe this key, in file order
    // Read from the sections on first use; kept until the text changes or forgetValues() lets them go.
    mutable std::vector<HiveValue> m_values;
    mutable bool m_valuesRead = true;
    mutable bool m_hasClass = false;
    mutable bool m_isLink = false;
    bool m_dirty = false; // its sections must be written anew
};

// Calls visit(key) for `top` and every key below it, each before its subkeys, in name order, with a
// stack of its own rather than one call per level.
template <class Visit> void forEachKey(const HiveKey& top, Visit&& visit)
{
    std::vector<const HiveKey*> pending{&top};
    while (!pending.empty()) {
        const HiveKey* key = pending.back();
        pending.pop_back();
        visit(*key);
        for (auto it = key->subkeys().rbegin(); it != key->subkeys().rend(); ++it)
            pending.push_back(it->get());
    }
}

// The contents of one registry file: the key tree, and the file's text kept in sections so
// that a save writes every untouched key back exactly as it was read. Loading finds the keys in
// one pass over the text; values are parsed per key when read.
class HiveDocument
{
public:
    // Reads Wine's registry text. Never fails: lines that cannot be read are kept as they are.
    // A text whose first line is not Wine's header gives an invalid, empty document.
    static std::unique_ptr<HiveDocument> fromBytes(QByteArray bytes);
    // An empty document that will be written with `preamble` (header, comment and options).
    static std::unique_ptr<HiveDocument> createEmpty(QByteArray preamble);

    HiveDocument(const HiveDocument&) = delete;
    HiveDocument& operator=(const HiveDocument&) = delete;
    ~HiveDocument();

    bool isValid() const { return m_valid; }
    bool isModified() const { return m_modified; }
    // The value of the "#arch=" option, empty when there is none.
    QByteArray architecture() const { return m_architecture; }
    const QByteArray& source() const { return m_source; }

    const HiveKey& root() const { return *m_root; }
    HiveKey* findKey(const QStringList& path) const;

    // Changes. Each marks only what it touches for rewriting.
    HiveKey* createKey(const QStringList& path);
    void setValue(HiveKey* key, const QString& name, const RegistryValue& value);
    bool deleteValue(HiveKey* key, QStringView name);
    void deleteKey(HiveKey* key); // with all its subkeys; not the root

    // The paths of the keys changed since the text was read: those given values, created or
    // deleted, in the order of the changes.
    const std::vector<QStringList>& changedPaths() const { return m_changedPaths; }
    // The text of `key` and all its subkeys as the file has it: their sections, verbatim, in file
    // order. Empty for keys that have no text of their own (implicit or new).
    QByteArray keyText(const HiveKey* key) const;
    // The key at `path` with its subkeys as the text read had them, before any change since: a
    // document of their sections alone (keys spelt as in the whole text), or nothing when the
    // text had no such key.
    std::unique_ptr<HiveDocument> original(const QStringList& path) const;
    // Lets the values read of `key` go when they hold no change; they are read from the text again
    // when next asked for. A scan that reads every entry once then keeps only the text and the keys.
    // References into the key's values are invalid afterwards.
    void forgetValues(const HiveKey& key) const;

    // The file's new text, keys changed now stamped with `nowMillis`. The document stays as it
    // is until adoptSaved().
    QByteArray serialize(qint64 nowMillis);
    // Makes `saved`, the text the last serialize() returned and that is now stored, the
    // document's text: it then reads exactly as that text read anew would, but only the keys
    // that changed are read again (when next asked for).
    void adoptSaved(QByteArray saved);

private:
    struct Item;
    friend class HiveKey;

    HiveDocument();
    void parse();
    void readValues(const HiveKey& key) const;
    HiveKey* keyOfLine(QByteArrayView line, QString& path);
    qsizetype sectionBegin(const HiveKey::Section& previous, qsizetype keyLine) const;
    bool itemsRunPast(const HiveKey::Section& section, qsizetype mark, qsizetype limit) const;
    void respellAncestors();
    HiveKey* ensureKey(const QStringList& path, bool markNew);
    void placeNewSections();
    HiveKey::Section* firstSectionFrom(const HiveKey* key, bool includeSelf) const;
    std::vector<Item> itemsOf(const HiveKey::Section& section) const;
    // Text of a changed key's later sections, written when the walk reaches them.
    using LaterSections = std::unordered_map<const HiveKey::Section*, QByteArray>;
    void writeKey(QByteArray& out, HiveKey* key, qint64 nowMillis, LaterSections& later);
    // Text we generate, with the file's own line ends.
    QByteArray withLineEnds(QByteArray generated) const;
    enum class OpenValue
    {
        None,
        Unfinished,       // the file ended it: Wine takes it for a bad line
        EndedByBlankLine, // the blank line after it was its last continuation
    };
    OpenValue openValueAtEnd(const HiveKey::Section& section) const;

    QByteArray m_source;
    std::unique_ptr<HiveKey> m_root;
    std::vector<std::unique_ptr<HiveKey::Section>> m_sections; // file order; the first is the preamble
    std::unordered_set<HiveKey*> m_touched;                    // keys that may need a new section
    // Deleted keys and their sections, kept until the save for original().
    std::vector<std::unique_ptr<HiveKey>> m_deletedKeys;
    std::vector<std::unique_ptr<HiveKey::Section>> m_deletedSections;
    std::vector<qsizetype> m_savedChunks; // where the last serialize() put each section, or -1
    mutable QSet<QString> m_valueNames;   // shared by the values read
    QByteArray m_architecture;
    QByteArray m_lineEnd = "\n"; // the file's, from its first line
    std::vector<QStringList> m_changedPaths;
    bool m_valid = true;
    bool m_modified = false;
};
