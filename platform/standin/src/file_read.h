// Reading small machine files whole, with plain system calls (no stream or locale set-up).
#pragma once

#include <string>

namespace standin {

// The whole file at path, or false when it cannot be opened or read.
bool ReadFileBytes(const std::string &path, std::string *contents);

// Calls visit(line) for each line of text, without its newline.
template <typename Visit>
void ForEachLine(const std::string &text, Visit visit) {
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        visit(text.substr(start, end - start));
        start = end + 1;
    }
}

}  // namespace standin
