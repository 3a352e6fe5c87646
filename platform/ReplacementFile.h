#pragma once
// A file's replacement, written beside it and renamed over it only when complete, so that a
// crash, a full disk or a cancel never leaves the user's file half-written. A symbolic link is
// written through: the link stays and its target is replaced. The replacement keeps the old
// file's mode and, where permitted, its owner.
//
// Only a regular file (or a missing one) is ever replaced. A FIFO, a device or a socket is
// written into, and "-" or /dev/stdout means standard output: the text is first collected in
// an unnamed file of the temporary directory and written into the target by Commit, so that a
// failed or cancelled write sends nothing.

#include <string>

namespace platform {

class ReplacementFile {
  public:
    enum class Temporary { Unnamed, Named };
    // What Commit does with the text.
    enum class Destination {
        Replace,         // renames it over a regular file, or creates the file
        WriteInto,       // writes it into a FIFO, a device or a socket
        StandardOutput,  // writes it to standard output
    };

    ReplacementFile() = default;
    ~ReplacementFile();  // an uncommitted replacement is removed
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    // Creates the temporary file beside the (resolved) target: unnamed where the file system
    // allows it, so that nothing is left if the process dies, else (or when Named is asked
    // for) "<target>.tmp.XXXXXX". An unnamed file is given that name only for the rename.
    // False, with the reason in Error(), when it cannot be created.
    bool Create(const std::string& target, Temporary kind = Temporary::Unnamed);
    // The temporary file to write, by name (a /proc name while it has none) or through
    // Descriptor().
    const std::string& TemporaryPath() const { return temp_; }
    int Descriptor() const { return fd_; }
    // The file that Commit replaces: the target with its symbolic links resolved.
    const std::string& Target() const { return target_; }
    Destination Where() const { return destination_; }
    // True when Commit replaces a file, so that what was written may be kept beside it.
    bool Replaces() const { return destination_ == Destination::Replace; }

    // Writes all of text to the descriptor; false on a write error.
    bool Write(const std::string& text);
    // Syncs the data, takes the old file's mode and owner, and renames the temporary file
    // over the target (or writes it into the target, see Destination). False, with the
    // temporary file removed and the target untouched, when any step fails.
    bool Commit();
    // Keeps what was written under another name (what was read before a failure), without
    // touching the target. False when the rename fails (the temporary file is then removed),
    // or when the target is not a file that is replaced (EOPNOTSUPP).
    bool KeepAs(const std::string& path);
    // Removes the temporary file.
    void Discard();

    // errno of the last failure, and its text.
    int Error() const { return error_; }
    std::string ErrorText() const;

  private:
    bool Fail();
    void CloseDescriptor();
    // Links an unnamed temporary file under a name beside the target; false on failure.
    bool GiveName();
    bool CreateStaging();
    bool CopyInto(int out);
    bool WriteIntoTarget();

    std::string target_, temp_;
    int fd_ = -1;
    int error_ = 0;
    bool unnamed_ = false;
    Destination destination_ = Destination::Replace;
};

// "-", /dev/stdout and the descriptor names of standard output.
bool NamesStandardOutput(const std::string& path);

// The final target of path: symbolic links followed (also dangling ones, relative links taken
// from the link's directory), at most 40 levels.
std::string ResolveLinks(const std::string& path);

}  // namespace platform
