// A plain snapshot of a data-object tree: what tests compare and what quorrin-sim prints.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace refhost {

struct data_node;
using node_ptr = std::shared_ptr<const data_node>;

// A child slot may hold a null object: null_child.
struct null_child {
    bool operator==(const null_child&) const { return true; }
};
using data_value = std::variant<std::int64_t, std::string, node_ptr, null_child>;

struct data_node {
    std::string name;
    std::vector<std::pair<std::string, data_value>> entries;  // in insertion order

    bool operator==(const data_node& other) const;
    bool operator!=(const data_node& other) const { return !(*this == other); }

    // The entry under key, or nullptr.
    const data_value* find(const std::string& key) const;
    std::int64_t integer(const std::string& key) const;  // 0 when absent or not an integer
    const data_node* child(const std::string& key) const;
    std::vector<std::string> keys() const;
};

// Builds an expected tree in a test: node("Quorrin", {{"count", 3}, {"peerid", "x"}, {"list", node(...)}}).
struct entry_init {
    entry_init(std::string k, std::int64_t v) : key(std::move(k)), value(v) {}
    entry_init(std::string k, int v) : key(std::move(k)), value(std::int64_t{v}) {}
    entry_init(std::string k, unsigned v) : key(std::move(k)), value(std::int64_t{v}) {}
    entry_init(std::string k, const char* v) : key(std::move(k)), value(std::string(v)) {}
    entry_init(std::string k, std::string v) : key(std::move(k)), value(std::move(v)) {}
    entry_init(std::string k, node_ptr v) : key(std::move(k)), value(std::move(v)) {}
    entry_init(std::string k, null_child v) : key(std::move(k)), value(v) {}
    std::string key;
    data_value value;
};
node_ptr node(std::string name, std::vector<entry_init> entries);

// One line of JSON: {"#name":"Quorrin","cdn_down_bytes_stat":{...},"peerid":"..."} with keys in
// order. Bytes outside printable ASCII are written as \u00XX; a null child as null.
std::string to_json(const data_node& tree);
// Indented, for failure messages.
std::string to_text(const data_node& tree);

}  // namespace refhost
