#include "station/standingtrust.h"

#include "util/places.h"
#include "util/settingsfile.h"

void addStandingTrust(trustedKeys &trust, bool required)
{
    for (const QString &folder : places::trustedKeyFolders())
        trust.addFolder(folder);
    trust.setRequired(
        required
        || settingsFile::readSwitch(places::settingsFile(), QString::fromLatin1(places::kRequireSignatureKey)));
}
