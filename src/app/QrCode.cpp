#include "app/QrCode.h"

#include <qrencode.h>

std::optional<TQrCode> TQrCode::Encode(const std::string& text) {
    // Medium error correction: readable from a screen at a slant or in glare.
    QRcode* code = QRcode_encodeString8bit(text.c_str(), 0, QR_ECLEVEL_M);
    if (!code) return std::nullopt;
    TQrCode qr;
    qr.size_ = code->width;
    qr.dark_.resize(size_t(code->width) * size_t(code->width));
    for (size_t i = 0; i < qr.dark_.size(); ++i)
        qr.dark_[i] = code->data[i] & 1;
    QRcode_free(code);
    return qr;
}

bool TQrCode::Dark(int x, int y) const {
    if (x < 0 || y < 0 || x >= size_ || y >= size_) return false; // the quiet zone
    return dark_[size_t(y) * size_t(size_) + size_t(x)];
}

QImage TQrCode::Picture(int scale) const {
    constexpr int kQuiet = 4;
    const int side = (size_ + 2 * kQuiet) * scale;
    QImage image(side, side, QImage::Format_RGB32);
    image.fill(Qt::white);
    for (int y = 0; y < size_; ++y)
        for (int x = 0; x < size_; ++x)
            if (Dark(x, y))
                for (int dy = 0; dy < scale; ++dy)
                    for (int dx = 0; dx < scale; ++dx)
                        image.setPixel((x + kQuiet) * scale + dx, (y + kQuiet) * scale + dy,
                                       qRgb(0, 0, 0));
    return image;
}

std::string TQrCode::TerminalText() const {
    constexpr int kQuiet = 2;
    std::string out;
    for (int y = -kQuiet; y < size_ + kQuiet; y += 2) {
        out += "\x1b[30;47m"; // black on white
        for (int x = -kQuiet; x < size_ + kQuiet; ++x) {
            const bool top = Dark(x, y), bottom = Dark(x, y + 1);
            out += top && bottom ? "\u2588" : top ? "\u2580" : bottom ? "\u2584" : " ";
        }
        out += "\x1b[0m\n";
    }
    return out;
}
