#include "server/Secrets.h"

#include <algorithm>

#include <sys/prctl.h>

namespace Secrets {

void wipe(QString& secret)
{
    std::fill(secret.begin(), secret.end(), QChar(u'\0'));
    secret.clear();
}

void keepOutOfCoreDumps()
{
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

} // namespace Secrets
