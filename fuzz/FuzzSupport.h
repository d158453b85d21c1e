#pragma once

#include <QtGlobal>

#include <cstdio>
#include <cstdlib>

// A broken invariant is a finding: abort so that libFuzzer keeps the input.
inline void check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

// Damaged inputs make Qt's image readers warn on every run; the fuzzer's output is for findings.
inline void silenceQtMessages()
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
}
