#ifndef DROVIK_TOOL_CORE_DUMPS_H
#define DROVIK_TOOL_CORE_DUMPS_H

// The password and decrypted values live in this process's memory, and the
// decrypted text in the editor's: no core file may keep them. Called first
// thing; the editor inherits the zero limit.
void disableCoreDumps();

#endif // DROVIK_TOOL_CORE_DUMPS_H
