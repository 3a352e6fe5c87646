#pragma once
// "Loading Parameters" (modal): the file and how its image is shaped before a load. Filled from
// the load's defaults; OK takes the fields through their checks, in their order, into a request.

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <string>
#include <vector>

#include "memops/LoadCommand.h"

namespace app {

class LoadParamDialog : public QDialog {
    Q_OBJECT
  public:
    // recentFiles: offered in the file field, newest first.
    LoadParamDialog(const memops::LoadRequest& defaults, const std::string& title,
                    const std::vector<std::string>& recentFiles = {}, QWidget* parent = nullptr);
    // The request as the last successful OK took it.
    const memops::LoadRequest& Request() const { return request_; }

    QRadioButton* modes[4];  // NONE, Last Address, Address, Block
    QLineEdit* block;
    QLineEdit* address;
    QLineEdit* alignment;
    QLineEdit* bias;
    QLineEdit* fill;
    QCheckBox* compress;
    QComboBox* recent;  // the file field, with the recent images in its list
    QLineEdit* file;    // its text
    QPushButton* browse;
    QPushButton* ok;
    QPushButton* cancel;
    QPushButton* help;

  public slots:
    void accept() override;  // takes the values in order; the first fault keeps the dialog open

  private:
    void SelectMode(int mode);
    void Browse();
    void ShowHelp();
    bool Fail(QWidget* field);

    memops::LoadRequest request_;
};

}  // namespace app
