#include "child_environment.h"

#include <cstring>
#include <unistd.h>

std::vector<char *> childEnvironment()
{
    std::vector<char *> entries;
    for (char **entry = environ; *entry; ++entry) {
        if (std::strncmp(*entry, "DROVIK_", 7) != 0)
            entries.push_back(*entry);
    }
    entries.push_back(nullptr);
    return entries;
}
