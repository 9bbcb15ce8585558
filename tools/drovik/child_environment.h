#ifndef DROVIK_TOOL_CHILD_ENVIRONMENT_H
#define DROVIK_TOOL_CHILD_ENVIRONMENT_H

#include <vector>

// The environment for every program the tool starts (an editor, a password
// command): ours without any DROVIK_ variable, so that whatever the
// environment gave the tool for itself, a password above all, never reaches
// the child or what it starts. Null-terminated, for execve and posix_spawn;
// valid while the environment is not changed.
std::vector<char *> childEnvironment();

#endif // DROVIK_TOOL_CHILD_ENVIRONMENT_H
