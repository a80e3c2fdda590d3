// A small reader for the XML of application manifests, enough to look at them the way the
// system's loader does: elements with their namespace and local name, and attributes.
// Comments, processing instructions and text are skipped; malformed text throws.
#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace kyrtest {

struct XmlElement {
    std::string ns;   // namespace name (URI) of the element, empty when it has none
    std::string name; // local name, without a prefix
    std::map<std::string, std::string> attributes; // by the name as written; values decoded
    std::vector<XmlElement> children;

    // The value of an attribute, or nullptr when the element has none of that name.
    const std::string* attribute(const std::string& attributeName) const;
};

struct XmlError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The root element of a whole document (UTF-8, an optional byte order mark).
XmlElement parseXml(const std::string& text);

} // namespace kyrtest
