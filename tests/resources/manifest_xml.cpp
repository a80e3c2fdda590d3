#include "manifest_xml.h"

#include <cstdint>
#include <cstring>

namespace kyrtest {

const std::string* XmlElement::attribute(const std::string& attributeName) const {
    const auto it = attributes.find(attributeName);
    return it == attributes.end() ? nullptr : &it->second;
}

namespace {

using Namespaces = std::map<std::string, std::string>; // prefix ("" default) -> name

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool isNameChar(char c) {
    return !isSpace(c) && c != '<' && c != '>' && c != '/' && c != '=' && c != '"' && c != '\'' &&
           c != '\0';
}

void appendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

class Reader {
public:
    explicit Reader(const std::string& text) : text_(text) {}

    XmlElement document() {
        if (text_.compare(0, 3, "\xEF\xBB\xBF") == 0) {
            pos_ = 3;
        }
        skipMisc();
        if (!startsWith("<")) {
            fail("no root element");
        }
        XmlElement root = element(Namespaces{{"xml", "http://www.w3.org/XML/1998/namespace"}});
        skipMisc();
        if (pos_ != text_.size()) {
            fail("text after the root element");
        }
        return root;
    }

private:
    [[noreturn]] void fail(const std::string& what) const {
        throw XmlError(what + " at offset " + std::to_string(pos_));
    }

    bool startsWith(const char* s) const { return text_.compare(pos_, std::strlen(s), s) == 0; }

    void skipSpace() {
        while (pos_ < text_.size() && isSpace(text_[pos_])) {
            ++pos_;
        }
    }

    void skipPast(const char* end) {
        const auto found = text_.find(end, pos_);
        if (found == std::string::npos) {
            fail(std::string("missing \"") + end + "\"");
        }
        pos_ = found + std::strlen(end);
    }

    // Space, comments and processing instructions outside the root element.
    void skipMisc() {
        for (;;) {
            skipSpace();
            if (startsWith("<?")) {
                skipPast("?>");
            } else if (startsWith("<!--")) {
                skipPast("-->");
            } else if (startsWith("<!")) {
                fail("document type declarations are not read");
            } else {
                return;
            }
        }
    }

    std::string name() {
        const std::size_t start = pos_;
        while (pos_ < text_.size() && isNameChar(text_[pos_])) {
            ++pos_;
        }
        if (pos_ == start) {
            fail("name expected");
        }
        return text_.substr(start, pos_ - start);
    }

    void expect(char c) {
        if (pos_ >= text_.size() || text_[pos_] != c) {
            fail(std::string("'") + c + "' expected");
        }
        ++pos_;
    }

    std::string attributeValue() {
        if (pos_ >= text_.size() || (text_[pos_] != '"' && text_[pos_] != '\'')) {
            fail("quoted value expected");
        }
        const char quote = text_[pos_++];
        std::string value;
        for (;;) {
            if (pos_ >= text_.size() || text_[pos_] == '<') {
                fail("unterminated value");
            }
            const char c = text_[pos_++];
            if (c == quote) {
                return value;
            }
            if (c != '&') {
                value += c;
                continue;
            }
            const auto semicolon = text_.find(';', pos_);
            if (semicolon == std::string::npos) {
                fail("unterminated reference");
            }
            const std::string entity = text_.substr(pos_, semicolon - pos_);
            pos_ = semicolon + 1;
            static const std::map<std::string, char> named = {
                {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}};
            if (const auto it = named.find(entity); it != named.end()) {
                value += it->second;
            } else if (entity.size() > 1 && entity[0] == '#') {
                const bool hex = entity[1] == 'x';
                const std::string digits = entity.substr(hex ? 2 : 1);
                if (digits.empty() ||
                    digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") !=
                        std::string::npos) {
                    fail("bad character reference");
                }
                appendUtf8(value,
                           static_cast<std::uint32_t>(std::stoul(digits, nullptr, hex ? 16 : 10)));
            } else {
                fail("unknown entity &" + entity + ";");
            }
        }
    }

    // Splits "prefix:local" and looks the prefix up.
    void resolve(const std::string& qualified, const Namespaces& scope, XmlElement& element) {
        const auto colon = qualified.find(':');
        const std::string prefix = colon == std::string::npos ? "" : qualified.substr(0, colon);
        element.name = colon == std::string::npos ? qualified : qualified.substr(colon + 1);
        const auto it = scope.find(prefix);
        if (it != scope.end()) {
            element.ns = it->second;
        } else if (!prefix.empty()) {
            fail("undeclared namespace prefix " + prefix);
        }
    }

    // An element, from its '<' to the end of its end tag.
    XmlElement element(const Namespaces& parentScope) {
        expect('<');
        const std::string qualified = name();
        XmlElement result;
        Namespaces scope = parentScope;
        bool empty = false;
        for (;;) {
            const std::size_t before = pos_;
            skipSpace();
            if (startsWith("/>")) {
                pos_ += 2;
                empty = true;
                break;
            }
            if (startsWith(">")) {
                ++pos_;
                break;
            }
            if (pos_ == before) {
                fail("space expected before an attribute");
            }
            const std::string attributeName = name();
            skipSpace();
            expect('=');
            skipSpace();
            std::string value = attributeValue();
            if (attributeName == "xmlns") {
                scope[""] = value;
            } else if (attributeName.compare(0, 6, "xmlns:") == 0) {
                scope[attributeName.substr(6)] = value;
            }
            if (!result.attributes.emplace(attributeName, std::move(value)).second) {
                fail("attribute " + attributeName + " given twice");
            }
        }
        resolve(qualified, scope, result);
        if (empty) {
            return result;
        }
        for (;;) {
            if (pos_ >= text_.size()) {
                fail("end tag of " + qualified + " missing");
            }
            if (startsWith("</")) {
                pos_ += 2;
                if (name() != qualified) {
                    fail("end tag does not match " + qualified);
                }
                skipSpace();
                expect('>');
                return result;
            }
            if (startsWith("<!--")) {
                skipPast("-->");
            } else if (startsWith("<![CDATA[")) {
                skipPast("]]>");
            } else if (startsWith("<?")) {
                skipPast("?>");
            } else if (startsWith("<")) {
                result.children.push_back(element(scope));
            } else {
                const auto next = text_.find('<', pos_);
                pos_ = next == std::string::npos ? text_.size() : next;
            }
        }
    }

    const std::string& text_;
    std::size_t pos_ = 0;
};

} // namespace

XmlElement parseXml(const std::string& text) {
    return Reader(text).document();
}

} // namespace kyrtest
