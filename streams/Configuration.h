#pragma once
// A formatted stream over single values of the configuration (INI) file. Select a section and
// a key, then extract (the value text followed by one '\n'; a missing file, section or key
// reads as an empty line) or insert (the text is stored as the key's value at the next '\n',
// flush, or selection). Integers are extracted in prefixed notation (0x hex, 0 octal, else
// decimal).

#include <climits>
#include <iostream>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "streams/CharQueue.h"

namespace streams {

class ConfigurationBuffer : public std::streambuf {
  public:
    // The usual limit of a text value; names of files and ports take the system's path limit.
    static constexpr size_t kMaxValueSize = 255;
    static constexpr size_t kMaxFileName = PATH_MAX - 1;
    // Values are delivered whole up to one character past the longest limit, so that every
    // reader can tell a value over its limit from one at it.
    static constexpr size_t kMaxDelivered = kMaxFileName + 1;

    explicit ConfigurationBuffer(const std::string& fileName);
    ~ConfigurationBuffer() override;

    void SelectSection(const std::string& name);
    void SelectKey(const std::string& name);
    const std::string& FileName() const { return fileName_; }
    // Makes reads of section/key deliver value instead of the file's, for this run only (the
    // command line's overrides); writes still go to the file.
    void Override(const std::string& section, const std::string& key, const std::string& value);

  protected:
    int sync() override;
    int_type overflow(int_type ch) override;
    int_type underflow() override;

  private:
    enum Mode { kReading = 0, kWriting = 1 };
    void Fetch();
    void SyncAndDiscard();

    CharQueue queue_;
    std::string fileName_;
    std::string section_, key_;
    bool haveSection_ = false, haveKey_ = false;
    std::vector<std::pair<std::string, std::string>> overrides_;  // "section\nkey" (lower), value
    std::vector<std::string> keys_;                               // keys of the current section
    size_t keyPos_ = 0;
    std::string temp_;
    bool changed_ = false;
    Mode mode_ = kWriting;
    char get_ = 0;  // the one-character get area
};

class Configuration : public std::iostream {
  public:
    explicit Configuration(const std::string& fileName);
    ~Configuration() override;

    Configuration& SelectSection(const std::string& name) {
        buf_.SelectSection(name);
        return *this;
    }
    Configuration& SelectKey(const std::string& name) {
        buf_.SelectKey(name);
        return *this;
    }
    // Reads a prefixed-notation number up to the delimiter: -1 when nothing is left (out
    // unchanged), -2 when no digit converts (out = 0), else the first character after the
    // number (0 when the whole text converted).
    int ReadNumber(unsigned long& out, char delimiter);
    // The selected value as it stands, cut to maxLen characters (the rest of the line is
    // consumed). Readers of a key use the checked ReadText below.
    std::string ReadText(size_t maxLen);
    // The pattern of every use: clear the error state, select the section and the key.
    Configuration& Select(const std::string& section, const std::string& key) {
        clear();
        SelectSection(section);
        SelectKey(key);
        return *this;
    }
    // Select, then one integer or one text value (missing: the variable keeps its value).
    template <class T>
    bool ReadInteger(const std::string& section, const std::string& key, T& value) {
        return Select(section, key).ReadInteger(value);
    }
    // One text value of at most maxLen characters. A longer one is never cut: it is reported
    // with its section, key and the limit and not used (the result is empty, as for a missing
    // key).
    std::string ReadText(const std::string& section, const std::string& key, size_t maxLen);
    // A file name: ReadText up to the system's path limit.
    std::string ReadFileName(const std::string& section, const std::string& key) {
        return ReadText(section, key, ConfigurationBuffer::kMaxFileName);
    }
    // Extracts an integer in prefixed notation; on failure the variable keeps its value (the
    // standard extraction would store 0).
    template <class T>
    bool ReadInteger(T& value) {
        long long v;
        if (!(*this >> v))
            return false;
        value = static_cast<T>(v);
        return true;
    }

    // A number of the configuration that the program depends on. A missing key or an empty
    // value leaves value as it is. Any other value must be one plain number from min to max in
    // the prefixed notation: no number at all, text after the number, a value outside the range,
    // or a leading 0 that makes it read otherwise than in decimal (09600, 010) is refused: its
    // section, key and text go to the message stream, it is counted in Refused(), and value
    // stays as it is. True when value may be used.
    template <class T>
    bool ReadInteger(const std::string& section, const std::string& key, T& value, long long min,
                     long long max) {
        long long v = 0;
        switch (ReadCheckedInteger(section, key, min, max, v)) {
            case CheckedValue::Read:
                value = static_cast<T>(v);
                return true;
            case CheckedValue::Missing:
                return true;
            case CheckedValue::Refused:
                break;
        }
        return false;
    }
    // The checked ReadInteger for a number of any value: only the notation is checked.
    template <class T>
    bool ReadPlainInteger(const std::string& section, const std::string& key, T& value) {
        return ReadInteger(section, key, value, kAnyInteger.first, kAnyInteger.second);
    }
    // How many values ReadInteger refused since the stream was made.
    int Refused() const { return refused_; }

    ConfigurationBuffer& Buffer() { return buf_; }

  private:
    static constexpr std::pair<long long, long long> kAnyInteger = {
        std::numeric_limits<long long>::min(), std::numeric_limits<long long>::max()};
    enum class CheckedValue { Missing, Read, Refused };
    CheckedValue ReadCheckedInteger(const std::string& section, const std::string& key,
                                    long long min, long long max, long long& out);

    ConfigurationBuffer buf_;
    int refused_ = 0;
};

}  // namespace streams
