#ifndef FUZZMAIN_H
#define FUZZMAIN_H

#include "tools/support/hostileinput.h"
#include "tools/support/memoryinput.h"
#include "update/common.h"

#include <QCoreApplication>
#include <QString>

#include <cstdio>
#include <cstdlib>

// The one application object of a fuzz run, and the rule that a broken
// invariant is a finding: print it and abort, so libFuzzer keeps the input.
namespace fuzzmain {

inline void initialise(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    hostileInput::silenceDebugOutput();
    // Pauses inside the engines must not slow a run down.
    common::setTimeScale(0.0001);
}

inline void discardMessage(QtMsgType, const QMessageLogContext &, const QString &) { }

inline void require(const QString &broken)
{
    if (broken.isEmpty())
        return;
    std::fprintf(stderr, "invariant broken: %s\n", qPrintable(broken));
    std::abort();
}

} // namespace fuzzmain

#define UPS_FUZZ_TARGET(feed)                                                                                          \
    extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)                                                       \
    {                                                                                                                  \
        fuzzmain::initialise(argc, argv);                                                                              \
        return 0;                                                                                                      \
    }                                                                                                                  \
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)                                            \
    {                                                                                                                  \
        const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));             \
        fuzzmain::require(hostileInput::feed(bytes));                                                                  \
        return 0;                                                                                                      \
    }

// A target that reads in memory only: no application object, and nothing
// of the tool linked but the code under test, so that a run is not slowed
// by code it never reaches.
#define UPS_MEMORY_FUZZ_TARGET(feed)                                                                                   \
    extern "C" int LLVMFuzzerInitialize(int *, char ***)                                                               \
    {                                                                                                                  \
        qInstallMessageHandler(fuzzmain::discardMessage);                                                              \
        return 0;                                                                                                      \
    }                                                                                                                  \
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)                                            \
    {                                                                                                                  \
        const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));             \
        fuzzmain::require(memoryInput::feed(bytes));                                                                   \
        return 0;                                                                                                      \
    }

#endif // FUZZMAIN_H
