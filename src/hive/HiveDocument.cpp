#include "hive/HiveDocument.h"

#include "base/LargeBuffer.h"
#include "hive/HiveSyntax.h"

#include <QDateTime>

#include <algorithm>
#include <cstring>
#include <unordered_map>

using HiveSyntax::compareNames;

// A stretch of the file: the preamble, one key's header with its lines, or lines that belong to
// no key (after a key line that could not be read). Blank lines before a key line belong to it.
struct HiveKey::Section
{
    HiveKey* key = nullptr;
    qsizetype begin = 0;
    qsizetype end = 0;
    bool generated = false; // a new key's section, not yet in the file
};

// One logical line of a section: a value may span continuation lines.
struct HiveDocument::Item
{
    enum Kind
    {
        Raw,     // kept as it is: blank, comment, option, or a line that cannot be read
        KeyLine, // "[path] seconds"
        Time,    // "#time=..."
        Value,   // a value line that parsed
    };
    Kind kind = Raw;
    qsizetype begin = 0;
    qsizetype end = 0;
    QString name;
};

namespace {

struct Line
{
    qsizetype begin;
    qsizetype textEnd; // without "\r\n"
    qsizetype end;     // after the line end
};

Line lineAt(const QByteArray& s, qsizetype pos, qsizetype limit)
{
    const char* data = s.constData();
    const void* nl = std::memchr(data + pos, '\n', size_t(limit - pos));
    Line line;
    line.begin = pos;
    if (nl) {
        line.textEnd = static_cast<const char*>(nl) - data;
        line.end = line.textEnd + 1;
    } else {
        line.textEnd = limit;
        line.end = limit;
    }
    if (line.textEnd > pos && data[line.textEnd - 1] == '\r')
        --line.textEnd;
    return line;
}

char firstNonBlank(const QByteArray& s, const Line& line)
{
    for (qsizetype i = line.begin; i < line.textEnd; ++i) {
        const char c = s[i];
        if (c != ' ' && c != '\t' && c != '\v' && c != '\f' && c != '\r')
            return c;
    }
    return 0;
}

QByteArrayView textOf(const QByteArray& s, const Line& line)
{
    return QByteArrayView(s.constData() + line.begin, line.textEnd - line.begin);
}

// Reads the value item starting at `line`. Returns where the item ends; `ok` tells whether it
// parsed. A continuation never swallows a key line.
qsizetype readValueItem(const QByteArray& s, const Line& line, qsizetype limit, HiveSyntax::ParsedValue& out, bool& ok)
{
    using HiveSyntax::ParseResult;
    ParseResult result = HiveSyntax::parseValueLine(textOf(s, line), out);
    qsizetype end = line.end;
    while (result == ParseResult::Continues) {
        if (end >= limit) {
            result = ParseResult::Malformed;
            break;
        }
        const Line next = lineAt(s, end, limit);
        if (firstNonBlank(s, next) == '[') {
            result = ParseResult::Malformed;
            break;
        }
        result = HiveSyntax::parseHexContinuation(textOf(s, next), out);
        end = next.end;
    }
    ok = result == ParseResult::Complete;
    return end;
}

// The lines that start a value: room for a key's values at once instead of growing to them.
qsizetype valueLinesIn(const QByteArray& s, qsizetype begin, qsizetype end)
{
    qsizetype count = 0;
    const char* p = s.constData() + begin;
    const char* const last = s.constData() + end;
    while (p < last) {
        while (p < last && (*p == ' ' || *p == '\t'))
            ++p;
        if (p < last && (*p == '"' || *p == '@'))
            ++count;
        const void* lineEnd = std::memchr(p, '\n', size_t(last - p));
        if (!lineEnd)
            break;
        p = static_cast<const char*>(lineEnd) + 1;
    }
    return count;
}

void appendOnNewLine(QByteArray& out, QByteArrayView text, QByteArrayView lineEnd)
{
    if (!out.isEmpty() && out.back() != '\n')
        out.append(lineEnd);
    out.append(text);
}

bool isBlankChar(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r';
}

// As the reader sees it: nothing but blanks before the line end, or a NUL first.
bool isBlankLine(const char* data, qsizetype begin, qsizetype end)
{
    for (qsizetype i = begin; i < end; ++i) {
        if (!isBlankChar(data[i]))
            return data[i] == '\0';
    }
    return true;
}

// The start of the next line from `from` (a line start) whose first non-blank character is '[',
// or -1. Key lines are few and '[' is rare elsewhere, so this skips whole values at once.
qsizetype nextKeyLine(const QByteArray& s, qsizetype from)
{
    const char* data = s.constData();
    const qsizetype size = s.size();
    for (qsizetype pos = from; pos < size;) {
        const void* found = std::memchr(data + pos, '[', size_t(size - pos));
        if (!found)
            return -1;
        const qsizetype at = static_cast<const char*>(found) - data;
        qsizetype start = at;
        while (start > from && isBlankChar(data[start - 1]))
            --start;
        if (start == from || data[start - 1] == '\n')
            return start;
        pos = at + 1;
    }
    return -1;
}

bool isBlankLineStart(QByteArrayView text)
{
    for (char c : text) {
        if (c == '\n')
            return true;
        if (c != ' ' && c != '\t' && c != '\v' && c != '\f' && c != '\r')
            return false;
    }
    return false;
}

} // namespace

HiveKey* HiveKey::findSubkey(QStringView name) const
{
    const auto it = subkeyPosition(name);
    return it != m_subkeys.end() && compareNames((*it)->m_name, name) == 0 ? it->get() : nullptr;
}

const HiveValue* HiveKey::findValue(QStringView name) const
{
    const auto it = const_cast<HiveKey*>(this)->valuePosition(name);
    return it != m_values.end() && compareNames(it->name, name) == 0 ? &*it : nullptr;
}

std::vector<HiveValue>& HiveKey::valueList() const
{
    if (!m_valuesRead)
        m_document->readValues(*this);
    return m_values;
}

HiveKey::~HiveKey()
{
    std::vector<std::unique_ptr<HiveKey>> pending = std::move(m_subkeys);
    while (!pending.empty()) {
        std::unique_ptr<HiveKey> key = std::move(pending.back());
        pending.pop_back();
        for (auto& subkey : key->m_subkeys)
            pending.push_back(std::move(subkey));
        key->m_subkeys.clear();
    } // each goes with no subkeys left to free
}

bool HiveKey::needsSection() const
{
    return !valueList().empty() || m_subkeys.empty() || m_hasClass || m_isLink;
}

QStringList HiveKey::path() const
{
    QStringList names;
    for (const HiveKey* key = this; key->m_parent; key = key->m_parent)
        names.prepend(key->m_name);
    return names;
}

std::vector<std::unique_ptr<HiveKey>>::const_iterator HiveKey::subkeyPosition(QStringView name) const
{
    // Files list keys in order, so the key sought is usually the last one or goes after it.
    if (!m_subkeys.empty()) {
        const int last = compareNames(m_subkeys.back()->m_name, name);
        if (last < 0)
            return m_subkeys.end();
        if (last == 0)
            return m_subkeys.end() - 1;
    }
    return std::lower_bound(
        m_subkeys.begin(), m_subkeys.end(), name,
        [](const std::unique_ptr<HiveKey>& k, QStringView n) { return compareNames(k->m_name, n) < 0; });
}

std::vector<HiveValue>::iterator HiveKey::valuePosition(QStringView name)
{
    valueList();
    if (!m_values.empty() && compareNames(m_values.back().name, name) < 0)
        return m_values.end();
    return std::lower_bound(m_values.begin(), m_values.end(), name,
                            [](const HiveValue& v, QStringView n) { return compareNames(v.name, n) < 0; });
}

HiveDocument::HiveDocument() : m_root(std::make_unique<HiveKey>())
{
    m_root->m_document = this;
}

HiveDocument::~HiveDocument() = default;

std::unique_ptr<HiveDocument> HiveDocument::fromBytes(QByteArray bytes)
{
    std::unique_ptr<HiveDocument> doc(new HiveDocument);
    doc->m_source = std::move(bytes);
    doc->parse();
    return doc;
}

std::unique_ptr<HiveDocument> HiveDocument::createEmpty(QByteArray preamble)
{
    std::unique_ptr<HiveDocument> doc(new HiveDocument);
    doc->m_source = std::move(preamble);
    doc->parse();
    return doc;
}

void HiveDocument::parse()
{
    const QByteArray& s = m_source;
    const qsizetype size = s.size();
    const Line first = lineAt(s, 0, size);
    if (textOf(s, first) != HiveSyntax::header) {
        m_valid = false;
        return;
    }
    if (first.textEnd < first.end - 1)
        m_lineEnd = "\r\n";

    // One pass that finds the key lines only; the values between them are read when asked for.
    m_sections.push_back(std::make_unique<HiveKey::Section>()); // the preamble
    QString pathBuffer;
    for (qsizetype from = first.end; from < size;) {
        const qsizetype keyLine = nextKeyLine(s, from);
        if (keyLine < 0)
            break;
        HiveKey::Section& previous = *m_sections.back();
        auto section = std::make_unique<HiveKey::Section>();
        section->begin = sectionBegin(previous, keyLine);
        previous.end = section->begin;
        const Line line = lineAt(s, keyLine, size);
        if (HiveKey* key = keyOfLine(textOf(s, line), pathBuffer)) {
            section->key = key;
            key->m_sections.push_back(section.get());
            key->m_valuesRead = false;
        }
        m_sections.push_back(std::move(section));
        from = line.end;
    }
    m_sections.back()->end = size;

    const HiveKey::Section& preamble = *m_sections.front();
    for (qsizetype pos = first.end; pos < preamble.end;) {
        const Line line = lineAt(s, pos, preamble.end);
        const QByteArrayView text = textOf(s, line).trimmed();
        if (firstNonBlank(s, line) == '#' && text.startsWith("#arch=")) {
            m_architecture = text.sliced(6).toByteArray();
            if (m_architecture != "win32" && m_architecture != "win64") {
                // Wine refuses such a file whole; so do we.
                m_valid = false;
                m_root = std::make_unique<HiveKey>();
                m_root->m_document = this;
                m_sections.clear();
                return;
            }
        }
        pos = line.end;
    }
}

HiveKey* HiveDocument::keyOfLine(QByteArrayView line, QString& path)
{
    // HiveSyntax::parseKeyLine without a list of names: one decoded buffer, reused.
    const qsizetype open = line.indexOf('[');
    if (open < 0 || line.contains('\0') || HiveSyntax::parseString(line, open + 1, ']', path) < 0)
        return nullptr;
    HiveKey* key = m_root.get();
    const QStringView names(path);
    for (qsizetype start = 0; start < names.size();) {
        qsizetype end = names.indexOf(u'\\', start);
        if (end < 0)
            end = names.size();
        if (end > start) {
            const QStringView name = names.sliced(start, end - start);
            const auto it = key->subkeyPosition(name);
            if (it != key->m_subkeys.end() && compareNames((*it)->m_name, name) == 0) {
                key = it->get();
            } else {
                auto child = std::make_unique<HiveKey>();
                child->m_name = name.toString();
                child->m_parent = key;
                child->m_document = this;
                key = key->m_subkeys.insert(it, std::move(child))->get();
            }
        }
        start = end + 1;
    }
    return key;
}

qsizetype HiveDocument::sectionBegin(const HiveKey::Section& previous, qsizetype keyLine) const
{
    // Blank lines before a key line belong to it, unless the previous key's last value asks for a
    // continuation: the first of them then completes that value and stays with it.
    const char* data = m_source.constData();
    qsizetype runStart = keyLine;
    qsizetype lastLine = -1; // the last line of the previous section that is not blank
    while (runStart > previous.begin) {
        const void* newline = memrchr(data + previous.begin, '\n', size_t(runStart - 1 - previous.begin));
        const qsizetype lineStart = newline ? static_cast<const char*>(newline) - data + 1 : previous.begin;
        if (!isBlankLine(data, lineStart, runStart - 1)) {
            lastLine = lineStart;
            break;
        }
        runStart = lineStart;
    }
    if (runStart == keyLine || !previous.key || lastLine < 0 ||
        !std::memchr(data + lastLine, '\\', size_t(runStart - lastLine)) || !itemsRunPast(previous, runStart, keyLine))
        return runStart;
    return static_cast<const char*>(std::memchr(data + runStart, '\n', size_t(keyLine - runStart))) - data + 1;
}

bool HiveDocument::itemsRunPast(const HiveKey::Section& section, qsizetype mark, qsizetype limit) const
{
    HiveSyntax::ParsedValue parsed;
    for (qsizetype pos = section.begin; pos < limit;) {
        const Line line = lineAt(m_source, pos, limit);
        const char c = firstNonBlank(m_source, line);
        if (c == '"' || c == '@') {
            bool ok;
            pos = readValueItem(m_source, line, limit, parsed, ok);
            if (pos > mark)
                return true;
        } else {
            pos = line.end;
        }
    }
    return false;
}

void HiveDocument::forgetValues(const HiveKey& key) const
{
    if (key.m_document != this || key.m_dirty || !key.m_valuesRead || key.m_sections.empty())
        return;
    for (const HiveKey::Section* section : key.m_sections) {
        if (section->generated)
            return;
    }
    std::vector<HiveValue>().swap(key.m_values);
    key.m_valuesRead = false;
}

void HiveDocument::readValues(const HiveKey& key) const
{
    key.m_valuesRead = true;
    key.m_values.clear();
    key.m_hasClass = false;
    key.m_isLink = false;
    const QByteArray& s = m_source;
    qsizetype valueLines = 0;
    for (const HiveKey::Section* section : key.m_sections) {
        if (!section->generated)
            valueLines += valueLinesIn(s, section->begin, section->end);
    }
    key.m_values.reserve(size_t(valueLines));
    HiveSyntax::ParsedValue parsed;
    bool sorted = true; // as Wine writes them
    for (const HiveKey::Section* section : key.m_sections) {
        if (section->generated)
            continue;
        for (qsizetype pos = section->begin; pos < section->end;) {
            const Line line = lineAt(s, pos, section->end);
            const char c = firstNonBlank(s, line);
            if (c == '"' || c == '@') {
                bool ok;
                pos = readValueItem(s, line, section->end, parsed, ok);
                if (ok) {
                    const int order = key.m_values.empty() ? -1 : compareNames(key.m_values.back().name, parsed.name);
                    if (order == 0) {
                        key.m_values.back().value = std::move(parsed.value); // a repeated name: the last one wins
                    } else {
                        sorted = sorted && order < 0;
                        // Most keys of a kind have the same value names: keep each name once.
                        auto name = m_valueNames.constFind(parsed.name);
                        if (name == m_valueNames.cend())
                            name = m_valueNames.insert(parsed.name);
                        key.m_values.push_back(HiveValue{*name, std::move(parsed.value), false});
                    }
                    parsed = {};
                }
                continue;
            }
            if (c == '#') {
                const QByteArrayView text = textOf(s, line).trimmed();
                if (text.startsWith("#class="))
                    key.m_hasClass = true;
                else if (text == "#link")
                    key.m_isLink = true;
            }
            pos = line.end;
        }
    }
    if (!sorted) {
        // Sorted once at the end: inserting each in its place costs the square of their number.
        // Among equal names the sort keeps the order read, and the last one read wins.
        auto& values = key.m_values;
        std::stable_sort(values.begin(), values.end(),
                         [](const HiveValue& a, const HiveValue& b) { return compareNames(a.name, b.name) < 0; });
        auto kept = values.begin();
        for (auto it = values.begin(); it != values.end(); ++it) {
            if (kept != values.begin() && compareNames((kept - 1)->name, it->name) == 0)
                *(kept - 1) = std::move(*it);
            else if (kept != it)
                *kept++ = std::move(*it);
            else
                ++kept;
        }
        values.erase(kept, values.end());
    }
    key.m_values.shrink_to_fit(); // read once, kept long: no room for growth
}

HiveKey* HiveDocument::ensureKey(const QStringList& path, bool markNew)
{
    HiveKey* key = m_root.get();
    for (const QString& name : path) {
        const auto it = key->subkeyPosition(name);
        if (it != key->m_subkeys.end() && compareNames((*it)->m_name, name) == 0) {
            key = it->get();
            continue;
        }
        auto child = std::make_unique<HiveKey>();
        child->m_name = name;
        child->m_parent = key;
        child->m_document = this;
        HiveKey* created = child.get();
        key->m_subkeys.insert(it, std::move(child));
        if (markNew) {
            created->m_dirty = true;
            key->m_dirty = !key->m_sections.empty(); // a new subkey changes its parent's time, as in Wine
            m_touched.insert(created);
            m_touched.insert(key);
            m_modified = true;
        }
        key = created;
    }
    return key;
}

HiveKey* HiveDocument::findKey(const QStringList& path) const
{
    HiveKey* key = m_root.get();
    for (const QString& name : path) {
        key = key->findSubkey(name);
        if (!key)
            return nullptr;
    }
    return key;
}

HiveKey* HiveDocument::createKey(const QStringList& path)
{
    const bool existed = findKey(path) != nullptr;
    HiveKey* key = ensureKey(path, true);
    if (!existed)
        m_changedPaths.push_back(path);
    return key;
}

QByteArray HiveDocument::keyText(const HiveKey* key) const
{
    QByteArray text;
    for (const auto& section : m_sections) {
        for (const HiveKey* k = section->key; k; k = k->m_parent) {
            if (k == key) {
                text += QByteArrayView(m_source.constData() + section->begin, section->end - section->begin);
                break;
            }
        }
    }
    return text;
}

void HiveDocument::setValue(HiveKey* key, const QString& name, const RegistryValue& value)
{
    const auto it = key->valuePosition(name);
    if (it != key->m_values.end() && compareNames(it->name, name) == 0) {
        if (it->value == value)
            return;
        it->value = value; // an existing value keeps the spelling of its name
        it->modified = true;
    } else {
        key->m_values.insert(it, HiveValue{name, value, true});
    }
    key->m_dirty = true;
    m_touched.insert(key);
    m_modified = true;
    m_changedPaths.push_back(key->path());
}

bool HiveDocument::deleteValue(HiveKey* key, QStringView name)
{
    const auto it = key->valuePosition(name);
    if (it == key->m_values.end() || compareNames(it->name, name) != 0)
        return false;
    key->m_values.erase(it);
    key->m_dirty = true;
    m_touched.insert(key);
    m_modified = true;
    m_changedPaths.push_back(key->path());
    return true;
}

void HiveDocument::deleteKey(HiveKey* key)
{
    HiveKey* parent = key->m_parent;
    if (!parent)
        return;
    m_changedPaths.push_back(key->path());
    std::unordered_set<const HiveKey*> doomed;
    std::vector<const HiveKey*> stack{key};
    while (!stack.empty()) {
        const HiveKey* k = stack.back();
        stack.pop_back();
        doomed.insert(k);
        m_touched.erase(const_cast<HiveKey*>(k));
        for (const auto& child : k->m_subkeys)
            stack.push_back(child.get());
    }
    // The deleted keys and their text stay until the save, for original().
    for (auto& section : m_sections) {
        if (section->key && doomed.count(section->key))
            m_deletedSections.push_back(std::move(section));
    }
    std::erase(m_sections, nullptr);
    const auto it = parent->subkeyPosition(key->m_name);
    m_deletedKeys.push_back(std::move(parent->m_subkeys[size_t(it - parent->m_subkeys.begin())]));
    parent->m_subkeys.erase(it);
    m_touched.insert(parent); // it may now be an empty key that needs a section of its own
    parent->m_dirty = !parent->m_sections.empty();
    m_modified = true;
}

std::unique_ptr<HiveDocument> HiveDocument::original(const QStringList& path) const
{
    // The keys that stood at `path` in the text: the live one, and any deleted since.
    std::vector<const HiveKey*> roots;
    if (const HiveKey* live = findKey(path))
        roots.push_back(live);
    for (const auto& deleted : m_deletedKeys) {
        const QStringList deletedPath = deleted->path();
        bool under = deletedPath.size() <= path.size();
        for (qsizetype i = 0; under && i < deletedPath.size(); ++i)
            under = compareNames(deletedPath[i], path[i]) == 0;
        const HiveKey* key = under ? deleted.get() : nullptr;
        for (qsizetype i = deletedPath.size(); key && i < path.size(); ++i)
            key = key->findSubkey(path[i]);
        if (key)
            roots.push_back(key);
    }
    std::vector<const HiveKey::Section*> sections;
    auto collect = [&](const std::vector<std::unique_ptr<HiveKey::Section>>& list) {
        for (const auto& section : list) {
            if (section->generated)
                continue;
            for (const HiveKey* k = section->key; k; k = k->m_parent) {
                if (std::find(roots.begin(), roots.end(), k) != roots.end()) {
                    sections.push_back(section.get());
                    break;
                }
            }
        }
    };
    if (!roots.empty()) {
        collect(m_sections);
        collect(m_deletedSections);
    }
    if (sections.empty())
        return nullptr;
    std::sort(sections.begin(), sections.end(),
              [](const HiveKey::Section* a, const HiveKey::Section* b) { return a->begin < b->begin; });

    // Their sections over the same text, so each value reads as it did in the whole file.
    std::unique_ptr<HiveDocument> doc(new HiveDocument);
    doc->m_source = m_source;
    doc->m_lineEnd = m_lineEnd;
    doc->m_architecture = m_architecture;
    doc->m_sections.push_back(std::make_unique<HiveKey::Section>(*m_sections.front()));
    for (const HiveKey::Section* section : sections) {
        auto copy = std::make_unique<HiveKey::Section>(*section);
        copy->key = doc->ensureKey(section->key->path(), false);
        copy->key->m_sections.push_back(copy.get());
        copy->key->m_valuesRead = false;
        doc->m_sections.push_back(std::move(copy));
    }
    return doc;
}

HiveKey::Section* HiveDocument::firstSectionFrom(const HiveKey* key, bool includeSelf) const
{
    if (includeSelf && !key->m_sections.empty())
        return key->m_sections.front();
    // The first key below in file order that has a section, looked for with a stack of its own.
    std::vector<const HiveKey*> pending;
    for (auto it = key->m_subkeys.rbegin(); it != key->m_subkeys.rend(); ++it)
        pending.push_back(it->get());
    while (!pending.empty()) {
        const HiveKey* next = pending.back();
        pending.pop_back();
        if (!next->m_sections.empty())
            return next->m_sections.front();
        for (auto it = next->m_subkeys.rbegin(); it != next->m_subkeys.rend(); ++it)
            pending.push_back(it->get());
    }
    return nullptr;
}

void HiveDocument::placeNewSections()
{
    for (HiveKey* key : m_touched) {
        if (!key->m_sections.empty() || !key->needsSection())
            continue;
        // Wine writes keys in a depth-first walk: the new section goes before the section of the
        // first key that follows this one in that walk.
        HiveKey::Section* successor = firstSectionFrom(key, false);
        for (const HiveKey* node = key; !successor && node->m_parent; node = node->m_parent) {
            const auto& siblings = node->m_parent->m_subkeys;
            auto it = node->m_parent->subkeyPosition(node->m_name);
            for (++it; it != siblings.end() && !successor; ++it)
                successor = firstSectionFrom(it->get(), true);
        }
        auto section = std::make_unique<HiveKey::Section>();
        section->key = key;
        section->generated = true;
        key->m_sections.push_back(section.get());
        key->m_dirty = true;
        auto at = m_sections.end();
        if (successor) {
            at = std::find_if(m_sections.begin(), m_sections.end(),
                              [successor](const std::unique_ptr<HiveKey::Section>& s) { return s.get() == successor; });
        }
        m_sections.insert(at, std::move(section));
    }
}

std::vector<HiveDocument::Item> HiveDocument::itemsOf(const HiveKey::Section& section) const
{
    std::vector<Item> items;
    const QByteArray& s = m_source;
    qsizetype pos = section.begin;
    bool sawKeyLine = false;
    HiveSyntax::ParsedValue parsed;
    while (pos < section.end) {
        const Line line = lineAt(s, pos, section.end);
        const char c = firstNonBlank(s, line);
        Item item;
        item.begin = line.begin;
        item.end = line.end;
        if (c == '[' && !sawKeyLine) {
            item.kind = Item::KeyLine;
            sawKeyLine = true;
        } else if (c == '#' && textOf(s, line).trimmed().startsWith("#time=")) {
            item.kind = Item::Time;
        } else if (c == '"' || c == '@') {
            bool ok;
            item.end = readValueItem(s, line, section.end, parsed, ok);
            if (ok) {
                item.kind = Item::Value;
                item.name = parsed.name;
            }
        }
        items.push_back(std::move(item));
        pos = items.back().end;
    }
    return items;
}

void HiveDocument::writeKey(QByteArray& out, HiveKey* key, qint64 nowMillis, LaterSections& later)
{
    // Writes the first section of a changed key: values that were changed or added are written
    // as Wine writes them, everything else of the section stays as it was.
    const HiveKey::Section& section = *key->m_sections.front();
    if (section.generated) {
        appendOnNewLine(out, m_lineEnd, m_lineEnd);
        out.append(withLineEnds(HiveSyntax::formatKeyHeader(key->path(), nowMillis)));
        for (const HiveValue& v : key->valueList())
            out.append(withLineEnds(HiveSyntax::formatValue(v.name, v.value)));
        return;
    }

    std::vector<std::vector<Item>> itemsPerSection;
    for (const HiveKey::Section* s : key->m_sections)
        itemsPerSection.push_back(itemsOf(*s));
    auto inFile = [&](QStringView name) {
        for (const auto& items : itemsPerSection) {
            for (const Item& item : items) {
                if (item.kind == Item::Value && compareNames(item.name, name) == 0)
                    return true;
            }
        }
        return false;
    };
    std::vector<const HiveValue*> added;
    for (const HiveValue& v : key->valueList()) {
        if (v.modified && !inFile(v.name))
            added.push_back(&v);
    }

    std::unordered_set<const HiveValue*> written;
    for (size_t sectionIndex = 0; sectionIndex < itemsPerSection.size(); ++sectionIndex) {
        const auto& items = itemsPerSection[sectionIndex];
        const bool firstSection = sectionIndex == 0;
        qsizetype anchor = -1; // new values that sort last go after this item
        for (qsizetype i = 0; i < qsizetype(items.size()); ++i) {
            const Item& item = items[size_t(i)];
            if (item.kind != Item::Raw || firstNonBlank(m_source, lineAt(m_source, item.begin, item.end)) == '#')
                anchor = i;
        }
        QByteArray text;
        size_t nextAdded = 0;
        auto writeAdded = [&](const QString* before) {
            if (!firstSection)
                return;
            for (; nextAdded < added.size(); ++nextAdded) {
                if (before && compareNames(added[nextAdded]->name, *before) >= 0)
                    break;
                appendOnNewLine(text,
                                withLineEnds(HiveSyntax::formatValue(added[nextAdded]->name, added[nextAdded]->value)),
                                m_lineEnd);
            }
        };
        for (qsizetype i = 0; i < qsizetype(items.size()); ++i) {
            const Item& item = items[size_t(i)];
            const QByteArrayView original(m_source.constData() + item.begin, item.end - item.begin);
            switch (item.kind) {
            case Item::KeyLine:
                if (firstSection)
                    appendOnNewLine(text, withLineEnds(HiveSyntax::formatKeyHeader(key->path(), nowMillis)), m_lineEnd);
                else
                    appendOnNewLine(text, original, m_lineEnd);
                break;
            case Item::Time:
                if (!firstSection)
                    appendOnNewLine(text, original, m_lineEnd);
                break;
            case Item::Value: {
                writeAdded(&item.name);
                const HiveValue* v = key->findValue(item.name);
                if (!v)
                    break; // deleted
                if (!v->modified) {
                    appendOnNewLine(text, original, m_lineEnd);
                } else if (written.insert(v).second) {
                    appendOnNewLine(text, withLineEnds(HiveSyntax::formatValue(v->name, v->value)), m_lineEnd);
                }
                break;
            }
            case Item::Raw:
                appendOnNewLine(text, original, m_lineEnd);
                break;
            }
            if (i == anchor)
                writeAdded(nullptr);
        }
        writeAdded(nullptr);
        if (firstSection) {
            appendOnNewLine(out, text, m_lineEnd);
        } else {
            // Later sections are written where they stand; remember their text for then.
            later[key->m_sections[sectionIndex]] = text;
        }
    }
}

QByteArray HiveDocument::withLineEnds(QByteArray generated) const
{
    if (m_lineEnd.size() > 1)
        generated.replace('\n', m_lineEnd);
    return generated;
}

HiveDocument::OpenValue HiveDocument::openValueAtEnd(const HiveKey::Section& section) const
{
    // A hex value that asks for a continuation takes the next line of the file, so what it means
    // depends on what follows it. Such a value is a line that could not be read on its own.
    // Most sections end in a line without a backslash: look no further at those.
    const char* data = m_source.constData();
    qsizetype end = section.end;
    while (end > section.begin && data[end - 1] && std::strchr(" \t\r\n\v\f", data[end - 1]))
        --end;
    qsizetype start = end;
    while (start > section.begin && data[start - 1] != '\n')
        --start;
    if (start == end || !std::memchr(data + start, '\\', size_t(end - start)))
        return OpenValue::None;
    const std::vector<Item> items = itemsOf(section);
    if (items.empty() || items.back().kind != Item::Raw)
        return OpenValue::None;
    const Item& last = items.back();
    const char c = firstNonBlank(m_source, lineAt(m_source, last.begin, last.end));
    if (c != '"' && c != '@')
        return OpenValue::None;
    // Would a blank line complete it?
    QByteArray probe = m_source.sliced(last.begin, last.end - last.begin);
    if (!probe.endsWith('\n'))
        probe.append('\n');
    probe.append('\n');
    HiveSyntax::ParsedValue parsed;
    bool ok = false;
    readValueItem(probe, lineAt(probe, 0, probe.size()), probe.size(), parsed, ok);
    if (!ok)
        return OpenValue::None;
    if (section.end < m_source.size() && firstNonBlank(m_source, lineAt(m_source, section.end, m_source.size())) == 0)
        return OpenValue::EndedByBlankLine;
    return OpenValue::Unfinished;
}

QByteArray HiveDocument::serialize(qint64 nowMillis)
{
    placeNewSections();
    QByteArray out = LargeBuffer::withCapacity(m_source.size() + 4096);
    LaterSections later;
    // An untouched line must mean the same whatever a save puts after it: an open value that the
    // file ended stays unfinished, one that a blank line ended keeps a blank line after it. Text
    // that followed it in the file already means what it meant.
    OpenValue open = OpenValue::None;
    qsizetype openEndsAt = -1; // where the section with the open value ended in the file
    m_savedChunks.assign(m_sections.size(), -1);
    size_t index = 0;
    auto place = [&](QByteArrayView chunk, const HiveKey::Section& section) {
        if (chunk.isEmpty())
            return;
        const bool followsInFile = !section.generated && section.begin == openEndsAt;
        if (open == OpenValue::Unfinished && !followsInFile)
            appendOnNewLine(out, QByteArray(";" + m_lineEnd), m_lineEnd); // a bad continuation, to Wine too
        else if (open == OpenValue::EndedByBlankLine && !followsInFile && !isBlankLineStart(chunk))
            appendOnNewLine(out, m_lineEnd, m_lineEnd);
        appendOnNewLine(out, chunk, m_lineEnd);
        m_savedChunks[index] = out.size() - chunk.size();
        open = section.generated ? OpenValue::None : openValueAtEnd(section);
        openEndsAt = section.generated ? -1 : section.end;
    };
    for (const auto& section : m_sections) {
        HiveKey* key = section->key;
        if (!key || !key->m_dirty) {
            place(QByteArrayView(m_source.constData() + section->begin, section->end - section->begin), *section);
        } else if (key->m_sections.front() == section.get()) {
            QByteArray text;
            writeKey(text, key, nowMillis, later);
            place(text, *section);
        } else {
            place(later[section.get()], *section);
        }
        ++index;
    }
    if (open == OpenValue::EndedByBlankLine)
        appendOnNewLine(out, m_lineEnd, m_lineEnd);
    return out;
}

void HiveDocument::adoptSaved(QByteArray saved)
{
    m_source = std::move(saved);
    const bool layoutKnown =
        std::find(m_savedChunks.begin(), m_savedChunks.end(), qsizetype(-1)) == m_savedChunks.end();
    if (!layoutKnown || m_savedChunks.size() != m_sections.size() || m_sections.empty()) {
        // Not the text serialize() gave: read it whole.
        m_root = std::make_unique<HiveKey>();
        m_root->m_document = this;
        m_sections.clear();
        m_architecture.clear();
        m_lineEnd = "\n";
        m_valid = true;
        parse();
    } else {
        // Each section is where serialize() put it; the blank lines between sections go where a
        // reader puts them.
        m_sections.front()->begin = 0;
        for (size_t i = 1; i < m_sections.size(); ++i) {
            HiveKey::Section& previous = *m_sections[i - 1];
            HiveKey::Section& section = *m_sections[i];
            section.begin = sectionBegin(previous, nextKeyLine(m_source, m_savedChunks[i]));
            section.generated = false;
            previous.end = section.begin;
        }
        m_sections.back()->end = m_source.size();
        for (HiveKey* key : m_touched) {
            if (!key->m_dirty)
                continue;
            key->m_dirty = false;
            key->m_values.clear();
            key->m_valuesRead = key->m_sections.empty();
        }
        if (!m_deletedKeys.empty())
            respellAncestors();
    }
    m_touched.clear();
    m_deletedKeys.clear();
    m_deletedSections.clear();
    m_savedChunks.clear();
    m_changedPaths.clear();
    m_modified = false;
}

void HiveDocument::respellAncestors()
{
    // A key is spelt as the first key line that names it. When that line was a deleted key's,
    // the next line that names it decides now.
    auto alive = [this](const HiveKey* key) {
        for (; key->m_parent; key = key->m_parent) {
            if (key->m_parent->findSubkey(key->m_name) != key)
                return false;
        }
        return key == m_root.get();
    };
    std::vector<HiveKey*> ancestors;
    for (const auto& deleted : m_deletedKeys) {
        for (HiveKey* key = deleted->m_parent; key && key->m_parent; key = key->m_parent) {
            if (std::find(ancestors.begin(), ancestors.end(), key) == ancestors.end() && alive(key))
                ancestors.push_back(key);
        }
    }
    for (const auto& section : m_sections) {
        if (ancestors.empty())
            return;
        if (!section->key)
            continue;
        std::optional<QStringList> names;
        qsizetype depth = 0;
        for (const HiveKey* k = section->key; k->m_parent; k = k->m_parent)
            ++depth;
        for (HiveKey* k = section->key; k->m_parent; k = k->m_parent, --depth) {
            const auto it = std::find(ancestors.begin(), ancestors.end(), k);
            if (it == ancestors.end())
                continue;
            if (!names) {
                const Line line = lineAt(m_source, nextKeyLine(m_source, section->begin), section->end);
                names = HiveSyntax::parseKeyLine(textOf(m_source, line));
            }
            if (names && names->size() >= depth)
                k->m_name = (*names)[depth - 1];
            ancestors.erase(it);
        }
    }
}
