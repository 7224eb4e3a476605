#include "process_exit.h"

#include <stdlib.h>

// The native build exists for sanitizer and fuzz runs, where a refused
// allocation should stop loudly.
void EndProcessWithoutMemory() { abort(); }
