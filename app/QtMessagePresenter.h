#pragma once
// The message stream's boxes on Qt: one application-modal warning box per line. Written on
// the GUI thread the box is shown at once; written on another thread it is shown on the GUI
// thread and the writer waits until it is closed.

#include <QObject>
#include <atomic>
#include <memory>

#include "streams/MessagePresenter.h"

namespace app {

class QtMessagePresenter : public QObject, public streams::MessagePresenter {
    Q_OBJECT
  public:
    QtMessagePresenter();
    ~QtMessagePresenter() override;
    void Show(const std::string& text, const std::string& caption) override;

  protected:
    // On the GUI thread; blocks until the box is closed.
    virtual void ShowBox(const QString& text, const QString& caption);

  private:
    // Set when the presenter goes: writers still waiting stop waiting.
    std::shared_ptr<std::atomic<bool>> closing_;
};

}  // namespace app
