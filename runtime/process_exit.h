#pragma once
// Ends the process at once, with the program's usual exit code 0, when memory
// that a caller cannot do without is refused: the runtime's string operations
// have no failure result, so carrying on would write through a null pointer.
[[noreturn]] void EndProcessWithoutMemory();
