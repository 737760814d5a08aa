#include "core/power/LooseValue.h"

namespace ventoral {

const LooseValue* member(const LooseDictionary& dictionary, const std::string& key) {
    auto found = dictionary.find(key);
    return found == dictionary.end() ? nullptr : &found->second;
}

const LooseDictionary* memberDictionary(const LooseDictionary& dictionary, const std::string& key) {
    const LooseValue* value = member(dictionary, key);
    return value ? value->dictionary() : nullptr;
}

} // namespace ventoral
