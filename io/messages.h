// The one-line messages of the readers, the writers and the tools. A message names the file
// first, then (for a text file) the line, then what is wrong, like a compiler's:
//   data/pose.txt, line 3: expected "I DX DY DZ", found 2 fields
//   out/data/retarget.model: cannot be written (No space left on device)
#pragma once

#include <string>

// Sets error to "<file>: <what>" and returns false.
bool fileError(std::string& error, const std::string& fileName, const std::string& what);

// Sets error to "<file>, line <line>: <what>" and returns false.
bool lineError(std::string& error, const std::string& fileName, long line, const std::string& what);

// Sets error to "<file>: cannot be written (<the system's text for errnum>)" and returns
// false.
bool writeError(std::string& error, const std::string& fileName, int errnum);

// Prints "<program>: <line>" on standard error and returns 1, a tool's status for input it
// refuses.
int refuse(const char* program, const std::string& line);
