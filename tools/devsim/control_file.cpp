#include "tools/devsim/control_file.h"

#include <cstdio>
#include <sstream>

namespace devsim {

bool ControlFile::read(std::string& content) const {
    content.clear();
    std::FILE* file = std::fopen(path_.c_str(), "rb");
    if (file == nullptr) return false;
    char buffer[4096];
    std::size_t count = 0;
    while (content.size() < kMaxBytes && (count = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        content.append(buffer, count);
    }
    std::fclose(file);
    return true;
}

std::vector<std::string> ControlFile::take() {
    std::vector<std::string> commands;
    std::string content;
    if (path_.empty() || !read(content)) return commands;
    const bool complete = !content.empty() && content.back() == '\n';
    if (!complete && content != unfinished_) {  // perhaps still being written
        unfinished_ = content;
        return commands;
    }
    unfinished_.clear();
    taken_ = content;
    std::istringstream lines(content);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const auto first = line.find_first_not_of(" \t");
        if (first == std::string::npos) continue;
        commands.push_back(line.substr(first, line.find_last_not_of(" \t") + 1 - first));
    }
    if (commands.empty()) finish();
    return commands;
}

void ControlFile::finish() {
    std::string content;
    if (read(content) && content == taken_) std::remove(path_.c_str());
    taken_.clear();
}

}  // namespace devsim
