// Commands for the simulator from programs that can write files but cannot
// send signals (Windows test programs under Wine): a file whose lines are
// commands. It is deleted only after its commands have run, so a writer that
// waits for the file to disappear knows they took effect.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace devsim {

class ControlFile {
  public:
    static constexpr std::size_t kMaxBytes = 65536;

    explicit ControlFile(std::string path) : path_(std::move(path)) {}

    // The command lines of a complete control file, or none. A file whose last
    // line lacks its line feed is taken only once it stays unchanged for one poll.
    std::vector<std::string> take();
    // Deletes the file that take() read, unless it has been rewritten since.
    void finish();

  private:
    bool read(std::string& content) const;

    std::string path_;
    std::string taken_;
    std::string unfinished_;
};

}  // namespace devsim
