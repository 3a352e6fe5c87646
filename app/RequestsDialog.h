#pragma once
// "ZIMP Requests" (modeless): single ZIMP requests by hand. RequestsSession does the work; the
// reply waits keep the event loop running, so "Abort Req" and Cancel work during a request.

#include <QButtonGroup>
#include <QDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <memory>

#include "memops/RequestsSession.h"

namespace Ui {
class RequestsDialog;
}

namespace app {

class RequestsDialog : public QDialog, public memops::RequestsView {
    Q_OBJECT
  public:
    explicit RequestsDialog(QWidget* parent = nullptr);
    ~RequestsDialog() override;
    // Opens on the port and configuration and shows the dialog; false (with the session's
    // message) when it cannot.
    bool Open(serial::SerialPort* port, streams::Configuration* profile);
    bool IsBusy() const { return session_ && session_->Running(); }
    memops::ZimpRequest Selected() const { return selected_; }

    void SetStatusText(const std::string& text) override;
    void SetAddressField(const std::string& text) override;
    void SetAddressResponse(const std::string& text) override;
    void AppendResponse(const std::string& text) override;

    QButtonGroup* requests;
    QLineEdit* address;
    QLineEdit* counter;
    QLineEdit* data;
    QLineEdit* addressResponse;
    QPlainTextEdit* response;
    QPushButton* ok;
    QPushButton* abortRequest;
    QPushButton* cancel;

  signals:
    void statusText(const QString& text);  // for the main window's message pane
    void opened();
    void closed();

  public slots:
    void accept() override;  // OK: runs the selected request; the dialog stays
    void reject() override;  // Cancel: aborts; closes unless a request is running

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void Select(int id);
    void Abort();

    std::unique_ptr<Ui::RequestsDialog> ui_;
    std::unique_ptr<memops::RequestsSession> session_;
    memops::ZimpRequest selected_ = memops::ZimpRequest::WriteData;
};

}  // namespace app
