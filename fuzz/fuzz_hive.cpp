// The registry file reader and writer. The input is a registry file followed by a change script: its
// last byte gives the script's length, the bytes before it are the script.
//
// Checked, each with abort() on violation:
// - the whole input, read and written unchanged, comes back byte for byte;
// - after the script's changes, every stretch of the file that belongs to no changed key appears
//   verbatim in the output, in its old order;
// - the output reads back to the same tree (keys, values, types, data) and the same "#arch";
// - the output, written unchanged, comes back byte for byte, and a second write of the changed
//   document gives the same text;
// - before the write, original() of the keys of the text reads as the text read anew;
// - the changed document, having adopted its output, is the output read anew: the same tree,
//   spelling included, and the same text after the same further changes.
#include "FuzzSupport.h"

#include "hive/HiveDocument.h"
#include "hive/HiveSyntax.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <vector>

namespace {

constexpr qint64 Now = 1796687600000;
constexpr size_t MaxScript = 64;

// Characters that stress escaping, case folding and the line syntax. Key names never hold a
// backslash (it separates them) nor a NUL; value names and string data may hold anything.
constexpr char16_t NameChars[] = {u'a', u'B', u'z',   u'0',   u'7',   u'f',   u' ',  u'"',  u'[',  u']',
                                  u'=', u'@', u'#',   u',',   u';',   u'\n',  u'\r', u'\t', 0x01,  0x7f,
                                  0xe4, 0xc4, 0x20ac, 0x212a, 0xd800, 0xdc00, u'k',  u'K',  u'\\', 0x00};
constexpr size_t KeyNameChars = std::size(NameChars) - 2; // without the backslash and the NUL
constexpr size_t ValueNameChars = std::size(NameChars) - 1;

constexpr quint32 Types[] = {RegType::Sz,    RegType::ExpandSz, RegType::MultiSz, RegType::Binary, RegType::Dword,
                             RegType::Qword, RegType::None,     RegType::Link,    0x12345678u,     0xffffffffu};

class Script
{
public:
    Script(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool atEnd() const { return m_pos >= m_size; }
    uint8_t next() { return m_pos < m_size ? m_data[m_pos++] : 0; }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

QString makeName(Script& script, size_t alphabet, int minLength)
{
    const int length = minLength + script.next() % 6;
    QString name;
    for (int i = 0; i < length; ++i)
        name.append(QChar(NameChars[script.next() % alphabet]));
    return name;
}

RegistryValue makeValue(Script& script)
{
    const uint8_t choice = script.next();
    const quint32 type = Types[choice % std::size(Types)];
    if ((type == RegType::Sz || type == RegType::ExpandSz || type == RegType::MultiSz) && (choice & 0x80)) {
        if (!(choice & 0x40))
            return RegistryValue::fromString(makeName(script, std::size(NameChars), 0), type);
        // Any UTF-16 units, lone surrogates and NULs included.
        QString text;
        for (int length = script.next() % 8; length > 0; --length)
            text.append(QChar(char16_t(script.next() << 8 | script.next())));
        return RegistryValue::fromString(text, type);
    }
    if (type == RegType::Dword && (choice & 0x80))
        return RegistryValue::fromDword(quint32(script.next()) << 24 | script.next());
    QByteArray data;
    const int length = script.next() % 24;
    for (int i = 0; i < length; ++i)
        data.append(char(script.next()));
    return {type, data};
}

void collectKeys(const HiveKey& top, std::vector<const HiveKey*>& out)
{
    forEachKey(top, [&out](const HiveKey& key) { out.push_back(&key); });
}

bool samePath(const QStringList& a, const QStringList& b, bool prefixOnly)
{
    if (prefixOnly ? a.size() > b.size() : a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (!HiveSyntax::sameName(a[i], b[i]))
            return false;
    }
    return true;
}

// What the changes reached: keys whose text may be rewritten, and keys gone with their subkeys.
struct Changes
{
    std::vector<QStringList> touched;
    std::vector<QStringList> deleted;
    QStringList log; // what was done, printed with a finding

    bool reaches(const QStringList& path) const
    {
        for (const QStringList& t : touched) {
            if (samePath(t, path, false))
                return true;
        }
        for (const QStringList& d : deleted) {
            if (samePath(d, path, true))
                return true;
        }
        return false;
    }
};

void applyScript(HiveDocument& doc, Script& script, Changes& changes)
{
    while (!script.atEnd()) {
        std::vector<const HiveKey*> keys;
        collectKeys(doc.root(), keys);
        const uint8_t op = script.next();
        const size_t pick = (size_t(script.next()) << 8 | script.next()) % keys.size();
        const bool isRoot = pick == 0;
        const QStringList path = keys[pick]->path();
        HiveKey* key = doc.findKey(path);
        check(key != nullptr, "a listed key is found by its path");
        switch (op % 4) {
        case 0: { // set a value, new or existing, the name maybe spelt in another case
            if (isRoot)
                break;
            QString name;
            const uint8_t how = script.next();
            if ((how & 1) && !key->values().empty()) {
                name = key->values()[how / 2 % key->values().size()].name;
                if (how & 0x80)
                    name = name.toUpper();
            } else {
                name = makeName(script, ValueNameChars, 0);
            }
            const RegistryValue value = makeValue(script);
            doc.setValue(key, name, value);
            changes.touched.push_back(path);
            changes.log << QStringLiteral("set [%1] \"%2\" type %3, %4 bytes")
                               .arg(path.join(u'\\'), name)
                               .arg(value.type)
                               .arg(value.data.size());
            break;
        }
        case 1: { // delete a value
            if (isRoot || key->values().empty())
                break;
            const QString name = key->values()[script.next() % key->values().size()].name;
            check(doc.deleteValue(key, name), "an existing value is deleted");
            changes.touched.push_back(path);
            changes.log << QStringLiteral("delete [%1] \"%2\"").arg(path.join(u'\\'), name);
            break;
        }
        case 2: { // create one or two levels of keys below this one
            QStringList newPath = path;
            newPath.append(makeName(script, KeyNameChars, 1));
            if (script.next() & 1)
                newPath.append(makeName(script, KeyNameChars, 1));
            // Only the deepest key that exists already gets a new text (a new subkey's time).
            QStringList existing;
            for (const QString& name : newPath) {
                QStringList longer = existing;
                longer.append(name);
                if (!doc.findKey(longer))
                    break;
                existing = longer;
            }
            HiveKey* created = doc.createKey(newPath);
            check(created && created == doc.findKey(newPath), "a created key is found");
            if (existing.size() < newPath.size())
                changes.touched.push_back(existing);
            changes.log << QStringLiteral("create [%1]").arg(newPath.join(u'\\'));
            break;
        }
        case 3: // delete a key with its subkeys
            if (isRoot)
                break;
            doc.deleteKey(key);
            check(doc.findKey(path) == nullptr, "a deleted key is gone");
            changes.deleted.push_back(path);
            changes.touched.push_back(path.first(path.size() - 1));
            changes.log << QStringLiteral("delete [%1]").arg(path.join(u'\\'));
            break;
        }
    }
}

// Key names compare without case unless `exactNames`: a key that has no line of its own is spelt
// as the first line that names it, and that line may belong to a subkey that was deleted.
bool sameKey(const HiveKey& a, const HiveKey& b, bool exactNames)
{
    const bool sameName = exactNames ? a.name() == b.name() : HiveSyntax::sameName(a.name(), b.name());
    if (!sameName || a.values().size() != b.values().size() || a.subkeys().size() != b.subkeys().size()) {
        std::fprintf(stderr, "key %s differs in name or in its numbers of values or subkeys\n",
                     qPrintable(a.path().join(u'\\')));
        return false;
    }
    for (size_t i = 0; i < a.values().size(); ++i) {
        const HiveValue& va = a.values()[i];
        const HiveValue& vb = b.values()[i];
        if (va.name != vb.name || !(va.value == vb.value)) {
            std::fprintf(stderr, "value \"%s\" of key %s differs\n", qPrintable(va.name),
                         qPrintable(a.path().join(u'\\')));
            return false;
        }
    }
    return true;
}

// Key by key with a stack of its own: the input may make keys deeper than the call stack.
bool sameTree(const HiveKey& a, const HiveKey& b, bool exactNames = false)
{
    std::vector<std::pair<const HiveKey*, const HiveKey*>> pending{{&a, &b}};
    while (!pending.empty()) {
        const auto [x, y] = pending.back();
        pending.pop_back();
        if (!sameKey(*x, *y, exactNames))
            return false;
        for (size_t i = 0; i < x->subkeys().size(); ++i)
            pending.emplace_back(x->subkeys()[i].get(), y->subkeys()[i].get());
    }
    return true;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r';
}

// The file cut at its key lines (a line whose first non-blank character is '['), each stretch
// without its trailing blank lines, which the reader may give to either neighbour.
struct Stretch
{
    qsizetype begin;
    qsizetype end;
    std::optional<QStringList> key; // nothing: the preamble, or a key line that cannot be read
};

std::vector<Stretch> stretchesOf(const QByteArray& text)
{
    std::vector<Stretch> stretches;
    Stretch current{0, 0, std::nullopt};
    qsizetype pos = 0;
    while (pos < text.size()) {
        qsizetype end = text.indexOf('\n', pos);
        end = end < 0 ? text.size() : end + 1;
        qsizetype first = pos;
        while (first < end && (isBlank(text[first]) || text[first] == '\n'))
            ++first;
        // As the reader sees it, a line that starts with a NUL is blank.
        const bool blank = first == end || text[first] == '\0';
        if (!blank && text[first] == '[' && pos > 0) {
            stretches.push_back(current);
            QByteArrayView line(text.constData() + pos, end - pos);
            if (line.endsWith('\n'))
                line.chop(1);
            if (line.endsWith('\r'))
                line.chop(1);
            current = {pos, end, HiveSyntax::parseKeyLine(line)};
        } else if (!blank) {
            current.end = end;
        }
        pos = end;
    }
    stretches.push_back(current);
    return stretches;
}

void report(const QByteArray& out, const Changes& changes)
{
    std::fprintf(stderr, "changes:\n");
    for (const QString& line : changes.log)
        std::fprintf(stderr, "  %s\n", qPrintable(line));
    std::fprintf(stderr, "output:\n");
    for (const char c : out) {
        if (c == '\n' || (c >= 0x20 && c < 0x7f))
            std::fputc(c, stderr);
        else
            std::fprintf(stderr, "\\x%02x", unsigned(uchar(c)));
    }
    std::fputc('\n', stderr);
}

void checkUntouchedKept(const QByteArray& text, const QByteArray& out, const Changes& changes)
{
    qsizetype from = 0;
    for (const Stretch& s : stretchesOf(text)) {
        if (s.key && changes.reaches(*s.key))
            continue;
        const QByteArrayView kept(text.constData() + s.begin, s.end - s.begin);
        const qsizetype at = out.indexOf(kept, from);
        if (at < 0) {
            std::fprintf(stderr, "untouched text at offset %lld is not in the output after offset %lld\n",
                         qint64(s.begin), qint64(from));
            report(out, changes);
            check(false, "untouched sections are written verbatim and in order");
        }
        from = at + kept.size();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    silenceQtMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    {
        const auto doc = HiveDocument::fromBytes(input);
        if (doc->isValid())
            check(doc->serialize(Now) == input, "an unchanged document is written byte for byte");
    }
    if (size == 0)
        return 0;

    const size_t scriptSize = std::min<size_t>(data[size - 1] % (MaxScript + 1), size - 1);
    const qsizetype textSize = qsizetype(size - 1 - scriptSize);
    const QByteArray text = input.first(textSize);
    const auto doc = HiveDocument::fromBytes(text);
    if (!doc->isValid())
        return 0;
    Script script(data + textSize, scriptSize);
    Changes changes;
    applyScript(*doc, script, changes);

    const auto pristine = HiveDocument::fromBytes(text);
    std::vector<const HiveKey*> pristineKeys;
    collectKeys(pristine->root(), pristineKeys);
    // Each key costs a walk over the file's sections: the keys the changes reached, and a few more.
    int checked = 0;
    for (size_t i = 0; i < pristineKeys.size() && checked < 64; ++i) {
        const HiveKey* key = pristineKeys[i];
        if (!key->parent() || (i > 16 && !changes.reaches(key->path())))
            continue;
        ++checked;
        const auto original = doc->original(key->path());
        const HiveKey* same = original ? original->findKey(key->path()) : nullptr;
        const QByteArray keyText = pristine->keyText(key);
        if (!same) {
            check(keyText.isEmpty(), "original() finds every key that has text");
            continue;
        }
        check(sameTree(*key, *same, true), "original() reads as the text read anew");
        check(original->keyText(same) == keyText, "original() has the key's text");
    }

    const QByteArray out = doc->serialize(Now);
    check(doc->serialize(Now) == out, "a second write gives the same text");
    checkUntouchedKept(text, out, changes);

    const auto reread = HiveDocument::fromBytes(out);
    check(reread->isValid(), "the output is a valid registry file");
    check(reread->architecture() == doc->architecture(), "the #arch option is kept");
    if (!sameTree(doc->root(), reread->root())) {
        report(out, changes);
        check(false, "the output reads back to the same tree");
    }
    check(reread->serialize(Now) == out, "the output, unchanged, is written byte for byte");

    doc->adoptSaved(out);
    if (!sameTree(reread->root(), doc->root(), true)) {
        report(out, changes);
        check(false, "the document that adopted its output is the output read anew");
    }
    check(doc->serialize(Now) == out, "the adopted output, unchanged, is written byte for byte");
    Script again(data + textSize, scriptSize);
    Script sameAgain(data + textSize, scriptSize);
    Changes ignored;
    applyScript(*doc, again, ignored);
    applyScript(*reread, sameAgain, ignored);
    check(doc->serialize(Now + 1000) == reread->serialize(Now + 1000),
          "further changes to the adopted document write what they write to the output read anew");
    return 0;
}
