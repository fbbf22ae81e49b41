// Dict: construction, ownership, coercing writes and defaulting queries.
#include "TEV.h"

#include <sstream>
#include <utility>

namespace TEV {

namespace {

using ArrayT = std::vector<Dict>;
using MapT = std::map<std::string, Dict>;

const Dict& sharedNull() {
    static const Dict null;
    return null;
}

bool isContainer(const Dict& d) { return d.type == Dict::Array || d.type == Dict::Map; }

bool hasContainerChild(const Dict& d) {
    if (d.type == Dict::Array) {
        for (const Dict& c : std::get<ArrayT>(d.value))
            if (isContainer(c)) return true;
    } else if (d.type == Dict::Map) {
        for (const auto& kv : std::get<MapT>(d.value))
            if (isContainer(kv.second)) return true;
    }
    return false;
}

// Moves the container children of `d` onto `stack`, leaving Nulls behind, so
// that destroying `d` afterwards recurses no further than one level.
void detachContainers(Dict& d, std::vector<Dict>& stack) {
    if (d.type == Dict::Array) {
        for (Dict& c : std::get<ArrayT>(d.value))
            if (isContainer(c)) stack.push_back(std::move(c));
    } else if (d.type == Dict::Map) {
        for (auto& kv : std::get<MapT>(d.value))
            if (isContainer(kv.second)) stack.push_back(std::move(kv.second));
    }
}

}  // namespace

Dict::Dict() noexcept : type(Null), value(nullptr) {}
Dict::Dict(bool v) : type(Bool), value(v) {}
Dict::Dict(int v) : type(Int), value(static_cast<long long>(v)) {}
Dict::Dict(unsigned int v) : type(Int), value(static_cast<long long>(v)) {}
Dict::Dict(long v) : type(Int), value(static_cast<long long>(v)) {}
Dict::Dict(unsigned long v) : type(Int), value(static_cast<long long>(v)) {}
Dict::Dict(long long v) : type(Int), value(v) {}
Dict::Dict(unsigned long long v) : type(Int), value(static_cast<long long>(v)) {}
Dict::Dict(float v) : type(Float), value(static_cast<double>(v)) {}
Dict::Dict(double v) : type(Float), value(v) {}
Dict::Dict(const char* v) : type(String), value(std::string(v ? v : "")) {}
Dict::Dict(const std::string& v) : type(String), value(v) {}
Dict::Dict(std::string&& v) : type(String), value(std::move(v)) {}
Dict::Dict(const std::vector<char>& v) : type(Bytes), value(v) {}
Dict::Dict(std::vector<char>&& v) : type(Bytes), value(std::move(v)) {}
Dict::Dict(const std::vector<Dict>& v) : type(Array), value(v) {}
Dict::Dict(std::vector<Dict>&& v) : type(Array), value(std::move(v)) {}
Dict::Dict(const std::map<std::string, Dict>& v) : type(Map), value(v) {}
Dict::Dict(std::map<std::string, Dict>&& v) : type(Map), value(std::move(v)) {}

Dict::Dict(const Dict& other) : type(other.type), value(other.value) {}

Dict::Dict(Dict&& other) noexcept : type(other.type), value(std::move(other.value)) {
    other.type = Null;
    other.value = nullptr;
}

Dict& Dict::operator=(const Dict& other) {
    if (this != &other) {
        Dict copy(other);  // copy first: `other` may live inside this tree
        *this = std::move(copy);
    }
    return *this;
}

Dict& Dict::operator=(Dict&& other) noexcept {
    if (this != &other) {
        // Take `other` out before the old value dies: it may be our own child.
        Kind kind = other.type;
        Value taken = std::move(other.value);
        other.type = Null;
        other.value = nullptr;
        reset(kind, std::move(taken));
    }
    return *this;
}

Dict::~Dict() {
    // Deep trees (as a hostile reply could make them) are freed with an
    // explicit stack instead of one native frame per level.
    if (!hasContainerChild(*this)) return;
    std::vector<Dict> stack;
    detachContainers(*this, stack);
    while (!stack.empty()) {
        Dict node = std::move(stack.back());
        stack.pop_back();
        detachContainers(node, stack);
    }
}

void Dict::reset(Kind kind, Value&& v) noexcept {
    Dict old;  // the old subtree is freed by ~Dict, iteratively
    old.type = type;
    old.value = std::move(value);
    type = kind;
    value = std::move(v);
}

Dict& Dict::operator[](const std::string& key) {
    if (type != Map) reset(Map, MapT{});
    return std::get<MapT>(value)[key];
}

void Dict::push_back(const Dict& item) { push_back(Dict(item)); }

void Dict::push_back(Dict&& item) {
    if (type != Array) {
        Dict keep(std::move(item));  // `item` may live inside the value we discard
        reset(Array, ArrayT{});
        std::get<ArrayT>(value).push_back(std::move(keep));
        return;
    }
    std::get<ArrayT>(value).push_back(std::move(item));
}

const Dict& Dict::get(const std::string& key) const {
    if (type != Map) return sharedNull();
    const MapT& m = std::get<MapT>(value);
    auto it = m.find(key);
    return it == m.end() ? sharedNull() : it->second;
}

long long Dict::getInt(const std::string& key, long long def) const {
    const Dict& e = get(key);
    return e.type == Int ? std::get<long long>(e.value) : def;
}

double Dict::getFloat(const std::string& key, double def) const {
    const Dict& e = get(key);
    if (e.type == Float) return std::get<double>(e.value);
    if (e.type == Int) return static_cast<double>(std::get<long long>(e.value));
    return def;
}

std::string Dict::getString(const std::string& key, const std::string& def) const {
    const Dict& e = get(key);
    return e.type == String ? std::get<std::string>(e.value) : def;
}

bool Dict::contains(const std::string& key) const {
    return type == Map && std::get<MapT>(value).count(key) != 0;
}

const Dict& Dict::path(const std::string& dotted) const {
    // Segments as std::getline(stream, segment, '.') reads them: no segment
    // for "", none after a trailing '.', an empty key for ".." or a leading '.'.
    std::istringstream stream(dotted);
    std::string segment;
    const Dict* node = this;
    while (std::getline(stream, segment, '.')) {
        if (node->type != Map) return sharedNull();
        node = &node->get(segment);
    }
    return *node;
}

}  // namespace TEV
