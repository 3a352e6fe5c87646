#pragma once
// Where a finished message line goes: a message box in the desktop front end, a line on
// stderr for the command line, a recorded list in tests.

#include <mutex>
#include <string>
#include <vector>

namespace streams {

class MessagePresenter {
  public:
    virtual ~MessagePresenter() = default;
    // Shows one box; blocks until the user has seen it where the front end asks for that.
    virtual void Show(const std::string& text, const std::string& caption) = 0;
};

// A box as text lines: each '\r' becomes a line break, and the box ends with one.
std::string BoxAsLines(const std::string& text);

// One line per box on stderr; a '\r' in the text becomes a line break.
class StderrPresenter : public MessagePresenter {
  public:
    void Show(const std::string& text, const std::string& caption) override;
};

// Keeps every box for inspection.
class RecordingPresenter : public MessagePresenter {
  public:
    struct Box {
        std::string text;
        std::string caption;
    };
    void Show(const std::string& text, const std::string& caption) override;
    std::vector<Box> Boxes() const;
    std::vector<std::string> Texts() const;
    void Clear();

  private:
    mutable std::mutex mutex_;
    std::vector<Box> boxes_;
};

// Passes every box on to another presenter and keeps its text: what an operation said, for
// its record.
class TeePresenter : public MessagePresenter {
  public:
    // nullptr: the stderr presenter.
    void SetNext(MessagePresenter* next);
    MessagePresenter* Next() const;
    void Show(const std::string& text, const std::string& caption) override;
    // The texts shown since the last call, joined by "; ", their line breaks as spaces.
    std::string TakeText();

  private:
    mutable std::mutex mutex_;
    MessagePresenter* next_ = nullptr;
    std::string text_;
    StderrPresenter stderr_;
};

}  // namespace streams
