#pragma once
// A strict reader of one JSON text, for tests that check records a factory system
// would read: anything that is not well-formed JSON fails the read.
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct JsonValue {
    enum class Type { Null, Bool, Number, String, Array, Object } type = Type::Null;
    bool boolean = false;
    double number = 0;
    std::string text;
    std::vector<JsonValue> items;
    std::map<std::string, JsonValue> fields;
    std::vector<std::string> order;  // the object's keys as they came

    const JsonValue& operator[](const std::string& key) const {
        static const JsonValue none;
        const auto it = fields.find(key);
        return it == fields.end() ? none : it->second;
    }
    bool Has(const std::string& key) const { return fields.count(key) != 0; }
};

class JsonReader {
public:
    static std::optional<JsonValue> Read(const std::string& text) {
        JsonReader r(text);
        JsonValue v;
        if (!r.Value(v, 0))
            return std::nullopt;
        r.Space();
        if (r.at != text.size())
            return std::nullopt;
        return v;
    }

private:
    explicit JsonReader(const std::string& t) : s(t) {}

    void Space() {
        while (at < s.size() && (s[at] == ' ' || s[at] == '\t' || s[at] == '\n' || s[at] == '\r'))
            ++at;
    }
    bool Literal(const char* word) {
        const std::string w = word;
        if (s.compare(at, w.size(), w) != 0)
            return false;
        at += w.size();
        return true;
    }
    bool Value(JsonValue& v, int depth) {
        if (depth > 64)
            return false;
        Space();
        if (at >= s.size())
            return false;
        const char c = s[at];
        if (c == '{')
            return Object(v, depth);
        if (c == '[')
            return Array(v, depth);
        if (c == '"') {
            v.type = JsonValue::Type::String;
            return String(v.text);
        }
        if (c == 't' || c == 'f') {
            v.type = JsonValue::Type::Bool;
            v.boolean = c == 't';
            return Literal(c == 't' ? "true" : "false");
        }
        if (c == 'n')
            return Literal("null");
        return Number(v);
    }
    bool Number(JsonValue& v) {
        const size_t begin = at;
        if (at < s.size() && s[at] == '-')
            ++at;
        if (at >= s.size() || !isdigit(static_cast<unsigned char>(s[at])))
            return false;
        if (s[at] == '0' && at + 1 < s.size() && isdigit(static_cast<unsigned char>(s[at + 1])))
            return false;
        while (at < s.size() && (isdigit(static_cast<unsigned char>(s[at])) || s[at] == '.' || s[at] == 'e' ||
                                 s[at] == 'E' || s[at] == '+' || s[at] == '-'))
            ++at;
        char* end = nullptr;
        const std::string number = s.substr(begin, at - begin);
        v.number = std::strtod(number.c_str(), &end);
        v.type = JsonValue::Type::Number;
        return end == number.c_str() + number.size();
    }
    bool String(std::string& out) {
        ++at;  // the opening quote
        while (at < s.size()) {
            const unsigned char c = static_cast<unsigned char>(s[at++]);
            if (c == '"')
                return true;
            if (c < 0x20)
                return false;
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            if (at >= s.size())
                return false;
            const char e = s[at++];
            switch (e) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                if (at + 4 > s.size())
                    return false;
                const unsigned long code = std::strtoul(s.substr(at, 4).c_str(), nullptr, 16);
                at += 4;
                if (code >= 0x80)
                    return false;  // the records escape only control characters
                out += static_cast<char>(code);
                break;
            }
            default: return false;
            }
        }
        return false;
    }
    bool Array(JsonValue& v, int depth) {
        v.type = JsonValue::Type::Array;
        ++at;
        Space();
        if (at < s.size() && s[at] == ']')
            return ++at, true;
        for (;;) {
            JsonValue item;
            if (!Value(item, depth + 1))
                return false;
            v.items.push_back(std::move(item));
            Space();
            if (at < s.size() && s[at] == ',') {
                ++at;
                continue;
            }
            return at < s.size() && s[at++] == ']';
        }
    }
    bool Object(JsonValue& v, int depth) {
        v.type = JsonValue::Type::Object;
        ++at;
        Space();
        if (at < s.size() && s[at] == '}')
            return ++at, true;
        for (;;) {
            Space();
            std::string key;
            if (at >= s.size() || s[at] != '"' || !String(key))
                return false;
            Space();
            if (at >= s.size() || s[at++] != ':')
                return false;
            JsonValue item;
            if (!Value(item, depth + 1) || v.fields.count(key))
                return false;
            v.order.push_back(key);
            v.fields.emplace(key, std::move(item));
            Space();
            if (at < s.size() && s[at] == ',') {
                ++at;
                continue;
            }
            return at < s.size() && s[at++] == '}';
        }
    }

    const std::string& s;
    size_t at = 0;
};
