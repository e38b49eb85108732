#include "common/keyed_list.h"

#include "common/letters.h"

namespace ondival {

void fold_key(std::string_view key, std::string& out) {
    out.assign(key);
    for (char& c : out) c = to_lower_1252(c);
}

std::string fold_key(std::string_view key) {
    std::string out;
    fold_key(key, out);
    return out;
}

bool blit_collection(const TextList& list, std::string_view key, std::string& value) {
    value.clear();
    const std::string* found = list.Find(key);
    if (!found) return false;
    value = *found;
    return true;
}

}  // namespace ondival
