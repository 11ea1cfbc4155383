#include "cli/terminal_text.h"

#include <algorithm>

namespace {

constexpr const char* kEllipsis = "...";

// UTF-8 continuation bytes take no column of their own.
bool continuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

std::size_t columnsOf(const std::string& text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return !continuationByte(c); }));
}

std::string cutTo(const std::string& text, std::size_t columns) {
    std::size_t seen = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!continuationByte(text[i]) && seen++ == columns) return text.substr(0, i);
    }
    return text;
}

std::string shortened(const std::string& text, std::size_t columns) {
    if (columnsOf(text) <= columns) return text;
    if (columns <= 3) return cutTo(text, columns);
    std::string kept = cutTo(text, columns - 3);
    const std::size_t space = kept.find_last_of(' ');
    if (space != std::string::npos && text[kept.size()] != ' ') kept.resize(space);
    while (!kept.empty() && kept.back() == ' ') kept.pop_back();
    return kept + kEllipsis;
}
