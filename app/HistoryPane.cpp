#include "app/HistoryPane.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QVBoxLayout>
#include <algorithm>

#include "app/FileChoosers.h"

using memops::OperationRecord;
using memops::OperationResult;

namespace app {

// Takes Ctrl+C before the window's own (inert) copy accelerator does.
class HistoryTable : public QTableWidget {
  public:
    HistoryTable(HistoryPane* pane, int columns) : QTableWidget(0, columns, pane), pane_(pane) {}

  protected:
    bool event(QEvent* e) override {
        if (e->type() == QEvent::ShortcutOverride &&
            static_cast<QKeyEvent*>(e)->matches(QKeySequence::Copy)) {
            e->accept();
            return true;
        }
        return QTableWidget::event(e);
    }
    void keyPressEvent(QKeyEvent* e) override {
        if (e->matches(QKeySequence::Copy)) {
            pane_->CopySelection();
            e->accept();
            return;
        }
        QTableWidget::keyPressEvent(e);
    }

  private:
    HistoryPane* pane_;
};

namespace {
const char* const kColumns[] = {"Time",  "Operation", "Memory",  "File",
                                "Bytes", "Duration",  "Outcome", "Message"};
constexpr int kColumnCount = 8;
constexpr int kFileColumn = 3, kMessageColumn = 7;
constexpr int kMaxFileWidth = 320;
}  // namespace

HistoryPane::HistoryPane(QWidget* parent)
    : QWidget(parent), table_(new HistoryTable(this, kColumnCount)) {
    QStringList headers;
    for (const char* c : kColumns)
        headers << QString::fromLatin1(c);
    table_->setHorizontalHeaderLabels(headers);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->setAlternatingRowColors(true);
    table_->setWordWrap(false);
    table_->verticalHeader()->setVisible(false);
    // The short columns fit their contents, the file takes what it needs up to a limit, and
    // the message has the rest.
    QHeaderView* header = table_->horizontalHeader();
    header->setMinimumSectionSize(36);
    header->setDefaultSectionSize(60);  // an empty table fits the narrowest window
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(kFileColumn, QHeaderView::Interactive);
    header->setSectionResizeMode(kMessageColumn, QHeaderView::Stretch);
    table_->setContextMenuPolicy(Qt::ActionsContextMenu);

    auto* copy = new QAction(QStringLiteral("&Copy"), table_);
    connect(copy, &QAction::triggered, this, &HistoryPane::CopySelection);
    table_->addAction(copy);
    auto* saveAction = new QAction(QStringLiteral("Save History..."), table_);
    connect(saveAction, &QAction::triggered, this, &HistoryPane::SaveHistory);
    table_->addAction(saveAction);

    save_ = new QPushButton(QStringLiteral("Save History..."), this);
    save_->setAutoDefault(false);
    save_->setEnabled(false);
    connect(save_, &QPushButton::clicked, this, &HistoryPane::SaveHistory);

    auto* heading = new QHBoxLayout;
    heading->addWidget(new QLabel(QStringLiteral("History of this run"), this), 1);
    heading->addWidget(save_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addLayout(heading);
    layout->addWidget(table_, 1);
}

QTableWidget* HistoryPane::Table() const {
    return table_;
}

void HistoryPane::Append(const OperationRecord& r) {
    history_.Add(r);
    const int row = table_->rowCount();
    table_->insertRow(row);
    const QString cells[kColumnCount] = {
        QString::fromStdString(memops::ClockText(r.start)),
        QString::fromLatin1(memops::OperationText(r.operation)),
        QString::fromStdString(r.memory),
        QString::fromStdString(r.file),
        QString::fromStdString(memops::GroupedNumber(r.bytes)),
        QStringLiteral("%1 s").arg(r.seconds, 0, 'f', 1),
        QString::fromLatin1(memops::ResultText(r.result)),
        QString::fromStdString(r.message),
    };
    for (int c = 0; c < kColumnCount; ++c) {
        auto* item = new QTableWidgetItem(cells[c]);
        if (c == 4 || c == 5)
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        if (c == kFileColumn || c == kMessageColumn)
            item->setToolTip(cells[c]);  // long paths and messages are cut in the cell
        if (c == 6 && r.result != OperationResult::Done)
            item->setForeground(QColor(0xB0, 0x20, 0x20));
        table_->setItem(row, c, item);
    }
    if (table_->columnWidth(kFileColumn) < kMaxFileWidth) {
        table_->resizeColumnToContents(kFileColumn);
        table_->setColumnWidth(kFileColumn,
                               std::min(table_->columnWidth(kFileColumn), kMaxFileWidth));
    }
    table_->scrollToBottom();
    save_->setEnabled(true);
}

QString HistoryPane::SelectedText() const {
    QList<int> rows;
    for (const QModelIndex& i : table_->selectionModel()->selectedRows())
        rows << i.row();
    std::sort(rows.begin(), rows.end());
    QStringList lines;
    for (int row : rows) {
        QStringList cells;
        for (int c = 0; c < kColumnCount; ++c)
            cells << table_->item(row, c)->text();
        lines << cells.join(QLatin1Char('\t'));
    }
    return lines.isEmpty() ? QString() : lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

void HistoryPane::CopySelection() const {
    const QString text = SelectedText();
    if (!text.isEmpty())
        QApplication::clipboard()->setText(text);
}

void HistoryPane::SaveHistory() {
    const QString file = ChooseCsvToSave(this, lastFile_);
    if (file.isEmpty())
        return;
    const std::string why = history_.SaveCsv(file.toStdString());
    if (!why.empty()) {
        QMessageBox::warning(this, QStringLiteral("Save History"),
                             QStringLiteral("Cannot save the history to %1: %2.")
                                 .arg(file, QString::fromStdString(why)));
        return;
    }
    lastFile_ = file;
}

}  // namespace app
