#include <QByteArray>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

// Linked into every test program: it and every program it starts see
// per-user folders of their own (settings, trusted keys, the unpacking
// cache), so a developer's own never take part and nothing is left there.
namespace {

struct isolatedUserFolders
{
    QTemporaryDir home;

    isolatedUserFolders()
    {
        if (!home.isValid()) {
            std::fputs("cannot make a temporary folder for the user's folders\n", stderr);
            std::abort();
        }
        for (const char *variable : {"XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME"})
            qputenv(variable, QByteArray(home.path().toLocal8Bit() + '/' + variable));
    }
};

const isolatedUserFolders userFolders;

} // namespace
