#pragma once
// The main window's client area: this run's operations, one row each, newest last. Rows can
// be selected and copied (Ctrl+C or the context menu, tab-separated) and the whole history
// saved as CSV with "Save History...".

#include <QPushButton>
#include <QTableWidget>
#include <QWidget>

#include "memops/OperationHistory.h"

namespace app {

class HistoryTable;

class HistoryPane : public QWidget {
    Q_OBJECT
  public:
    explicit HistoryPane(QWidget* parent = nullptr);

    void Append(const memops::OperationRecord& record);
    const memops::OperationHistory& History() const { return history_; }
    QTableWidget* Table() const;
    QPushButton* SaveButton() const { return save_; }
    // The selected rows as tab-separated lines, in the table's order.
    QString SelectedText() const;

  public slots:
    void CopySelection() const;
    // Asks for a file and writes the CSV there; a failure is a box naming the reason.
    void SaveHistory();

  private:
    HistoryTable* table_;
    QPushButton* save_;
    memops::OperationHistory history_;
    QString lastFile_;
};

}  // namespace app
