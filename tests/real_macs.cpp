// Reads real Macs' descriptions: `ioreg -lw0` text (the IOService plane with properties) into the
// stand-in's services, and interface lists into its interfaces.
#include "real_macs.h"

#include <stdio.h>

#include <cctype>
#include <map>
#include <sstream>

#include "test_util.h"

namespace testutil {
namespace {

using standin::Property;

// Superclasses, nearest first, of the classes in the real registries (ioreg prints none): from the
// class chains macOS reports (`ioreg -i`).
const std::map<std::string, std::vector<std::string>> kSuperclasses = {
    {"IOAHCIBlockStorageDevice", {"IOBlockStorageDevice"}},
    {"IONVMeBlockStorageDevice", {"IOBlockStorageDevice"}},
    {"AppleSDXCBlockStorageDevice", {"IOBlockStorageDevice"}},
    {"AppleNVMeController", {"IONVMeController"}},
    {"AppleANS2Controller", {"IONVMeController"}},
    {"AppleAHCIDiskDriver", {"IOAHCIBlockStorageDriver"}},
};

// A value as ioreg prints it, read from text at *at. Numbers and arrays are read and given as false
// in *kept; anything else malformed gives false.
class ValueReader {
  public:
    explicit ValueReader(const std::string &text) : text_(text) {}

    bool Read(size_t *at, Property *value, bool *kept) {
        *kept = true;
        if (*at >= text_.size()) return false;
        const char c = text_[*at];
        if (c == '"') {
            std::string s;
            if (!Quoted(at, &s)) return false;
            *value = Property::String(s);
            return true;
        }
        if (c == '<') return Data(at, value);
        if (c == '{') return Dictionary(at, value);
        if (text_.compare(*at, 3, "Yes") == 0 || text_.compare(*at, 2, "No") == 0) {
            const bool yes = text_[*at] == 'Y';
            *at += yes ? 3 : 2;
            *value = Property::Boolean(yes);
            return true;
        }
        *kept = false;
        if (c == '(') return Skip(at, '(', ')');
        if (c == '-' || isdigit(static_cast<unsigned char>(c))) {
            while (*at < text_.size() && (isalnum(static_cast<unsigned char>(text_[*at])) || text_[*at] == '-')) ++*at;
            return true;
        }
        return false;
    }

  private:
    bool Quoted(size_t *at, std::string *out) {
        const size_t end = text_.find('"', *at + 1);
        if (end == std::string::npos) return false;
        *out = text_.substr(*at + 1, end - *at - 1);
        *at = end + 1;
        return true;
    }
    // <hex bytes> or <"text">; the text form holds the bytes as they are, a final NUL included.
    bool Data(size_t *at, Property *value) {
        const size_t end = text_.find('>', *at);
        if (end == std::string::npos) return false;
        const std::string inside = text_.substr(*at + 1, end - *at - 1);
        *at = end + 1;
        if (!inside.empty() && inside[0] == '"') {
            if (inside.size() < 2 || inside.back() != '"') return false;
            *value = Property::Data(inside.substr(1, inside.size() - 2) + std::string(1, '\0'));
            return true;
        }
        if (inside.size() % 2 != 0) return false;
        std::string bytes;
        for (size_t i = 0; i < inside.size(); i += 2) {
            if (!isxdigit(static_cast<unsigned char>(inside[i])) ||
                !isxdigit(static_cast<unsigned char>(inside[i + 1])))
                return false;
            bytes += static_cast<char>(std::stoi(inside.substr(i, 2), nullptr, 16));
        }
        *value = Property::Data(bytes);
        return true;
    }
    bool Dictionary(size_t *at, Property *value) {
        std::vector<std::pair<std::string, Property>> entries;
        ++*at;
        while (*at < text_.size() && text_[*at] != '}') {
            std::string key;
            if (!Quoted(at, &key) || *at >= text_.size() || text_[*at] != '=') return false;
            ++*at;
            Property entry;
            bool kept;
            if (!Read(at, &entry, &kept)) return false;
            if (kept) entries.push_back({key, entry});
            if (*at < text_.size() && text_[*at] == ',') ++*at;
        }
        if (*at >= text_.size()) return false;
        ++*at;
        *value = Property::Dictionary(entries);
        return true;
    }
    bool Skip(size_t *at, char open, char close) {
        int depth = 0;
        for (; *at < text_.size(); ++*at) {
            if (text_[*at] == '"') {
                const size_t end = text_.find('"', *at + 1);
                if (end == std::string::npos) return false;
                *at = end;
            } else if (text_[*at] == open) {
                ++depth;
            } else if (text_[*at] == close && --depth == 0) {
                ++*at;
                return true;
            }
        }
        return false;
    }
    const std::string &text_;
};

}  // namespace

std::vector<standin::Service> ReadIoreg(const std::string &text, std::string *error) {
    std::vector<standin::Service> services;
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    const auto fail = [&](const std::string &why) {
        if (error != nullptr) *error = "line " + std::to_string(number) + ": " + why;
        return std::vector<standin::Service>();
    };
    while (std::getline(lines, line)) {
        ++number;
        const size_t node = line.find("+-o ");
        if (node != std::string::npos) {
            const size_t klass = line.find("<class ", node);
            if (klass == std::string::npos) return fail("a service without its class");
            const size_t start = klass + 7, end = line.find_first_of(",>", start);
            const std::string name = line.substr(start, end - start);
            const auto supers = kSuperclasses.find(name);
            services.push_back({name, {}, supers != kSuperclasses.end() ? supers->second : std::vector<std::string>()});
            continue;
        }
        const size_t quote = line.find('"');
        const size_t first = line.find_first_not_of(" |");
        if (first == std::string::npos) continue;
        if (quote == std::string::npos || quote != first) {
            if (line[first] == '{' || line[first] == '}') continue;
            return fail("neither a service, a property nor a brace");
        }
        if (services.empty()) return fail("a property before any service");
        size_t at = quote + 1;
        const size_t keyEnd = line.find('"', at);
        if (keyEnd == std::string::npos || line.compare(keyEnd, 4, "\" = ") != 0) return fail("no key");
        const std::string key = line.substr(at, keyEnd - at);
        at = keyEnd + 4;
        Property value;
        bool kept;
        ValueReader reader(line);
        if (!reader.Read(&at, &value, &kept) || at != line.size()) return fail("a value ioreg does not print");
        if (kept) services.back().properties.push_back({key, value});
    }
    return services;
}

std::vector<standin::Service> ReadIoregFile(const std::string &name, std::string *error) {
    std::string text;
    if (!ReadFile(std::string(MACHINEINFO_TEST_DATA) + "/macos-registries/" + name, &text)) {
        if (error != nullptr) *error = "cannot read " + name;
        return {};
    }
    return ReadIoreg(text, error);
}

std::vector<standin::InterfaceInfo> ReadInterfaceList(const std::string &text) {
    std::vector<standin::InterfaceInfo> list;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        standin::InterfaceInfo info;
        std::string mark, address;
        if (!(words >> info.name >> mark)) continue;
        info.index = static_cast<unsigned>(list.size() + 1);
        const unsigned char n = static_cast<unsigned char>(info.index);
        if (mark == "M") info.linkAddress = {0x02, 0x11, 0x22, 0x33, 0x44, n};
        if (mark == "Z") info.linkAddress.assign(6, 0);
        if (mark == "F") info.linkAddress = {0x00, 0x0a, 0x95, 0xff, 0xfe, 0x12, 0x34, n};
        if (mark == "-" && info.name.compare(0, 2, "lo") == 0) info.type = 24;
        while (words >> address) {
            info.order += address[0];
            if (address[0] == '6') info.ipv6.push_back({{0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, n}});
            unsigned a, b, c, d;
            if (sscanf(address.c_str(), "4:%u.%u.%u.%u", &a, &b, &c, &d) == 4) {
                info.ipv4.push_back({{static_cast<unsigned char>(a), static_cast<unsigned char>(b),
                                      static_cast<unsigned char>(c), static_cast<unsigned char>(d)}});
            }
        }
        list.push_back(info);
    }
    return list;
}

std::vector<standin::Service> MacNetworkNodes(const std::string &text) {
    std::vector<standin::Service> nodes;
    std::istringstream words(text);
    std::string word;
    while (words >> word) {
        const std::string name = word.substr(0, word.find('=')), flags = word.substr(name.size());
        std::vector<std::pair<std::string, Property>> properties = {{"BSD Name", Property::String(name)}};
        if (flags != "=-") {
            properties.push_back({"IOPrimaryInterface", Property::Boolean(flags.find('p') != std::string::npos)});
            properties.push_back({"IOBuiltin", Property::Boolean(flags.find('b') != std::string::npos)});
        }
        const bool wifi = name == "en0";
        nodes.push_back({wifi ? "IO80211Interface" : "IOEthernetInterface", properties,
                         wifi ? std::vector<std::string>{"IOEthernetInterface", "IONetworkInterface"}
                              : std::vector<std::string>{"IONetworkInterface"}});
    }
    return nodes;
}

std::string MacNodeList(const std::string &key) {
    std::string text, line;
    if (key.empty() || !ReadFile(std::string(MACHINEINFO_TEST_DATA) + "/macos-interface-nodes.txt", &text)) return "";
    std::istringstream lines(text);
    while (std::getline(lines, line)) {
        if (line.compare(0, key.size() + 2, key + ": ") == 0) return line.substr(key.size() + 2);
    }
    return "";
}

std::string MacInterfaceList(const std::string &key) {
    std::string text, list, line;
    if (!ReadFile(std::string(MACHINEINFO_TEST_DATA) + "/macos-interfaces.txt", &text)) return "";
    std::istringstream lines(text);
    bool in = false;
    while (std::getline(lines, line)) {
        if (line.compare(0, 2, "@ ") == 0) {
            in = line.compare(2, key.size() + 2, key + " |") == 0;
        } else if (in && !line.empty() && line[0] != '#') {
            list += line + "\n";
        }
    }
    return list;
}

}  // namespace testutil
