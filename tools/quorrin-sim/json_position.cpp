#include "json_position.h"

namespace sim {

namespace {

class walker {
public:
    explicit walker(const std::string& text) : m_text(text) {}

    std::size_t at() const { return m_at; }

    void skip_space() {
        while (m_at < m_text.size() && (m_text[m_at] == ' ' || m_text[m_at] == '\t' || m_text[m_at] == '\n' ||
                                        m_text[m_at] == '\r')) {
            ++m_at;
        }
    }
    bool peek(char c) {
        skip_space();
        return m_at < m_text.size() && m_text[m_at] == c;
    }
    void take(char c) {
        if (peek(c)) ++m_at;
    }

    // A string token, with the escapes that keys in practice use decoded.
    std::string string_token() {
        std::string out;
        take('"');
        while (m_at < m_text.size() && m_text[m_at] != '"') {
            char c = m_text[m_at++];
            if (c == '\\' && m_at < m_text.size()) {
                const char e = m_text[m_at++];
                switch (e) {
                    case 'n': c = '\n'; break;
                    case 't': c = '\t'; break;
                    case 'r': c = '\r'; break;
                    case 'b': c = '\b'; break;
                    case 'f': c = '\f'; break;
                    case 'u': {
                        const std::string hex = m_text.substr(m_at, 4);
                        m_at += hex.size();
                        const unsigned long code = std::stoul(hex.empty() ? "0" : hex, nullptr, 16);
                        c = code < 0x80 ? static_cast<char>(code) : '?';
                        break;
                    }
                    default: c = e;
                }
            }
            out += c;
        }
        if (m_at < m_text.size()) ++m_at;
        return out;
    }

    void skip_value() {
        skip_space();
        if (m_at >= m_text.size()) return;
        const char c = m_text[m_at];
        if (c == '"') {
            string_token();
        } else if (c == '{' || c == '[') {
            const char close = c == '{' ? '}' : ']';
            ++m_at;
            while (!peek(close) && m_at < m_text.size()) {
                if (close == '}') {
                    string_token();
                    take(':');
                }
                skip_value();
                take(',');
            }
            take(close);
        } else {
            while (m_at < m_text.size() && m_text[m_at] != ',' && m_text[m_at] != '}' && m_text[m_at] != ']' &&
                   m_text[m_at] != ' ' && m_text[m_at] != '\n' && m_text[m_at] != '\r' && m_text[m_at] != '\t') {
                ++m_at;
            }
        }
    }

    // Moves to the value under token in the container that starts here; false if it is absent.
    bool enter(const std::string& token, bool at_key) {
        skip_space();
        if (peek('{')) {
            ++m_at;
            while (!peek('}') && m_at < m_text.size()) {
                skip_space();
                const std::size_t key_at = m_at;
                const std::string key = string_token();
                take(':');
                if (key == token) {
                    if (at_key) {
                        m_at = key_at;
                    } else {
                        skip_space();
                    }
                    return true;
                }
                skip_value();
                take(',');
            }
            return false;
        }
        if (peek('[')) {
            ++m_at;
            std::size_t index = 0;
            for (char c : token) {
                if (c < '0' || c > '9') return false;
                index = index * 10 + static_cast<std::size_t>(c - '0');
            }
            for (std::size_t i = 0; !peek(']') && m_at < m_text.size(); ++i) {
                if (i == index) {
                    skip_space();
                    return true;
                }
                skip_value();
                take(',');
            }
        }
        return false;
    }

private:
    const std::string& m_text;
    std::size_t m_at = 0;
};

}  // namespace

text_position position_of_offset(const std::string& text, std::size_t offset) {
    text_position p;
    for (std::size_t i = 0; i < offset && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++p.line;
            p.column = 1;
        } else {
            ++p.column;
        }
    }
    return p;
}

text_position locate(const std::string& text, const std::vector<std::string>& tokens, bool at_key) {
    walker w(text);
    w.skip_space();
    std::size_t found = w.at();
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const bool last = i + 1 == tokens.size();
        if (!w.enter(tokens[i], at_key && last)) break;
        found = w.at();
    }
    return position_of_offset(text, found);
}

}  // namespace sim
