#pragma once
// Task memory: blocks that one side allocates and the other frees (media type
// records and their format blocks handed out by enumerators).
#include <cstddef>

void* CoTaskMemAlloc(size_t size);
void* CoTaskMemRealloc(void* p, size_t size);
void CoTaskMemFree(void* p); // null is allowed
