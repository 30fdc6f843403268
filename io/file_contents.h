// Reading a whole file into memory, for the readers and decoders that parse from a buffer.
#pragma once

#include <string>

// Reads the whole file (binary mode) into data and returns true. When it cannot be opened
// or read, returns false, leaves data as it was and sets error to
// "<file>: cannot open (<reason>)" or "<file>: cannot read (<reason>)".
bool readWholeFile(std::string& data, const char* fileName, std::string& error);
