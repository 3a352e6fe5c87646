#pragma once
// The About box: program name, version, what it is for.

#include <QDialog>

namespace app {

class AboutDialog : public QDialog {
    Q_OBJECT
  public:
    explicit AboutDialog(QWidget* parent = nullptr);
};

}  // namespace app
