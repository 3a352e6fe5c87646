#pragma once
// "Loading Parameters" (modal): the file and how its image is shaped before a load.

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "memops/LoadCommand.h"

namespace app {

class LoadParamDialog : public QDialog {
    Q_OBJECT
  public:
    explicit LoadParamDialog(const memops::LoadParameters& params, QWidget* parent = nullptr);
    // The values taken by the last successful OK.
    const memops::LoadParameters& Values() const { return params_; }

    QRadioButton* modes[4];  // NONE, Last Address, Address, Block
    QLineEdit* block;
    QLineEdit* address;
    QLineEdit* alignment;
    QLineEdit* bias;
    QLineEdit* fill;
    QCheckBox* compress;
    QLineEdit* file;
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

    memops::LoadParameters params_;
};

}  // namespace app
