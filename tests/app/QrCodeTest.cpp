// The watch page's address as a QR code: read back by a real decoder
// (zbarimg) from the window's picture and from the terminal's half blocks,
// and the file menu's "watch on a phone" during a broadcast.
#include "app/QrCode.h"
#include "AppTestSupport.h"
#include "app/MainForm.h"
#include "app/PhoneDialog.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sstream>

namespace {

// What zbarimg reads from a picture ("" when it reads nothing).
std::string Decode(const QImage& image) {
    QTemporaryDir dir;
    const QString file = dir.filePath("code.png");
    if (!image.save(file)) return "save failed";
    return RunCommand("zbarimg --quiet --raw '" + file.toStdString() + "' 2>/dev/null");
}

// The terminal's half blocks drawn back into modules, 4 pixels each.
QImage FromTerminal(const std::string& text) {
    std::vector<std::vector<bool>> rows;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::vector<bool> top, bottom;
        for (size_t i = 0; i < line.size();) {
            if (line[i] == '\x1b') {
                i = line.find('m', i) + 1;
                continue;
            }
            const bool full = line.compare(i, 3, "\u2588") == 0;
            const bool upper = line.compare(i, 3, "\u2580") == 0;
            const bool lower = line.compare(i, 3, "\u2584") == 0;
            top.push_back(full || upper);
            bottom.push_back(full || lower);
            i += (full || upper || lower) ? 3 : 1;
        }
        rows.push_back(top);
        rows.push_back(bottom);
    }
    const int w = int(rows.front().size()), h = int(rows.size()), s = 4, q = 4;
    QImage image((w + 2 * q) * s, (h + 2 * q) * s, QImage::Format_RGB32);
    image.fill(Qt::white);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w && x < int(rows[y].size()); ++x)
            if (rows[y][x])
                for (int d = 0; d < s * s; ++d)
                    image.setPixel((x + q) * s + d % s, (y + q) * s + d / s, qRgb(0, 0, 0));
    return image;
}

} // namespace

TEST(QrCode, ThePictureAndTheTerminalTextReadBackAsTheAddress) {
    const std::string address = "http://192.168.178.120:8081/watch";
    const std::optional<TQrCode> code = TQrCode::Encode(address);
    ASSERT_TRUE(code);
    EXPECT_EQ(address + "\n", Decode(code->Picture(4)));
    const std::string text = code->TerminalText();
    EXPECT_EQ(address + "\n", Decode(FromTerminal(text)));
    // Black on white whatever the terminal's colours, reset at each line's end.
    EXPECT_EQ(0u, text.find("\x1b[30;47m"));
    EXPECT_NE(std::string::npos, text.find("\x1b[0m\n"));
    EXPECT_FALSE(TQrCode::Encode(std::string(8000, 'a')));
}

TEST(QrCode, WatchOnAPhoneShowsTheWatchAddressWhileBroadcasting) {
    TDesktopCapture desktop;
    TMainForm form;
    form.videoconnect1->Items(form.videoconnect1->Count() - 1)->Click();
    form.ed_internalport->setText(QString::number(FreePort()));
    form.ed_asfport->setText(QString::number(FreePort()));
    form.cb_ip->setEditText("127.0.0.1");
    EXPECT_FALSE(form.filephone1->Enabled());
    form.bt_broadcast->click();
    ASSERT_TRUE(form.Capture().Broadcasting());
    ASSERT_TRUE(form.filephone1->Enabled());
    form.filephone1->Click();
    ASSERT_TRUE(form.PhoneDialog());
    EXPECT_TRUE(form.PhoneDialog()->isVisible());
    const std::string watch =
        "http://127.0.0.1:" + form.ed_internalport->text().toStdString() + "/watch";
    EXPECT_EQ(watch, form.PhoneDialog()->Address()->text().toStdString());
    EXPECT_EQ(watch + "\n", Decode(form.PhoneDialog()->Code()->pixmap().toImage()));
    form.bt_broadcast->click();
    EXPECT_FALSE(form.filephone1->Enabled());
    EXPECT_FALSE(form.PhoneDialog()->isVisible());
    EXPECT_TRUE(desktop.Errors().empty());
}
