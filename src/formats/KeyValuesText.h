#pragma once

#include <QByteArrayView>
#include <QString>

#include <optional>
#include <vector>

// The nested key-value text of Steam's library list (libraryfolders.vdf) and app manifests
// (appmanifest_<id>.acf): quoted or bare keys, each followed by a quoted text or by a block in braces.
// "//" starts a comment; a "[$...]" condition after a value is skipped.
class KeyValuesText
{
public:
    struct Node
    {
        QString key;
        QString text;               // when the value is a text
        std::vector<Node> children; // when the value is a block
        bool block = false;
        bool isBlock() const { return block; }
        // The first child whose key matches without regard to letter case; null when none (or a text).
        const Node* child(QStringView name) const;
        // The text of that child; empty when missing or a block.
        QString childText(QStringView name) const;
    };

    // The top-level nodes; nothing when the text is malformed (unbalanced braces, a key without a
    // value, an unterminated quote, nesting deeper than a sane file has).
    static std::optional<std::vector<Node>> parse(QByteArrayView utf8);
};
