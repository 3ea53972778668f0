#ifndef STANDINGTRUST_H
#define STANDINGTRUST_H

#include "package/packagesignature.h"

// What holds for every run on this machine, whatever the front end: the
// machine's and the user's trusted-keys folders, and require-signature in the
// settings (or `required`). A bad entry there keeps checking on and is said
// when the package is read.
void addStandingTrust(trustedKeys &trust, bool required);

#endif // STANDINGTRUST_H
