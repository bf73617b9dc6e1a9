#pragma once
// A QR code of a short text (the watch page's address), for a phone's camera:
// its modules, drawn as a picture for the window and as half blocks for a
// terminal.
#include <QImage>

#include <optional>
#include <string>
#include <vector>

class TQrCode {
  public:
    // Nothing when the text does not fit a QR code.
    static std::optional<TQrCode> Encode(const std::string& text);

    int Size() const { return size_; } // modules on a side, without the quiet zone
    bool Dark(int x, int y) const;

    // Black modules on white with a quiet zone of 4 modules, scale pixels each.
    QImage Picture(int scale) const;
    // Two rows of modules a line in UTF-8 half blocks, drawn black on white
    // whatever the terminal's colours (ANSI colours), with a quiet zone of 2.
    std::string TerminalText() const;

  private:
    int size_ = 0;
    std::vector<bool> dark_;
};
