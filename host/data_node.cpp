#include "data_node.h"

#include <cstdio>

namespace refhost {

namespace {

bool same_value(const data_value& a, const data_value& b) {
    if (a.index() != b.index()) return false;
    if (const auto* na = std::get_if<node_ptr>(&a)) {
        const node_ptr& nb = std::get<node_ptr>(b);
        return (*na && nb) ? **na == *nb : *na == nb;
    }
    return a == b;
}

void put_escaped(std::string& out, const std::string& text) {
    out += '"';
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += c;
        } else if (byte >= 0x20 && byte < 0x7F) {
            out += c;
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", byte);
            out += escape;
        }
    }
    out += '"';
}

void put_json(std::string& out, const data_node& tree);

void put_json_value(std::string& out, const data_value& value) {
    if (const auto* i = std::get_if<std::int64_t>(&value)) {
        out += std::to_string(*i);
    } else if (const auto* s = std::get_if<std::string>(&value)) {
        put_escaped(out, *s);
    } else if (const auto* n = std::get_if<node_ptr>(&value); n && *n) {
        put_json(out, **n);
    } else {
        out += "null";
    }
}

void put_json(std::string& out, const data_node& tree) {
    out += "{\"#name\":";
    put_escaped(out, tree.name);
    for (const auto& [key, value] : tree.entries) {
        out += ',';
        put_escaped(out, key);
        out += ':';
        put_json_value(out, value);
    }
    out += '}';
}

void put_text(std::string& out, const data_node& tree, int depth) {
    const std::string indent(static_cast<std::size_t>(depth) * 2, ' ');
    out += "\"" + tree.name + "\" {\n";
    for (const auto& [key, value] : tree.entries) {
        out += indent + "  " + key + ": ";
        if (const auto* n = std::get_if<node_ptr>(&value); n && *n) {
            put_text(out, **n, depth + 1);
        } else {
            put_json_value(out, value);
            out += '\n';
        }
    }
    out += indent + "}\n";
}

}  // namespace

bool data_node::operator==(const data_node& other) const {
    if (name != other.name || entries.size() != other.entries.size()) return false;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].first != other.entries[i].first) return false;
        if (!same_value(entries[i].second, other.entries[i].second)) return false;
    }
    return true;
}

const data_value* data_node::find(const std::string& key) const {
    for (const auto& entry : entries) {
        if (entry.first == key) return &entry.second;
    }
    return nullptr;
}

std::int64_t data_node::integer(const std::string& key) const {
    const data_value* value = find(key);
    const auto* i = value ? std::get_if<std::int64_t>(value) : nullptr;
    return i ? *i : 0;
}

const data_node* data_node::child(const std::string& key) const {
    const data_value* value = find(key);
    const auto* n = value ? std::get_if<node_ptr>(value) : nullptr;
    return n ? n->get() : nullptr;
}

std::vector<std::string> data_node::keys() const {
    std::vector<std::string> names;
    for (const auto& entry : entries) names.push_back(entry.first);
    return names;
}

node_ptr node(std::string name, std::vector<entry_init> entries) {
    auto tree = std::make_shared<data_node>();
    tree->name = std::move(name);
    for (auto& entry : entries) tree->entries.emplace_back(std::move(entry.key), std::move(entry.value));
    return tree;
}

std::string to_json(const data_node& tree) {
    std::string out;
    put_json(out, tree);
    return out;
}

std::string to_text(const data_node& tree) {
    std::string out;
    put_text(out, tree, 0);
    return out;
}

}  // namespace refhost
