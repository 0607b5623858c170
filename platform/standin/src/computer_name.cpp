// SCDynamicStoreCopyComputerName for the stand-in: the user-visible name as macOS gives it, here the
// pretty host name of the machine-info file when set, else the kernel's host name.
#include <SystemConfiguration/SystemConfiguration.h>
#include <unistd.h>

#include <climits>
#include <mutex>

#include "cf_object.h"
#include "file_read.h"
#include "standin_testing.h"

namespace standin {
namespace {

enum class NameMode { kLive, kFixed, kNone };

struct NameState {
    std::mutex mutex;
    NameMode mode = NameMode::kLive;
    std::string fixed;
    std::string machineInfoPath = "/etc/machine-info";
};

NameState &GetNameState() {
    static auto *state = new NameState();
    return *state;
}

// The value of a shell-style assignment: unquoted, or in single or double quotes (in double quotes and
// unquoted, a backslash takes the next character literally).
std::string UnquoteValue(const std::string &raw) {
    std::string out;
    char quote = 0;
    for (size_t i = 0; i < raw.size(); ++i) {
        char c = raw[i];
        if (quote == '\'') {
            if (c == '\'')
                quote = 0;
            else
                out += c;
        } else if (c == '\\' && i + 1 < raw.size()) {
            out += raw[++i];
        } else if (quote == '"') {
            if (c == '"')
                quote = 0;
            else
                out += c;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else {
            out += c;
        }
    }
    return out;
}

std::string LiveName(const std::string &machineInfoPath) {
    std::string text;
    if (ReadFileBytes(machineInfoPath, &text)) {
        std::string pretty = ParsePrettyHostname(text);
        if (!pretty.empty()) return pretty;
    }
    char host[HOST_NAME_MAX + 2] = {};
    if (gethostname(host, sizeof host - 1) != 0) return std::string();
    return std::string(host);
}

}  // namespace

std::string ParsePrettyHostname(const std::string &machineInfoText) {
    static const std::string kKey = "PRETTY_HOSTNAME=";
    std::string value;
    ForEachLine(machineInfoText, [&value](const std::string &line) {
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, kKey.size(), kKey) != 0) return;
        std::string raw = line.substr(start + kKey.size());
        while (!raw.empty() && (raw.back() == '\r' || raw.back() == ' ' || raw.back() == '\t')) raw.pop_back();
        value = UnquoteValue(raw);  // the last assignment wins, as in a shell
    });
    return value;
}

void SetComputerName(const std::string &utf8) {
    NameState &state = GetNameState();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.mode = NameMode::kFixed;
    std::string(utf8).swap(state.fixed);  // no capacity kept from a longer name before
}

void SetNoComputerName() {
    NameState &state = GetNameState();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.mode = NameMode::kNone;
}

void UseLiveComputerName(const std::string &machineInfoPath) {
    NameState &state = GetNameState();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.mode = NameMode::kLive;
    std::string(machineInfoPath).swap(state.machineInfoPath);
}

}  // namespace standin

extern "C" CFStringRef SCDynamicStoreCopyComputerName(SCDynamicStoreRef, CFStringEncoding *nameEncoding) {
    standin::NameState &state = standin::GetNameState();
    std::string name;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        if (state.mode == standin::NameMode::kNone) return nullptr;
        name = state.mode == standin::NameMode::kFixed ? state.fixed : standin::LiveName(state.machineInfoPath);
    }
    // Host names are bytes; bytes that are not UTF-8 become U+FFFD so that the rest of the name survives.
    if (nameEncoding != nullptr) *nameEncoding = kCFStringEncodingUTF8;
    return standin::NewStringLossy(name);
}
