#include "formats/KeyValuesText.h"

namespace {

constexpr int MaxDepth = 64;

class Parser
{
public:
    explicit Parser(QByteArrayView text) : m_text(text) {}

    // The nodes up to a closing brace (inside a block) or the end (at the top).
    bool parseNodes(std::vector<KeyValuesText::Node>& nodes, int depth)
    {
        if (depth > MaxDepth)
            return false;
        for (;;) {
            skipSpaceAndComments();
            if (atEnd())
                return depth == 0;
            if (peek() == '}') {
                ++m_pos;
                return depth > 0;
            }
            KeyValuesText::Node node;
            if (!token(node.key))
                return false;
            skipSpaceAndComments();
            if (atEnd())
                return false;
            if (peek() == '{') {
                ++m_pos;
                node.block = true;
                if (!parseNodes(node.children, depth + 1))
                    return false;
            } else if (!token(node.text)) {
                return false;
            }
            skipCondition();
            nodes.push_back(std::move(node));
        }
    }

private:
    bool atEnd() const { return m_pos >= m_text.size(); }
    char peek() const { return m_text[m_pos]; }

    void skipSpaceAndComments()
    {
        while (!atEnd()) {
            const char c = peek();
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
                ++m_pos;
            } else if (c == '/' && m_pos + 1 < m_text.size() && m_text[m_pos + 1] == '/') {
                while (!atEnd() && peek() != '\n')
                    ++m_pos;
            } else {
                return;
            }
        }
    }

    void skipCondition()
    {
        const qsizetype start = m_pos;
        while (m_pos < m_text.size() && (m_text[m_pos] == ' ' || m_text[m_pos] == '\t'))
            ++m_pos;
        if (m_pos < m_text.size() && m_text[m_pos] == '[') {
            while (!atEnd() && peek() != ']' && peek() != '\n')
                ++m_pos;
            if (!atEnd() && peek() == ']')
                ++m_pos;
            return;
        }
        m_pos = start;
    }

    // A quoted text with backslash escapes, or a bare word up to a blank, quote or brace.
    bool token(QString& out)
    {
        QByteArray bytes;
        if (peek() == '"') {
            ++m_pos;
            for (;;) {
                if (atEnd())
                    return false;
                char c = m_text[m_pos++];
                if (c == '"')
                    break;
                if (c == '\\' && !atEnd()) {
                    c = m_text[m_pos++];
                    c = c == 'n' ? '\n' : c == 't' ? '\t' : c;
                }
                bytes += c;
            }
        } else {
            while (!atEnd()) {
                const char c = peek();
                if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '"' || c == '{' || c == '}')
                    break;
                bytes += c;
                ++m_pos;
            }
            if (bytes.isEmpty())
                return false;
        }
        out = QString::fromUtf8(bytes);
        return true;
    }

    QByteArrayView m_text;
    qsizetype m_pos = 0;
};

} // namespace

const KeyValuesText::Node* KeyValuesText::Node::child(QStringView name) const
{
    for (const Node& node : children) {
        if (node.key.compare(name, Qt::CaseInsensitive) == 0)
            return &node;
    }
    return nullptr;
}

QString KeyValuesText::Node::childText(QStringView name) const
{
    const Node* node = child(name);
    return node && !node->isBlock() ? node->text : QString();
}

std::optional<std::vector<KeyValuesText::Node>> KeyValuesText::parse(QByteArrayView utf8)
{
    std::vector<Node> nodes;
    Parser parser(utf8);
    if (!parser.parseNodes(nodes, 0))
        return std::nullopt;
    return nodes;
}
