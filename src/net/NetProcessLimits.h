#pragma once
// Process-wide resource limits the network servers depend on.
#include <string>

// Raises the soft limit of open descriptors to the hard limit, so that a
// server holding its maximum of connections cannot starve the rest of the
// process. Returns false with the reason in *error when the limit stays.
bool NetRaiseOpenFileLimit(std::string* error = nullptr);
