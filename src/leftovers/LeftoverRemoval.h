#pragma once

#include "leftovers/LeftoverFinder.h"

#include <QList>
#include <QString>
#include <QStringList>

// Takes chosen leftovers away into the prefix's entry trash, never deleting anything outright.
namespace LeftoverRemoval {

struct Removed
{
    QString recordId;     // the record that keeps the files, folders and keys; empty when none were chosen
    QString menuRecordId; // the record that keeps the menu entries; empty when none were chosen
    int count = 0;        // how many of the chosen went
    // Why the menu entries stayed, when the files and keys went but the menu entries could not.
    QString menuError;
};

// Moves the chosen files and folders and deletes the chosen keys into one record of the entry trash,
// then the chosen menu entries into a record of their own, as the menu clean-up keeps them. Throws
// KestrinError (WineRunningError while Wine serves the prefix) when nothing went; when the first record
// was made and only the menu entries failed, says why in `menuError` instead.
Removed remove(const WinePrefix& prefix, const LeftoverFinder& finder, const QList<Leftover>& leftovers,
               const QList<int>& chosen);

// The leftovers that start checked: those that are the program's beyond doubt.
QList<int> certainOnes(const QList<Leftover>& leftovers);

} // namespace LeftoverRemoval
