#pragma once

#include "prefix/WinePrefix.h"

#include <QString>

// Whether a folder is a Wine prefix whose registry Kestrin can read. A prefix that is not gives an
// empty list, and the user must learn why rather than see a list that is silently empty.
class PrefixHealth
{
public:
    enum class State
    {
        Ready,
        NoFolder,         // the folder does not exist
        NoSystemHive,     // a folder without system.reg: not a prefix (yet)
        Unreadable,       // system.reg cannot be read
        NotARegistryFile, // system.reg's first line is not Wine's header
    };

    static PrefixHealth check(const WinePrefix& prefix);

    State state() const { return m_state; }
    bool ready() const { return m_state == State::Ready; }
    // One sentence with the folder and what to do; empty when ready.
    const QString& sentence() const { return m_sentence; }

private:
    State m_state = State::Ready;
    QString m_sentence;
};
