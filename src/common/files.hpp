// Opening the files the program reads, and telling whether two names denote one file.
#pragma once

#include <cstdio>
#include <string>

namespace velmar {

// Opens `name` for reading when it is a regular file; nullptr otherwise (missing, a
// directory, a FIFO, a device such as /dev/zero). Never blocks on a FIFO.
std::FILE* open_regular_file(const std::string& name);

// True when `name` exists and is not a regular file.
bool exists_as_non_regular(const std::string& name);

// True when the two names denote the same file: the same device and inode when both exist,
// else the same absolute path with symbolic links and "." and ".." resolved.
bool same_file(const std::string& a, const std::string& b);

}  // namespace velmar
