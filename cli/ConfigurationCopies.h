#pragma once
// The configuration of a run over several ports: the user's file is read once, and every port
// gets a private copy of it, so that all of them read the same values and none writes into the
// user's file or into another port's copy. The copies go with this object.

#include <mutex>
#include <string>
#include <vector>

namespace cli {

class ConfigurationCopies {
  public:
    ConfigurationCopies() = default;
    ~ConfigurationCopies();
    ConfigurationCopies(const ConfigurationCopies&) = delete;
    ConfigurationCopies& operator=(const ConfigurationCopies&) = delete;

    // Reads source (empty: there is none, and every copy is empty); false with error.
    bool Take(const std::string& source, std::string& error);
    // A new copy's path; empty when there is no source. Any thread, after Take.
    std::string NewCopy(std::string& error);

  private:
    std::string text_, dir_;
    bool haveSource_ = false;
    std::mutex mutex_;  // guards files_
    std::vector<std::string> files_;
};

}  // namespace cli
