#include "core_dumps.h"

#include <sys/prctl.h>
#include <sys/resource.h>

void disableCoreDumps()
{
    // Not dumpable also keeps other processes of the same user from attaching
    // a debugger; the zero hard limit holds for children, which cannot raise it.
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    const rlimit none = {0, 0};
    setrlimit(RLIMIT_CORE, &none);
}
