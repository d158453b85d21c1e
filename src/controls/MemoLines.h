#pragma once

#include <QStringList>

class QPlainTextEdit;

// The lines of a memo as it shows them, wrapped lines apart: what a printed page must repeat.
QStringList visualLines(const QPlainTextEdit& memo);
