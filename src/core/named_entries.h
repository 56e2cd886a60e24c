#pragma once

// The program-wide table of named entries: a sorted map from a name to a text and three
// numbers. Nothing in the system adds entries, so every lookup misses; the table is kept
// because lookups are part of the callers' behaviour.

#include <cstdint>
#include <string>

struct NamedEntry {
    std::string name;
    std::string text;
    std::int32_t numbers[3] = {0, 0, 0};
};

// Sets the entry's first number to 1, then looks its name up; on a hit copies the stored
// key, text and numbers into the entry and returns true. Returns false on a miss.
bool LookupNamedEntry(NamedEntry& entry);
