// The keyed list the import keeps its caches and result columns in: items in
// order, positions from 1, each item optionally filed under a text key.
// Keys are unique and compared without regard to letter case, so "fra..."
// and "FRA..." name the same club. Lookups go through a hash table: a
// national file puts 200,000 swimmers in one list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/cp1252.h"
#include "platform/error.h"

namespace ondival {

// A key's hash and comparison without regard to letter case, folding each
// character as it is read (Windows-1252 letter case, as the host's key
// comparison does it): a lookup needs no folded copy of its key.
// 64 bits wherever the library is built: the index takes its tags from the
// upper half.
struct FoldedKeyHash {
    std::uint64_t operator()(std::string_view key) const noexcept;
};
struct FoldedKeyEqual {
    bool operator()(std::string_view a, std::string_view b) const noexcept;
};

template <typename T>
class KeyedList {
public:
    std::size_t Count() const { return items_.size(); }

    void Add(T item) { items_.push_back(Entry{std::move(item), {}}); }

    // Fails when the key is already present: a second swimmer under the same
    // club and licence must not silently replace the first.
    void Add(T item, std::string_view key) {
        if (!TryAdd(std::move(item), key))
            platform::raise(platform::err::kKeyAlreadyAssociated,
                            "Cette clé est déjà associée à un élément de cette collection"_w);
    }

    // False, and nothing added, when the key is already present: for a
    // caller that names the duplicate in its own words.
    bool TryAdd(T item, std::string_view key) {
        const std::uint32_t tag = tag_of(key);
        if (find_entry(key, tag)) return false;
        if (2 * (keyed_ + 1) > slots_.size()) grow();
        items_.push_back(Entry{std::move(item), std::string(key)});
        file(Slot{static_cast<std::uint32_t>(items_.size()), tag});
        ++keyed_;
        return true;
    }

    // Position from 1.
    const T& Item(std::size_t position) const {
        if (position < 1 || position > items_.size())
            platform::raise(platform::err::kSubscript, "Indice en dehors de la plage");
        return items_[position - 1].item;
    }

    const T* Find(std::string_view key) const {
        const Entry* e = find_entry(key, tag_of(key));
        return e ? &e->item : nullptr;
    }

    const T& Item(std::string_view key) const {
        const T* found = Find(key);
        if (!found) platform::raise(platform::err::kInvalidCall, "Argument ou appel de procédure incorrect"_w);
        return *found;
    }

    bool Contains(std::string_view key) const { return Find(key) != nullptr; }

    void Clear() {
        items_.clear();
        slots_.clear();
        keyed_ = 0;
    }

private:
    struct Entry {
        T item;
        std::string key;  // as given
    };
    // The index: open addressing over a power-of-two table kept at most half
    // full. A slot holds the item's position from 1 (0: empty) and 32 bits
    // of its key's hash, its tag: the tag picks the slot a probe starts
    // from, lets a probe pass another key without reading it, and lets the
    // table grow without reading a key again. A national export files some
    // 200,000 swimmers in one list, looked up once or twice a line: a node
    // per key, as a standard map keeps them, costs a cache miss more on
    // every lookup.
    struct Slot {
        std::uint32_t position = 0;
        std::uint32_t tag = 0;
    };
    static std::uint32_t tag_of(std::string_view key) { return static_cast<std::uint32_t>(FoldedKeyHash{}(key) >> 32); }

    const Entry* find_entry(std::string_view key, std::uint32_t tag) const {
        if (slots_.empty()) return nullptr;
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = tag & mask;; i = (i + 1) & mask) {
            const Slot s = slots_[i];
            if (s.position == 0) return nullptr;
            if (s.tag != tag) continue;
            const Entry& e = items_[s.position - 1];
            if (FoldedKeyEqual{}(e.key, key)) return &e;
        }
    }

    void file(Slot slot) {
        const std::size_t mask = slots_.size() - 1;
        std::size_t i = slot.tag & mask;
        while (slots_[i].position != 0) i = (i + 1) & mask;
        slots_[i] = slot;
    }

    void grow() {
        // Positions are 32 bits: four thousand million items is far beyond
        // any export.
        if (items_.size() >= 0xFFFFFFFEu) platform::raise(platform::err::kOverflow, "Dépassement de capacité"_w);
        // Positions and tags move as they are, no key is read again. (Past
        // 2^32 slots a tag would only pick among the first of them: slower,
        // never wrong.)
        std::vector<Slot> old(slots_.empty() ? 16 : 2 * slots_.size());
        old.swap(slots_);
        for (const Slot& s : old)
            if (s.position != 0) file(s);
    }

    std::vector<Entry> items_;
    std::vector<Slot> slots_;
    std::size_t keyed_ = 0;
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
