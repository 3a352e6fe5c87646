#include "app/QtMessagePresenter.h"

#include <QMessageBox>
#include <QThread>

#include "platform/Event.h"

namespace app {

QtMessagePresenter::QtMessagePresenter() : closing_(std::make_shared<std::atomic<bool>>(false)) {}

QtMessagePresenter::~QtMessagePresenter() {
    closing_->store(true);
}

void QtMessagePresenter::Show(const std::string& text, const std::string& caption) {
    QString boxText = QString::fromStdString(text);
    boxText.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    const QString boxCaption = QString::fromStdString(caption);
    if (QThread::currentThread() == thread()) {
        ShowBox(boxText, boxCaption);
        return;
    }
    auto shown = std::make_shared<platform::Event>(platform::Event::Reset::Manual);
    auto closing = closing_;
    QMetaObject::invokeMethod(
        this,
        [this, boxText, boxCaption, shown] {
            ShowBox(boxText, boxCaption);
            shown->Set();
        },
        Qt::QueuedConnection);
    // The writer waits for the user; the presenter going away releases it.
    while (!shown->Wait(100)) {
        if (closing->load())
            return;
    }
}

void QtMessagePresenter::ShowBox(const QString& text, const QString& caption) {
    QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

}  // namespace app
