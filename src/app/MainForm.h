#pragma once
// TMainForm: the main window, built from its description (MainFormLayout).
// Every user action arrives here as an event handler on the UI thread; the
// handlers drive the capture controller and show what it did: the menus, the
// indicator frames, the buttons, the status clock and the site link.
#include "app/CaptureController.h"
#include "app/SkinMenu.h"
#include "app/Timer.h"
#include "common/StringList.h"
#include "media/VideoWindow.h"

#include <QElapsedTimer>
#include <QWidget>

#include <memory>
#include <optional>
#include <string>

class QComboBox;
class QLineEdit;
class QPushButton;
class QLabel;
class TAboutForm;
class TClickLabel;
class TShape;
class TStatusBar;
class TPhoneDialog;
class TViewersDialog;

class TMainForm : public QWidget {
  public:
    // Builds the window from its description, then runs FormCreate.
    explicit TMainForm(QWidget* parent = nullptr);
    // Runs FormDestroy.
    ~TMainForm() override;

    // The about box the "about" menu shows (created by the program entry).
    void SetAboutForm(TAboutForm* form) { AboutForm = form; }

    // Visible controls (children of the window), as the description names them.
    TSkinMenuBar* MenuBar1 = nullptr;
    TShape* sh_background = nullptr;
    TVideoWindow* VideoWindow = nullptr;
    TShape* sh_preview = nullptr;
    QPushButton* bt_preview = nullptr;
    TShape* sh_broadcast = nullptr;
    QPushButton* bt_broadcast = nullptr;
    TShape* sh_record = nullptr;
    QPushButton* bt_record = nullptr;
    QLabel* lb_asfport = nullptr;
    QLineEdit* ed_asfport = nullptr;
    QLabel* lb_internalport = nullptr;
    QLineEdit* ed_internalport = nullptr;
    QLabel* lb_width = nullptr;
    QLineEdit* ed_width = nullptr;
    QLabel* lb_height = nullptr;
    QLineEdit* ed_height = nullptr;
    QLabel* lb_ip = nullptr;
    QComboBox* cb_ip = nullptr;
    QLabel* lb_recfile = nullptr;
    QLineEdit* ed_recfile = nullptr;
    TClickLabel* lb_quillon = nullptr;
    TStatusBar* StatusBar = nullptr;

    // Menu items (owned by the main menu).
    TSkinMenuItem* file1 = nullptr;
    TSkinMenuItem* fileexit1 = nullptr;
    TSkinMenuItem* filewatch1 = nullptr;   // the watch page; enabled while broadcasting
    TSkinMenuItem* filephone1 = nullptr;   // its address as a QR code; likewise
    TSkinMenuItem* fileviewers1 = nullptr; // the viewer list; enabled while broadcasting
    TSkinMenuItem* filerelay1 = nullptr;   // the relay's settings
    TSkinMenuItem* video1 = nullptr;
    TSkinMenuItem* videoconnect1 = nullptr;
    TSkinMenuItem* videoformats1 = nullptr;
    TSkinMenuItem* audio1 = nullptr;
    TSkinMenuItem* audioconnect1 = nullptr;
    TSkinMenuItem* audioinput1 = nullptr;
    TSkinMenuItem* audioformats1 = nullptr;
    TSkinMenuItem* about2 = nullptr;
    TSkinMenuItem* aboutabout1 = nullptr;

    // Event handlers (the sender is the control or menu item that fired).
    void FormCreate(QObject* Sender);
    void FormDestroy(QObject* Sender);
    void VideoDeviceClick(QObject* Sender);
    void AudioDeviceClick(QObject* Sender);
    void VideoFormatClick(QObject* Sender);
    void AudioFormatClick(QObject* Sender);
    void AudioInputClick(QObject* Sender);
    void bt_previewClick(QObject* Sender);
    void bt_broadcastClick(QObject* Sender);
    void bt_recordClick(QObject* Sender);
    void TimerTimer(QObject* Sender);
    void lb_quillonClick(QObject* Sender);
    void aboutabout1Click(QObject* Sender);
    void fileexit1Click(QObject* Sender);
    void filewatch1Click(QObject* Sender);
    void filephone1Click(QObject* Sender);
    void fileviewers1Click(QObject* Sender);
    void filerelay1Click(QObject* Sender);

    // A mode started from the window's boxes and shown; back to idle.
    void StartPreview();
    void StartBroadcast();
    void StartRecord();
    void StopCapture();

    // The capture modes and the device choices.
    TCaptureController& Capture() { return *capture_; }
    TTimer& Timer() { return timer_; }
    TSkinMainMenu& MainMenu1() { return mainMenu_; }
    // The viewer list the "viewers" item opened (null before the first time).
    TViewersDialog* ViewersDialog() const { return viewersDialog_; }
    TPhoneDialog* PhoneDialog() const { return phoneDialog_; }
    // The address module's shared list as FormCreate read it (null before).
    const TStringList* LocalAddresses() const { return localAddresses_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void BuildControls();
    void BuildMenu();
    void WireEvents();
    // Makes a menu item whose clicks go to handler through the error box.
    std::unique_ptr<TSkinMenuItem> MakeItem(const std::string& name, const std::string& caption,
                                            int tag, void (TMainForm::*handler)(QObject*));
    // Sends the item's clicks to handler through the error box.
    void Wire(TSkinMenuItem* item, void (TMainForm::*handler)(QObject*));
    // A submenu filled entry by entry as the controller reads a list: each
    // entry is named prefix + index, its clicks go to handler, and its text
    // is lower-cased, without textPrefix where that occurs (a null textPrefix
    // keeps the text as read).
    TListReceiver MenuList(TSkinMenuItem* submenu, const char* prefix,
                           void (TMainForm::*handler)(QObject*), const char* textPrefix);
    void CheckOnly(TSkinMenuItem* submenu, int index);
    // A mode button: stops the running mode, or starts it once a video
    // device is chosen.
    void Toggle(bool running, void (TMainForm::*start)());
    void ShowRunning(TShape* indicator, QPushButton* running);
    void ShowIdle();
    void ShowLink(const std::string& text);
    // A running mode ended by the platform (a lost device, a full disk):
    // back to idle with the files finished, and the cause in the status line
    // and in one error box.
    void CaptureFailed(const TCaptureFailure& failure);
    // "http://" + the address box + ":" + port, as the label and the link show it.
    std::string SiteAddress(int port) const;
    // While the landing site serves: the port it listens on.
    std::optional<int> ServingSitePort() const;

    std::unique_ptr<TCaptureController> capture_; // made once the video window exists
    TTimer timer_;
    TViewersDialog* viewersDialog_ = nullptr; // a child of the window, made on first use
    TPhoneDialog* phoneDialog_ = nullptr;     // likewise
    // When the viewers and relay panels were last brought up to date.
    QElapsedTimer audienceShown_;
    static constexpr int kAudiencePanelsMs = 250;
    TBlueSkin blueSkin_;
    TSkinMainMenu mainMenu_;
    const TStringList* localAddresses_ = nullptr; // not owned
    TAboutForm* AboutForm = nullptr;
    bool destroyed_ = false;
};
