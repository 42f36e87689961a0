#pragma once
// Implemented features: transparent huge pages asked for on a stretch of
// memory the program already owns.
#include <cstddef>

// Advises the whole pages inside [data, data + bytes); the memory stays the
// caller's, to be freed as it was allocated. Where the system has no huge
// pages, or refuses, nothing changes.
void adviseLargePages(void* data, size_t bytes);
