#pragma once
// One call log shared by the fakes, so tests can check the order of calls
// across members, listeners and the platform graph.
#include <string>
#include <vector>

struct FakeLog {
    static std::vector<std::string>& Entries() {
        static std::vector<std::string> entries;
        return entries;
    }
    static void Add(std::string s) { Entries().push_back(std::move(s)); }
    static void Clear() { Entries().clear(); }
};
