#include "app/LogConsole.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QScrollBar>
#include <QVBoxLayout>

namespace app {

LogConsole::LogConsole() : text_(new QPlainTextEdit(this)) {
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(QStringLiteral("ZIMPProtocol Log"));
    text_->setReadOnly(true);
    text_->setMaximumBlockCount(kLines);
    text_->setLineWrapMode(QPlainTextEdit::NoWrap);
    text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(text_);
    const QFontMetrics metrics(text_->font());
    resize(metrics.horizontalAdvance(QLatin1Char('M')) * kColumns +
               text_->verticalScrollBar()->sizeHint().width() + 12,
           metrics.lineSpacing() * 30);
}

LogConsole::~LogConsole() = default;

void LogConsole::SetTitle(const char* title) {
    const QString t = QString::fromUtf8(title);
    QMetaObject::invokeMethod(
        this, [this, t] { setWindowTitle(t); }, Qt::QueuedConnection);
}

bool LogConsole::Put(char ch) {
    std::lock_guard lock(mutex_);
    std::string& line = partial_[std::this_thread::get_id()];
    if (ch != '\n') {
        if (line.size() < 4096)  // a line without end is cut, not grown without limit
            line += ch;
        return true;
    }
    ready_.push_back(std::move(line));
    partial_.erase(std::this_thread::get_id());
    // What the window would drop anyway is dropped here, so a stalled window costs no memory.
    while (ready_.size() > static_cast<size_t>(kLines))
        ready_.pop_front();
    if (!flushQueued_) {
        flushQueued_ = true;
        QMetaObject::invokeMethod(this, &LogConsole::Flush, Qt::QueuedConnection);
    }
    return true;
}

void LogConsole::Flush() {
    std::deque<std::string> lines;
    {
        std::lock_guard lock(mutex_);
        lines.swap(ready_);
        flushQueued_ = false;
    }
    for (const std::string& line : lines) {
        QString text = QString::fromLocal8Bit(line.data(), static_cast<qsizetype>(line.size()));
        text.remove(QLatin1Char('\r'));
        text_->appendPlainText(text);
    }
}

void LogConsole::closeEvent(QCloseEvent* event) {
    event->ignore();
    hide();
}

void LogConsole::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    emit visibilityChanged(true);
}

void LogConsole::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    emit visibilityChanged(false);
}

}  // namespace app
