#include "core/named_entries.h"

#include <map>

namespace {

const std::map<std::string, NamedEntry>& Table() {
    static const std::map<std::string, NamedEntry> table;
    return table;
}

}  // namespace

bool LookupNamedEntry(NamedEntry& entry) {
    entry.numbers[0] = 1;
    const auto& table = Table();
    const auto found = table.find(entry.name);
    if (found == table.end()) return false;
    entry = found->second;
    entry.name = found->first;
    return true;
}
