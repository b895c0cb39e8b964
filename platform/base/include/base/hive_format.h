// The settings hive in memory and in its file (base/hive.h keeps it in the sysroot). The file is text:
//   "TAVRIN-REGISTRY 2 <stamp>" (the stamp, 16 hex digits, is new at every write)
//   "K <depth> <name>"          a key; depth 1 is a hive root, a key's parent is the last key one level up
//   "V <type> <name>=<data>"    a value of the key above
// Names and data escape %, =, \ and every byte outside printable ASCII as %XX. Version 1 files (each "K"
// line naming the whole path, "K <name>\<name>...") are still read.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>


namespace tavrin::base::hive {

constexpr int kVersion = 2;
// Names in a key's path, its hive root counted; deeper keys are neither made nor read.
constexpr size_t kMaxDepth = 512;

struct NoCaseLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const;
};

struct Value {
  std::string name;
  uint32_t type;
  std::string data;
};

class Key {
 public:
  Key() = default;
  ~Key();  // takes the tree apart without recursing, however deep it is
  Key(Key&&) noexcept = default;
  Key& operator=(Key&&) noexcept = default;

  // Subkeys in name order, ignoring case.
  std::map<std::string, std::unique_ptr<Key>, NoCaseLess> subkeys;

  Key* Child(std::string_view name) const;
  Key& EnsureChild(const std::string& name);

  // Values in the order they were first set; found by name (ignoring case) in O(log n).
  const std::vector<Value>& values() const { return values_; }
  const Value* FindValue(std::string_view name) const;
  void SetValue(const std::string& name, uint32_t type, std::string data);
  bool DeleteValue(std::string_view name);

 private:
  std::vector<Value> values_;
  std::map<std::string, size_t, NoCaseLess> index_;  // name -> place in values_
};

struct Parsed {
  enum class State {
    kGood,
    kDamaged,         // no header (version 0: nothing is taken), or lines that could not be read (they are
                      // left out with the keys below them, the rest is kept)
    kUnknownVersion,  // a header of a version this system does not read: nothing is taken from it
  };
  Key root;
  State state = State::kGood;
  int version = 0;
  size_t badLines = 0;
  uint64_t stamp = 0;
};

Parsed Parse(std::string_view text);
// Without recursing; keys deeper than kMaxDepth are left out.
std::string Serialize(const Key& root, uint64_t stamp);
// The stamp of a file's first line (0 when it has none).
uint64_t StampOf(std::string_view firstLine);

}  // namespace tavrin::base::hive
