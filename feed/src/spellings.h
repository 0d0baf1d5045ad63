// A set of names as rows spell them, for the feeds' memos of the names met before: every row's
// party, item and ledgers are looked up in it, and most have been met. The table is flat (open
// addressing, each slot its name's hash and the name), so a name met before costs one slot's
// read, where std::unordered_set reads a bucket and then a node elsewhere in memory; thousands of
// parties and items do not stay in the cache between one row and the next.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace lirvo::feed {

class Spellings {
 public:
  bool contains(std::string_view name) const {
    return !slots_.empty() && slots_[SlotOf(name, Hash(name))].hash != 0;
  }

  // Adds `name`; false when it was there already.
  bool insert(std::string_view name) {
    if (2 * (size_ + 1) > slots_.size()) {
      Grow();
    }
    const std::size_t hash = Hash(name);
    Slot& slot = slots_[SlotOf(name, hash)];
    if (slot.hash != 0) {
      return false;
    }
    slot = {hash, std::string(name)};
    ++size_;
    return true;
  }

  std::size_t size() const { return size_; }

 private:
  struct Slot {
    std::size_t hash = 0;  // never 0 for a name: 0 marks a free slot
    std::string name;
  };

  static std::size_t Hash(std::string_view name) { return std::hash<std::string_view>{}(name) | 1; }
  std::size_t mask() const { return slots_.size() - 1; }

  // The slot holding `name`, whose hash is `hash`, or else the free slot where it would go.
  std::size_t SlotOf(std::string_view name, std::size_t hash) const {
    std::size_t at = hash & mask();
    while (slots_[at].hash != 0 && (slots_[at].hash != hash || slots_[at].name != name)) {
      at = (at + 1) & mask();
    }
    return at;
  }

  void Grow() {
    std::vector<Slot> old = std::move(slots_);
    slots_ = std::vector<Slot>(old.empty() ? 64 : 2 * old.size());
    for (Slot& slot : old) {
      if (slot.hash != 0) {
        slots_[SlotOf(slot.name, slot.hash)] = std::move(slot);
      }
    }
  }

  std::vector<Slot> slots_;  // a power of two of them, at most half used
  std::size_t size_ = 0;
};

}  // namespace lirvo::feed
