#include "AppTestSupport.h"

#include <QAbstractButton>
#include <QTimer>
#include <QtTest>

#include "srecord/ChunkReader.h"
#include "srecord/ImageReader.h"
#include "streams/MessageStreams.h"

using namespace streams;

using namespace srecord;

namespace apptest {

RadioRig::RadioRig(radio::ZimpRadioOptions options, const std::string& extra, bool start)
    : SimulatedRadio(options) {
    if (!OpenLine())
        return;
    iniPath = dir.Write("ZIMPProtocol.ini",
                        "[configuration]\nPort=" + pty.SlavePath() + "\nBaudrate=115200\n" + extra);
    if (!start)
        return;
    Start();
}

std::unique_ptr<app::MainWindow> RadioRig::MakeWindow(app::AppOptions options) {
    if (options.config.empty())
        options.config = iniPath;
    auto w = std::make_unique<app::MainWindow>(options);
    w->show();
    return w;
}

BoxRecorder::BoxRecorder() {
    SetMessagePresenter(&presenter_);
}
BoxRecorder::~BoxRecorder() {
    SetMessagePresenter(nullptr);
}
QStringList BoxRecorder::Texts() const {
    QStringList out;
    for (const std::string& t : presenter_.Texts())
        out << QString::fromStdString(t);
    return out;
}

namespace {
bool g_handled = false;
void Poll(std::shared_ptr<std::function<void(QWidget*)>> action, int triesLeft) {
    if (QWidget* modal = QApplication::activeModalWidget()) {
        g_handled = true;
        (*action)(modal);
        return;
    }
    if (triesLeft > 0)
        QTimer::singleShot(10, [action, triesLeft] { Poll(action, triesLeft - 1); });
}
}  // namespace

void WhenModal(std::function<void(QWidget*)> action) {
    g_handled = false;
    auto shared = std::make_shared<std::function<void(QWidget*)>>(std::move(action));
    QTimer::singleShot(0, [shared] { Poll(shared, 500); });
}

bool ModalHandled() {
    return g_handled;
}

std::map<uint32_t, uint8_t> ImageBytes(const std::string& file, std::optional<uint32_t> tableAt) {
    std::map<uint32_t, uint8_t> bytes;
    srecord::ReadResult read = srecord::ImageReader::Read(file);
    if (!read)
        return bytes;
    if (tableAt && !read.image->AddChecksumTable(*tableAt, 1))
        return bytes;
    srecord::ChunkReader chunks(*read.image);
    uint8_t chunk[256];
    for (int n; (n = chunks.ReadChunk(chunk, sizeof chunk, 0xFF)) > 0;)
        for (int i = 0; i < n; ++i)
            bytes[chunks.ChunkAddress() + static_cast<uint32_t>(i)] = chunk[i];
    return bytes;
}

void ClickButton(QWidget* dialog, const QString& text) {
    for (QAbstractButton* b : dialog->findChildren<QAbstractButton*>()) {
        if (b->text().remove(QLatin1Char('&')) == text && b->isVisible()) {
            QTest::mouseClick(b, Qt::LeftButton);
            return;
        }
    }
    QFAIL(qPrintable(QStringLiteral("no button ") + text));
}

}  // namespace apptest
