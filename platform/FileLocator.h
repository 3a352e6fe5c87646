#pragma once
// Finds a file by name: as given, in the working directory, beside the program, or along a
// search list. The file is never created.

#include <optional>
#include <string>

namespace platform {

class FileLocator {
  public:
    enum Flags : unsigned {
        kAsGiven = 1,     // a name with a directory part, when that file exists
        kWorkingDir = 2,  // the working directory captured at construction
        kProgramDir = 4,  // the program file's directory
        kSearchList = 8,  // each directory of the search list
        kEverywhere = 15,
    };

    // Captures the working directory and the program's directory now.
    explicit FileLocator(std::string searchList = "");
    FileLocator(std::string workingDir, std::string programDir, std::string searchList = "");

    std::optional<std::string> Locate(const std::string& name, unsigned flags) const;

    const std::string& WorkingDir() const { return workingDir_; }
    const std::string& ProgramDir() const { return programDir_; }

    // The directory of the running program's file.
    static std::string CurrentProgramDir();

  private:
    std::string workingDir_, programDir_, searchList_;
};

// The absolute form of path: taken from the working directory when it is relative ("a/../b.s19" as
// "/work/b.s19"), so that a name stored for later still names the same file when the program starts
// elsewhere. Symbolic links are kept. An empty path stays empty.
std::string AbsolutePath(const std::string& path);

}  // namespace platform
