// The keyed list the import keeps its caches and result columns in: items in
// order, positions from 1, each item optionally filed under a text key.
// Keys are unique and compared without regard to letter case, so "fra..."
// and "FRA..." name the same club. Lookups go through a hash table: a
// national file puts 200,000 swimmers in one list.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/cp1252.h"
#include "platform/error.h"

namespace ondival {

// Windows-1252 letter case folding, as the host's key comparison does it.
std::string fold_key(std::string_view key);

// A key's hash and comparison without regard to letter case, folding each
// character as it is read: a lookup needs no folded copy of its key.
struct FoldedKeyHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view key) const noexcept;
};
struct FoldedKeyEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const noexcept;
};

template <typename T>
class KeyedList {
public:
    std::size_t Count() const { return items_.size(); }

    void Add(T item) { items_.push_back(Entry{std::move(item)}); }

    // Fails when the key is already present: a second swimmer under the same
    // club and licence must not silently replace the first.
    void Add(T item, std::string_view key) {
        if (!index_.try_emplace(fold_key(key), items_.size()).second)
            platform::raise(platform::err::kKeyAlreadyAssociated, "Cette clé est déjà associée à un élément de cette collection"_w);
        items_.push_back(Entry{std::move(item)});
    }

    // Position from 1.
    const T& Item(std::size_t position) const {
        if (position < 1 || position > items_.size())
            platform::raise(platform::err::kSubscript, "Indice en dehors de la plage");
        return items_[position - 1].item;
    }

    const T* Find(std::string_view key) const {
        const auto it = index_.find(key);
        return it == index_.end() ? nullptr : &items_[it->second].item;
    }

    const T& Item(std::string_view key) const {
        const T* found = Find(key);
        if (!found) platform::raise(platform::err::kInvalidCall, "Argument ou appel de procédure incorrect"_w);
        return *found;
    }

    bool Contains(std::string_view key) const { return Find(key) != nullptr; }

    void Clear() {
        items_.clear();
        index_.clear();
    }

private:
    struct Entry {
        T item;
    };
    std::vector<Entry> items_;
    std::unordered_map<std::string, std::size_t, FoldedKeyHash, FoldedKeyEqual> index_;  // folded keys
};

using TextList = KeyedList<std::string>;
using WidthList = KeyedList<int>;

// Empties a list; a list that does not exist is left alone.
template <typename T>
void vide_collection(KeyedList<T>* list) {
    if (list) list->Clear();
}
template <typename T>
void vide_collection(KeyedList<T>& list) {
    list.Clear();
}

// Looks a key up; a missing key gives false and an empty value, never an
// error, so callers can use it as a cache probe.
bool blit_collection(const TextList& list, std::string_view key, std::string& value);

}  // namespace ondival
