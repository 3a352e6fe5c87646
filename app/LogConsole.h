#pragma once
// The debug log console: a top-level window "ZIMPProtocol Log" with a read-only fixed-width
// text of 128 columns keeping the last 500 lines. Lines are written from any thread without
// waiting for the window; closing the window only hides it.

#include <QPlainTextEdit>
#include <QWidget>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "streams/ConsoleBuffer.h"

namespace app {

class LogConsole : public QWidget, public streams::LogSink {
    Q_OBJECT
  public:
    static constexpr int kColumns = 128;
    static constexpr int kLines = 500;

    LogConsole();
    ~LogConsole() override;

    void SetTitle(const char* title) override;
    bool Put(char ch) override;

    QString Text() const { return text_->toPlainText(); }
    QPlainTextEdit* TextBox() const { return text_; }

  signals:
    void visibilityChanged(bool visible);

  protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void Flush();

    QPlainTextEdit* text_;
    std::mutex mutex_;  // guards the members below; never held while the window works
    std::map<std::thread::id, std::string> partial_;  // each writer's unfinished line
    std::deque<std::string> ready_;                   // finished lines, in order
    bool flushQueued_ = false;
};

}  // namespace app
