#pragma once

#include <QString>

class RegistryAccess;
class WinePrefix;

// The main window's remembered size, position, state and view style, kept as decimal texts under
// HKEY_CURRENT_USER.
class MainSettings
{
public:
    enum WindowState
    {
        Normal = 0,
        Minimized = 1,
        Maximized = 2,
    };

    // The designed values, which also stand for settings that are missing or unreadable.
    int width = 740;
    int height = 545;
    int left = 230;
    int top = 159;
    int windowState = Normal;
    int mainViewStyle = 0;

    static const QString Key;

    // Reads the stored values over the current ones. False when the key does not open: nothing is read.
    // Never throws: a damaged value keeps the current one.
    bool read(const WinePrefix& prefix);
    // Writes every value, creating the key when needed; throws KestrinError at the first that fails,
    // leaving the ones after it unwritten.
    void write(const WinePrefix& prefix) const;

    // The decimal integer a text value holds; `defaultValue` when the value is missing, not text, or
    // not a decimal integer. The program only ever writes decimal texts, so anything else is damage
    // that must not stop the start.
    static int ReadIntSetting(RegistryAccess& registry, const QString& name, int defaultValue);
};
